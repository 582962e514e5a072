// Shared helpers for the tracker-server tests: a ByteStream over a byte string (handing
// out at most N bytes per read, as TCP may), hex formatting for readable failures, a
// listener that records status reports, a loopback listener whose accept queue is full,
// and the fixture that runs the reference server with one account.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "RefServer.h"
#include "platform/DeviceFs.h"
#include "platform/Registry.h"
#include "platform/Socket.h"
#include "server/ByteStream.h"
#include "server/OfflineStore.h"
#include "server/ServerConnection.h"
#include "settings/TrackerSettings.h"
#include "support/TestSupport.h"

namespace kestrix::test {

using Bytes = std::vector<uint8_t>;
constexpr uint64_t kT0 = 125911584000000000ull;  // 2000-01-01 00:00 UTC

class MemoryStream final : public ByteStream {
public:
    explicit MemoryStream(Bytes input = {}, size_t chunk = 0) : input_(std::move(input)), chunk_(chunk) {}
    bool IsOpen() const override { return true; }
    bool Write(const uint8_t* data, size_t length, size_t& written) override {
        output_.insert(output_.end(), data, data + length);
        written = length;
        return true;
    }
    bool Read(uint8_t* buffer, size_t length, size_t& received) override {
        size_t n = std::min(length, input_.size() - offset_);
        if (chunk_) n = std::min(n, chunk_);
        std::copy_n(input_.begin() + static_cast<long>(offset_), n, buffer);
        offset_ += n;
        received = n;
        return true;
    }
    bool Peek(uint8_t*, size_t, size_t& received) override {
        received = 0;
        return false;
    }
    const Bytes& Output() const { return output_; }
    size_t Consumed() const { return offset_; }

private:
    Bytes input_;
    size_t chunk_;
    size_t offset_ = 0;
    Bytes output_;
};

inline std::string Hex(const Bytes& b) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", b[i]);
        if (i) s += (i % 4 == 0) ? " | " : " ";
        s += buf;
    }
    return s;
}

inline void Append16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Append32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void Append64(Bytes& b, uint64_t v) {
    for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void AppendText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

// The controller's side: records every report in order.
class RecordingListener : public IStatusListener {
public:
    void OnStarted(int kind) override { Add("started " + std::to_string(kind)); }
    void OnStopped(int kind) override { Add("stopped " + std::to_string(kind)); }
    void OnMessage(const std::string& text) override { Add("message " + text); }
    bool Has(const std::string& event) const {
        std::lock_guard lock(mutex_);
        return std::find(events_.begin(), events_.end(), event) != events_.end();
    }
    std::vector<std::string> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    void Add(const std::string& e) {
        std::lock_guard lock(mutex_);
        events_.push_back(e);
    }
    mutable std::mutex mutex_;
    std::vector<std::string> events_;
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
        if (!RefServer::Available()) GTEST_SKIP() << "kestrix-server is not built";
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
