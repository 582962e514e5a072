// ServerConnection: the tracker session's link to the tracking server. A ByteStream over
// a TcpSocket that reports to a listener (the session): OnStarted(0) once connected
// (the session logs in inside that call), OnStopped(0) at every Disconnect, and the
// texts "Can't connect to Host:%s Port:%d Error:%d" (followed by the reason in words when
// a name did not resolve or TLS could not verify the server), "Write failed, error:%d"
// and "Read failed, error:%d". The first write or read error tears the link down. Bringing up
// a data connection before a connect always succeeds on this platform.
// Used by the session's worker thread only, except Disconnect from the session's Stop
// after the worker has ended. Listener calls are made synchronously on the calling thread.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "base/Listeners.h"
#include "server/ByteStream.h"
#include "server/TcpSocket.h"

namespace kestrix {

class TrackerSettings;

class ServerConnection : public ByteStream {
public:
    explicit ServerConnection(IStatusListener* listener = nullptr) : listener_(listener) {}
    ~ServerConnection() override;

    void SetListener(IStatusListener* listener) { listener_ = listener; }
    // Every blocking call also ends when this event is set.
    void SetStopEvent(platform::Event* stop) { socket_.SetStopEvent(stop); }
    void SetTimeouts(int connectMs, int ioMs) { socket_.SetTimeouts(connectMs, ioMs); }

    // False without a report when the network is not available, the host is missing or
    // the port is 0; false with the "Can't connect" text when the connect fails.
    bool Connect(const std::optional<std::string>& host, uint16_t port);
    // To the server the settings name, in plain TCP or TLS as they say; a TLS trust that
    // cannot be loaded is a failed connect.
    bool Connect(const TrackerSettings& settings);
    // Closes the socket; always reports OnStopped(0) to a listener.
    void Disconnect();
    // Without waiting: when the server has closed the connection, disconnects (reporting
    // OnStopped) and returns false, so nothing is written into a dead link.
    bool CheckPeer();

    bool IsOpen() const override { return socket_.IsOpen(); }
    bool Write(const uint8_t* data, size_t length, size_t& written) override;
    bool Read(uint8_t* buffer, size_t length, size_t& received) override;
    bool Peek(uint8_t* buffer, size_t length, size_t& received) override;

private:
    // The step that brings up a data connection: a Linux host has its network up already,
    // so it succeeds at once.
    bool EnsureNetwork() { return true; }
    void Report(const std::string& text);

    IStatusListener* listener_;
    TcpSocket socket_;
};

}  // namespace kestrix
