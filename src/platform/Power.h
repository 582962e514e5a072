// Power broadcasts. The power monitor reads 256-byte power-broadcast records, one at a
// time and without waiting, from a queue that the platform fills:
//   offset 0 Message (u32), 4 Flags (u32), 8 Length (u32), payload from 12;
//   a power-information record (Message 8) carries at offset 32 the AC line status
//   (0 battery, 1 external power, 255 unknown), 33 the main battery's flag
//   (1 high, 2 low, 4 critical, 8 charging, 128 no battery, 255 unknown), 34 its charge
//   in percent (255 unknown), 35 the backup battery's flag, 36 its percent.
// On Linux the queue is filled by a watcher of /sys/class/power_supply (or a folder laid
// out like it): a record is queued when the watcher starts and whenever a value changes.
// Owned and used by one thread (the UI thread).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace kestrix::platform {

constexpr uint32_t PBT_TRANSITION = 1;
constexpr uint32_t PBT_RESUME = 2;
constexpr uint32_t PBT_POWERSTATUSCHANGE = 4;
constexpr uint32_t PBT_POWERINFOCHANGE = 8;
constexpr uint32_t POWER_NOTIFY_ALL = 0xF;

constexpr uint8_t AC_LINE_OFFLINE = 0;
constexpr uint8_t AC_LINE_ONLINE = 1;
constexpr uint8_t AC_LINE_UNKNOWN = 255;
constexpr uint8_t BATTERY_FLAG_HIGH = 1;
constexpr uint8_t BATTERY_FLAG_LOW = 2;
constexpr uint8_t BATTERY_FLAG_CRITICAL = 4;
constexpr uint8_t BATTERY_FLAG_CHARGING = 8;
constexpr uint8_t BATTERY_FLAG_NO_BATTERY = 128;
constexpr uint8_t BATTERY_FLAG_UNKNOWN = 255;

constexpr size_t kPowerRecordSize = 256;
constexpr size_t kPowerInfoLength = 40;  // bytes of a power-information record in use
using PowerRecord = std::array<uint8_t, kPowerRecordSize>;

struct PowerInfo {
    uint8_t acLineStatus = AC_LINE_UNKNOWN;
    uint8_t batteryFlag = BATTERY_FLAG_UNKNOWN;
    uint8_t batteryLifePercent = 255;
    uint8_t backupBatteryFlag = BATTERY_FLAG_NO_BATTERY;
    uint8_t backupBatteryLifePercent = 255;
    bool operator==(const PowerInfo&) const = default;
};
// Builds a power-information record (Message 8).
PowerRecord MakePowerInfoRecord(const PowerInfo& info);

// The queue of power broadcasts the monitor reads. At most 10 records wait; when full,
// the oldest is dropped so the newest state always arrives.
class PowerNotificationSource {
public:
    virtual ~PowerNotificationSource() = default;
    // Opens the queue and registers for notifications; false when that is impossible.
    virtual bool Start() = 0;
    // Takes one record without waiting; returns its length, 0 when none is queued.
    virtual size_t Read(PowerRecord& out) = 0;
    virtual void Stop() = 0;
};

// Reads <root>/<supply>/{type,online,capacity,capacity_level,status}. The AC line status is
// 1 when a Mains or USB supply is online, and also when there is no battery at all;
// 0 when a battery is present and no external supply is online.
class SysfsPowerSource final : public PowerNotificationSource {
public:
    explicit SysfsPowerSource(std::string root);
    bool Start() override;
    size_t Read(PowerRecord& out) override;
    void Stop() override;
    // Reads the folder now (Read does this itself).
    PowerInfo Scan() const;

private:
    void Queue(const PowerInfo& info);
    std::string root_;
    bool started_ = false;
    PowerInfo last_{};
    std::deque<PowerRecord> queue_;
};

// The source the power monitor uses: by default a SysfsPowerSource on the configured root
// ("/sys/class/power_supply" unless SetPowerSupplyRoot changed it). Tests may install a
// factory of their own (nullptr restores the default).
using PowerSourceFactory = std::function<std::unique_ptr<PowerNotificationSource>()>;
void SetPowerSupplyRoot(const std::string& dir);
std::string PowerSupplyRoot();
void SetPowerSourceFactory(PowerSourceFactory factory);
std::unique_ptr<PowerNotificationSource> CreatePowerNotificationSource();

}  // namespace kestrix::platform
