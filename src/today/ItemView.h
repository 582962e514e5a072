// ItemView: the home-screen item row. At the left the program's icon and its name; at the
// right, laid out from the screen's right edge, the tracker button, the logger button, the
// settings button and the signal gauge, each showing the controller's state by its image.
// The view holds those images, the horizontal extent of each control for hit testing
// (recorded by the first paint and fixed from then on) and the keyboard selection.
//
// Control ids: 0 none, 1 program icon, 2 tracker, 3 logger, 4 settings, 5 gauge.
// Coordinates are item-window pixels. The system metrics (screen size, icon sizes) are read
// once, when the view is made; icons are drawn at small-icon size, from the first column of
// the item's icon table when icons are below 32 pixels and from the second otherwise.
//
// Threads: UI thread only (the item window's procedure calls it).
#pragma once
#include <array>
#include <cstdint>

#include "platform/Gdi.h"
#include "platform/Types.h"

namespace kestrix::today {

class ItemView {
public:
    struct Slot {
        uint32_t id = 0;
        int32_t left = 0;   // [left, right) in item coordinates
        int32_t right = 0;
    };

    ItemView();
    ~ItemView();  // DestroyIcons
    ItemView(const ItemView&) = delete;
    ItemView& operator=(const ItemView&) = delete;

    // Loads the nine icons from the module (those loaded before are destroyed first).
    // False without an instance, or when an image is missing.
    bool LoadIcons(uintptr_t instance);
    void DestroyIcons();

    // The row's height: small-icon height + 8.
    int32_t ItemHeight() const { return smallIconHeight_ + 8; }
    uint32_t GetSelection() const { return selected_; }
    void SetSelection(uint32_t id) { selected_ = id; }
    // The id of the first slot holding x; 5 when none does (before the first paint, on the
    // program's name, between the buttons).
    uint32_t HitTest(int32_t x) const;
    // Paints the row into the item window's DC with the controller's state. Draws nothing
    // without a window, a DC, a controller or a readable client rectangle.
    void Paint(platform::WindowHandle itemWindow, platform::DcHandle dc);

    const std::array<Slot, 5>& Slots() const { return slots_; }

private:
    // The gauge: the controller's bitmap stretched to the box, keyed on its top-left pixel.
    bool DrawGauge(platform::DcHandle dc, uintptr_t instance, int bitmapId, const platform::Rect& box);

    uint32_t selected_ = 0;
    std::array<Slot, 5> slots_{{{1, 0, 0}, {2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}}};
    bool layoutDone_ = false;
    platform::GdiHandle programIcon_ = 0;
    platform::GdiHandle trackerOnFix_ = 0;
    platform::GdiHandle trackerOnNoFix_ = 0;
    platform::GdiHandle trackerOff_ = 0;
    platform::GdiHandle trackerBusy_ = 0;
    platform::GdiHandle loggerOnFix_ = 0;
    platform::GdiHandle loggerOnNoFix_ = 0;
    platform::GdiHandle loggerOff_ = 0;
    platform::GdiHandle settingsIcon_ = 0;
    const int32_t screenWidth_;
    const int32_t iconWidth_;
    const int32_t smallIconWidth_;
    const int32_t smallIconHeight_;
};

}  // namespace kestrix::today
