// Shared helpers for the tracker-server tests: the reference server run as a process on
// loopback (accounts added and points exported through its command line), a loopback
// listener whose accept queue is full, and the fixtures with a data folder and with the
// reference server holding the account anna/secret.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/Listeners.h"
#include "platform/DeviceFs.h"
#include "platform/Registry.h"
#include "platform/Socket.h"
#include "server/OfflineStore.h"
#include "server/ServerConnection.h"
#include "server/UploadTrack.h"
#include "settings/TrackerSettings.h"
#include "support/MemoryStream.h"
#include "support/Process.h"
#include "support/Recorders.h"
#include "support/TestSupport.h"

namespace kestrix::test {

constexpr uint64_t kT0 = 125911584000000000ull;  // 2000-01-01 00:00 UTC

struct ExportedPoint {
    std::string kind;  // "live" or "track"
    double lat = 0;
    double lon = 0;
    double alt = 0;
};

// kestrix-server with its database in dir, listening on host (127.0.0.1, or [::1]), with
// extra arguments (--tls-cert ...); the first start picks a free port, later starts reuse it.
class RefServer {
public:
    explicit RefServer(std::string dir, std::string host = "127.0.0.1", std::vector<std::string> extra = {})
        : dir_(std::move(dir)), db_(dir_ + "/server.sqlite"), host_(std::move(host)), extra_(std::move(extra)) {}
    static bool Available() { return std::filesystem::exists(ServerBinary()); }
    bool Start() {
        if (process_.Running()) return true;
        const std::string log = dir_ + "/server-" + std::to_string(++starts_) + ".log";
        std::vector<std::string> args{ServerBinary(), "--listen", host_ + ":" + std::to_string(port_), "--db", db_,
                                      "--web", "off"};
        args.insert(args.end(), extra_.begin(), extra_.end());
        if (!process_.Start(args, log)) return false;
        const auto port = process_.WaitForLine("listening on " + host_ + ":", std::chrono::seconds(10));
        if (!port) process_.Stop();
        if (port) port_ = static_cast<uint16_t>(std::stoi(*port));
        return port.has_value();
    }
    void Stop() { process_.Stop(); }
    uint16_t Port() const { return port_; }
    // The new account's user id (0 on failure).
    uint32_t AddUser(const std::string& name, const std::string& password) {
        return static_cast<uint32_t>(
            std::strtoul(RunToEnd({ServerBinary(), "--db", db_, "user", "add", name, password}, dir_).out.c_str(),
                         nullptr, 10));
    }
    std::vector<ExportedPoint> Export(const std::string& name) {
        static const std::regex kPoint(R"re("kind":"(\w+)".*"lat":([^,]+),"lon":([^,]+),"alt":([^,]+))re");
        std::vector<ExportedPoint> points;
        std::istringstream lines(RunToEnd({ServerBinary(), "--db", db_, "export", name}, dir_).out);
        std::smatch m;
        for (std::string line; std::getline(lines, line);) {
            if (std::regex_search(line, m, kPoint))
                points.push_back({m[1], std::stod(m[2]), std::stod(m[3]), std::stod(m[4])});
        }
        return points;
    }

private:
    std::string dir_;
    std::string db_;
    std::string host_;
    std::vector<std::string> extra_;
    Process process_;
    uint16_t port_ = 0;
    int starts_ = 0;
};

// A loopback listener whose accept queue is full. The system then drops further
// connection requests, so a connect to it hangs until its time limit, as one to an
// unreachable host does.
struct FullListener {
    platform::TcpListener listener;
    std::vector<platform::Socket> queued;
    // False when this system does not let the queue fill.
    bool Fill() {
        if (listener.Listen("127.0.0.1", 0, 0) != 0) return false;
        for (int i = 0; i < 64; ++i) {
            platform::Socket s;
            const int err = s.Connect("127.0.0.1", listener.Port(), 300, nullptr);
            if (err == platform::kSocketTimedOut) return true;
            if (err != 0) return false;
            queued.push_back(std::move(s));
        }
        return false;
    }
};

// The services the upload stops and starts, recorded.
class UploadHost : public IUploadHost {
public:
    explicit UploadHost(TrackerSettings& s) : settings(s) {}
    TrackerSettings& GetSettings() override { return settings; }
    uint32_t GetState() override { return state; }
    uint32_t RunningServices() override { return running ? *running : IUploadHost::RunningServices(); }
    void StartServices(uint32_t bits) override { calls.push_back("start " + std::to_string(bits)); }
    void StopServices(uint32_t bits, bool byUser) override {
        calls.push_back("stop " + std::to_string(bits) + (byUser ? " user" : ""));
    }
    void UpdateStatus() override { calls.push_back("update"); }
    TrackerSettings& settings;
    uint32_t state = kModeTracker | kModeLogger | kModeFix;
    std::optional<uint32_t> running;
    std::vector<std::string> calls;
};

// The offline store file named in the registry, if any.
inline std::optional<std::string> StoreName() {
    auto key = platform::RegKey::Open(kSettingsKey, false);
    std::string name;
    if (!key || !key->QueryString(kOfflineStoreValue, name)) return std::nullopt;
    return name;
}

// A data folder with its registry, and settings for the device paths under it.
class DeviceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetDeviceRoot(dir_.Path());
        ASSERT_TRUE(platform::ConfigureRegistry(dir_.File("registry.reg")));
        settings_.SetLogPath(std::string("\\anna.log"));
    }
    TempDir dir_;
    TrackerSettings settings_;
};

// The reference server running with the account anna/secret; the settings point at it.
class ServerFixture : public DeviceFixture {
protected:
    void SetUp() override {
        ASSERT_TRUE(RefServer::Available()) << "kestrix-server is not built: " << ServerBinary();
        DeviceFixture::SetUp();
        userId_ = server_.AddUser("anna", "secret");
        ASSERT_NE(userId_, 0u);
        ASSERT_TRUE(server_.Start());
        settings_.SetLogin(std::string("anna"));
        settings_.SetPassword(std::string("secret"));
        settings_.SetHost(std::string("127.0.0.1"));
        settings_.SetPort(server_.Port());
    }
    RefServer server_{dir_.Path()};
    uint32_t userId_ = 0;
};

}  // namespace kestrix::test
