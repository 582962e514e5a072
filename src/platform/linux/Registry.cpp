#include "platform/Registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/LastError.h"
#include "platform/Log.h"

namespace kestrix::platform {

namespace {

constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
constexpr const char* kRoot = "HKEY_LOCAL_MACHINE";

// Names compare without regard to ASCII case; Folded is the form they are indexed by.
char FoldChar(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = FoldChar(c);
    return out;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldChar(x) == FoldChar(y); });
}

template <typename Map>
auto FindName(Map& map, const std::string& name) {
    return std::find_if(map.begin(), map.end(), [&](const auto& kv) { return SameName(kv.first, name); });
}

std::string_view Trim(std::string_view s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && SameName(s.substr(0, prefix.size()), prefix);
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(std::string_view s, size_t& pos, std::string& out) {
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
std::string NormalizeKeyPath(std::string_view path) {
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
void AppendEscaped(std::string& out, const std::string& s) {
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
}

constexpr char kHexDigits[] = "0123456789abcdef";

void AppendHexByte(std::string& out, uint8_t b) {
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 15];
}

std::string KeyLabel(const std::string& path) {
    return "[" + std::string(kRoot) + (path.empty() ? "" : "\\" + path) + "]";
}

// Where each thing of a parsed file stands, so that a save changes only the lines of the
// values it changes. Line numbers are 0-based indexes into lines.
struct TextLayout {
    // [begin, end) of each line in the text, its line break included.
    std::vector<std::pair<size_t, size_t>> lines;
    // Folded key path -> its last line (its label or its last value).
    std::unordered_map<std::string, size_t> keyEnd;
    struct Value {
        std::string name;                              // as first written
        std::vector<std::pair<size_t, size_t>> spans;  // first and last line of every occurrence
    };
    // Folded key path + '\n' + folded value name -> where it is set.
    std::unordered_map<std::string, Value> values;
    bool header = false;  // the file has its first line
};

bool ParseText(const std::string& text, RegistryData& out, std::string& error, std::vector<std::string>* warnings,
               TextLayout* layout);

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

// 0 and the text, ENOENT for a missing file, EFBIG for one over kMaxRegistryFileBytes
// (size then holds its size, or 0 when it grew past the limit while being read or is not
// a regular file), or another errno.
int ReadWholeFile(const std::string& path, std::string& out, uint64_t& size) {
    out.clear();
    size = 0;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        size = static_cast<uint64_t>(st.st_size);
        if (size > kMaxRegistryFileBytes) {
            ::close(fd);
            return EFBIG;
        }
        out.reserve(static_cast<size_t>(size));
    }
    char buffer[16384];
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
        // A file that grew since fstat, or one whose size is not known.
        if (out.size() > kMaxRegistryFileBytes) {
            size = 0;
            out.clear();
            ::close(fd);
            return EFBIG;
        }
    }
    ::close(fd);
    return 0;
}

std::string SizeLimitText() {
    return "a registry file may hold at most " + std::to_string(kMaxRegistryFileBytes) + " bytes (1 MiB)";
}

int ToRegError(int err) {
    if (err == ENOENT) return kErrorFileNotFound;
    if (err == EACCES || err == EPERM || err == EROFS) return kErrorAccessDenied;
    return err;
}

// Loads the file: a missing file is an empty registry. A file too large or that does not
// parse is kErrorInvalidData; with logWarnings, each repeated value name is logged.
// text and layout, when given, receive the file's text and where its values stand.
int LoadRegistry(const std::string& path, RegistryData& data, std::string* error, bool logWarnings = false,
                 std::string* textOut = nullptr, TextLayout* layout = nullptr) {
    std::string local;
    std::string& text = textOut ? *textOut : local;
    uint64_t size = 0;
    int err = ReadWholeFile(path, text, size);
    if (err == ENOENT) {
        data = {};
        if (layout) *layout = {};
        return kErrorSuccess;
    }
    if (err == EFBIG) {
        const std::string what = size > kMaxRegistryFileBytes
                                     ? "the file is " + std::to_string(size) + " bytes"
                                     : "the file holds more than " + std::to_string(kMaxRegistryFileBytes) + " bytes";
        if (error) *error = path + ": " + what + "; " + SizeLimitText();
        return kErrorInvalidData;
    }
    if (err != 0) {
        if (error) *error = path + ": " + std::strerror(err);
        return ToRegError(err);
    }
    std::string parseError;
    std::vector<std::string> warnings;
    if (!ParseText(text, data, parseError, logWarnings ? &warnings : nullptr, layout)) {
        if (error) *error = path + ": " + parseError;
        return kErrorInvalidData;
    }
    for (const std::string& w : warnings) LogWarning(path + ": " + w);
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

namespace {

// One value's line(s), without the final line break.
void AppendValue(std::string& out, const std::string& name, const RegValue& value) {
    const size_t lineStart = out.size();
    if (name.empty()) {
        out += "@=";
    } else {
        out += '"';
        AppendEscaped(out, name);
        out += "\"=";
    }
    switch (value.type) {
        case RegType::Sz:
            out += '"';
            AppendEscaped(out, value.text);
            out += '"';
            break;
        case RegType::Dword:
            out += "dword:";
            for (int shift = 28; shift >= 0; shift -= 4) out += kHexDigits[(value.dword >> shift) & 15];
            break;
        case RegType::Binary: {
            out += "hex:";
            size_t wrapStart = lineStart;
            for (size_t b = 0; b < value.binary.size(); ++b) {
                AppendHexByte(out, value.binary[b]);
                if (b + 1 == value.binary.size()) break;
                out += ',';
                // Wrapped as registry-export files wrap long values, so lines stay under 80 columns.
                if (out.size() - wrapStart > 75) {
                    out += "\\\n  ";
                    wrapStart = out.size() - 2;
                }
            }
            break;
        }
    }
}

bool SameValue(const RegValue& a, const RegValue& b) {
    if (a.type != b.type) return false;
    if (a.type == RegType::Sz) return a.text == b.text;
    if (a.type == RegType::Dword) return a.dword == b.dword;
    return a.binary == b.binary;
}

// The file's text with one key's changes made in place. Every line that no change touches
// stays as it was written (comments, spacing, values written compactly by hand), and a
// value set to what it holds keeps its lines, so saving never grows a file by more than
// its changes. A new value goes after the key's last line, a new key at the end.
std::string EditedText(const std::string& text, const TextLayout& layout, const std::map<std::string, RegValue>* values,
                       const std::string& keyPath,
                       const std::vector<std::pair<std::string, std::optional<RegValue>>>& changes) {
    // The last change of a name decides; names keep the order of their first change.
    std::vector<std::pair<const std::string*, const std::optional<RegValue>*>> net;
    std::unordered_map<std::string, size_t> position;
    for (const auto& [name, change] : changes) {
        auto [it, added] = position.try_emplace(Folded(name), net.size());
        if (added) net.emplace_back(&name, &change);
        net[it->second].second = &change;
    }
    const std::string key = Folded(keyPath);
    auto lineBreak = [&](size_t line) {
        const auto [begin, end] = layout.lines[line];
        if (end > begin && text[end - 1] == '\n') return end - begin > 1 && text[end - 2] == '\r' ? "\r\n" : "\n";
        return "\n";
    };
    std::vector<std::optional<std::string>> replaced(layout.lines.size());
    std::vector<std::string> added;
    for (const auto& [name, change] : net) {
        auto where = layout.values.find(key + '\n' + Folded(*name));
        if (where != layout.values.end() && *change && values) {
            auto old = values->find(where->second.name);
            if (old != values->end() && SameValue(old->second, **change)) continue;
        }
        if (where != layout.values.end()) {
            for (const auto& [first, last] : where->second.spans)
                for (size_t line = first; line <= last; ++line) replaced[line] = std::string();
        }
        if (!*change) continue;
        if (where != layout.values.end()) {
            const size_t line = where->second.spans.back().first;
            std::string& out = *replaced[line];
            AppendValue(out, where->second.name, **change);
            out += lineBreak(where->second.spans.back().second);
        } else {
            AppendValue(added.emplace_back(), *name, **change);
        }
    }
    auto end = layout.keyEnd.find(key);
    std::string out = layout.lines.empty() ? std::string() : text.substr(0, layout.lines[0].first);
    if (!layout.header) out += std::string(kHeader) + "\n\n";
    for (size_t line = 0; line < layout.lines.size(); ++line) {
        const auto [begin, stop] = layout.lines[line];
        if (replaced[line]) {
            out += *replaced[line];
        } else {
            out.append(text, begin, stop - begin);
        }
        if (end != layout.keyEnd.end() && end->second == line && !added.empty()) {
            if (out.back() != '\n') out += '\n';
            for (const std::string& value : added) out += value + lineBreak(line);
        }
    }
    if (end == layout.keyEnd.end()) {
        if (out.back() != '\n') out += '\n';
        const size_t lineStart = out.size() < 2 ? 0 : out.find_last_of('\n', out.size() - 2) + 1;
        if (!Trim(std::string_view(out).substr(lineStart, out.size() - 1 - lineStart)).empty()) out += '\n';
        out += KeyLabel(keyPath) + "\n";
        for (const std::string& value : added) out += value + "\n";
        out += '\n';
    }
    return out;
}

bool ParseText(const std::string& text, RegistryData& out, std::string& error, std::vector<std::string>* warnings,
               TextLayout* layout) {
    std::string_view all(text);
    if (all.substr(0, 3) == "\xEF\xBB\xBF") all.remove_prefix(3);
    std::vector<std::string_view> lines;
    for (size_t start = 0; start <= all.size();) {
        size_t end = all.find('\n', start);
        if (end == std::string_view::npos) end = all.size();
        std::string_view line = all.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (layout) {
            const auto begin = static_cast<size_t>(line.data() - text.data());
            layout->lines.emplace_back(begin, std::min(text.size(), begin + (end - start) + 1));
        }
        start = end + 1;
    }

    // Keys and value names are looked up by their folded form, so a file of many values
    // parses in linear time; the maps keep the names as first written.
    using Values = std::map<std::string, RegValue>;
    struct Named {
        Values::iterator value;
        size_t line;
    };
    struct Key {
        const std::string* path;
        const std::string* folded;
        Values* values;
        std::unordered_map<std::string, Named> names;
    };
    RegistryData data;
    std::unordered_map<std::string, Key> keys;
    Key* key = nullptr;
    bool header = false;
    auto fail = [&](size_t index, const std::string& what) {
        error = "line " + std::to_string(index + 1) + ": " + what;
        return false;
    };

    for (size_t i = 0; i < lines.size(); ++i) {
        std::string_view t = Trim(lines[i]);
        if (t.empty() || t[0] == ';') continue;
        if (!header) {
            if (t != kHeader) return fail(i, std::string("expected \"") + kHeader + "\"");
            header = true;
            if (layout) layout->header = true;
            continue;
        }
        if (t[0] == '[') {
            if (t.back() != ']') return fail(i, "key name without closing ']'");
            std::string_view name = t.substr(1, t.size() - 2);
            if (!name.empty() && name[0] == '-') return fail(i, "deleting a key is not supported");
            if (!StartsWithNoCase(name, kRoot) || (name.size() > 18 && name[18] != '\\'))
                return fail(i, "key outside HKEY_LOCAL_MACHINE");
            std::string path = NormalizeKeyPath(name.substr(std::min<size_t>(name.size(), 19)));
            auto [it, added] = keys.try_emplace(Folded(path));
            if (added) {
                auto stored = data.keys.emplace(std::move(path), Values{}).first;
                it->second.path = &stored->first;
                it->second.folded = &it->first;
                it->second.values = &stored->second;
            }
            key = &it->second;
            if (layout) layout->keyEnd[*key->folded] = i;
            continue;
        }
        if (t[0] != '"' && t[0] != '@') return fail(i, "expected a key in brackets or a quoted value name");
        if (!key) return fail(i, "value before the first key");
        const size_t first = i;
        std::string name;
        size_t pos = 0;
        if (t[0] == '@') {
            pos = 1;
        } else if (!ReadQuoted(t, pos, name)) {
            return fail(i, "value name without closing quote");
        }
        while (pos < t.size() && (t[pos] == ' ' || t[pos] == '\t')) ++pos;
        if (pos >= t.size() || t[pos] != '=') return fail(i, "expected '=' after the value name");
        std::string_view rest = Trim(t.substr(pos + 1));

        RegValue value;
        if (!rest.empty() && rest[0] == '"') {
            size_t p = 0;
            value.type = RegType::Sz;
            if (!ReadQuoted(rest, p, value.text)) return fail(i, "string without closing quote");
            if (p != rest.size()) return fail(i, "text after the closing quote");
        } else if (StartsWithNoCase(rest, "dword:")) {
            std::string_view digits = rest.substr(6);
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
            std::string joined;
            std::string_view bytes = rest.substr(4);
            // Long values continue on the next line after a trailing backslash.
            while (!bytes.empty() && bytes.back() == '\\') {
                if (joined.empty()) joined = bytes;
                joined.pop_back();
                // A blank line ends the key, so a value cut off there is truncated too.
                if (++i >= lines.size() || Trim(lines[i]).empty())
                    return fail(first, "hex value continues past the end of the file");
                joined += Trim(lines[i]);
                bytes = joined;
            }
            value.type = RegType::Binary;
            value.binary.reserve(bytes.size() / 3 + 1);
            for (size_t p = 0; p <= bytes.size();) {
                size_t comma = bytes.find(',', p);
                if (comma == std::string_view::npos) comma = bytes.size();
                std::string_view token = Trim(bytes.substr(p, comma - p));
                p = comma + 1;
                if (token.empty()) {
                    // "hex:" alone is an empty value; a trailing comma is tolerated.
                    if (comma == bytes.size()) break;
                    return fail(i, "empty byte in hex value");
                }
                if (token.size() > 2 || HexDigit(token[0]) < 0 || (token.size() == 2 && HexDigit(token[1]) < 0))
                    return fail(i, "bad byte \"" + std::string(token) + "\" in hex value");
                int v = HexDigit(token[0]);
                if (token.size() == 2) v = v * 16 + HexDigit(token[1]);
                value.binary.push_back(static_cast<uint8_t>(v));
            }
        } else if (rest == "-") {
            return fail(i, "deleting a value is not supported");
        } else {
            return fail(i, "unknown value type (expected \"text\", dword: or hex:)");
        }

        value.line = first + 1;
        std::string folded = Folded(name);
        if (layout) {
            layout->keyEnd[*key->folded] = i;
            TextLayout::Value& where = layout->values[*key->folded + '\n' + folded];
            if (where.spans.empty()) where.name = name;
            where.spans.emplace_back(first, i);
        }
        auto found = key->names.find(folded);
        if (found == key->names.end()) {
            // Files written here list a key's names in order, so the end is the place.
            auto stored = key->values->emplace_hint(key->values->end(), std::move(name), std::move(value));
            key->names.emplace(std::move(folded), Named{stored, first});
            continue;
        }
        // The last one wins, as it would in an import; the person is told which line lost.
        if (warnings) {
            const std::string shown = name.empty() ? "@" : "\"" + name + "\"";
            warnings->push_back("line " + std::to_string(first + 1) + ": " + shown + " in " + KeyLabel(*key->path) +
                                " repeats line " + std::to_string(found->second.line + 1) +
                                "; the later value is used");
        }
        found->second.value->second = std::move(value);
        found->second.line = first;
    }
    out = std::move(data);
    return true;
}

}  // namespace

bool ParseRegistryText(const std::string& text, RegistryData& out, std::string& error,
                       std::vector<std::string>* warnings) {
    return ParseText(text, out, error, warnings, nullptr);
}

std::string FormatRegistryText(const RegistryData& data) {
    std::string out = std::string(kHeader) + "\n\n";
    for (const auto& [path, values] : data.keys) {
        out += KeyLabel(path);
        out += '\n';
        for (const auto& [name, value] : values) {
            AppendValue(out, name, value);
            out += '\n';
        }
        out += '\n';
    }
    return out;
}

std::string RegistryErrorText(int code) {
    switch (code) {
        case kErrorFileNotFound:
            return "the key does not exist";
        case kErrorAccessDenied:
            return "access denied";
        case kErrorInvalidData:
            return "the registry file does not parse or is over 1 MiB";
        case kErrorFileTooLarge:
            return "the registry file would pass 1 MiB";
        default:
            return ErrorText(code);
    }
}

bool ConfigureRegistry(const std::string& filePath, std::string* error) {
    {
        std::lock_guard lock(RegistryMutex());
        PathStorage() = filePath;
    }
    RegistryData data;
    std::string message;
    int rc = LoadRegistry(filePath, data, &message, true);
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
        key->values_.reserve(it->second.size());
        for (auto& [name, value] : it->second) {
            key->index_.emplace(Folded(name), key->values_.size());
            key->values_.emplace_back(name, std::move(value));
        }
    }
    if (error) *error = kErrorSuccess;
    SetLastError(kErrorSuccess);
    return key;
}

const RegValue* RegKey::Find(const std::string& name) const {
    auto it = index_.find(Folded(name));
    return it == index_.end() ? nullptr : &values_[it->second].second;
}

bool RegKey::Has(const std::string& name) const { return Find(name) != nullptr; }

std::optional<RegValue> RegKey::Query(const std::string& name) const {
    const RegValue* v = Find(name);
    if (!v) {
        SetLastError(kErrorFileNotFound);
        return std::nullopt;
    }
    return *v;
}

bool RegKey::IsOfType(const RegValue& value, const std::string& name, RegType type) const {
    if (value.type == type) return true;
    // A value a person wrote with the wrong type ("Port"="1201") is ignored, and they are told.
    static constexpr const char* kTypeNames[] = {"", "text", "", "hex bytes", "a dword"};
    const std::string where = value.line != 0 ? ": line " + std::to_string(value.line) : std::string();
    auto stored = index_.find(Folded(name));
    LogWarning(RegistryFilePath() + where + ": \"" + (stored != index_.end() ? values_[stored->second].first : name) +
               "\" in " + KeyLabel(path_) + " is " + kTypeNames[static_cast<int>(value.type)] + " where " +
               kTypeNames[static_cast<int>(type)] + " is expected; it is ignored");
    SetLastError(kErrorInvalidData);
    return false;
}

bool RegKey::QueryString(const std::string& name, std::string& out) const {
    auto v = Query(name);
    if (!v || !IsOfType(*v, name, RegType::Sz)) return false;
    out = v->text;
    return true;
}

bool RegKey::QueryDword(const std::string& name, uint32_t& out) const {
    auto v = Query(name);
    if (!v || !IsOfType(*v, name, RegType::Dword)) return false;
    out = v->dword;
    return true;
}

bool RegKey::QueryBinary(const std::string& name, std::vector<uint8_t>& out) const {
    auto v = Query(name);
    if (!v || !IsOfType(*v, name, RegType::Binary)) return false;
    out = v->binary;
    return true;
}

std::vector<std::pair<std::string, RegValue>> RegKey::Values() const { return values_; }

void RegKey::Store(const std::string& name, RegValue value) {
    auto [it, added] = index_.try_emplace(Folded(name), values_.size());
    if (added)
        values_.emplace_back(name, value);
    else
        values_[it->second].second = value;
    changes_.emplace_back(name, std::move(value));
}

void RegKey::SetString(const std::string& name, const std::string& value) {
    RegValue v;
    v.type = RegType::Sz;
    v.text = value;
    Store(name, std::move(v));
}

void RegKey::SetDword(const std::string& name, uint32_t value) {
    RegValue v;
    v.type = RegType::Dword;
    v.dword = value;
    Store(name, std::move(v));
}

void RegKey::SetBinary(const std::string& name, const std::vector<uint8_t>& value) {
    RegValue v;
    v.type = RegType::Binary;
    v.binary = value;
    Store(name, std::move(v));
}

bool RegKey::DeleteValue(const std::string& name) {
    auto it = index_.find(Folded(name));
    if (it == index_.end()) {
        SetLastError(kErrorFileNotFound);
        return false;
    }
    const size_t gone = it->second;
    index_.erase(it);
    values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(gone));
    for (auto& [folded, position] : index_)
        if (position > gone) --position;
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

    RegistryData data;
    std::string text;
    TextLayout layout;
    int rc = LoadRegistry(file, data, nullptr, false, &text, &layout);
    if (rc == kErrorSuccess) {
        auto key = FindName(data.keys, path_);
        if (key == data.keys.end() && !create_) {
            rc = kErrorFileNotFound;  // removed by someone else meanwhile
        } else {
            const std::string edited =
                EditedText(text, layout, key == data.keys.end() ? nullptr : &key->second, path_, changes_);
            if (edited == text) {
                // Nothing differs: nothing to write (a full disk does not fail a save that
                // changes nothing).
            } else if (edited.size() > kMaxRegistryFileBytes) {
                // Never write a file that could not be read back.
                LogError(file + ": not saved: the file would be " + std::to_string(edited.size()) + " bytes; " +
                         SizeLimitText());
                rc = kErrorFileTooLarge;
            } else if (int err = ReplaceFile(file, edited); err != 0) {
                LogError(file + ": not saved: " + std::strerror(err));
                rc = ToRegError(err);
            }
        }
    }
    ::flock(lockFd, LOCK_UN);
    ::close(lockFd);
    changes_.clear();
    return done(rc);
}

}  // namespace kestrix::platform
