#include "platform/DeviceFs.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <utility>

#include <climits>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/LastError.h"
#include "platform/Log.h"
#include "platform/Registry.h"
#include "platform/Text.h"

namespace kestrix::platform {

namespace {

std::mutex& RootMutex() {
    static std::mutex m;
    return m;
}

std::string& RootStorage() {
    static std::string root;
    return root;
}

std::string DefaultRoot() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::string(xdg) + "/kestrix";
    if (const char* home = std::getenv("HOME"); home && *home) return std::string(home) + "/.local/share/kestrix";
    return "./kestrix-data";
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool Fail(int code) {
    SetLastError(code);
    return false;
}

// As many links as the kernel follows in one path before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

// Where a host path leads once every link in it is followed, as opening or creating it
// would follow them: a missing tail is kept as it stands, and a dangling link leads to
// where its target would be created. nullopt when the links loop.
std::optional<std::string> FollowLinks(std::string path, int& links) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    char real[PATH_MAX];
    if (::realpath(path.c_str(), real) != nullptr) return std::string(real);
    const size_t cut = path.rfind('/');
    if (cut == std::string::npos) return path;  // a relative name of nothing that exists
    auto parent = cut == 0 ? std::optional<std::string>("/") : FollowLinks(path.substr(0, cut), links);
    if (!parent) return std::nullopt;
    const std::string candidate = (*parent == "/" ? "" : *parent) + "/" + path.substr(cut + 1);
    struct stat st {};
    if (::lstat(candidate.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return candidate;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(candidate.c_str(), target, sizeof target);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof target) || ++links > kMaxLinks) return std::nullopt;
    const std::string to(target, static_cast<size_t>(n));
    return FollowLinks(to[0] == '/' ? to : *parent + "/" + to, links);
}

// Where the host path leads when that stays inside the device root; nullopt when a link
// leads it out (or the links loop), with why saying so.
std::optional<std::string> InsideRoot(const std::string& host, const std::string& root, std::string& why) {
    int links = 0;
    const auto rootLeads = FollowLinks(root, links);
    links = 0;
    const auto leads = FollowLinks(host, links);
    if (!rootLeads || !leads) {
        why = "its symbolic links loop";
        return std::nullopt;
    }
    const std::string& r = *rootLeads;
    if (*leads == r || r == "/" || (leads->compare(0, r.size(), r) == 0 && (*leads)[r.size()] == '/')) return leads;
    why = "a symbolic link leads it out of " + root + ", to " + *leads;
    return std::nullopt;
}

}  // namespace

void SetDeviceRoot(const std::string& hostDir) {
    std::string root = hostDir;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    std::lock_guard lock(RootMutex());
    RootStorage() = root;
}

std::string DeviceRoot() {
    std::lock_guard lock(RootMutex());
    if (RootStorage().empty()) RootStorage() = DefaultRoot();
    return RootStorage();
}

bool ToHostPath(const std::string& devicePath, std::string& hostPath) {
    if (devicePath.empty() || devicePath.find('\0') != std::string::npos) return Fail(kErrorBadPathname);
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= devicePath.size()) {
        size_t end = i;
        while (end < devicePath.size() && !IsSeparator(devicePath[end])) ++end;
        std::string part = devicePath.substr(i, end - i);
        i = end + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return Fail(kErrorBadPathname);
        // A drive ("C:") names another volume, which the device root does not have.
        if (part.size() >= 2 && part[1] == ':' && std::isalpha(static_cast<unsigned char>(part[0])))
            return Fail(kErrorBadPathname);
        parts.push_back(std::move(part));
    }
    const std::string root = DeviceRoot();
    std::string out = root;
    for (auto& p : parts) {
        if (out.empty() || out.back() != '/') out += '/';
        out += p;
    }
    // Every file call comes through here, so this is where the reason is told.
    std::string why;
    if (!InsideRoot(out, root, why)) {
        LogWarning(devicePath + " is refused: " + why);
        return Fail(kErrorAccessDenied);
    }
    hostPath = std::move(out);
    return true;
}

DeviceFile::~DeviceFile() { Close(); }

DeviceFile::DeviceFile(DeviceFile&& other) noexcept : file_(std::exchange(other.file_, nullptr)) {}

DeviceFile& DeviceFile::operator=(DeviceFile&& other) noexcept {
    if (this != &other) {
        Close();
        file_ = std::exchange(other.file_, nullptr);
    }
    return *this;
}

bool DeviceFile::Open(const std::string& devicePath, const char* mode) {
    Close();
    std::string host;
    if (!ToHostPath(devicePath, host)) return false;
    // "t" asks for text mode, which the C library here does not have: files are bytes.
    std::string m;
    for (const char* p = mode; p && *p; ++p)
        if (*p != 't') m += *p;
    m += 'e';
    file_ = std::fopen(host.c_str(), m.c_str());
    if (!file_) return Fail(errno);
    return true;
}

size_t DeviceFile::Write(const void* data, size_t size) {
    if (!file_) {
        SetLastError(EBADF);
        return 0;
    }
    size_t n = std::fwrite(data, 1, size, file_);
    if (n < size) SetLastError(errno ? errno : EIO);
    return n;
}

size_t DeviceFile::Read(void* data, size_t size) {
    if (!file_) {
        SetLastError(EBADF);
        return 0;
    }
    size_t n = std::fread(data, 1, size, file_);
    if (n < size && std::ferror(file_)) SetLastError(errno ? errno : EIO);
    return n;
}

bool DeviceFile::Flush() {
    if (!file_) return Fail(EBADF);
    if (std::fflush(file_) != 0) return Fail(errno);
    return true;
}

bool DeviceFile::Rewind() {
    if (!file_) return Fail(EBADF);
    if (std::fseek(file_, 0, SEEK_SET) != 0) return Fail(errno);
    std::clearerr(file_);
    return true;
}

std::optional<int64_t> DeviceFile::Size() {
    if (!file_) {
        SetLastError(EBADF);
        return std::nullopt;
    }
    if (std::fflush(file_) != 0) {
        SetLastError(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(::fileno(file_), &st) != 0) {
        SetLastError(errno);
        return std::nullopt;
    }
    return static_cast<int64_t>(st.st_size);
}

bool DeviceFile::Close() {
    if (!file_) return true;
    int rc = std::fclose(file_);
    file_ = nullptr;
    if (rc != 0) return Fail(errno);
    return true;
}

bool DeviceFileExists(const std::string& devicePath) {
    std::string host;
    if (!ToHostPath(devicePath, host)) return false;
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0) return Fail(errno == ENOENT ? kErrorFileNotFound : errno);
    return true;
}

bool DeleteDeviceFile(const std::string& devicePath) {
    std::string host;
    if (!ToHostPath(devicePath, host)) return false;
    if (::unlink(host.c_str()) != 0) return Fail(errno == ENOENT ? kErrorFileNotFound : errno);
    return true;
}

std::optional<int64_t> DeviceFileSize(const std::string& devicePath) {
    std::string host;
    if (!ToHostPath(devicePath, host)) return std::nullopt;
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0) {
        SetLastError(errno == ENOENT ? kErrorFileNotFound : errno);
        return std::nullopt;
    }
    return static_cast<int64_t>(st.st_size);
}

bool CreateDeviceDirectory(const std::string& devicePath) {
    std::string host;
    if (!ToHostPath(devicePath, host)) return false;
    std::error_code ec;
    std::filesystem::create_directories(host, ec);
    if (ec) return Fail(ec.value());
    if (!std::filesystem::is_directory(host, ec)) return Fail(ENOTDIR);
    return true;
}

bool CreateDeviceFolder(const std::string& devicePath) {
    std::string host;
    if (!ToHostPath(devicePath, host)) return false;
    if (::mkdir(host.c_str(), 0755) == 0) return true;
    if (errno == EEXIST) return Fail(kErrorAlreadyExists);
    return Fail(errno == ENOENT || errno == ENOTDIR ? kErrorPathNotFound : errno);
}

std::optional<std::string> CreateUniqueDeviceFile(const std::string& deviceDir, const std::string& prefix) {
    std::string dir = deviceDir.empty() ? std::string("\\") : deviceDir;
    if (!IsSeparator(dir.back())) dir += '\\';
    auto seed = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                static_cast<uint32_t>(::getpid());
    for (uint32_t attempt = 0; attempt < 0x10000; ++attempt) {
        uint32_t unique = (seed + attempt) & 0xFFFF;
        if (unique == 0) continue;
        std::string devicePath = dir + prefix + Format("%04X", unique) + ".tmp";
        std::string host;
        if (!ToHostPath(devicePath, host)) return std::nullopt;
        int fd = ::open(host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            return devicePath;
        }
        if (errno != EEXIST) {
            SetLastError(errno == ENOENT ? kErrorFileNotFound : errno);
            return std::nullopt;
        }
    }
    SetLastError(EEXIST);
    return std::nullopt;
}

std::optional<std::vector<DirEntry>> ListDeviceDirectory(const std::string& devicePath) {
    std::string host;
    if (!ToHostPath(devicePath, host)) return std::nullopt;
    DIR* dir = ::opendir(host.c_str());
    if (!dir) {
        SetLastError(errno == ENOENT ? kErrorFileNotFound : errno);
        return std::nullopt;
    }
    std::vector<DirEntry> entries;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        bool isDir = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            const std::string path = host + "/" + name;
            struct stat st {};
            std::string outside;
            isDir = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && InsideRoot(path, DeviceRoot(), outside);
        }
        entries.push_back({std::move(name), isDir});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) { return a.name < b.name; });
    return entries;
}

}  // namespace kestrix::platform
