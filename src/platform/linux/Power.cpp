#include "platform/Power.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <vector>

namespace kestrix::platform {

namespace {

void PutU32(PowerRecord& r, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) r[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The first line of a sysfs attribute, without surrounding blanks; empty when missing.
std::string ReadAttribute(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    auto last = line.find_last_not_of(" \t\r\n");
    return line.substr(first, last - first + 1);
}

std::optional<int> ReadInt(const std::filesystem::path& file) {
    std::string text = ReadAttribute(file);
    if (text.empty() || text.size() > 9) return std::nullopt;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

uint8_t LevelFlag(const std::string& level, std::optional<int> capacity) {
    if (level == "Full" || level == "High" || level == "Normal") return BATTERY_FLAG_HIGH;
    if (level == "Low") return BATTERY_FLAG_LOW;
    if (level == "Critical") return BATTERY_FLAG_CRITICAL;
    if (!level.empty() || !capacity) return BATTERY_FLAG_UNKNOWN;
    // Drivers without a level report only the charge: below 5% is critical, below 33% low.
    if (*capacity < 5) return BATTERY_FLAG_CRITICAL;
    if (*capacity < 33) return BATTERY_FLAG_LOW;
    return BATTERY_FLAG_HIGH;
}

constexpr size_t kMaxQueued = 10;

std::mutex& ConfigMutex() {
    static std::mutex m;
    return m;
}
std::string& RootStorage() {
    static std::string root = "/sys/class/power_supply";
    return root;
}
PowerSourceFactory& FactoryStorage() {
    static PowerSourceFactory factory;
    return factory;
}

}  // namespace

PowerRecord MakePowerInfoRecord(const PowerInfo& info) {
    PowerRecord r{};
    PutU32(r, 0, PBT_POWERINFOCHANGE);
    PutU32(r, 4, 0);
    PutU32(r, 8, static_cast<uint32_t>(kPowerInfoLength - 12));
    r[32] = info.acLineStatus;
    r[33] = info.batteryFlag;
    r[34] = info.batteryLifePercent;
    r[35] = info.backupBatteryFlag;
    r[36] = info.backupBatteryLifePercent;
    return r;
}

SysfsPowerSource::SysfsPowerSource(std::string root) : root_(std::move(root)) {}

PowerInfo SysfsPowerSource::Scan() const {
    namespace fs = std::filesystem;
    std::vector<fs::path> supplies;
    std::error_code ec;
    for (fs::directory_iterator it(root_, ec), end; !ec && it != end; it.increment(ec)) supplies.push_back(it->path());
    std::sort(supplies.begin(), supplies.end());

    bool externalOnline = false;
    bool haveBattery = false;
    PowerInfo info;
    info.backupBatteryFlag = BATTERY_FLAG_NO_BATTERY;
    info.backupBatteryLifePercent = 255;
    for (const auto& dir : supplies) {
        std::string type = ReadAttribute(dir / "type");
        if (type == "Mains" || type == "USB") {
            if (ReadInt(dir / "online").value_or(0) == 1) externalOnline = true;
        } else if (type == "Battery" && !haveBattery) {
            // A removed battery stays listed with present = 0 on some machines.
            if (ReadInt(dir / "present").value_or(1) == 0) continue;
            haveBattery = true;
            auto capacity = ReadInt(dir / "capacity");
            if (capacity) capacity = std::clamp(*capacity, 0, 100);
            info.batteryLifePercent = capacity ? static_cast<uint8_t>(*capacity) : 255;
            uint8_t flag = LevelFlag(ReadAttribute(dir / "capacity_level"), capacity);
            if (ReadAttribute(dir / "status") == "Charging")
                flag = flag == BATTERY_FLAG_UNKNOWN ? BATTERY_FLAG_CHARGING : static_cast<uint8_t>(flag | BATTERY_FLAG_CHARGING);
            info.batteryFlag = flag;
        }
    }
    if (!haveBattery) {
        info.batteryFlag = BATTERY_FLAG_NO_BATTERY;
        info.batteryLifePercent = 255;
    }
    info.acLineStatus = (externalOnline || !haveBattery) ? AC_LINE_ONLINE : AC_LINE_OFFLINE;
    return info;
}

void SysfsPowerSource::Queue(const PowerInfo& info) {
    if (queue_.size() >= kMaxQueued) queue_.pop_front();
    queue_.push_back(MakePowerInfoRecord(info));
}

bool SysfsPowerSource::Start() {
    queue_.clear();
    last_ = Scan();
    Queue(last_);
    started_ = true;
    return true;
}

size_t SysfsPowerSource::Read(PowerRecord& out) {
    if (!started_) return 0;
    // The folder is read again once the queued records are taken: the monitor drains the
    // queue once a second, so the folder is read at that rate and not once per record.
    if (queue_.empty()) {
        PowerInfo now = Scan();
        if (!(now == last_)) {
            last_ = now;
            Queue(now);
        }
    }
    if (queue_.empty()) return 0;
    out = queue_.front();
    queue_.pop_front();
    return kPowerInfoLength;
}

void SysfsPowerSource::Stop() {
    started_ = false;
    queue_.clear();
}

void SetPowerSupplyRoot(const std::string& dir) {
    std::lock_guard lock(ConfigMutex());
    RootStorage() = dir;
}

std::string PowerSupplyRoot() {
    std::lock_guard lock(ConfigMutex());
    return RootStorage();
}

void SetPowerSourceFactory(PowerSourceFactory factory) {
    std::lock_guard lock(ConfigMutex());
    FactoryStorage() = std::move(factory);
}

std::unique_ptr<PowerNotificationSource> CreatePowerNotificationSource() {
    PowerSourceFactory factory;
    {
        std::lock_guard lock(ConfigMutex());
        factory = FactoryStorage();
    }
    if (factory) return factory();
    return std::make_unique<SysfsPowerSource>(PowerSupplyRoot());
}

}  // namespace kestrix::platform
