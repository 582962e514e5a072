#include "nmea/GpsStatusModel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nmea/GpsDecoder.h"
#include "nmea/SyntheticCapture.h"
#include "platform/Clock.h"
#include "platform/MessageLoop.h"

namespace kestrix {
namespace {

// The receiver as the model sees it: a decoder behind the receiver interface.
class FakeReceiver : public IGpsReceiver {
public:
    bool IsRunning() const override { return true; }
    bool Start(TrackerSettings*) override { return true; }
    void Stop() override {}
    int GetSignalLevel() const override { return decoder.GetSignalLevel(); }
    int GetSatellitesUsed() const override { return 0; }
    NmeaParser* Parser() override { return &decoder; }
    GpsDecoder decoder;
};

class GpsStatusModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetDeviceClock(&clock);
        loop = std::make_unique<platform::MessageLoop>(clock);
        SatelliteTable::Instance().Clear();
        notify = platform::RegisterWindowMessage("WM_LDP_NOTIFY");
        redraw = platform::RegisterWindowMessage("WM_UPDATE_SAT_VIEW");
        // A stand-in for the status window: processes posted sentences as the real one does.
        loop->RegisterClass("TestGpsStatus", [this](platform::WindowHandle, uint32_t msg, platform::WParam,
                                                    platform::LParam l) -> platform::LResult {
            if (msg == notify) {
                auto* s = reinterpret_cast<NmeaSentence*>(l);
                model.Process(s);
                s->Release();
                ++processed;
            } else if (msg == redraw) {
                ++redraws;
            }
            return 0;
        });
        window = loop->CreateWindow("TestGpsStatus", "status");
    }
    void TearDown() override {
        model.Detach();
        loop->DestroyWindow(window);
        loop.reset();
        platform::SetDeviceClock(nullptr);
    }
    void Send(const std::string& s) { receiver.decoder.Feed(MakeSentence(s)); }

    platform::ManualClock clock{1000, 0};
    std::unique_ptr<platform::MessageLoop> loop;
    FakeReceiver receiver;
    GpsStatusModel model;
    platform::WindowHandle window = platform::kNoWindow;
    uint32_t notify = 0;
    uint32_t redraw = 0;
    int processed = 0;
    int redraws = 0;
};

// A sentence as the parser hands it on: under its GP name, with the talker it came from.
Ref<NmeaSentence> Make(NmeaSentence* (*factory)(std::string_view, std::string_view), const char* name,
                       const char* body, const char* talker = "GP") {
    Ref<NmeaSentence> s(factory(name, body));
    s->SetTalker(talker);
    return s;
}

// A GSV set updates its system's satellites and drops the ones it no longer holds, keeping
// the used flags a GSA set; a satellite of another system with the same number is a record
// of its own. A fix sentence without a fix (or without a position) drops the point.
TEST_F(GpsStatusModelTest, ProcessKeepsUsedFlagsPrunesLostSatellitesAndDropsThePointOnANonFix) {
    model.Process(Make(CreateGsvSentence, "GPGSV", "1,1,03,02,40,083,46,05,17,308,41,09,07,344,39").Get());
    model.Process(Make(CreateGsaSentence, "GPGSA", "A,3,02,09,31,,,,,,,,,,2.5,1.3,2.1").Get());
    model.Process(Make(CreateGsvSentence, "GPGSV", "1,1,02,02,41,084,47,05,18,309,42").Get());
    model.Process(Make(CreateGsvSentence, "GPGSV", "1,1,01,05,50,090,33", "GL").Get());
    model.Process(Make(CreateGsaSentence, "GPGSA", "A,3,05,,,,,,,,,,,,2.5,1.3,2.1,2", "GN").Get());
    std::vector<std::vector<int>> got;
    for (const auto& r : SatelliteTable::Instance().Snapshot())
        got.push_back({static_cast<int>(r.system), r.prn, r.used, r.elevation, r.snr});
    const int gps = static_cast<int>(SatSystem::Gps), glonass = static_cast<int>(SatSystem::Glonass);
    EXPECT_EQ(got, (std::vector<std::vector<int>>{{gps, 2, 1, 41, 47}, {gps, 5, 0, 18, 42}, {glonass, 5, 1, 50, 33}}));

    model.Process(Make(CreateRmcSentence, "GPRMC", "123519.00,A,4807.0380,N,01131.0000,E,10.0,084.4,230394,003.1,W").Get());
    EXPECT_TRUE(model.CurrentPoint());
    model.Process(Make(CreateRmcSentence, "GPRMC", "123520.00,V,,,,,,,230394,,").Get());
    EXPECT_FALSE(model.CurrentPoint());
    model.Process(Make(CreateGllSentence, "GPGLL", "4916.45,N,12311.12,W,225444,A").Get());
    model.Process(Make(CreateGllSentence, "GPGLL", ",N,12311.12,W,225445,A").Get());
    EXPECT_FALSE(model.CurrentPoint()) << "status A without a latitude";
}

}  // namespace
}  // namespace kestrix
