#include "integration/Daemon.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <filesystem>
#include <regex>

#include "support/TestSupport.h"

namespace kestrix::test {

void WritePowerSupply(const std::string& root, bool mainsOnline) {
    std::filesystem::create_directories(root + "/AC");
    std::filesystem::create_directories(root + "/BAT0");
    WriteFile(root + "/AC/type", "Mains\n");
    WriteFile(root + "/AC/online", mainsOnline ? "1\n" : "0\n");
    WriteFile(root + "/BAT0/type", "Battery\n");
    WriteFile(root + "/BAT0/capacity", "80\n");
    WriteFile(root + "/BAT0/capacity_level", "Normal\n");
    WriteFile(root + "/BAT0/status", mainsOnline ? "Charging\n" : "Discharging\n");
}

Daemon::Daemon(const std::string& dataDir, const std::string& powerRoot, const std::string& outDir,
               std::vector<std::string> extra) {
    // Nothing listens on port 1: a gpsd of the machine must not change what start-up finds.
    std::vector<std::string> args{"run",          "--data-dir", dataDir, "--http", "127.0.0.1:0",
                                  "--power-supply", powerRoot, "--gpsd",   "1"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.begin(), KestrixBinary());
    process_.Start(args, outDir + "/daemon.out", outDir + "/daemon.err");
    const auto port = process_.WaitForLine("Kestrix is running: http://127.0.0.1:", std::chrono::seconds(60));
    if (!port) return;
    port_ = std::stoi(*port);
    static const std::regex kToken("<meta name=\"kestrix-token\" content=\"([0-9a-f]{32})\">");
    std::smatch t;
    HttpAnswer page = Get("/");
    if (std::regex_search(page.body, t, kToken)) token_ = t[1].str();
}

HttpAnswer Daemon::Get(const std::string& path) const {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(30, 0);
    auto res = c.Get(path, {{"X-Kestrix-Token", token_}});
    return res ? HttpAnswer{res->status, res->body} : HttpAnswer{};
}

HttpAnswer Daemon::Post(const std::string& path, const std::string& json) const {
    httplib::Client c("127.0.0.1", port_);
    c.set_read_timeout(30, 0);
    auto res = c.Post(path, {{"X-Kestrix-Token", token_}}, json, "application/json");
    return res ? HttpAnswer{res->status, res->body} : HttpAnswer{};
}

std::string Daemon::NotificationHtml() const {
    HttpAnswer res = Get("/api/notification");
    return res.status == 200 ? res.body : std::string();
}

bool Daemon::WaitForPage(const std::string& text) const {
    return WaitFor([&] { return NotificationHtml().find(text) != std::string::npos; }, std::chrono::seconds(60));
}

std::string Daemon::WaitForDialog(const std::string& caption) const {
    std::string dialogs;
    const bool shown = WaitFor([&] {
        dialogs = Get("/api/dialogs").body;
        return dialogs.find("\"caption\":\"" + caption + "\"") != std::string::npos;
    }, std::chrono::seconds(60));
    return shown ? dialogs : std::string();
}

void Daemon::StopWith(int signo) {
    ASSERT_TRUE(process_.Signal(signo));
    EXPECT_EQ(process_.Wait(std::chrono::seconds(60)), 0) << "after signal " << signo << ": " << process_.Err();
}

}  // namespace kestrix::test
