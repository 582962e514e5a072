// Test helper: the reference tracking server run as a process on loopback, with its own
// database in a temporary folder; accounts are added and the stored points exported
// through its command line.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix::test {

struct ExportedPoint {
    std::string kind;  // "live" or "track"
    double lat = 0;
    double lon = 0;
    double alt = 0;
};

class RefServer {
public:
    explicit RefServer(std::string dir);
    ~RefServer();  // Stop()
    RefServer(const RefServer&) = delete;
    RefServer& operator=(const RefServer&) = delete;

    static std::string Binary();
    static bool Available();

    // Starts serving on 127.0.0.1 (port 0: the first start picks a free port, later
    // starts reuse it). False when it did not report listening within its bound.
    bool Start();
    void Stop();
    uint16_t Port() const { return port_; }
    // Adds an account; returns its user id (0 on failure).
    uint32_t AddUser(const std::string& name, const std::string& password);
    std::vector<ExportedPoint> Export(const std::string& name);

private:
    std::string dir_;
    std::string db_;
    int pid_ = -1;
    uint16_t port_ = 0;
    int starts_ = 0;
};

}  // namespace kestrix::test
