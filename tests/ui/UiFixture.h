// The fixture of the settings dialogs' tests: a real registry file and device root in a
// temporary folder, a controller without services (its settings are what the pages edit),
// the dialogs' process-wide objects, a stepped clock that never reaches the unattended
// time-out, and a shell whose message boxes a person answers with OK at once. Modal
// dialogs are driven from inside their own pump by a task posted before they open.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/ControllerServices.h"
#include "core/TrackerController.h"
#include "platform/Clock.h"
#include "platform/DeviceFs.h"
#include "platform/Dialog.h"
#include "platform/MessageLoop.h"
#include "platform/Power.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "support/TestSupport.h"
#include "ui/ColorText.h"
#include "ui/Hyperlink.h"
#include "ui/SettingsSheet.h"

namespace kestrix::test {

constexpr uintptr_t kInstance = 1;

class AnsweringShell final : public platform::ShellHost {
public:
    bool NotificationAdd(const platform::Notification&) override { return true; }
    bool NotificationUpdate(uint32_t, const platform::Notification&) override { return true; }
    bool NotificationRemove(const std::string&, uint32_t) override { return true; }
    int MessageBox(platform::WindowHandle, const std::string& text, const std::string& caption,
                   uint32_t flags) override {
        boxes.push_back(caption + "|" + text + "|" + std::to_string(flags));
        return platform::IDOK;
    }
    bool OpenLink(const std::string& url) override {
        links.push_back(url);
        return true;
    }
    std::vector<std::string> boxes;
    std::vector<std::string> links;
};

class UiTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetDeviceClock(&clock_);
        std::string error;
        ASSERT_TRUE(platform::ConfigureRegistry(dir_.File("registry.reg"), &error)) << error;
        std::filesystem::create_directories(Root());
        platform::SetDeviceRoot(Root());
        platform::SetShellHost(&shell_);
        platform::SetPowerSourceFactory([] { return nullptr; });
        loop_ = std::make_unique<platform::MessageLoop>(clock_);
        SetControllerServices({});
        ASSERT_TRUE(ui::AddColorTextAtom() && ui::AddHyperlinkAtom());
        ui::CreateSettingsControls();
        ASSERT_NE(TrackerController::Instance(), nullptr);
    }
    void TearDown() override {
        TrackerController::Destroy();
        ui::DestroySettingsControls();
        ui::DeleteHyperlinkAtom();
        ui::DeleteColorTextAtom();
        loop_.reset();
        SetControllerServices(DefaultControllerServices());
        platform::SetPowerSourceFactory(nullptr);
        platform::SetShellHost(nullptr);
        platform::SetDeviceClock(nullptr);
    }

    std::string Root() const { return dir_.File("root"); }
    void MakeFolder(const std::string& relative) { std::filesystem::create_directories(Root() + "/" + relative); }
    static TrackerSettings& Settings() { return TrackerController::Instance()->GetSettings(); }

    // What the shell shows of a dialog's control.
    static platform::ControlInfo Control(platform::WindowHandle dialog, int id) {
        for (auto& d : platform::DescribeDialogs()) {
            for (auto& c : d.controls) {
                if (d.id == dialog && c.id == id) return c;
            }
        }
        ADD_FAILURE() << "no control " << id << " in dialog " << dialog;
        return {};
    }

    // Runs act on the next modal dialog once it is open; a dialog act leaves open is
    // cancelled so a failing test never hangs.
    void WhenOpen(std::function<void(platform::WindowHandle)> act) {
        loop_->PostTask([act = std::move(act)] {
            const platform::WindowHandle d = platform::DescribeDialogs().back().id;
            act(d);
            if (platform::IsWindow(d)) platform::PressCancel(d);
        });
    }
    bool RunSheet(int page, std::function<void(platform::WindowHandle)> act) {
        WhenOpen(std::move(act));
        return ui::ShowSettingsSheet(kInstance, platform::kNoWindow, page);
    }

    platform::ManualClock clock_{1000, 133'000'000'000'000'000ULL};
    TempDir dir_;
    AnsweringShell shell_;
    std::unique_ptr<platform::MessageLoop> loop_;
};

}  // namespace kestrix::test
