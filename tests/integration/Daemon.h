// kestrix run as a process for the end-to-end tests: started on a free loopback port with
// a fake power supply and no gpsd, and driven through its HTTP API as the page drives it.
#pragma once
#include <string>
#include <vector>

#include "support/Process.h"

namespace kestrix::test {

// A folder laid out like /sys/class/power_supply: mains (online or not) and one battery.
void WritePowerSupply(const std::string& root, bool mainsOnline);

// status -1: no answer came
struct HttpAnswer { int status = -1; std::string body; };

class Daemon {
public:
    // Its output goes to daemon.out and daemon.err in outDir.
    Daemon(const std::string& dataDir, const std::string& powerRoot, const std::string& outDir,
           std::vector<std::string> extra = {});

    // The page answered with its address and token.
    bool Up() const { return port_ > 0 && !token_.empty(); }
    uint16_t Port() const { return static_cast<uint16_t>(port_); }
    const std::string& Token() const { return token_; }
    // Requests carry the token (GETs too: some need it).
    HttpAnswer Get(const std::string& path) const;
    HttpAnswer Post(const std::string& path, const std::string& json) const;
    std::string NotificationHtml() const;
    bool WaitForPage(const std::string& text) const;
    // Waits until an open dialog (GET /api/dialogs) has this caption; that JSON, or "".
    std::string WaitForDialog(const std::string& caption) const;
    test::Process& Process() { return process_; }
    // Sends signo and expects a clean exit within the bound.
    void StopWith(int signo);

private:
    test::Process process_;
    int port_ = 0;
    std::string token_;
};

}  // namespace kestrix::test
