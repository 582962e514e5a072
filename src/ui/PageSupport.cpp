#include "ui/PageSupport.h"

#include "core/TrackerController.h"
#include "platform/Controls.h"
#include "platform/Dialog.h"
#include "platform/Window.h"

namespace kestrix::ui::detail {

using namespace platform;

TrackerSettings* ControllerSettings() {
    return TrackerController::Exists() ? &TrackerController::Instance()->GetSettings() : nullptr;
}

void InitPage(WindowHandle page) {
    SHInitDialog({SHIDIM_FLAGS, page, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN});
}

LResult AnswerSheet(WindowHandle page, LParam lp, PageStep fill, PageStep apply, bool (*mayLeave)(WindowHandle)) {
    // A page is filled from the settings when it is first shown and when the sheet is
    // cancelled; shown again, it keeps what the person changed there, which Done stores.
    static const Atom filled = GlobalAddAtom("Kestrix.SettingsPageFilled");
    const auto* header = reinterpret_cast<const NmHdr*>(lp);
    switch (header ? header->code : 0) {
        case PSN_SETACTIVE:
            if (GetProp(page, filled) != 0) return 0;
            SetProp(page, filled, 1);
            if (fill) fill(page);
            return 0;
        case PSN_RESET:
            if (fill) fill(page);
            return 0;
        case PSN_APPLY:
            if (apply) apply(page);
            return PSNRET_NOERROR;
        case PSN_KILLACTIVE:
            return mayLeave && !mayLeave(page) ? 1 : 0;
        default:
            return 0;
    }
}

size_t CharCount(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

}  // namespace kestrix::ui::detail
