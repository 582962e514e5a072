#include "server/UploadTrack.h"

#include <string>

#include "base/Listeners.h"
#include "platform/DeviceFs.h"
#include "platform/LastError.h"
#include "platform/Shell.h"
#include "platform/Text.h"
#include "server/Messages.h"
#include "server/TcpSocket.h"
#include "settings/TrackerSettings.h"
#include "tracklog/LogRecord.h"

namespace kestrix {
namespace {

constexpr const char* kCaption = "Kestrix";

void Show(const std::string& text, bool error) {
    platform::MessageBox(platform::kNoWindow, text, kCaption,
                         platform::MB_OK | platform::MB_TOPMOST | (error ? platform::MB_ICONERROR : 0));
}

// Prepare, Write and Send, in that order; any failing step fails the send.
bool SendMessage(ServerMessage& message, ByteStream& stream) {
    Packet packet;
    return packet.Prepare(message) && message.Write(packet) && packet.Send(stream);
}

}  // namespace

bool UploadTrack(IUploadHost& host) {
    const uint32_t running = host.RunningServices();
    host.StopServices(kUsePowerMode, false);
    TrackerSettings& settings = host.GetSettings();

    const std::string hostName = settings.GetHost().value_or(std::string());
    const uint16_t port = settings.GetPort();
    TcpSocket socket;
    int error = platform::kSocketTlsFailed;
    std::string trust;
    if (!socket.Secure(settings, trust) || !socket.Connect(hostName, port, error)) {
        Show(platform::Format("Can't connect to host: '%s' port: %d error: %d ", hostName.c_str(), port, error) +
                 (trust.empty() ? socket.Explain(error) : " (" + trust + ")"),
             true);
        host.StartServices(running);
        return false;
    }

    LoginMessage login(settings.GetLogin().value_or(std::string()), settings.GetPasswordHash().value_or(std::string()),
                       settings.GetUserId());
    if (!SendMessage(login, socket)) {
        Show("Can't send authorization request", true);
        host.StartServices(kUsePowerMode);
        return false;
    }
    Packet answer;
    if (!answer.Receive(socket) || !login.Read(answer)) {
        Show("Can't read authorization result", true);
        host.StartServices(kUsePowerMode);
        return false;
    }
    // As in the live session, a request that carried a user id and got 0 back is refused.
    if (login.CarriesUserId() && login.UserId() == 0) {
        Show(login.ServerText().empty() ? std::string("Autorization failed") : login.ServerText(), true);
        host.StartServices(kUsePowerMode);
        return false;
    }

    const std::string logPath = settings.GetLogPath().value_or(std::string());
    platform::DeviceFile log;
    if (!log.Open(logPath, "rb")) {
        Show(platform::Format("Can't open GPS log file '%s', error: %i", logPath.c_str(), platform::GetLastError()),
             true);
        host.StartServices(kUsePowerMode);
        return false;
    }

    TrackMessage track(login.CarriesUserId() ? login.UserId() : 0);
    LogRecordReader reader(log);
    bool ok = true;
    uint64_t sent = 0;
    for (;;) {
        LogRecord record;
        while (track.Count() < kMaxTrackPoints && reader.Next(record)) track.Add(ToTrackPoint(record));
        const size_t count = track.Count();
        if (count == 0) break;
        if (!SendMessage(track, socket)) {
            ok = false;
            break;
        }
        sent += count;
        track.Clear();
        if (count < kMaxTrackPoints) break;
    }
    log.Close();

    if (ok) {
        platform::DeleteDeviceFile(logPath);
        Show(platform::Format("Track has been sent to Geomira Server, Track Point count: %d", static_cast<int>(sent)),
             false);
    } else {
        Show("Can't send Track to Geomira Server", true);
    }
    host.StartServices(running);
    host.UpdateStatus();
    socket.Close();
    return ok;
}

}  // namespace kestrix
