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

struct TreeCase {
    const char* name;
    std::map<std::string, Attributes> supplies;
    PowerInfo expected;
};

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

TEST(PowerTest, ARecordIsQueuedAtStartAndOncePerChange) {
    test::TempDir dir;
    WriteSupply(dir.Path(), "AC", {{"type", "Mains"}, {"online", "0"}});
    WriteSupply(dir.Path(), "BAT0", {{"type", "Battery"}, {"capacity", "50"}, {"capacity_level", "Normal"}});
    SysfsPowerSource source(dir.Path());
    PowerRecord r{};
    EXPECT_EQ(source.Read(r), 0u) << "nothing before Start";
    ASSERT_TRUE(source.Start());
    ASSERT_EQ(source.Read(r), kPowerInfoLength);
    EXPECT_EQ(r[32], 0);
    EXPECT_EQ(r[33], 1);
    EXPECT_EQ(source.Read(r), 0u) << "unchanged state queues nothing";

    struct Step {
        const char* supply;
        const char* file;
        const char* value;
        uint8_t ac, flag, percent;
    };
    const Step steps[] = {
        {"BAT0", "capacity_level", "Low", 0, 2, 50},
        {"BAT0", "capacity", "4", 0, 2, 4},
        {"BAT0", "capacity_level", "Critical", 0, 4, 4},
        {"AC", "online", "1", 1, 4, 4},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(std::string(s.file) + "=" + s.value);
        test::WriteFile(dir.Path() + "/" + s.supply + "/" + s.file, std::string(s.value) + "\n");
        ASSERT_EQ(source.Read(r), kPowerInfoLength);
        EXPECT_EQ(r[32], s.ac);
        EXPECT_EQ(r[33], s.flag);
        EXPECT_EQ(r[34], s.percent);
        EXPECT_EQ(source.Read(r), 0u);
    }
    source.Stop();
    EXPECT_EQ(source.Read(r), 0u);
}

}  // namespace
}  // namespace kestrix::platform
