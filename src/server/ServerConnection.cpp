#include "server/ServerConnection.h"

#include "platform/LastError.h"
#include "platform/Socket.h"
#include "platform/Text.h"
#include "settings/TrackerSettings.h"

namespace kestrix {

ServerConnection::~ServerConnection() {
    listener_ = nullptr;
    Disconnect();
}

void ServerConnection::Report(const std::string& text) {
    if (listener_) listener_->OnMessage(text);
}

bool ServerConnection::Connect(const std::optional<std::string>& host, uint16_t port) {
    socket_.Close();
    if (!EnsureNetwork() || !host || port == 0) return false;
    int error = 0;
    if (socket_.Connect(*host, port, error)) {
        if (listener_) listener_->OnStarted(kKindTracker);
        return true;
    }
    // A connect cut short by the session's stop is not a failure to show.
    if (error != platform::kSocketCancelled) {
        Report(platform::Format("Can't connect to Host:%s Port:%d Error:%d", host->c_str(), port, error) +
               socket_.Explain(error));
    }
    return false;
}

bool ServerConnection::Connect(const TrackerSettings& settings) {
    std::string why;
    if (socket_.Secure(settings, why)) return Connect(settings.GetHost(), settings.GetPort());
    socket_.Close();
    Report(platform::Format("Can't connect to Host:%s Port:%d Error:%d", settings.GetHost().value_or("").c_str(),
                            settings.GetPort(), platform::kSocketTlsFailed) +
           " (" + why + ")");
    return false;
}

void ServerConnection::Disconnect() {
    socket_.Close();
    if (listener_) listener_->OnStopped(kKindTracker);
}

bool ServerConnection::CheckPeer() {
    if (!IsOpen()) return false;
    if (!socket_.PeerClosed()) return true;
    Disconnect();
    return false;
}

bool ServerConnection::Write(const uint8_t* data, size_t length, size_t& written) {
    written = 0;
    if (!IsOpen()) return false;
    size_t sent = 0;
    if (socket_.Write(data, length, sent) && sent != 0) {
        written = sent;
        return true;
    }
    const int error = platform::GetLastError();
    if (error != platform::kSocketCancelled) Report(platform::Format("Write failed, error:%d", error));
    Disconnect();
    return false;
}

bool ServerConnection::Read(uint8_t* buffer, size_t length, size_t& received) {
    received = 0;
    if (!IsOpen()) return false;
    if (socket_.Read(buffer, length, received)) return true;
    const int error = platform::GetLastError();
    if (error != platform::kSocketCancelled) Report(platform::Format("Read failed, error:%d", error));
    Disconnect();
    return false;
}

bool ServerConnection::Peek(uint8_t* buffer, size_t length, size_t& received) {
    return socket_.Peek(buffer, length, received);
}

}  // namespace kestrix
