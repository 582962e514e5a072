// TrackerSettings: every persistent setting (GPS port and line, server and account,
// modes per power source, track log path, auto-track rules), loaded from and saved to the
// registry key HKLM\SOFTWARE\Geomira\GmrLogger. One instance lives in the controller;
// others reach it through GetSettings. Setters copy their argument and never save.
// Strings are narrow (UTF-8); a string that was never set is std::nullopt, distinct from
// an empty one.
// Threads: loaded, edited and saved on the UI thread; the reader and session threads read
// it while their service runs (the session writes userId and lastTrackPoint on its thread).
// Plain fields are guarded by an internal mutex so those reads are safe.
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace kestrix {

// Registry location and names.
inline constexpr const char* kSettingsParentKey = "SOFTWARE\\Geomira";
inline constexpr const char* kSettingsKey = "SOFTWARE\\Geomira\\GmrLogger";
inline constexpr const char* kDefaultHost = "127.0.0.1";
inline constexpr uint16_t kDefaultPort = 1201;
// The longest text a string value can hold, in bytes as the record holds it (UTF-8: an
// accented letter takes two); a longer one does not load back (it reads as missing).
inline constexpr size_t kMaxSettingBytes = 63;

// A string value too long to load back: its registry name and the text it would store.
struct SettingTooLong {
    std::string name;
    std::string text;
};

class TrackerSettings {
public:
    TrackerSettings();
    virtual ~TrackerSettings();
    TrackerSettings(const TrackerSettings& other);
    TrackerSettings& operator=(const TrackerSettings& other);

    // Creates the keys when missing (written out at the registry's next write).
    void Load();
    // Reads as Load does, a missing key reading as an empty one, and never writes.
    void LoadWithoutWriting();
    // Returns 0 or the system error code of the registry write.
    int Save();

    std::optional<std::string> GetGpsPort() const;
    bool SetGpsPort(const std::optional<std::string>& port);
    uint32_t GetBaudRate() const;
    bool SetBaudRate(uint32_t v);
    uint32_t GetDataBits() const;
    bool SetDataBits(uint32_t v);
    uint32_t GetParity() const;
    bool SetParity(uint32_t v);
    uint32_t GetStopBits() const;
    bool SetStopBits(uint32_t v);

    std::optional<std::string> GetLogin() const;
    // Also rebuilds the log path: the log is named after the account.
    bool SetLogin(const std::optional<std::string>& login);
    std::optional<std::string> GetPasswordHash() const;
    // Stores the 32 lower-case hex characters of the password's MD5 digest.
    bool SetPassword(const std::optional<std::string>& password);
    uint32_t GetUserId() const;
    bool SetUserId(uint32_t v);

    std::optional<std::string> GetHost() const;
    bool SetHost(const std::optional<std::string>& host);
    uint16_t GetPort() const;
    bool SetPort(uint16_t port);
    // 0: plain TCP to the server (the default), 1: TLS. Refuses other values.
    uint32_t GetTls() const;
    bool SetTls(uint32_t v);
    // A PEM file of certificates to trust instead of the system's (a host path, or a
    // device path under the root); empty or missing: the system's.
    std::optional<std::string> GetTlsCa() const;
    bool SetTlsCa(const std::optional<std::string>& path);

    // Index 0 battery, 1 external power; any other index gives 0.
    uint32_t GetMode(uint32_t powerSource) const;
    bool SetMode(uint32_t powerSource, uint32_t bits);

    std::optional<std::string> GetLogPath() const;
    bool SetLogPath(const std::optional<std::string>& path);
    // The track log path a load makes of a stored "LOG" of path: its drive and folder, and
    // the account's log name ("Kestrix.log" without an account).
    std::string LogPathAsLoaded(const std::string& path) const;
    uint64_t GetLastTrackPoint() const;
    bool SetLastTrackPoint(const uint64_t* fileTime);

    uint32_t GetAutoTrackMode() const;
    bool SetAutoTrackMode(uint32_t v);
    bool HasAutoTrackFlag(uint32_t mask) const;
    uint32_t GetAutoTrackTimeout() const;
    bool SetAutoTrackTimeout(uint32_t minutes);  // refuses > 60
    uint32_t GetAutoTrackPointCount() const;
    bool SetAutoTrackPointCount(uint32_t points);  // refuses > 500

    // The first string value that would not load back after a save (the track log path
    // as the next load rebuilds it from the login included), if any.
    std::optional<SettingTooLong> FirstValueTooLong() const;

private:
    void Load(bool mayWrite);

    mutable std::recursive_mutex mutex_;
    std::optional<std::string> gpsPort_;
    uint32_t baudRate_ = 9600;
    uint32_t dataBits_ = 8;
    uint32_t parity_ = 0;
    uint32_t stopBits_ = 0;
    std::optional<std::string> login_;
    std::optional<std::string> passwordHash_;
    uint32_t userId_ = 1;
    std::optional<std::string> host_;
    uint16_t port_ = kDefaultPort;
    uint32_t tls_ = 0;
    std::optional<std::string> tlsCa_;
    uint32_t modeOnPower_ = 3;
    uint32_t modeOnBattery_ = 3;
    std::optional<std::string> logPath_;
    uint64_t lastTrackPoint_ = 0;
    uint32_t autoTrackMode_ = 3;
    uint32_t autoTrackTimeout_ = 1;
    uint32_t autoTrackPointCount_ = 5;
};

}  // namespace kestrix
