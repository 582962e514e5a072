#include "shell/DaemonRecord.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <sstream>

namespace kestrix::shell {

namespace {

std::string SystemError(const std::string& what, int error) { return what + ": " + std::strerror(error); }

bool ParseRecord(const std::string& text, DaemonRecord& out) {
    std::istringstream in(text);
    std::string line;
    DaemonRecord r;
    bool havePid = false;
    bool haveHttp = false;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) return false;
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        const char* end = value.data() + value.size();
        if (key == "pid") {
            auto [p, ec] = std::from_chars(value.data(), end, r.pid);
            havePid = ec == std::errc() && p == end && r.pid > 0;
        } else if (key == "http") {
            auto colon = value.rfind(':');
            unsigned port = 0;
            if (colon == std::string::npos) return false;
            auto [p, ec] = std::from_chars(value.data() + colon + 1, end, port);
            haveHttp = ec == std::errc() && p == end && port > 0 && port <= 65535 && colon > 0;
            r.address = value.substr(0, colon);
            r.port = static_cast<uint16_t>(port);
        } else if (key == "token") {
            r.token = value;
        }
    }
    if (!havePid || !haveHttp || r.token.empty()) return false;
    out = r;
    return true;
}

}  // namespace

std::string DaemonRecordFileIn(const std::string& dataDir) { return dataDir + "/daemon.info"; }

DaemonRecordState ReadDaemonRecord(const std::string& path, DaemonRecord& out, std::string& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return DaemonRecordState::None;
        error = SystemError("cannot read " + path, errno);
        return DaemonRecordState::Live;
    }
    std::string text;
    char buf[512];
    ssize_t n = 0;
    while (text.size() < 4096 && (n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    // The daemon holds its record locked from before it is in place until it is gone.
    bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    bool parsed = ParseRecord(text, out);
    if (!held) return DaemonRecordState::Stale;
    if (!parsed) error = path + " does not hold a daemon's pid, address and token";
    return DaemonRecordState::Live;
}

DaemonRecordOwner::~DaemonRecordOwner() { Remove(); }

bool DaemonRecordOwner::Write(const std::string& path, const std::string& address, uint16_t port,
                              const std::string& token, std::string& error) {
    Remove();
    const DaemonRecord r{static_cast<long>(::getpid()), address, port, token};
    const std::string temp = path + "." + std::to_string(::getpid()) + ".tmp";
    ::unlink(temp.c_str());
    int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = SystemError("cannot create " + temp, errno);
        return false;
    }
    const std::string text = "pid=" + std::to_string(r.pid) + "\nhttp=" + r.address + ":" + std::to_string(r.port) +
                             "\ntoken=" + r.token + "\n";
    auto fail = [&](const std::string& what) {
        error = SystemError(what, errno);
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    };
    // Locked before it takes the record's name, so nobody sees it unlocked.
    if (::fchmod(fd, 0600) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail("cannot lock " + temp);
    if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) || ::fsync(fd) != 0) {
        return fail("cannot write " + temp);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail("cannot rename " + temp + " to " + path);
    fd_ = fd;
    path_ = path;
    return true;
}

void DaemonRecordOwner::Remove() {
    if (fd_ < 0) return;
    // Gone before the lock drops, so the record is never seen unlocked while this runs;
    // and only while the name is still this record's.
    struct stat mine{};
    struct stat named{};
    if (::fstat(fd_, &mine) == 0 && ::stat(path_.c_str(), &named) == 0 && mine.st_ino == named.st_ino &&
        mine.st_dev == named.st_dev) {
        ::unlink(path_.c_str());
    }
    ::close(fd_);
    fd_ = -1;
}

}  // namespace kestrix::shell
