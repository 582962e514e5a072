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
