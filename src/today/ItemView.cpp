#include "today/ItemView.h"

#include <iterator>
#include <string>
#include <tuple>
#include <type_traits>

#include "core/TrackerController.h"
#include "platform/MessageLoop.h"
#include "platform/TodayScreen.h"
#include "platform/Window.h"
#include "resources/Resources.h"

namespace kestrix::today {

using namespace platform;

namespace {

constexpr int32_t kIconTop = 4;
constexpr int32_t kGap = 4;
// The selection frame: a flat raised-inner edge on all four sides.
constexpr uint32_t kFrameEdge = BDR_RAISEDINNER;
constexpr uint32_t kFrameFlags = BF_FLAT | BF_RECT;

void Frame(DcHandle dc, int32_t left, int32_t right, const Rect& rc) {
    Rect r{left, rc.top, right, rc.bottom};
    DrawEdge(dc, r, kFrameEdge, kFrameFlags);
}

}  // namespace

ItemView::ItemView()
    : screenWidth_(GetSystemMetrics(SM_CXSCREEN)),
      iconWidth_(GetSystemMetrics(SM_CXICON)),
      smallIconWidth_(GetSystemMetrics(SM_CXSMICON)),
      smallIconHeight_(GetSystemMetrics(SM_CYSMICON)) {}

ItemView::~ItemView() { DestroyIcons(); }

bool ItemView::LoadIcons(uintptr_t instance) {
    if (instance == 0) return false;
    // A second item window loads them again; the first set is not leaked.
    DestroyIcons();
    const auto& ids = iconWidth_ < 32 ? kItemIconsSmall : kItemIconsLarge;
    GdiHandle* const fields[] = {&programIcon_, &trackerOnFix_, &trackerOnNoFix_, &trackerOff_, &trackerBusy_,
                                 &loggerOnFix_, &loggerOnNoFix_, &loggerOff_,     &settingsIcon_};
    static_assert(std::size(fields) == std::tuple_size_v<std::decay_t<decltype(ids)>>);
    bool all = true;
    for (size_t i = 0; i < ids.size(); ++i) {
        *fields[i] = LoadImage(instance, ids[i], IMAGE_ICON, smallIconWidth_, smallIconHeight_);
        all = all && *fields[i] != 0;
    }
    return all;
}

void ItemView::DestroyIcons() {
    for (GdiHandle* icon : {&programIcon_, &trackerOnFix_, &trackerOnNoFix_, &trackerOff_, &trackerBusy_,
                            &loggerOnFix_, &loggerOnNoFix_, &loggerOff_, &settingsIcon_}) {
        if (*icon != 0) DestroyIcon(*icon);
        *icon = 0;
    }
}

uint32_t ItemView::HitTest(int32_t x) const {
    for (const Slot& s : slots_) {
        if (s.left <= x && x < s.right) return s.id;
    }
    return 5;
}

bool ItemView::DrawGauge(DcHandle dc, uintptr_t instance, int bitmapId, const Rect& box) {
    if (box.Width() <= 0 || box.Height() <= 0) return false;
    const GdiHandle bitmap = LoadImage(instance, bitmapId, IMAGE_BITMAP, 0, 0);
    BitmapInfo info;
    if (bitmap == 0 || !GetBitmapInfo(bitmap, info)) {
        if (bitmap != 0) DeleteObject(bitmap);
        return false;
    }
    const DcHandle source = CreateCompatibleDC(dc);
    const GdiHandle oldSource = SelectObject(source, bitmap);
    const DcHandle stretched = CreateCompatibleDC(dc);
    const GdiHandle canvas = CreateCompatibleBitmap(dc, box.Width(), box.Height());
    const GdiHandle oldStretched = SelectObject(stretched, canvas);

    bool drawn = StretchBlt(stretched, 0, 0, box.Width(), box.Height(), source, 0, 0, info.width, info.height, SRCCOPY);
    // The stretched image's own corner is the transparent colour, whatever the image is.
    const Colorref key = GetPixel(stretched, 0, 0);
    drawn = drawn && TransparentImage(dc, box.left, box.top, box.Width(), box.Height(), stretched, 0, 0, box.Width(),
                                      box.Height(), key);

    SelectObject(stretched, oldStretched);
    DeleteObject(canvas);
    DeleteDC(stretched);
    SelectObject(source, oldSource);
    DeleteObject(bitmap);
    DeleteDC(source);
    return drawn;
}

void ItemView::Paint(WindowHandle itemWindow, DcHandle dc) {
    if (itemWindow == kNoWindow || dc == 0 || !TrackerController::Exists()) return;
    Rect rc;
    if (!GetClientRect(itemWindow, rc)) return;
    const TrackerController& c = *TrackerController::Instance();
    const int32_t w = smallIconWidth_;
    const int32_t h = smallIconHeight_;
    const int32_t W = screenWidth_;
    const bool first = !layoutDone_;
    auto icon = [&](GdiHandle image, int32_t x) { DrawIconEx(dc, x, kIconTop, image, w, h, DI_NORMAL); };

    icon(programIcon_, 4);
    if (first) slots_[0] = {1, 4, w + 4};

    const int oldMode = SetBkMode(dc, TRANSPARENT);
    const std::string name = LoadResourceString(kStringTitle);
    if (!name.empty()) {
        Size extent;
        GetTextExtentPoint32(dc, name, extent);
        const int32_t inset = (h - extent.cy + 8) / 2;
        Rect text{w + 24, rc.top + inset, w + 24 + extent.cx, rc.bottom - inset};
        const auto colour = static_cast<Colorref>(SendMessage(GetParent(itemWindow), TODAYM_GETCOLOR, TODAYCOLOR_TEXT, 0));
        const Colorref oldColour = SetTextColor(dc, colour);
        DrawText(dc, name, text, DT_LEFT | DT_TOP);
        SetTextColor(dc, oldColour);
    }
    SetBkMode(dc, oldMode);

    const int32_t g = static_cast<int32_t>(w * 1.5);
    const int32_t gaugeLeft = W - g - 4;
    if (selected_ == 5 && c.IsReceiverRunning()) Frame(dc, W - g - 6, W - 2, rc);
    if (const int bitmap = c.SignalBitmap(); bitmap != 0) {
        const Rect box{gaugeLeft, rc.top + 4, W - 4, rc.bottom - 4};
        if (DrawGauge(dc, c.GetInstance(), bitmap, box) && first) slots_[4] = {5, gaugeLeft, W - 4};
    }

    const uint32_t state = c.GetState();
    const bool fix = (state & kModeFix) != 0;

    const int32_t x4 = gaugeLeft - w - kGap;
    if (selected_ == 4) Frame(dc, x4 - 4, gaugeLeft, rc);
    icon(settingsIcon_, x4);
    if (first) slots_[3] = {4, x4, x4 + w};

    const int32_t x3 = x4 - w - kGap;
    if (selected_ == 3) Frame(dc, x3 - 4, x4, rc);
    GdiHandle logger = loggerOff_;
    if (state & kModeLogger) logger = fix ? loggerOnFix_ : loggerOnNoFix_;
    icon(logger, x3);
    if (first) slots_[2] = {3, x3, x3 + w};

    const int32_t x2 = x3 - w - kGap;
    if (selected_ == 2) Frame(dc, x2 - 4, x3, rc);
    GdiHandle tracker = c.IsSessionRunning() ? trackerBusy_ : trackerOff_;
    if (state & kModeTracker) tracker = fix ? trackerOnFix_ : trackerOnNoFix_;
    icon(tracker, x2);
    if (first) slots_[1] = {2, x2, x2 + w};

    layoutDone_ = true;
}

}  // namespace kestrix::today
