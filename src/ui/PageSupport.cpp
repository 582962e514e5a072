#include "ui/PageSupport.h"

#include "core/TrackerController.h"
#include "platform/Controls.h"
#include "platform/Dialog.h"

namespace kestrix::ui::detail {

using namespace platform;

TrackerSettings* ControllerSettings() {
    return TrackerController::Exists() ? &TrackerController::Instance()->GetSettings() : nullptr;
}

void InitPage(WindowHandle page) {
    SHInitDialog({SHIDIM_FLAGS, page, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN});
}

uint32_t NotifyCode(LParam lp) {
    const auto* header = reinterpret_cast<const NmHdr*>(lp);
    return header ? header->code : 0;
}

size_t CharCount(const std::string& text) {
    size_t n = 0;
    for (unsigned char c : text) n += (c & 0xC0) != 0x80;
    return n;
}

}  // namespace kestrix::ui::detail
