#include "platform/Power.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/TestSupport.h"

namespace kestrix::platform {
namespace {

using Attributes = std::map<std::string, std::string>;

void WriteSupply(const std::string& root, const std::string& name, const Attributes& attributes) {
    std::filesystem::create_directories(root + "/" + name);
    for (const auto& [file, value] : attributes) test::WriteFile(root + "/" + name + "/" + file, value + "\n");
}

struct TreeCase { const char* name; std::map<std::string, Attributes> supplies; PowerInfo expected; };

PowerInfo Info(uint8_t ac, uint8_t flag, uint8_t percent) {
    PowerInfo i;
    i.acLineStatus = ac;
    i.batteryFlag = flag;
    i.batteryLifePercent = percent;
    i.backupBatteryFlag = BATTERY_FLAG_NO_BATTERY;
    i.backupBatteryLifePercent = 255;
    return i;
}

TEST(PowerTest, ScanReadsTheSupplyTree) {
    const Attributes ac{{"type", "Mains"}, {"online", "1"}};
    const Attributes acOff{{"type", "Mains"}, {"online", "0"}};
    const Attributes usb{{"type", "USB"}, {"online", "1"}};
    auto battery = [](const char* capacity, const char* level, const char* status) {
        return Attributes{{"type", "Battery"}, {"capacity", capacity}, {"capacity_level", level}, {"status", status}};
    };
    const TreeCase cases[] = {
        {"external power, charging", {{"AC", ac}, {"BAT0", battery("80", "Normal", "Charging")}}, Info(1, 9, 80)},
        {"on battery", {{"AC", acOff}, {"BAT0", battery("55", "Normal", "Discharging")}}, Info(0, 1, 55)},
        {"low", {{"BAT0", battery("15", "Low", "Discharging")}}, Info(0, 2, 15)},
        {"critical", {{"BAT0", battery("3", "Critical", "Discharging")}}, Info(0, 4, 3)},
        {"full on USB", {{"usb", usb}, {"BAT0", battery("100", "Full", "Full")}}, Info(1, 1, 100)},
        {"unknown level", {{"BAT0", battery("40", "Unknown", "Discharging")}}, Info(0, 255, 40)},
        {"no battery, mains off", {{"AC", acOff}}, Info(1, 128, 255)},
        {"nothing at all", {}, Info(1, 128, 255)},
        {"first battery by name", {{"BAT1", battery("10", "Low", "Discharging")}, {"BAT0", battery("90", "High", "Discharging")}},
         Info(0, 1, 90)},
        {"removed battery", {{"BAT0", {{"type", "Battery"}, {"present", "0"}}}}, Info(1, 128, 255)},
        {"no capacity", {{"BAT0", {{"type", "Battery"}, {"capacity_level", "Normal"}}}}, Info(0, 1, 255)},
        {"other supply types are ignored", {{"hid", {{"type", "Wireless"}, {"online", "1"}}}, {"BAT0", battery("50", "Normal", "x")}},
         Info(0, 1, 50)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        for (const auto& [name, attributes] : c.supplies) WriteSupply(dir.Path(), name, attributes);
        PowerInfo got = SysfsPowerSource(dir.Path()).Scan();
        EXPECT_EQ(got.acLineStatus, c.expected.acLineStatus);
        EXPECT_EQ(got.batteryFlag, c.expected.batteryFlag);
        EXPECT_EQ(got.batteryLifePercent, c.expected.batteryLifePercent);
        EXPECT_EQ(got.backupBatteryFlag, BATTERY_FLAG_NO_BATTERY);
        EXPECT_EQ(got.backupBatteryLifePercent, 255);
    }
}

// A missing root is external power without a battery, queued at Start in the record's
// layout: every byte not named here is zero.
TEST(PowerTest, AMissingRootIsExternalPowerWithoutABatteryInTheRecordLayout) {
    SysfsPowerSource source("/nonexistent/power_supply");
    ASSERT_TRUE(source.Start());
    PowerRecord r{}, expected{};
    for (auto [at, value] : {std::pair<size_t, uint8_t>{0, 8}, {8, 28}, {32, 1}, {33, 128}, {34, 255}, {35, 128}, {36, 255}})
        expected[at] = value;
    ASSERT_EQ(source.Read(r), kPowerInfoLength);
    EXPECT_EQ(r, expected);
}

}  // namespace
}  // namespace kestrix::platform
