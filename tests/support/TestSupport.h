// Helpers for the tests: a temporary folder removed at the end, waiting for a condition
// with a bound (never sleeping for a fixed time to let something happen).
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace kestrix::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// For the full-disk cases: a small tmpfs of its own on a folder in a temporary folder (root
// may mount; Mounted says whether it did). Fill writes a filler file until no block is left,
// Free removes it; a file can still grow to the end of its last block.
class SmallDisk {
public:
    explicit SmallDisk(size_t kib = 1024);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mounted_; }
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    bool Fill();
    void Free();

private:
    TempDir dir_;
    std::string path_;
    bool mounted_ = false;
};

// Polls cond every millisecond of real time until it is true or the bound passes.
bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds bound = std::chrono::seconds(5));

// A UTC calendar time as FILETIME ticks (the test fails on an invalid date).
uint64_t FileTimeOf(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace kestrix::test
