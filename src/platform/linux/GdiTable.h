// The drawing layer's process-wide state: the object table (fonts, pens, brushes, bitmaps,
// icons, the stock objects) and the device contexts, behind one mutex. Internal to
// src/platform/linux (Gdi.cpp, GdiDraw.cpp, WindowPainting.cpp).
//
// Threads: any; every access holds GdiTable::mutex. Lock order: this mutex is taken last
// (nothing that can call back into user code, such as sending a message or notifying the
// shell, runs while it is held).
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/Gdi.h"
#include "platform/linux/SvgSurface.h"

namespace kestrix::platform::internal {

constexpr int kErrorInvalidHandle = 6;
constexpr int kErrorInvalidParameter = 87;
constexpr int kErrorResourceNotFound = 1814;

struct PenData {
    int style = PS_SOLID;
    int width = 1;
    Colorref color = 0;
};

struct BrushData {
    bool null = false;
    Colorref color = 0;
};

// A resource image: which one, its natural size, and the data: URI the SVG shows it by.
struct ImageData {
    int resource = 0;
    int32_t width = 0;
    int32_t height = 0;
    Colorref topLeft = 0;
    std::shared_ptr<const std::string> href;
};

struct GdiObject {
    enum class Kind : uint8_t { Font, Pen, Brush, Bitmap, Icon };
    Kind kind = Kind::Brush;
    bool stock = false;
    LogFont font;
    PenData pen;
    BrushData brush;
    // Bitmap: what was drawn into it, the DC it is selected into (0: none), and the
    // resource it was loaded from (0: made by CreateCompatibleBitmap).
    std::shared_ptr<SvgSurface> surface;
    DcHandle selectedIn = 0;
    // Icon, or the resource of a loaded bitmap.
    ImageData image;
};

struct DeviceContext {
    enum class Kind : uint8_t { Window, Paint, Memory };
    Kind kind = Kind::Memory;
    WindowHandle window = kNoWindow;
    std::shared_ptr<SvgSurface> surface;
    // The selected objects by handle (what SelectObject returns) and by value, so that
    // drawing with an object deleted while selected still has its attributes.
    GdiHandle pen = 0;
    GdiHandle brush = 0;
    GdiHandle font = 0;
    GdiHandle bitmap = 0;
    PenData penData;
    BrushData brushData;
    LogFont fontData;
    Colorref textColor = 0;
    Colorref bkColor = 0xFFFFFF;
    int bkMode = OPAQUE;
};

class GdiTable {
public:
    static GdiTable& Instance();

    std::mutex mutex;

    // Lookups (mutex held): nullptr for an unknown handle or one of another kind; set the
    // calling thread's last error then. Entries stay where they are until removed.
    GdiObject* Find(GdiHandle handle, GdiObject::Kind kind);
    GdiObject* Find(GdiHandle handle);
    DeviceContext* FindDc(DcHandle dc);
    // As Find, without an error: for objects that may have been deleted meanwhile.
    GdiObject* Peek(GdiHandle handle);

    // A DC with the stock pen, brush and font selected.
    DeviceContext NewDc(DeviceContext::Kind kind, WindowHandle window, std::shared_ptr<SvgSurface> surface);
    GdiHandle AddObject(GdiObject object);
    DcHandle AddDc(DeviceContext dc);
    void RemoveObject(GdiHandle handle) { objects_.erase(handle); }
    void RemoveDc(DcHandle dc) { dcs_.erase(dc); }
    GdiHandle Stock(int index) const;

    // The data: URI of each resource image, made once; cleared when the provider changes.
    std::unordered_map<int, std::shared_ptr<const std::string>> hrefs;

private:
    GdiTable();
    std::unordered_map<GdiHandle, GdiObject> objects_;
    std::unordered_map<DcHandle, DeviceContext> dcs_;
    GdiHandle nextObject_;
    DcHandle nextDc_;
};

}  // namespace kestrix::platform::internal
