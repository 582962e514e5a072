// DaemonRecord: how a running kestrix run can be reached, kept in its data folder as
// "daemon.info" so that kestrix config sends its changes to the daemon instead of writing
// the registry behind its back. The file is readable by its owner only (mode 0600) and
// holds three lines:
//
//   pid=4242
//   http=127.0.0.1:8787
//   token=0123456789abcdef0123456789abcdef
//
// The daemon writes it atomically (a temporary file renamed into place) once its page is
// up, holds an exclusive lock on it while it runs, and removes it when it stops. The system
// drops the lock when the process ends, however it ends, so a record nobody holds locked
// was left by a daemon that died and is stale, whichever process has its pid since.
// Threads: a DaemonRecordOwner belongs to the thread that writes it; the rest is free.
#pragma once
#include <cstdint>
#include <string>

namespace kestrix::shell {

struct DaemonRecord {
    long pid = 0;
    std::string address;  // where a client on this machine connects: 127.0.0.1 for 0.0.0.0
    uint16_t port = 0;
    std::string token;
};

std::string DaemonRecordFileIn(const std::string& dataDir);

enum class DaemonRecordState {
    None,   // no record
    Stale,  // left by a daemon that is gone (its fields are read when they parse)
    Live,   // its daemon runs
};
// Reads the record at path. Live with out filled when its daemon runs; an unreadable record
// or one a running daemon holds that does not parse is Live with a message in error.
DaemonRecordState ReadDaemonRecord(const std::string& path, DaemonRecord& out, std::string& error);

// The running daemon's own record: written by Write, removed by Remove or the destructor.
class DaemonRecordOwner {
public:
    DaemonRecordOwner() = default;
    ~DaemonRecordOwner();  // Remove()
    DaemonRecordOwner(const DaemonRecordOwner&) = delete;
    DaemonRecordOwner& operator=(const DaemonRecordOwner&) = delete;

    // Replaces any record at path with this process's (its pid, and the address, port and
    // token given), locked. False with a message.
    bool Write(const std::string& path, const std::string& address, uint16_t port, const std::string& token,
               std::string& error);
    void Remove();

private:
    int fd_ = -1;
    std::string path_;
};

}  // namespace kestrix::shell
