// Device paths: the logic names its files by device paths ("\My Documents\anna.log", '\' or
// '/' separators, '\' the root). They map onto one host folder, the device root (the data
// directory unless --root says otherwise); ".." components and drive letters are refused,
// and so is a path that symbolic links lead out of the root (a link to "/", or a dangling
// "anna.gpx -> /elsewhere/x" that creating the file would follow), so nothing outside the
// root can be reached. Thread-safe; errors go to LastError.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace kestrix::platform {

void SetDeviceRoot(const std::string& hostDir);
std::string DeviceRoot();

// "\a\b.log" -> "<root>/a/b.log". A relative device path is taken from the root too.
// False (kErrorBadPathname) for "..", a drive, or an empty path; false (kErrorAccessDenied)
// when its links lead out of the root, with a warning logged that says where to. Every call
// below maps its path through this.
bool ToHostPath(const std::string& devicePath, std::string& hostPath);

// A buffered file stream on a device path, with the C library's modes
// ("rb", "ab", "wb", "rt", "wt", "r+b"). Owned by one thread at a time.
class DeviceFile {
public:
    DeviceFile() = default;
    ~DeviceFile();
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;
    DeviceFile(DeviceFile&& other) noexcept;
    DeviceFile& operator=(DeviceFile&& other) noexcept;

    bool Open(const std::string& devicePath, const char* mode);
    bool IsOpen() const { return file_ != nullptr; }
    // Returns the bytes written; short on error (LastError set).
    size_t Write(const void* data, size_t size);
    size_t Read(void* data, size_t size);
    // A read or write on the stream has failed (a short Read is the end of the file
    // otherwise).
    bool Failed() const { return file_ != nullptr && std::ferror(file_) != 0; }
    // Hands buffered bytes to the operating system (no fsync).
    bool Flush();
    std::optional<int64_t> Size();
    // Back to the first byte, the error and end flags cleared (LastError set on failure).
    bool Rewind();
    bool Close();

private:
    std::FILE* file_ = nullptr;
};

bool DeviceFileExists(const std::string& devicePath);
bool DeleteDeviceFile(const std::string& devicePath);
std::optional<int64_t> DeviceFileSize(const std::string& devicePath);
// Creates the folder and its parents; true when it exists already.
bool CreateDeviceDirectory(const std::string& devicePath);
// Creates one folder in an existing one (CreateDirectory): false with kErrorAlreadyExists
// when something of that name exists, kErrorPathNotFound when its parent does not.
bool CreateDeviceFolder(const std::string& devicePath);
// Creates a new empty file "<dir><prefix><unique>.tmp" in a device folder and returns its
// device path (GetTempFileName). An empty dir means the root.
std::optional<std::string> CreateUniqueDeviceFile(const std::string& deviceDir, const std::string& prefix);

struct DirEntry {
    std::string name;
    bool isDirectory = false;  // a link to a folder inside the root counts as one
};
// The entries of a folder sorted by name, hidden ones (".name") included, "." and ".."
// never. nullopt (LastError set) when it cannot be read.
std::optional<std::vector<DirEntry>> ListDeviceDirectory(const std::string& devicePath);

}  // namespace kestrix::platform
