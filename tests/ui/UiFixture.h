// The fixture of the settings dialogs' tests: the controller's fixture of tests/core (its
// clock never reaches the unattended time-out; its shell's boxes a person answers with OK at
// once) with a controller without services (its settings are what the pages edit), a
// device root in the temporary folder and the dialogs' process-wide objects. Modal dialogs
// are driven from inside their own pump by a task posted before they open.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "core/ServiceDoubles.h"
#include "platform/DeviceFs.h"
#include "platform/Dialog.h"
#include "ui/ColorText.h"
#include "ui/Hyperlink.h"
#include "ui/SettingsSheet.h"

namespace kestrix::test {

constexpr uintptr_t kInstance = 1;

class UiTest : public ControllerTest {
protected:
    void SetUp() override {
        ControllerTest::SetUp();
        std::filesystem::create_directories(Root());
        platform::SetDeviceRoot(Root());
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
        ControllerTest::TearDown();
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
};

}  // namespace kestrix::test
