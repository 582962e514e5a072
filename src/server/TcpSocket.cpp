#include "server/TcpSocket.h"

#include "platform/DeviceFs.h"
#include "platform/LastError.h"
#include "settings/TrackerSettings.h"

namespace kestrix {

bool TcpSocket::Connect(const std::string& host, uint16_t port, int& error) {
    error = socket_.Connect(host, port, connectTimeoutMs_, stop_, tls_);
    return error == 0;
}

bool TcpSocket::Secure(const TrackerSettings& settings, std::string& error) {
    tls_.reset();
    if (settings.GetTls() != 1) return true;
    std::string ca = settings.GetTlsCa().value_or(std::string());
    // A host path is used as it stands; anything else names a file under the device root.
    if (!ca.empty() && ca.front() != '/' && !platform::ToHostPath(ca, ca)) {
        error = "TlsCa \"" + settings.GetTlsCa().value_or(std::string()) + "\" is not a path under the data folder";
        return false;
    }
    tls_ = platform::TlsContext::ForClient(ca, error);
    return tls_ != nullptr;
}

std::string TcpSocket::Explain(int error) const {
    const bool words = error == platform::kSocketNotResolved || error == platform::kSocketTlsFailed;
    return words && !socket_.Reason().empty() ? " (" + socket_.Reason() + ")" : "";
}

bool TcpSocket::Write(const uint8_t* data, size_t length, size_t& written) {
    written = 0;
    if (!socket_.IsOpen()) {
        platform::SetLastError(static_cast<int>(std::errc::bad_file_descriptor));
        return false;
    }
    if (!socket_.SendAll(data, length, ioTimeoutMs_, stop_)) return false;
    written = length;
    return true;
}

bool TcpSocket::Read(uint8_t* buffer, size_t length, size_t& received) {
    return Receive(buffer, length, received, false);
}

bool TcpSocket::Peek(uint8_t* buffer, size_t length, size_t& received) {
    return Receive(buffer, length, received, true);
}

bool TcpSocket::PeerClosed() {
    if (!socket_.IsOpen()) return true;
    uint8_t probe = 0;
    long n = socket_.Receive(&probe, 1, 0, nullptr, true);
    if (n > 0) return false;
    return n == 0 || platform::GetLastError() != platform::kSocketTimedOut;
}

bool TcpSocket::Receive(uint8_t* buffer, size_t length, size_t& received, bool peek) {
    received = 0;
    if (!socket_.IsOpen()) {
        platform::SetLastError(static_cast<int>(std::errc::bad_file_descriptor));
        return false;
    }
    long n = socket_.Receive(buffer, length, ioTimeoutMs_, stop_, peek);
    if (n < 0) return false;
    received = static_cast<size_t>(n);
    return true;
}

}  // namespace kestrix
