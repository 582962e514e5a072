#include "platform/Registry.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/LastError.h"
#include "platform/Text.h"

namespace kestrix::platform {

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kRoot = "HKEY_LOCAL_MACHINE";

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

template <typename Map>
auto FindName(Map& map, const std::string& name) {
    return std::find_if(map.begin(), map.end(), [&](const auto& kv) { return SameName(kv.first, name); });
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && SameName(s.substr(0, prefix.size()), prefix);
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(const std::string& s, size_t& pos, std::string& out) {
    out.clear();
    for (++pos; pos < s.size(); ++pos) {
        char c = s[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\') {
            if (++pos >= s.size()) return false;
            c = s[pos];
        }
        out += c;
    }
    return false;
}

// The key path as the API takes it: no leading, trailing or doubled separators.
std::string NormalizeKeyPath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

// The format has no escape for line breaks and other control characters; they are
// written as spaces so the file always reads back.
std::string Escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
    return out;
}

std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}
std::string& PathStorage() {
    static std::string path;
    return path;
}

std::string DefaultRegistryPath() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) return std::string(xdg) + "/kestrix/registry.reg";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/share/kestrix/registry.reg";
    return "registry.reg";
}

// 0 and the text, ENOENT for a missing file, or another errno.
int ReadWholeFile(const std::string& path, std::string& out) {
    out.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            int e = errno;
            ::close(fd);
            return e;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return 0;
}

int ToRegError(int err) {
    if (err == ENOENT) return kErrorFileNotFound;
    if (err == EACCES || err == EPERM || err == EROFS) return kErrorAccessDenied;
    return err;
}

// Loads the file: a missing file is an empty registry.
int LoadRegistry(const std::string& path, RegistryData& data, std::string* error) {
    std::string text;
    int err = ReadWholeFile(path, text);
    if (err == ENOENT) {
        data = {};
        return kErrorSuccess;
    }
    if (err != 0) {
        if (error) *error = path + ": " + std::strerror(err);
        return ToRegError(err);
    }
    std::string parseError;
    if (!ParseRegistryText(text, data, parseError)) {
        if (error) *error = path + ": " + parseError;
        return kErrorInvalidData;
    }
    return kErrorSuccess;
}

int WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

// Temporary file, flush to the disk, rename over, then make the rename itself durable.
int ReplaceFile(const std::string& path, const std::string& text) {
    std::string tmp = path + ".tmp-" + std::to_string(::getpid());
    mode_t mode = 0600;  // the file holds the password digest
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return errno;
    int err = WriteAll(fd, text);
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(tmp.c_str());
        return err;
    }
    std::string dir = std::filesystem::path(path).parent_path().string();
    int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return 0;
}

}  // namespace

bool ParseRegistryText(const std::string& text, RegistryData& out, std::string& error) {
    std::vector<std::string> lines;
    size_t start = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) start = 3;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }

    RegistryData data;
    std::map<std::string, RegValue>* key = nullptr;
    bool header = false;
    auto fail = [&](size_t index, const std::string& what) {
        error = "line " + std::to_string(index + 1) + ": " + what;
        return false;
    };

    for (size_t i = 0; i < lines.size(); ++i) {
        std::string t = Trim(lines[i]);
        if (t.empty() || t[0] == ';') continue;
        if (!header) {
            if (t != kHeader) return fail(i, std::string("expected \"") + kHeader + "\"");
            header = true;
            continue;
        }
        if (t[0] == '[') {
            if (t.back() != ']') return fail(i, "key name without closing ']'");
            std::string name = t.substr(1, t.size() - 2);
            if (!name.empty() && name[0] == '-') return fail(i, "deleting a key is not supported");
            if (!StartsWithNoCase(name, kRoot) || (name.size() > 18 && name[18] != '\\'))
                return fail(i, "key outside HKEY_LOCAL_MACHINE");
            std::string path = NormalizeKeyPath(name.substr(std::min<size_t>(name.size(), 19)));
            auto it = FindName(data.keys, path);
            key = it != data.keys.end() ? &it->second : &data.keys[path];
            continue;
        }
        if (t[0] != '"' && t[0] != '@') return fail(i, "expected a key in brackets or a quoted value name");
        if (!key) return fail(i, "value before the first key");
        std::string name;
        size_t pos = 0;
        if (t[0] == '@') {
            pos = 1;
        } else if (!ReadQuoted(t, pos, name)) {
            return fail(i, "value name without closing quote");
        }
        while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
        if (pos >= t.size() || t[pos] != '=') return fail(i, "expected '=' after the value name");
        std::string rest = Trim(t.substr(pos + 1));

        RegValue value;
        if (!rest.empty() && rest[0] == '"') {
            size_t p = 0;
            value.type = RegType::Sz;
            if (!ReadQuoted(rest, p, value.text)) return fail(i, "string without closing quote");
            if (p != rest.size()) return fail(i, "text after the closing quote");
        } else if (StartsWithNoCase(rest, "dword:")) {
            std::string digits = rest.substr(6);
            if (digits.empty() || digits.size() > 8) return fail(i, "dword needs 1 to 8 hex digits");
            uint32_t v = 0;
            for (char c : digits) {
                int d = HexDigit(c);
                if (d < 0) return fail(i, "dword needs 1 to 8 hex digits");
                v = v << 4 | static_cast<uint32_t>(d);
            }
            value.type = RegType::Dword;
            value.dword = v;
        } else if (StartsWithNoCase(rest, "hex:")) {
            size_t first = i;
            std::string bytes = rest.substr(4);
            // Long values continue on the next line after a trailing backslash.
            while (!bytes.empty() && bytes.back() == '\\') {
                bytes.pop_back();
                // A blank line ends the key, so a value cut off there is truncated too.
                if (++i >= lines.size() || Trim(lines[i]).empty())
                    return fail(first, "hex value continues past the end of the file");
                bytes += Trim(lines[i]);
            }
            value.type = RegType::Binary;
            std::string token;
            size_t p = 0;
            while (p <= bytes.size()) {
                size_t comma = bytes.find(',', p);
                if (comma == std::string::npos) comma = bytes.size();
                token = Trim(bytes.substr(p, comma - p));
                p = comma + 1;
                if (token.empty()) {
                    // "hex:" alone is an empty value; a trailing comma is tolerated.
                    if (comma == bytes.size()) break;
                    return fail(i, "empty byte in hex value");
                }
                if (token.size() > 2 || HexDigit(token[0]) < 0 || (token.size() == 2 && HexDigit(token[1]) < 0))
                    return fail(i, "bad byte \"" + token + "\" in hex value");
                int v = HexDigit(token[0]);
                if (token.size() == 2) v = v * 16 + HexDigit(token[1]);
                value.binary.push_back(static_cast<uint8_t>(v));
            }
        } else if (rest == "-") {
            return fail(i, "deleting a value is not supported");
        } else {
            return fail(i, "unknown value type (expected \"text\", dword: or hex:)");
        }
        auto existing = FindName(*key, name);
        if (existing != key->end())
            existing->second = std::move(value);
        else
            (*key)[name] = std::move(value);
    }
    out = std::move(data);
    return true;
}

std::string FormatRegistryText(const RegistryData& data) {
    std::string out = std::string(kHeader) + "\n\n";
    for (const auto& [path, values] : data.keys) {
        out += "[";
        out += kRoot;
        if (!path.empty()) out += "\\" + path;
        out += "]\n";
        for (const auto& [name, value] : values) {
            std::string line = name.empty() ? "@=" : "\"" + Escape(name) + "\"=";
            switch (value.type) {
                case RegType::Sz: line += "\"" + Escape(value.text) + "\""; break;
                case RegType::Dword: line += Format("dword:%08x", value.dword); break;
                case RegType::Binary: {
                    line += "hex:";
                    size_t lineStart = 0;
                    for (size_t b = 0; b < value.binary.size(); ++b) {
                        line += Format("%02x", value.binary[b]);
                        if (b + 1 == value.binary.size()) break;
                        line += ',';
                        // Wrapped as regedit does, so lines stay under 80 columns.
                        if (line.size() - lineStart > 75) {
                            line += "\\\n  ";
                            lineStart = line.size() - 2;
                        }
                    }
                    break;
                }
            }
            out += line + "\n";
        }
        out += "\n";
    }
    return out;
}

bool ConfigureRegistry(const std::string& filePath, std::string* error) {
    {
        std::lock_guard lock(RegistryMutex());
        PathStorage() = filePath;
    }
    RegistryData data;
    std::string message;
    int rc = LoadRegistry(filePath, data, &message);
    if (rc != kErrorSuccess) {
        if (error) *error = message;
        SetLastError(rc);
        return false;
    }
    return true;
}

std::string RegistryFilePath() {
    std::lock_guard lock(RegistryMutex());
    if (PathStorage().empty()) PathStorage() = DefaultRegistryPath();
    return PathStorage();
}

RegKey::~RegKey() { Close(); }

std::unique_ptr<RegKey> RegKey::Open(const std::string& path, bool create, int* error) {
    auto failWith = [&](int code) -> std::unique_ptr<RegKey> {
        if (error) *error = code;
        SetLastError(code);
        return nullptr;
    };
    std::string keyPath = NormalizeKeyPath(path);
    RegistryData data;
    int rc = LoadRegistry(RegistryFilePath(), data, nullptr);
    if (rc != kErrorSuccess) return failWith(rc);
    auto it = FindName(data.keys, keyPath);
    if (it == data.keys.end() && !create) return failWith(kErrorFileNotFound);

    std::unique_ptr<RegKey> key(new RegKey());
    key->create_ = create;
    if (it == data.keys.end()) {
        key->path_ = keyPath;
        key->missing_ = true;
    } else {
        key->path_ = it->first;
        key->values_.assign(it->second.begin(), it->second.end());
    }
    if (error) *error = kErrorSuccess;
    SetLastError(kErrorSuccess);
    return key;
}

bool RegKey::Has(const std::string& name) const { return FindName(values_, name) != values_.end(); }

std::optional<RegValue> RegKey::Query(const std::string& name) const {
    auto it = FindName(values_, name);
    if (it == values_.end()) {
        SetLastError(kErrorFileNotFound);
        return std::nullopt;
    }
    return it->second;
}

bool RegKey::QueryString(const std::string& name, std::string& out) const {
    auto v = Query(name);
    if (!v) return false;
    if (v->type != RegType::Sz) {
        SetLastError(kErrorInvalidData);
        return false;
    }
    out = v->text;
    return true;
}

bool RegKey::QueryDword(const std::string& name, uint32_t& out) const {
    auto v = Query(name);
    if (!v) return false;
    if (v->type != RegType::Dword) {
        SetLastError(kErrorInvalidData);
        return false;
    }
    out = v->dword;
    return true;
}

bool RegKey::QueryBinary(const std::string& name, std::vector<uint8_t>& out) const {
    auto v = Query(name);
    if (!v) return false;
    if (v->type != RegType::Binary) {
        SetLastError(kErrorInvalidData);
        return false;
    }
    out = v->binary;
    return true;
}

std::vector<std::pair<std::string, RegValue>> RegKey::Values() const { return values_; }

namespace {
void Store(std::vector<std::pair<std::string, RegValue>>& values,
           std::vector<std::pair<std::string, std::optional<RegValue>>>& changes, const std::string& name,
           RegValue value) {
    auto it = FindName(values, name);
    if (it != values.end())
        it->second = value;
    else
        values.emplace_back(name, value);
    changes.emplace_back(name, std::move(value));
}
}  // namespace

void RegKey::SetString(const std::string& name, const std::string& value) {
    RegValue v;
    v.type = RegType::Sz;
    v.text = value;
    Store(values_, changes_, name, std::move(v));
}

void RegKey::SetDword(const std::string& name, uint32_t value) {
    RegValue v;
    v.type = RegType::Dword;
    v.dword = value;
    Store(values_, changes_, name, std::move(v));
}

void RegKey::SetBinary(const std::string& name, const std::vector<uint8_t>& value) {
    RegValue v;
    v.type = RegType::Binary;
    v.binary = value;
    Store(values_, changes_, name, std::move(v));
}

bool RegKey::DeleteValue(const std::string& name) {
    auto it = FindName(values_, name);
    if (it == values_.end()) {
        SetLastError(kErrorFileNotFound);
        return false;
    }
    values_.erase(it);
    changes_.emplace_back(name, std::nullopt);
    return true;
}

void RegKey::Discard() {
    closed_ = true;
    changes_.clear();
}

int RegKey::Close() {
    if (closed_) return kErrorSuccess;
    closed_ = true;
    auto done = [](int code) {
        SetLastError(code);
        return code;
    };
    if (changes_.empty() && !(create_ && missing_)) return done(kErrorSuccess);

    // One writer at a time in this process (the temporary name is per process) and,
    // through the lock file, between processes.
    std::lock_guard processLock(RegistryMutex());
    std::string file = PathStorage().empty() ? DefaultRegistryPath() : PathStorage();
    std::error_code ec;
    auto dir = std::filesystem::path(file).parent_path();
    if (!dir.empty()) std::filesystem::create_directories(dir, ec);
    int lockFd = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd < 0) return done(ToRegError(errno));
    while (::flock(lockFd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            int e = errno;
            ::close(lockFd);
            return done(ToRegError(e));
        }
    }

    int rc = kErrorSuccess;
    RegistryData data;
    rc = LoadRegistry(file, data, nullptr);
    if (rc == kErrorSuccess) {
        auto key = FindName(data.keys, path_);
        if (key == data.keys.end() && !create_) {
            rc = kErrorFileNotFound;  // removed by someone else meanwhile
        } else {
            if (key == data.keys.end()) key = data.keys.emplace(path_, std::map<std::string, RegValue>{}).first;
            auto& values = key->second;
            for (auto& [name, change] : changes_) {
                auto v = FindName(values, name);
                if (!change) {
                    if (v != values.end()) values.erase(v);
                } else if (v != values.end()) {
                    v->second = *change;
                } else {
                    values[name] = *change;
                }
            }
            int err = ReplaceFile(file, FormatRegistryText(data));
            if (err != 0) rc = ToRegError(err);
        }
    }
    ::flock(lockFd, LOCK_UN);
    ::close(lockFd);
    changes_.clear();
    return done(rc);
}

}  // namespace kestrix::platform
