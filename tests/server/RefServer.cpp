#include "RefServer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/TestSupport.h"

extern char** environ;

namespace kestrix::test {
namespace {

std::string Run(const std::string& command) {
    std::string out;
    FILE* f = ::popen(command.c_str(), "r");
    if (!f) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    ::pclose(f);
    return out;
}

double NumberAfter(const std::string& line, const std::string& key) {
    auto at = line.find("\"" + key + "\":");
    if (at == std::string::npos) return 0;
    return std::strtod(line.c_str() + at + key.size() + 3, nullptr);
}

std::string TextAfter(const std::string& line, const std::string& key) {
    auto at = line.find("\"" + key + "\":\"");
    if (at == std::string::npos) return {};
    at += key.size() + 4;
    return line.substr(at, line.find('"', at) - at);
}

}  // namespace

RefServer::RefServer(std::string dir) : dir_(std::move(dir)), db_(dir_ + "/server.sqlite") {}

RefServer::~RefServer() { Stop(); }

std::string RefServer::Binary() { return std::string(KESTRIX_BINARY_DIR) + "/bin/kestrix-server"; }

bool RefServer::Available() { return std::filesystem::exists(Binary()); }

bool RefServer::Start() {
    if (pid_ > 0) return true;
    const std::string log = dir_ + "/server-" + std::to_string(++starts_) + ".log";
    const std::string listen = "127.0.0.1:" + std::to_string(port_);
    std::vector<std::string> argv = {Binary(), "--listen", listen, "--db", db_, "--web", "off"};
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    pid_ = pid;
    std::string address;
    const bool up = WaitFor(
        [&] {
            const std::string text = ReadFile(log);
            const auto at = text.find("listening on ");
            if (at == std::string::npos || text.find('\n', at) == std::string::npos) return false;
            address = text.substr(at + 13, text.find('\n', at) - at - 13);
            return true;
        },
        std::chrono::seconds(10));
    if (!up) {
        Stop();
        return false;
    }
    port_ = static_cast<uint16_t>(std::stoi(address.substr(address.rfind(':') + 1)));
    return true;
}

void RefServer::Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const bool ended = WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, std::chrono::seconds(5));
    if (!ended) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
}

uint32_t RefServer::AddUser(const std::string& name, const std::string& password) {
    const std::string out = Run(Binary() + " --db '" + db_ + "' user add '" + name + "' '" + password + "'");
    return static_cast<uint32_t>(std::strtoul(out.c_str(), nullptr, 10));
}

std::vector<ExportedPoint> RefServer::Export(const std::string& name) {
    std::vector<ExportedPoint> points;
    std::istringstream lines(Run(Binary() + " --db '" + db_ + "' export '" + name + "'"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("\"kind\"") == std::string::npos) continue;
        ExportedPoint p;
        p.kind = TextAfter(line, "kind");
        p.lat = NumberAfter(line, "lat");
        p.lon = NumberAfter(line, "lon");
        p.alt = NumberAfter(line, "alt");
        points.push_back(p);
    }
    return points;
}

}  // namespace kestrix::test
