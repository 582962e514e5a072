#include "core/PowerMonitor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/ServiceDoubles.h"
#include "platform/Power.h"

namespace kestrix {
namespace {

using Queued = test::QueuedPower;

class RecordingListener final : public PowerListener {
public:
    void OnPowerSourceChanged(uint8_t s) override { calls.push_back("source " + std::to_string(s)); }
    void OnBatteryCritical() override { calls.push_back("critical"); }
    std::vector<std::string> calls;
};

Queued Record(uint32_t message, size_t length, uint8_t ac, uint8_t flag, uint8_t backupFlag = 128) {
    Queued q;
    q.record[0] = static_cast<uint8_t>(message);
    q.record[8] = static_cast<uint8_t>(length > 12 ? length - 12 : 0);
    q.record[32] = ac;
    q.record[33] = flag;
    q.record[34] = 50;
    q.record[35] = backupFlag;
    q.length = length;
    return q;
}

// A power-information record as the source queues it (its layout is the platform's test).
Queued Info(uint8_t ac, uint8_t flag = platform::BATTERY_FLAG_HIGH, uint8_t backupFlag = 128) {
    return Record(platform::PBT_POWERINFOCHANGE, platform::kPowerInfoLength, ac, flag, backupFlag);
}

class PowerMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetPowerSourceFactory([this] { return std::make_unique<test::PowerSourceDouble>(queue_, startOk_); });
    }
    void TearDown() override { platform::SetPowerSourceFactory(nullptr); }

    std::shared_ptr<std::deque<Queued>> queue_ = std::make_shared<std::deque<Queued>>();
    bool startOk_ = true;
    RecordingListener listener_;
};

TEST_F(PowerMonitorTest, ReportsEachBroadcastAsItArrives) {
    using V = std::vector<std::string>;
    struct Step { const char* name; Queued record; V calls; uint8_t statusAfter; };
    const std::vector<Step> steps = {
        {"first status 1", Info(1), {"source 1"}, 1},
        {"same status again", Info(1), {}, 1},
        {"backup power is ignored", Info(2), {}, 1},
        {"status 254 is ignored", Info(254), {}, 1},
        {"battery", Info(0), {"source 0"}, 0},
        {"unknown is a status", Info(255), {"source 255"}, 255},
        {"transition dropped", Record(platform::PBT_TRANSITION, 40, 1, 2), {}, 255},
        {"resume dropped", Record(platform::PBT_RESUME, 40, 1, 2), {}, 255},
        {"status change with the byte", Record(platform::PBT_POWERSTATUSCHANGE, 40, 1, 2), {"source 1"}, 1},
        {"status change too short", Record(platform::PBT_POWERSTATUSCHANGE, 12, 0, 2), {}, 1},
        {"main battery low", Info(1, platform::BATTERY_FLAG_LOW), {"critical"}, 1},
        {"main battery critical", Info(1, platform::BATTERY_FLAG_CRITICAL), {"critical"}, 1},
        {"source change and critical", Info(0, platform::BATTERY_FLAG_LOW | platform::BATTERY_FLAG_CRITICAL),
         {"source 0", "critical"}, 0},
        {"no battery is no alarm", Info(0, platform::BATTERY_FLAG_NO_BATTERY), {}, 0},
        {"charging while low is no alarm", Info(0, platform::BATTERY_FLAG_LOW | platform::BATTERY_FLAG_CHARGING), {}, 0},
        {"unknown is no alarm", Info(0, platform::BATTERY_FLAG_UNKNOWN), {}, 0},
        {"only the backup battery low", Info(0, platform::BATTERY_FLAG_HIGH, platform::BATTERY_FLAG_LOW), {}, 0},
        {"status change never raises the alarm", Record(platform::PBT_POWERSTATUSCHANGE, 40, 0, 4), {}, 0},
        {"truncated info record", Record(platform::PBT_POWERINFOCHANGE, 20, 1, 4), {}, 0},
    };
    PowerMonitor monitor;
    ASSERT_TRUE(monitor.Start(&listener_));
    EXPECT_EQ(monitor.GetAcLineStatus(), 255);
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        listener_.calls.clear();
        queue_->push_back(s.record);
        EXPECT_TRUE(monitor.Poll());
        EXPECT_EQ(listener_.calls, s.calls);
        EXPECT_EQ(monitor.GetAcLineStatus(), s.statusAfter);
    }
}

}  // namespace
}  // namespace kestrix
