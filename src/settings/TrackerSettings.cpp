#include "settings/TrackerSettings.h"

#include <memory>
#include <vector>

#include "base/LittleEndian.h"
#include "platform/LastError.h"
#include "platform/Registry.h"
#include "settings/Md5Hasher.h"
#include "settings/SplitPath.h"

namespace kestrix {
namespace {

using platform::RegKey;

// A stored string holds at most kMaxSettingBytes bytes. A longer value is treated as
// missing rather than cut, so a truncated path or host is never used.
std::optional<std::string> ReadString(const RegKey& key, const char* name) {
    std::string text;
    if (!key.QueryString(name, text)) return std::nullopt;
    if (text.size() > kMaxSettingBytes) return std::nullopt;
    return text;
}

bool NonEmpty(const std::optional<std::string>& s) { return s && !s->empty(); }

std::string LogPathFor(const std::string& folderPath, const std::optional<std::string>& login) {
    std::string drive;
    std::string dir;
    SplitPath(folderPath, &drive, &dir, nullptr, nullptr);
    return drive + dir + (NonEmpty(login) ? *login + ".log" : std::string("Kestrix.log"));
}

}  // namespace

TrackerSettings::TrackerSettings() = default;
TrackerSettings::~TrackerSettings() = default;

TrackerSettings::TrackerSettings(const TrackerSettings& other) { *this = other; }

TrackerSettings& TrackerSettings::operator=(const TrackerSettings& other) {
    if (this == &other) return *this;
    std::scoped_lock lock(mutex_, other.mutex_);
    gpsPort_ = other.gpsPort_;
    baudRate_ = other.baudRate_;
    dataBits_ = other.dataBits_;
    parity_ = other.parity_;
    stopBits_ = other.stopBits_;
    login_ = other.login_;
    passwordHash_ = other.passwordHash_;
    userId_ = other.userId_;
    host_ = other.host_;
    port_ = other.port_;
    tls_ = other.tls_;
    tlsCa_ = other.tlsCa_;
    modeOnPower_ = other.modeOnPower_;
    modeOnBattery_ = other.modeOnBattery_;
    logPath_ = other.logPath_;
    lastTrackPoint_ = other.lastTrackPoint_;
    autoTrackMode_ = other.autoTrackMode_;
    autoTrackTimeout_ = other.autoTrackTimeout_;
    autoTrackPointCount_ = other.autoTrackPointCount_;
    return *this;
}

void TrackerSettings::Load() { Load(true); }
void TrackerSettings::LoadWithoutWriting() { Load(false); }

void TrackerSettings::Load(bool mayWrite) {
    auto parent = RegKey::Open(kSettingsParentKey, true);
    if (!parent) return;
    auto key = RegKey::Open(kSettingsKey, true);
    if (!key) return;

    std::lock_guard lock(mutex_);
    auto readDword = [&](const char* name, uint32_t& field) {
        uint32_t v = 0;
        if (key->QueryDword(name, v)) field = v;
    };
    if (auto s = ReadString(*key, "COM")) gpsPort_ = *s;
    readDword("BaudRate", baudRate_);
    readDword("DataBits", dataBits_);
    readDword("Parity", parity_);
    readDword("StopBits", stopBits_);
    if (auto s = ReadString(*key, "Host")) host_ = *s;
    uint32_t port = 0;
    if (key->QueryDword("Port", port)) port_ = static_cast<uint16_t>(port & 0xFFFF);
    uint32_t tls = 0;
    if (key->QueryDword("Tls", tls) && tls <= 1) tls_ = tls;
    if (auto s = ReadString(*key, "TlsCa")) tlsCa_ = *s;
    readDword("ModeB", modeOnBattery_);
    readDword("ModeP", modeOnPower_);
    if (auto s = ReadString(*key, "Login")) login_ = *s;
    if (auto s = ReadString(*key, "Password")) passwordHash_ = *s;
    readDword("user_id", userId_);

    // The log is always named after the account; only the stored folder is kept.
    if (auto s = ReadString(*key, "LOG")) {
        logPath_ = LogPathFor(*s, login_);
    } else {
        logPath_ = std::string("\\");
    }

    std::vector<uint8_t> marker;
    lastTrackPoint_ = 0;
    if (key->QueryBinary("LastTrkPt", marker) && marker.size() == 8) {
        lastTrackPoint_ = GetU64(marker.data());
    }
    uint32_t v = 0;
    autoTrackMode_ = key->QueryDword("AutoTrkMode", v) ? v : 3;
    autoTrackTimeout_ = key->QueryDword("AutoTrkTimeout", v) ? v : 1;
    autoTrackPointCount_ = key->QueryDword("AutoTrkPointCount", v) ? v : 500;

    // Loading only reads; closing writes nothing unless the keys had to be created.
    if (mayWrite) {
        key->Close();
        parent->Close();
    } else {
        key->Discard();
        parent->Discard();
    }
}

int TrackerSettings::Save() {
    int error = 0;
    auto parent = RegKey::Open(kSettingsParentKey, true, &error);
    if (!parent) return error != 0 ? error : platform::GetLastError();
    auto key = RegKey::Open(kSettingsKey, true, &error);
    if (!key) return error != 0 ? error : platform::GetLastError();

    {
        std::lock_guard lock(mutex_);
        if (NonEmpty(gpsPort_)) key->SetString("COM", *gpsPort_);
        key->SetDword("BaudRate", baudRate_);
        key->SetDword("DataBits", dataBits_);
        key->SetDword("Parity", parity_);
        key->SetDword("StopBits", stopBits_);
        if (NonEmpty(host_)) key->SetString("Host", *host_);
        key->SetDword("Port", port_);
        key->SetDword("Tls", tls_);
        // Emptied, it means the system's certificates again: the value goes.
        if (NonEmpty(tlsCa_))
            key->SetString("TlsCa", *tlsCa_);
        else
            key->DeleteValue("TlsCa");
        key->SetDword("ModeB", modeOnBattery_);
        key->SetDword("ModeP", modeOnPower_);
        if (NonEmpty(login_)) key->SetString("Login", *login_);
        if (NonEmpty(passwordHash_)) key->SetString("Password", *passwordHash_);
        key->SetDword("user_id", userId_);
        if (NonEmpty(logPath_)) key->SetString("LOG", *logPath_);
        if (lastTrackPoint_ != 0) {
            std::vector<uint8_t> marker(8);
            PutU64(marker.data(), lastTrackPoint_);
            key->SetBinary("LastTrkPt", marker);
        }
        key->SetDword("AutoTrkMode", autoTrackMode_);
        key->SetDword("AutoTrkTimeout", autoTrackTimeout_);
        key->SetDword("AutoTrkPointCount", autoTrackPointCount_);
    }
    int keyResult = key->Close();
    int parentResult = parent->Close();
    return keyResult != 0 ? keyResult : parentResult;
}

std::optional<std::string> TrackerSettings::GetGpsPort() const {
    std::lock_guard lock(mutex_);
    return gpsPort_;
}
bool TrackerSettings::SetGpsPort(const std::optional<std::string>& port) {
    if (!port) return false;
    std::lock_guard lock(mutex_);
    gpsPort_ = port;
    return true;
}

uint32_t TrackerSettings::GetBaudRate() const {
    std::lock_guard lock(mutex_);
    return baudRate_;
}
bool TrackerSettings::SetBaudRate(uint32_t v) {
    std::lock_guard lock(mutex_);
    baudRate_ = v;
    return true;
}
uint32_t TrackerSettings::GetDataBits() const {
    std::lock_guard lock(mutex_);
    return dataBits_;
}
bool TrackerSettings::SetDataBits(uint32_t v) {
    std::lock_guard lock(mutex_);
    dataBits_ = v;
    return true;
}
uint32_t TrackerSettings::GetParity() const {
    std::lock_guard lock(mutex_);
    return parity_;
}
bool TrackerSettings::SetParity(uint32_t v) {
    std::lock_guard lock(mutex_);
    parity_ = v;
    return true;
}
uint32_t TrackerSettings::GetStopBits() const {
    std::lock_guard lock(mutex_);
    return stopBits_;
}
bool TrackerSettings::SetStopBits(uint32_t v) {
    std::lock_guard lock(mutex_);
    stopBits_ = v;
    return true;
}

std::optional<std::string> TrackerSettings::GetLogin() const {
    std::lock_guard lock(mutex_);
    return login_;
}
bool TrackerSettings::SetLogin(const std::optional<std::string>& login) {
    if (!login) return false;
    std::lock_guard lock(mutex_);
    login_ = login;
    if (NonEmpty(logPath_)) {
        // An empty account gets the same name a load would give it, so the positions
        // logged now are found in the same file after the next start.
        logPath_ = LogPathFor(*logPath_, login_);
    } else {
        logPath_ = NonEmpty(login_) ? *login_ + ".log" : std::string("Kestrix.log");
    }
    return true;
}

std::optional<std::string> TrackerSettings::GetPasswordHash() const {
    std::lock_guard lock(mutex_);
    return passwordHash_;
}
bool TrackerSettings::SetPassword(const std::optional<std::string>& password) {
    if (!password) return false;
    std::string hex = Md5Hasher::HexDigest(*password);
    if (hex.size() != 32) return false;
    std::lock_guard lock(mutex_);
    passwordHash_ = hex;
    return true;
}

uint32_t TrackerSettings::GetUserId() const {
    std::lock_guard lock(mutex_);
    return userId_;
}
bool TrackerSettings::SetUserId(uint32_t v) {
    std::lock_guard lock(mutex_);
    userId_ = v;
    return true;
}

std::optional<std::string> TrackerSettings::GetHost() const {
    std::lock_guard lock(mutex_);
    return host_;
}
bool TrackerSettings::SetHost(const std::optional<std::string>& host) {
    if (!host) return false;
    std::lock_guard lock(mutex_);
    host_ = host;
    return true;
}
uint16_t TrackerSettings::GetPort() const {
    std::lock_guard lock(mutex_);
    return port_;
}
bool TrackerSettings::SetPort(uint16_t port) {
    std::lock_guard lock(mutex_);
    port_ = port;
    return true;
}

uint32_t TrackerSettings::GetMode(uint32_t powerSource) const {
    std::lock_guard lock(mutex_);
    if (powerSource == 0) return modeOnBattery_;
    if (powerSource == 1) return modeOnPower_;
    return 0;
}
bool TrackerSettings::SetMode(uint32_t powerSource, uint32_t bits) {
    std::lock_guard lock(mutex_);
    if (powerSource == 0) {
        modeOnBattery_ = bits;
    } else if (powerSource == 1) {
        modeOnPower_ = bits;
    } else {
        return false;
    }
    return true;
}

std::optional<std::string> TrackerSettings::GetLogPath() const {
    std::lock_guard lock(mutex_);
    return logPath_;
}
bool TrackerSettings::SetLogPath(const std::optional<std::string>& path) {
    if (!path) return false;
    std::lock_guard lock(mutex_);
    logPath_ = path;
    return true;
}
std::string TrackerSettings::LogPathAsLoaded(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return LogPathFor(path, login_);
}
uint64_t TrackerSettings::GetLastTrackPoint() const {
    std::lock_guard lock(mutex_);
    return lastTrackPoint_;
}
bool TrackerSettings::SetLastTrackPoint(const uint64_t* fileTime) {
    if (fileTime == nullptr) return false;
    std::lock_guard lock(mutex_);
    lastTrackPoint_ = *fileTime;
    return true;
}

uint32_t TrackerSettings::GetAutoTrackMode() const {
    std::lock_guard lock(mutex_);
    return autoTrackMode_;
}
bool TrackerSettings::SetAutoTrackMode(uint32_t v) {
    std::lock_guard lock(mutex_);
    autoTrackMode_ = v;
    return true;
}
bool TrackerSettings::HasAutoTrackFlag(uint32_t mask) const {
    std::lock_guard lock(mutex_);
    return (autoTrackMode_ & mask) == mask;
}
uint32_t TrackerSettings::GetAutoTrackTimeout() const {
    std::lock_guard lock(mutex_);
    return autoTrackTimeout_;
}
bool TrackerSettings::SetAutoTrackTimeout(uint32_t minutes) {
    if (minutes > 60) return false;
    std::lock_guard lock(mutex_);
    autoTrackTimeout_ = minutes;
    return true;
}
uint32_t TrackerSettings::GetAutoTrackPointCount() const {
    std::lock_guard lock(mutex_);
    return autoTrackPointCount_;
}
bool TrackerSettings::SetAutoTrackPointCount(uint32_t points) {
    if (points > 500) return false;
    std::lock_guard lock(mutex_);
    autoTrackPointCount_ = points;
    return true;
}

uint32_t TrackerSettings::GetTls() const {
    std::lock_guard lock(mutex_);
    return tls_;
}
bool TrackerSettings::SetTls(uint32_t v) {
    if (v > 1) return false;
    std::lock_guard lock(mutex_);
    tls_ = v;
    return true;
}
std::optional<std::string> TrackerSettings::GetTlsCa() const {
    std::lock_guard lock(mutex_);
    return tlsCa_;
}
bool TrackerSettings::SetTlsCa(const std::optional<std::string>& path) {
    std::lock_guard lock(mutex_);
    tlsCa_ = path;
    return true;
}

std::optional<SettingTooLong> TrackerSettings::FirstValueTooLong() const {
    std::lock_guard lock(mutex_);
    const std::pair<const char*, const std::optional<std::string>*> stored[] = {
        {"COM", &gpsPort_}, {"Host", &host_},   {"Login", &login_},
        {"Password", &passwordHash_}, {"LOG", &logPath_}, {"TlsCa", &tlsCa_}};
    for (const auto& [name, value] : stored) {
        if (*value && (*value)->size() > kMaxSettingBytes) return SettingTooLong{name, **value};
    }
    if (logPath_) {
        std::string rebuilt = LogPathFor(*logPath_, login_);
        if (rebuilt.size() > kMaxSettingBytes) return SettingTooLong{"LOG", rebuilt};
    }
    return std::nullopt;
}

}  // namespace kestrix
