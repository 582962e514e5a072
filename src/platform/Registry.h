// The emulated registry: keys under HKEY_LOCAL_MACHINE with typed values, kept in one
// text file in the registry-export format so a person can read and edit it:
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Geomira\GmrLogger]
//   "BaudRate"=dword:00002580
//   "Login"="anna"
//   "LastTrkPt"=hex:00,80,3e,d5,de,b1,9d,01
//
// A RegKey reads the file when it is opened and applies its own changes when it is
// closed: under an exclusive lock between processes it re-reads the file, changes the
// lines of the values that changed (every other line stays as written, comments
// included), writes a temporary file, flushes it and renames it over the old one. So a
// crash never leaves a half-written file, two processes do not lose each other's writes,
// and a save never grows a file by more than its changes (nothing is written when
// nothing differs). A file that does not parse, or is larger than kMaxRegistryFileBytes, is refused
// with an error naming its line or the limit and is never overwritten; a change that would
// make the file larger than that is not saved. Parsing and saving take time linear in the
// file's size. Thread-safe.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrix::platform {

enum class RegType : uint32_t { Sz = 1, Binary = 3, Dword = 4 };

struct RegValue {
    RegType type = RegType::Sz;
    std::string text;               // Sz
    uint32_t dword = 0;             // Dword
    std::vector<uint8_t> binary;    // Binary
    size_t line = 0;                // where the file sets it (1-based); 0 when set by a program
};

// Key path (relative to HKEY_LOCAL_MACHINE, case-insensitive, '\' separated) ->
// value name (case-insensitive) -> value.
struct RegistryData {
    std::map<std::string, std::map<std::string, RegValue>> keys;  // names stored as written
};

// Error codes that the registry and path calls leave in LastError.
constexpr int kErrorSuccess = 0;
constexpr int kErrorFileNotFound = 2;
constexpr int kErrorPathNotFound = 3;
constexpr int kErrorAccessDenied = 5;
constexpr int kErrorInvalidData = 13;
constexpr int kErrorBadPathname = 161;
constexpr int kErrorAlreadyExists = 183;
constexpr int kErrorFileTooLarge = 223;
constexpr int kErrorMoreData = 234;

// What a person reads for one of the codes above or an errno value passed on.
std::string RegistryErrorText(int code);

// The largest registry file read or written: 1 MiB.
constexpr size_t kMaxRegistryFileBytes = size_t{1} << 20;

// Parses the registry-export text. False with "line N: what" in error (out untouched).
// A value name given twice in one key keeps the later value; with warnings, each repeat
// adds "line N: "Name" in [key] repeats line M; the later value is used".
bool ParseRegistryText(const std::string& text, RegistryData& out, std::string& error,
                       std::vector<std::string>* warnings = nullptr);
std::string FormatRegistryText(const RegistryData& data);

// Chooses the registry file of this process (normally <data dir>/registry.reg). A missing
// file is an empty registry. Returns false with an error naming the file when it exists and
// cannot be read, does not parse or is over the size limit; keys then fail to open until a
// valid file is configured. Logs a warning for each repeated value name, naming its line.
bool ConfigureRegistry(const std::string& filePath, std::string* error = nullptr);
std::string RegistryFilePath();

class RegKey {
public:
    ~RegKey();  // Close()
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    // Opens HKLM\path. With create, a missing key is created (on Close). On failure returns
    // nullptr and sets *error (and LastError): kErrorFileNotFound for a missing key,
    // kErrorInvalidData for a file that does not parse or is over the size limit.
    static std::unique_ptr<RegKey> Open(const std::string& path, bool create, int* error = nullptr);

    bool Has(const std::string& name) const;
    std::optional<RegValue> Query(const std::string& name) const;
    // A value of another type fails (kErrorInvalidData) with a warning naming its line.
    bool QueryString(const std::string& name, std::string& out) const;
    bool QueryDword(const std::string& name, uint32_t& out) const;
    bool QueryBinary(const std::string& name, std::vector<uint8_t>& out) const;
    std::vector<std::pair<std::string, RegValue>> Values() const;

    void SetString(const std::string& name, const std::string& value);
    void SetDword(const std::string& name, uint32_t value);
    void SetBinary(const std::string& name, const std::vector<uint8_t>& value);
    // False when the value does not exist (kErrorFileNotFound).
    bool DeleteValue(const std::string& name);

    // Writes the changes made through this key (if any). Returns kErrorSuccess or an error
    // code (kErrorFileTooLarge, logged, when the file would pass the size limit); LastError
    // is set too. Later calls do nothing.
    int Close();
    // Closes without writing: the changes made through this key, and the creation of a
    // missing key, are forgotten.
    void Discard();

private:
    RegKey() = default;
    const RegValue* Find(const std::string& name) const;
    bool IsOfType(const RegValue& value, const std::string& name, RegType type) const;
    void Store(const std::string& name, RegValue value);
    std::string path_;
    bool create_ = false;
    bool closed_ = false;
    bool missing_ = false;  // the key did not exist when opened (create was asked)
    std::vector<std::pair<std::string, RegValue>> values_;  // names as stored
    std::unordered_map<std::string, size_t> index_;          // lower-case name -> position in values_
    std::vector<std::pair<std::string, std::optional<RegValue>>> changes_;
};

}  // namespace kestrix::platform
