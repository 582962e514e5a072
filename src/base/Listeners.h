// The interfaces through which the parts that the controller owns report to it, and the
// mode bits shared by the settings and the controller's state.
//   GpsFixListener: the GPS state reports fixes (reader thread) and fix loss (UI thread).
//   IStatusListener: the track log (kind 1) and the tracker session (kind 0) report
//     started/stopped, texts for the user and lasting problems (a file that cannot be
//     written); the server connection reports to the session through it too.
//   PowerListener: the power monitor reports on the UI thread.
#pragma once
#include <cstdint>
#include <string>

#include "base/TrackPoint.h"

namespace kestrix {

constexpr uint32_t kModeTracker = 1;
constexpr uint32_t kModeLogger = 2;
constexpr uint32_t kModeFix = 4;
constexpr uint32_t kUsePowerMode = 0x80;

constexpr int kKindTracker = 0;
constexpr int kKindLogger = 1;

class GpsFixListener {
public:
    virtual ~GpsFixListener() = default;
    virtual void OnSignalLevel(int level) = 0;
    virtual void OnFixLost() = 0;
    // Takes over the reference in point.
    virtual void OnFix(TrackPointRef point) = 0;
};

class IStatusListener {
public:
    virtual ~IStatusListener() = default;
    virtual void OnStarted(int kind) = 0;
    virtual void OnStopped(int kind) = 0;
    virtual void OnMessage(const std::string& text) = 0;
    // A lasting problem of the worker of this kind, shown until it reports "" (over). Any
    // thread, possibly with the worker's lock held: it must not wait for another thread.
    virtual void OnProblem(int /*kind*/, const std::string& /*text*/) {}
};

class PowerListener {
public:
    virtual ~PowerListener() = default;
    virtual void OnPowerSourceChanged(uint8_t acLineStatus) = 0;
    virtual void OnBatteryCritical() = 0;
};

}  // namespace kestrix
