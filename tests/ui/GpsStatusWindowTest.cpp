#include "ui/GpsStatusWindow.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "nmea/GpsDecoder.h"
#include "nmea/SatelliteTable.h"
#include "nmea/SyntheticCapture.h"
#include "platform/Clock.h"
#include "platform/Dialog.h"
#include "platform/MessageLoop.h"
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
    NmeaParser* Parser() override { return &decoder; }
    GpsDecoder decoder;
};

// One shape of a painting: its tag, attributes and text.
struct SvgShape {
    std::string tag;
    std::map<std::string, std::string> attr;
    std::string text;
    double Number(const std::string& name) const { return std::stod(attr.at(name)); }
};

std::vector<SvgShape> Shapes(const std::string& svg, const std::string& tag) {
    std::vector<SvgShape> out;
    const std::regex shape("<" + tag + R"re(((?:\s+[\w:-]+="[^"]*")*)\s*/?>([^<]*))re");
    const std::regex attribute(R"re(([\w:-]+)="([^"]*)")re");
    for (auto m = std::sregex_iterator(svg.begin(), svg.end(), shape); m != std::sregex_iterator(); ++m) {
        SvgShape s{tag, {}, (*m)[2]};
        const std::string attrs = (*m)[1];
        for (auto a = std::sregex_iterator(attrs.begin(), attrs.end(), attribute); a != std::sregex_iterator(); ++a)
            s.attr[(*a)[1]] = (*a)[2];
        out.push_back(std::move(s));
    }
    return out;
}

// An ellipse's box as Ellipse was given it (a 1-pixel outline lies half a pixel inside).
Rect EllipseBox(const SvgShape& e) {
    const double cx = e.Number("cx"), cy = e.Number("cy"), rx = e.Number("rx") + 0.5, ry = e.Number("ry") + 0.5;
    return Rect{static_cast<int32_t>(cx - rx), static_cast<int32_t>(cy - ry), static_cast<int32_t>(cx + rx),
                static_cast<int32_t>(cy + ry)};
}

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
    std::string Painting(int id) const { return GetWindowPainting(GetDlgItem(model_->StatusWindow(), id)); }
    std::string Text(int id) const { return GetDlgItemText(model_->StatusWindow(), id); }

    ManualClock clock_{1000, 133'000'000'000'000'000ULL};
    std::unique_ptr<MessageLoop> loop_;
    FakeReceiver receiver_;
    std::unique_ptr<GpsStatusModel> model_;
};

TEST_F(GpsStatusWindowTest, OpensAsTheShellShowsIt) {
    EXPECT_EQ(GpsStatusModel().ShowStatusWindow(1), -1) << "no window without a factory";
    EXPECT_EQ(model_->ShowStatusWindow(0), -1) << "no window without an instance";
    const WindowHandle window = Open();
    ASSERT_NE(window, kNoWindow);
    const std::vector<DialogInfo> dialogs = DescribeDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    const DialogInfo& d = dialogs[0];
    EXPECT_EQ(d.caption, "GPS Status");
    EXPECT_FALSE(d.modal);
    EXPECT_TRUE(d.doneButton);
    Rect screen;
    GetWindowRect(window, screen);
    EXPECT_EQ(screen, (Rect{0, 0, 480, 640})) << "full screen";
    std::map<int, ControlType> types;
    for (const ControlInfo& c : d.controls) {
        types[c.id] = c.type;
        if (c.type == ControlType::Image) {
            EXPECT_EQ(c.svg.rfind("<svg", 0), 0u) << c.id;
        }
    }
    EXPECT_EQ(types[kIdcSkyPlot], ControlType::Image);
    for (int i = 0; i < kSignalBarCount; ++i) EXPECT_EQ(types[kIdcFirstSignalBar + 2 * i], ControlType::Image) << i;
    for (int id : {kIdcUtc, kIdcLatitude, kIdcLongitude}) EXPECT_EQ(types[id], ControlType::Static) << id;
}

TEST_F(GpsStatusWindowTest, TheSkyPlotPlacesSatellitesByElevationAndAzimuthInsideItsRings) {
    Open();
    Feed({// 1 at the zenith, 2 on the horizon in the east, 4 half way up in the south; 3 has no
          // position yet, 5 is below the horizon, and the padding group is no satellite.
          "GPGSV,2,1,06,01,90,000,40,02,00,090,35,03,,,30,04,45,180,20",
          "GPGSV,2,2,06,05,-5,100,25,,,,", "GPGSA,A,3,01,,,,,,,,,,,,2.5,1.3,2.1"});
    // The control is 220 pixels square; "W" of the DC's font is 16 high, so the horizon's
    // box is the client less 20 pixels a side: radius 90 about (110, 110).
    const std::vector<SvgShape> ellipses = Shapes(Painting(kIdcSkyPlot), "ellipse");
    const struct {
        const char* what;
        Rect box;
        const char* fill;
    } expected[] = {
        {"horizon", {20, 20, 200, 200}, "#ffffff"},
        {"45 degrees: 90 cos 45 = 63.6", {47, 47, 173, 173}, "#ffffff"},
        {"65 degrees: 38.0", {72, 72, 148, 148}, "#ffffff"},
        {"88 degrees: 3.1", {107, 107, 113, 113}, "#ffffff"},
        // Disks of radius 2 int(sqrt(16^2 + 64)) / 3 = 11 for "00" of 16 x 16.
        {"1, used, at the centre", {99, 99, 121, 121}, "#0000ff"},
        {"2 at the right end of the horizontal diameter", {189, 99, 211, 121}, "#7f7f7f"},
        {"4 straight below the centre", {99, 162, 121, 184}, "#7f7f7f"},
    };
    ASSERT_EQ(ellipses.size(), std::size(expected));
    for (size_t i = 0; i < ellipses.size(); ++i) {
        SCOPED_TRACE(expected[i].what);
        EXPECT_EQ(EllipseBox(ellipses[i]), expected[i].box);
        EXPECT_EQ(ellipses[i].attr.at("fill"), expected[i].fill);
    }
    std::vector<std::string> texts;
    for (const SvgShape& t : Shapes(Painting(kIdcSkyPlot), "text")) texts.push_back(t.text + t.attr.at("fill"));
    EXPECT_EQ(texts, (std::vector<std::string>{"N#000000", "S#000000", "W#000000", "E#000000", "1#ffffff",
                                                "2#ffffff", "4#ffffff"}));
}

TEST_F(GpsStatusWindowTest, BarsShowTheirSatellitesLevelOrDashes) {
    struct Bar {
        const char* label;
        int height;  // of the level, in the frame of 62 pixels (bar 80 high less 16 of label, 2 of frame)
        const char* fill;
    };
    const struct {
        const char* what;
        std::vector<std::string> sentences;
        std::vector<Bar> bars;  // the first ones; the others show "--" and no level
    } phases[] = {
        {"used satellites stretched, an unused one as its SNR",
         {"GPGSV,1,1,04,07,40,083,30,08,17,308,40,09,07,344,45,10,22,228,30", "GPGSA,A,3,07,08,09,,,,,,,,,,2.5,1.3,2.1"},
         {{"7", 26, "#0000ff"}, {"8", 50, "#0000ff"}, {"9", 62, "#0000ff"}, {"10", 18, "#7f7f7f"}}},
        {"equal numbers of two systems are two satellites",
         {"GPGSV,1,1,01,05,40,083,40", "GAGSV,1,1,01,05,50,090,20"},
         {{"5", 24, "#7f7f7f"}, {"5", 12, "#7f7f7f"}}},
        {"of fourteen, the first twelve",
         {"GPGSV,4,1,14,01,10,010,,02,10,020,,03,10,030,,04,10,040,",
          "GPGSV,4,2,14,05,10,050,,06,10,060,,07,10,070,,08,10,080,",
          "GPGSV,4,3,14,09,10,090,,10,10,100,,11,10,110,,12,10,120,", "GPGSV,4,4,14,13,10,130,,14,10,140,"},
         {{"1", 0, ""}, {"2", 0, ""}, {"3", 0, ""}, {"4", 0, ""}, {"5", 0, ""}, {"6", 0, ""},
          {"7", 0, ""}, {"8", 0, ""}, {"9", 0, ""}, {"10", 0, ""}, {"11", 0, ""}, {"12", 0, ""}}},
    };
    Open();
    for (const auto& phase : phases) {
        SCOPED_TRACE(phase.what);
        Feed(phase.sentences);
        for (int i = 0; i < kSignalBarCount; ++i) {
            SCOPED_TRACE(i);
            const std::string svg = Painting(kIdcFirstSignalBar + 2 * i);
            const Bar want = i < static_cast<int>(phase.bars.size()) ? phase.bars[i] : Bar{"--", 0, ""};
            const std::vector<SvgShape> texts = Shapes(svg, "text");
            ASSERT_EQ(texts.size(), 1u);
            EXPECT_EQ(texts[0].text, want.label);
            std::vector<SvgShape> levels;
            for (const SvgShape& r : Shapes(svg, "rect")) {
                if (r.attr.count("fill") && r.attr.at("fill") != "#ffffff" && r.attr.at("fill") != "none")
                    levels.push_back(r);
            }
            ASSERT_EQ(levels.size(), want.height > 0 ? 1u : 0u);
            if (want.height == 0) continue;
            EXPECT_EQ(levels[0].attr.at("fill"), want.fill);
            EXPECT_EQ(levels[0].Number("height"), want.height);
            EXPECT_EQ(levels[0].Number("y") + levels[0].Number("height"), 63) << "from the frame's bottom up";
            EXPECT_EQ(levels[0].Number("width"), 20) << "across the frame";
        }
    }
    EXPECT_EQ(ui::GpsStatusWindow::LevelHeight(999'999'999, true, 62), 62) << "a wild SNR fills the bar";
}

TEST_F(GpsStatusWindowTest, TextsShowTheLastFixOrDashes) {
    const struct {
        const char* what;
        const char* sentence;
        const char* utc;
        const char* latitude;
        const char* longitude;
    } cases[] = {
        {"a fix", "GPRMC,123519.00,A,4807.0380,N,01131.0000,E,10.0,084.4,230394,003.1,W", "12:35:19", "48.11730",
         "11.51667"},
        {"no fix", "GPRMC,123520.00,V,,,,,,,230394,,", "--:--:--", "--.-----", "---.-----"},
        {"south and west", "GPGLL,3345.1234,S,07000.0000,W,225444,A", "22:54:44", "-33.75206", "-70.00000"},
    };
    Open();
    EXPECT_EQ(Text(kIdcUtc) + " " + Text(kIdcLatitude) + " " + Text(kIdcLongitude), "--:--:-- --.----- ---.-----");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Feed({c.sentence});
        EXPECT_EQ(Text(kIdcUtc), c.utc);
        EXPECT_EQ(Text(kIdcLatitude), c.latitude);
        EXPECT_EQ(Text(kIdcLongitude), c.longitude);
    }
    model_->Detach();
    loop_->RunPending();
    EXPECT_EQ(Text(kIdcUtc), "--:--:--") << "a detached model has no fix to show";
}

TEST_F(GpsStatusWindowTest, EscapeDoneCancelAndCloseEndTheWindowAndDetachTheModel) {
    const struct {
        const char* what;
        bool (*act)(WindowHandle);
    } cases[] = {
        {"Escape", [](WindowHandle w) { return PressKey(w, VK_ESCAPE); }},
        {"Done", [](WindowHandle w) { return PressDone(w); }},
        {"Cancel", [](WindowHandle w) { return PressCancel(w); }},
        {"WM_CLOSE", [](WindowHandle w) { return PostMessage(w, WM_CLOSE, 0, 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(model_->Attach(&receiver_));
        const WindowHandle window = Open();
        Feed({"GPGSV,1,1,01,05,40,083,46"});
        ASSERT_EQ(SatelliteTable::Instance().Size(), 1u);
        ASSERT_TRUE(c.act(window));
        loop_->RunPending();
        EXPECT_FALSE(IsWindow(window));
        EXPECT_EQ(model_->StatusWindow(), kNoWindow);
        EXPECT_FALSE(model_->IsAttached());
        EXPECT_EQ(SatelliteTable::Instance().Size(), 0u);
        EXPECT_TRUE(DescribeDialogs().empty());
    }
}

// A sentence posted to a window that goes before handling it is released, not leaked
// (the sanitizer build's leak check would name it too).
TEST_F(GpsStatusWindowTest, ReopeningReplacesTheWindowAndReleasesWhatTheOldOneNeverHandled) {
    struct Keep : SentenceObserver {
        Ref<NmeaSentence> last;
        void OnSentence(NmeaSentence* s) override { last = Ref<NmeaSentence>(s); }
    };
    Ref<Keep> keep = MakeRef<Keep>();
    receiver_.decoder.Subscribe("GPRMC", keep.Get());
    const WindowHandle first = Open();
    receiver_.decoder.Feed(MakeSentence("GPRMC,123519.00,A,4807.0380,N,01131.0000,E,10.0,084.4,230394,003.1,W"));
    ASSERT_TRUE(keep->last);
    EXPECT_EQ(keep->last->RefCount(), 2u) << "one reference travels with the message";
    const WindowHandle second = Open();
    EXPECT_FALSE(IsWindow(first));
    EXPECT_NE(second, first);
    EXPECT_EQ(DescribeDialogs().size(), 1u);
    EXPECT_EQ(keep->last->RefCount(), 1u);
    EXPECT_EQ(Text(kIdcUtc), "--:--:--") << "the old window's sentence was not processed";
    receiver_.decoder.Unsubscribe("GPRMC", keep.Get());
}

}  // namespace
}  // namespace kestrix
