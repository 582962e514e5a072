#include "ui/GpsStatusWindow.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "nmea/GpsDecoder.h"
#include "nmea/SatelliteTable.h"
#include "nmea/SyntheticCapture.h"
#include "platform/Clock.h"
#include "platform/Dialog.h"
#include "platform/MessageLoop.h"
#include "platform/SvgElements.h"
#include "platform/Text.h"
#include "resources/Dialogs.h"

namespace kestrix {
namespace {

using namespace platform;

// The receiver as the model sees it: a decoder fed by the test.
class FakeReceiver : public IGpsReceiver {
public:
    bool IsRunning() const override { return true; }
    bool Start(TrackerSettings*) override { return true; }
    void Stop() override {}
    int GetSignalLevel() const override { return 0; }
    int GetSatellitesUsed() const override { return 0; }
    NmeaParser* Parser() override { return &decoder; }
    GpsDecoder decoder;
};

using Shape = test::SvgElement;
int Number(const Shape& s, const char* name) { return static_cast<int>(std::stod(s.at(name))); }

class GpsStatusWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetDeviceClock(&clock_);
        loop_ = std::make_unique<MessageLoop>(clock_);
        SatelliteTable::Instance().Clear();
        model_ = std::make_unique<GpsStatusModel>();
        model_->SetWindowFactory(ui::MakeGpsStatusWindow);
        ASSERT_TRUE(model_->Attach(&receiver_));
    }
    void TearDown() override {
        model_.reset();
        loop_.reset();
        SatelliteTable::Instance().Clear();
        SetDeviceClock(nullptr);
    }
    WindowHandle Open() {
        EXPECT_EQ(model_->ShowStatusWindow(1), 0);
        loop_->RunPending();
        return model_->StatusWindow();
    }
    void Feed(const std::vector<std::string>& sentences) {
        for (const std::string& s : sentences) receiver_.decoder.Feed(MakeSentence(s));
        loop_->RunPending();
    }
    std::vector<Shape> Painted(int id, const char* tag) const {
        return test::SvgElements(GetWindowPainting(GetDlgItem(model_->StatusWindow(), id)), tag);
    }
    std::string Texts() const {
        std::string out;
        for (int id : {kIdcUtc, kIdcLatitude, kIdcLongitude}) out += GetDlgItemText(model_->StatusWindow(), id) + " ";
        return out;
    }

    ManualClock clock_{1000, 133'000'000'000'000'000ULL};
    std::unique_ptr<MessageLoop> loop_;
    FakeReceiver receiver_;
    std::unique_ptr<GpsStatusModel> model_;
};

TEST_F(GpsStatusWindowTest, TheSkyPlotPlacesSatellitesByElevationAndAzimuthInsideItsRings) {
    Open();
    // 1 at the zenith, 2 on the horizon in the east, 4 half way up in the south; 3 has no
    // position yet, 5 is below the horizon, and the padding group is no satellite.
    Feed({"GPGSV,2,1,06,01,90,000,40,02,00,090,35,03,,,30,04,45,180,20", "GPGSV,2,2,06,05,-5,100,25,,,,",
          "GPGSA,A,3,01,,,,,,,,,,,,2.5,1.3,2.1"});
    // The control is 220 pixels square and "W" of its DC's font 16 high: the horizon is the
    // client less 20 pixels a side, radius 90 about (110, 110). An ellipse shows as the
    // centre and half-axes of its 1-pixel outline, half a pixel inside the box.
    std::vector<std::string> ellipses, texts;
    for (const Shape& e : Painted(kIdcSkyPlot, "ellipse"))
        ellipses.push_back(e.at("cx") + "," + e.at("cy") + " " + e.at("rx") + "," + e.at("ry") + " " + e.at("fill"));
    for (const Shape& t : Painted(kIdcSkyPlot, "text")) texts.push_back(t.at("#text") + t.at("fill"));
    EXPECT_EQ(ellipses, (std::vector<std::string>{
                            "110,110 89.5,89.5 #ffffff",  // the horizon
                            "110,110 62.5,62.5 #ffffff",  // 45 degrees: 90 cos 45 = 63.6
                            "110,110 37.5,37.5 #ffffff",  // 65 degrees: 38.0
                            "110,110 2.5,2.5 #ffffff",    // 88 degrees: 3.1
                            // disks of radius 2 int(sqrt(16^2 + 64)) / 3 = 11 for "00" 16 x 16:
                            "110,110 10.5,10.5 #0000ff",  // 1, used, at the centre
                            "200,110 10.5,10.5 #7f7f7f",  // 2 at the right end of the horizontal diameter
                            "110,173 10.5,10.5 #7f7f7f",  // 4 straight below the centre
                        }));
    EXPECT_EQ(texts, (std::vector<std::string>{"N#000000", "S#000000", "W#000000", "E#000000", "1#ffffff", "2#ffffff",
                                               "4#ffffff"}));
}

TEST_F(GpsStatusWindowTest, BarsShowTheirSatellitesLevelOrDashes) {
    // Each bar's label and level: height in the frame of 62 pixels (the bar is 80 high, less
    // 16 of label and 2 of frame), blue for a used satellite; bars not named show "--".
    std::string fourteen[4];
    for (int i = 0; i < 14; ++i) {
        std::string& s = fourteen[i / 4];
        if (s.empty()) s = "GPGSV,4," + std::to_string(i / 4 + 1) + ",14";
        s += Format(",%02d,10,%03d,", i + 1, 10 * i);
    }
    const struct {
        const char* what;
        std::vector<std::string> sentences;
        std::string bars;
    } phases[] = {
        {"used satellites stretched (30: 43 %, 40: 82 %, 45: full), an unused one as its SNR",
         {"GPGSV,1,1,04,07,40,083,30,08,17,308,40,09,07,344,45,10,22,228,30", "GPGSA,A,3,07,08,09,,,,,,,,,,2.5,1.3,2.1"},
         "7:26#0000ff 8:50#0000ff 9:62#0000ff 10:18#7f7f7f --:0 --:0 --:0 --:0 --:0 --:0 --:0 --:0 "},
        {"equal numbers of two systems are two satellites", {"GPGSV,1,1,01,05,40,083,40", "GAGSV,1,1,01,05,50,090,20"},
         "5:24#7f7f7f 5:12#7f7f7f --:0 --:0 --:0 --:0 --:0 --:0 --:0 --:0 --:0 --:0 "},
        {"of fourteen, the first twelve", {fourteen[0], fourteen[1], fourteen[2], fourteen[3]},
         "1:0 2:0 3:0 4:0 5:0 6:0 7:0 8:0 9:0 10:0 11:0 12:0 "},
    };
    Open();
    for (const auto& phase : phases) {
        Feed(phase.sentences);
        std::string bars;
        for (int i = 0; i < kSignalBarCount; ++i) {
            const std::vector<Shape> labels = Painted(kIdcFirstSignalBar + 2 * i, "text");
            bars += (labels.size() == 1 ? labels[0].at("#text") : "?") + ":";
            int levels = 0;
            for (const Shape& r : Painted(kIdcFirstSignalBar + 2 * i, "rect")) {
                const std::string fill = r.count("fill") ? r.at("fill") : "none";
                if (fill == "#ffffff" || fill == "none") continue;
                // From the frame's bottom up, across the frame.
                if (++levels == 1 && Number(r, "y") + Number(r, "height") == 63 && Number(r, "width") == 20)
                    bars += r.at("height") + fill;
            }
            bars += levels == 0 ? "0 " : " ";
        }
        EXPECT_EQ(bars, phase.bars) << phase.what;
    }
    EXPECT_EQ(ui::GpsStatusWindow::LevelHeight(999'999'999, true, 62), 62) << "a wild SNR fills the bar";
}

// The browser's satellite view closes by Done; the keys and the close message do too.
TEST_F(GpsStatusWindowTest, EscapeDoneCancelAndCloseEndTheWindowAndDetachTheModel) {
    bool (*const acts[])(WindowHandle) = {[](WindowHandle w) { return PressKey(w, VK_ESCAPE); }, PressDone,
                                          PressCancel, [](WindowHandle w) { return PostMessage(w, WM_CLOSE, 0, 0); }};
    for (size_t i = 0; i < std::size(acts); ++i) {
        ASSERT_TRUE(model_->Attach(&receiver_));
        const WindowHandle window = Open();
        ASSERT_EQ(DescribeDialogs().size(), 1u);
        Feed({"GPGSV,1,1,01,05,40,083,46"});
        ASSERT_TRUE(acts[i](window));
        loop_->RunPending();
        EXPECT_FALSE(IsWindow(window)) << i;
        EXPECT_EQ(model_->StatusWindow(), kNoWindow) << i;
        EXPECT_FALSE(model_->IsAttached()) << i;
        EXPECT_EQ(SatelliteTable::Instance().Size(), 0u) << i;
    }
}

// A sentence posted to a window that goes before handling it is released, not leaked
// (the sanitizer build's leak check names it too).
TEST_F(GpsStatusWindowTest, ReopeningReplacesTheWindowAndReleasesWhatTheOldOneNeverHandled) {
    EXPECT_EQ(GpsStatusModel().ShowStatusWindow(1), -1) << "no window without a factory";
    EXPECT_EQ(model_->ShowStatusWindow(0), -1) << "no window without an instance";
    struct Keep : SentenceObserver {
        Ref<NmeaSentence> last;
        void OnSentence(NmeaSentence* s) override { last = Ref<NmeaSentence>(s); }
    };
    Ref<Keep> keep = MakeRef<Keep>();
    receiver_.decoder.Subscribe("GPRMC", keep.Get());
    const WindowHandle first = Open();
    receiver_.decoder.Feed(MakeSentence("GPRMC,123519.00,A,4807.0380,N,01131.0000,E,10.0,084.4,230394,003.1,W"));
    ASSERT_EQ(keep->last->RefCount(), 2u) << "one reference travels with the message";
    const WindowHandle second = Open();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_NE(second, first);
    EXPECT_EQ(keep->last->RefCount(), 1u);
    EXPECT_EQ(Texts(), "--:--:-- --.----- ---.----- ") << "the old window's sentence was not processed";
    receiver_.decoder.Unsubscribe("GPRMC", keep.Get());
}

}  // namespace
}  // namespace kestrix
