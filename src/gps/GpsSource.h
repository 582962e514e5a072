// GpsSource: where the reader thread gets the receiver's bytes from. SerialPort is the
// implementation; tests may supply others.
// Threads: the reader thread calls Open/Read; the controlling thread may call Close
// while a Read runs, so implementations serialise their operations.
#pragma once

namespace kestrix {

class TrackerSettings;

class GpsSource {
public:
    virtual ~GpsSource() = default;
    // Opens and configures the source from the settings; true when it is open.
    virtual bool Open(TrackerSettings* settings) = 0;
    // One blocking read of at most n bytes: the count placed in buffer, 0 when nothing
    // arrived or the read failed.
    virtual int Read(char* buffer, int n) = 0;
    // Harmless when already closed.
    virtual void Close() = 0;
};

}  // namespace kestrix
