// Drawing objects, device contexts and their attributes, system colours and metrics.
#include "platform/Gdi.h"

#include <array>
#include <cstdio>
#include <map>
#include <utility>

#include "platform/LastError.h"
#include "platform/MessageLoop.h"
#include "platform/linux/GdiTable.h"

namespace kestrix::platform {

using internal::BrushData;
using internal::DeviceContext;
using internal::GdiObject;
using internal::GdiTable;
using internal::PenData;

namespace internal {

namespace {

// Stock handles: GetStockObject index + 1, system-colour brushes kSysBrushBase + colour
// index, the 1 x 1 bitmap of a fresh memory DC. Everything made later starts above them.
constexpr GdiHandle kSysBrushBase = 0x40;
constexpr GdiHandle kDefaultBitmap = 0x80;
constexpr GdiHandle kFirstObject = 0x100;
constexpr DcHandle kFirstDc = 0x10000;

}  // namespace

Colorref SysColor(int index);
constexpr int kSysColorCount = 27;

// Never destroyed: objects may still be deleted by other objects' destructors at exit.
GdiTable& GdiTable::Instance() {
    static GdiTable* table = new GdiTable;
    return *table;
}

GdiTable::GdiTable() : nextObject_(kFirstObject), nextDc_(kFirstDc) {
    auto brush = [&](int index, bool null, Colorref color) {
        GdiObject o;
        o.kind = GdiObject::Kind::Brush;
        o.stock = true;
        o.brush = BrushData{null, color};
        objects_[static_cast<GdiHandle>(index) + 1] = o;
    };
    auto pen = [&](int index, int style, Colorref color) {
        GdiObject o;
        o.kind = GdiObject::Kind::Pen;
        o.stock = true;
        o.pen = PenData{style, 1, color};
        objects_[static_cast<GdiHandle>(index) + 1] = o;
    };
    auto font = [&](int index) {
        GdiObject o;
        o.kind = GdiObject::Kind::Font;
        o.stock = true;
        o.font.height = 16;
        o.font.weight = 400;
        o.font.faceName = "Sans";
        objects_[static_cast<GdiHandle>(index) + 1] = o;
    };
    brush(WHITE_BRUSH, false, Rgb(255, 255, 255));
    brush(LTGRAY_BRUSH, false, Rgb(192, 192, 192));
    brush(GRAY_BRUSH, false, Rgb(128, 128, 128));
    brush(DKGRAY_BRUSH, false, Rgb(64, 64, 64));
    brush(BLACK_BRUSH, false, Rgb(0, 0, 0));
    brush(NULL_BRUSH, true, 0);
    pen(WHITE_PEN, PS_SOLID, Rgb(255, 255, 255));
    pen(BLACK_PEN, PS_SOLID, Rgb(0, 0, 0));
    pen(NULL_PEN, PS_NULL, 0);
    font(SYSTEM_FONT);
    font(DEFAULT_GUI_FONT);
    for (int i = 0; i < kSysColorCount; ++i) {
        GdiObject o;
        o.kind = GdiObject::Kind::Brush;
        o.stock = true;
        o.brush = BrushData{false, SysColor(i)};
        objects_[kSysBrushBase + static_cast<GdiHandle>(i)] = o;
    }
    GdiObject bitmap;
    bitmap.kind = GdiObject::Kind::Bitmap;
    bitmap.stock = true;
    bitmap.surface = std::make_shared<SvgSurface>(1, 1);
    objects_[kDefaultBitmap] = bitmap;
}

GdiObject* GdiTable::Peek(GdiHandle handle) {
    auto it = objects_.find(handle);
    return it == objects_.end() ? nullptr : &it->second;
}

GdiObject* GdiTable::Find(GdiHandle handle) {
    auto it = objects_.find(handle);
    if (it == objects_.end()) {
        SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    return &it->second;
}

GdiObject* GdiTable::Find(GdiHandle handle, GdiObject::Kind kind) {
    GdiObject* o = Find(handle);
    if (o && o->kind != kind) {
        SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    return o;
}

DeviceContext* GdiTable::FindDc(DcHandle dc) {
    auto it = dcs_.find(dc);
    if (it == dcs_.end()) {
        SetLastError(kErrorInvalidHandle);
        return nullptr;
    }
    return &it->second;
}

// Handles are never reused while the counter has not wrapped, so a stale handle fails
// instead of reaching an object made later.
GdiHandle GdiTable::AddObject(GdiObject object) {
    while (nextObject_ < kFirstObject || nextObject_ >= kFirstDc || objects_.count(nextObject_)) {
        nextObject_ = nextObject_ + 1 >= kFirstDc ? kFirstObject : nextObject_ + 1;
    }
    GdiHandle h = nextObject_++;
    objects_.emplace(h, std::move(object));
    return h;
}

DcHandle GdiTable::AddDc(DeviceContext dc) {
    while (nextDc_ < kFirstDc || dcs_.count(nextDc_)) nextDc_ = nextDc_ + 1 < kFirstDc ? kFirstDc : nextDc_ + 1;
    DcHandle h = nextDc_++;
    dcs_.emplace(h, std::move(dc));
    return h;
}

DeviceContext GdiTable::NewDc(DeviceContext::Kind kind, WindowHandle window, std::shared_ptr<SvgSurface> surface) {
    DeviceContext dc;
    dc.kind = kind;
    dc.window = window;
    dc.surface = std::move(surface);
    dc.pen = Stock(BLACK_PEN);
    dc.penData = objects_.at(dc.pen).pen;
    dc.brush = Stock(WHITE_BRUSH);
    dc.brushData = objects_.at(dc.brush).brush;
    dc.font = Stock(SYSTEM_FONT);
    dc.fontData = objects_.at(dc.font).font;
    return dc;
}

GdiHandle GdiTable::Stock(int index) const {
    auto h = static_cast<GdiHandle>(index) + 1;
    return index >= 0 && objects_.count(h) ? h : 0;
}

// A light theme: white windows and dialogs, grey buttons.
Colorref SysColor(int index) {
    static constexpr std::array<Colorref, kSysColorCount> kColors{
        Rgb(200, 200, 200),  // 0 scroll bar
        Rgb(58, 110, 165),   // 1 desktop
        Rgb(10, 36, 106),    // 2 active caption
        Rgb(128, 128, 128),  // 3 inactive caption
        Rgb(255, 255, 255),  // 4 menu
        Rgb(255, 255, 255),  // 5 window
        Rgb(0, 0, 0),        // 6 window frame
        Rgb(0, 0, 0),        // 7 menu text
        Rgb(0, 0, 0),        // 8 window text
        Rgb(255, 255, 255),  // 9 caption text
        Rgb(192, 192, 192),  // 10 active border
        Rgb(192, 192, 192),  // 11 inactive border
        Rgb(128, 128, 128),  // 12 application workspace
        Rgb(49, 106, 197),   // 13 highlight
        Rgb(255, 255, 255),  // 14 highlight text
        Rgb(236, 236, 236),  // 15 button face
        Rgb(128, 128, 128),  // 16 button shadow
        Rgb(128, 128, 128),  // 17 grey text
        Rgb(0, 0, 0),        // 18 button text
        Rgb(212, 208, 200),  // 19 inactive caption text
        Rgb(255, 255, 255),  // 20 button highlight
        Rgb(64, 64, 64),     // 21 3-D dark shadow
        Rgb(212, 212, 212),  // 22 3-D light
        Rgb(0, 0, 0),        // 23 tooltip text
        Rgb(255, 255, 225),  // 24 tooltip background
        Rgb(255, 255, 255),  // 25 static background
        Rgb(0, 0, 0),        // 26 static text
    };
    return index >= 0 && index < kSysColorCount ? kColors[static_cast<size_t>(index)] : 0;
}

}  // namespace internal

namespace {

// A system-colour index may carry this flag (the item's class background does); both
// forms are taken.
constexpr int kSysColorIndexFlag = 0x40000000;

int SysColorIndex(int index) { return index & ~kSysColorIndexFlag; }

}  // namespace

std::string ColorHex(Colorref c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%02x%02x%02x", RedOf(c), GreenOf(c), BlueOf(c));
    return buf;
}

// ---- objects ----------------------------------------------------------------------------

GdiHandle CreateFontIndirect(const LogFont& font) {
    GdiObject o;
    o.kind = GdiObject::Kind::Font;
    o.font = font;
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    return t.AddObject(std::move(o));
}

bool GetFontInfo(GdiHandle font, LogFont& out) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    const GdiObject* o = t.Find(font, GdiObject::Kind::Font);
    if (!o) return false;
    out = o->font;
    return true;
}

GdiHandle CreatePen(int style, int width, Colorref color) {
    if ((style != PS_SOLID && style != PS_DASH && style != PS_NULL) || width < 0) {
        SetLastError(internal::kErrorInvalidParameter);
        return 0;
    }
    GdiObject o;
    o.kind = GdiObject::Kind::Pen;
    o.pen = PenData{style, width == 0 ? 1 : width, color & 0xFFFFFF};
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    return t.AddObject(std::move(o));
}

GdiHandle CreateSolidBrush(Colorref color) {
    GdiObject o;
    o.kind = GdiObject::Kind::Brush;
    o.brush = BrushData{false, color & 0xFFFFFF};
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    return t.AddObject(std::move(o));
}

GdiHandle GetStockObject(int index) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    GdiHandle h = t.Stock(index);
    if (!h) SetLastError(internal::kErrorInvalidParameter);
    return h;
}

Colorref GetSysColor(int index) { return internal::SysColor(SysColorIndex(index)); }

GdiHandle GetSysColorBrush(int index) {
    index = SysColorIndex(index);
    if (index < 0 || index >= internal::kSysColorCount) {
        SetLastError(internal::kErrorInvalidParameter);
        return 0;
    }
    return internal::kSysBrushBase + static_cast<GdiHandle>(index);
}

bool GetBrushColor(GdiHandle brush, Colorref& out) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    const GdiObject* o = t.Find(brush, GdiObject::Kind::Brush);
    if (!o) return false;
    out = o->brush.color;
    return true;
}

bool DeleteObject(GdiHandle object) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    GdiObject* o = t.Find(object);
    // Icons go with DestroyIcon.
    if (!o || o->kind == GdiObject::Kind::Icon) {
        SetLastError(internal::kErrorInvalidHandle);
        return false;
    }
    if (!o->stock) t.RemoveObject(object);
    return true;
}

bool GetBitmapInfo(GdiHandle bitmap, BitmapInfo& out) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    const GdiObject* o = t.Find(bitmap, GdiObject::Kind::Bitmap);
    if (!o) return false;
    out.width = o->surface->Width();
    out.height = o->surface->Height();
    return true;
}

// ---- device contexts --------------------------------------------------------------------

DcHandle GetDC(WindowHandle window) {
    if (window != kNoWindow && !MessageLoop::OwnerOf(window)) {
        SetLastError(internal::kErrorInvalidHandle);
        return 0;
    }
    // Drawing through this DC is not kept, so its surface is simply the screen's size.
    auto surface = std::make_shared<internal::SvgSurface>(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    return t.AddDc(t.NewDc(DeviceContext::Kind::Window, window, std::move(surface)));
}

bool ReleaseDC(WindowHandle window, DcHandle dc) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    const DeviceContext* d = t.FindDc(dc);
    if (!d || d->kind != DeviceContext::Kind::Window || d->window != window) {
        SetLastError(internal::kErrorInvalidHandle);
        return false;
    }
    t.RemoveDc(dc);
    return true;
}

DcHandle CreateCompatibleDC(DcHandle dc) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    if (dc != 0 && !t.FindDc(dc)) return 0;
    DeviceContext d = t.NewDc(DeviceContext::Kind::Memory, kNoWindow, std::make_shared<internal::SvgSurface>(1, 1));
    d.bitmap = internal::kDefaultBitmap;
    return t.AddDc(std::move(d));
}

bool DeleteDC(DcHandle dc) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    DeviceContext* d = t.FindDc(dc);
    if (!d || d->kind != DeviceContext::Kind::Memory) {
        SetLastError(internal::kErrorInvalidHandle);
        return false;
    }
    GdiObject* bitmap = t.Peek(d->bitmap);
    if (bitmap && bitmap->selectedIn == dc) bitmap->selectedIn = 0;
    t.RemoveDc(dc);
    return true;
}

GdiHandle CreateCompatibleBitmap(DcHandle dc, int32_t width, int32_t height) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    if (dc != 0 && !t.FindDc(dc)) return 0;
    if (width < 0 || height < 0) {
        SetLastError(internal::kErrorInvalidParameter);
        return 0;
    }
    GdiObject o;
    o.kind = GdiObject::Kind::Bitmap;
    o.surface = std::make_shared<internal::SvgSurface>(width, height);
    return t.AddObject(std::move(o));
}

GdiHandle SelectObject(DcHandle dc, GdiHandle object) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    DeviceContext* d = t.FindDc(dc);
    GdiObject* o = d ? t.Find(object) : nullptr;
    if (!o) return 0;
    GdiHandle previous = 0;
    switch (o->kind) {
        case GdiObject::Kind::Font:
            previous = d->font;
            d->font = object;
            d->fontData = o->font;
            return previous;
        case GdiObject::Kind::Pen:
            previous = d->pen;
            d->pen = object;
            d->penData = o->pen;
            return previous;
        case GdiObject::Kind::Brush:
            previous = d->brush;
            d->brush = object;
            d->brushData = o->brush;
            return previous;
        case GdiObject::Kind::Bitmap: {
            // A bitmap is drawn on through one memory DC at a time.
            if (d->kind != DeviceContext::Kind::Memory || (!o->stock && o->selectedIn != 0 && o->selectedIn != dc)) {
                SetLastError(internal::kErrorInvalidParameter);
                return 0;
            }
            previous = d->bitmap;
            if (GdiObject* old = t.Peek(previous); old && old->selectedIn == dc) old->selectedIn = 0;
            d->bitmap = object;
            if (o->stock) {
                d->surface = std::make_shared<internal::SvgSurface>(1, 1);
            } else {
                o->selectedIn = dc;
                d->surface = o->surface;
            }
            return previous;
        }
        case GdiObject::Kind::Icon:
            break;
    }
    SetLastError(internal::kErrorInvalidParameter);
    return 0;
}

GdiHandle GetCurrentObject(DcHandle dc, int kind) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    const DeviceContext* d = t.FindDc(dc);
    if (!d) return 0;
    switch (kind) {
        case OBJ_PEN: return d->pen;
        case OBJ_BRUSH: return d->brush;
        case OBJ_FONT: return d->font;
        case OBJ_BITMAP: return d->bitmap;
        default: SetLastError(internal::kErrorInvalidParameter); return 0;
    }
}

namespace {

// Reads or replaces one attribute of a DC; `fail` when the DC does not exist.
template <typename T, typename Fn>
T WithDc(DcHandle dc, T fail, Fn fn) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    DeviceContext* d = t.FindDc(dc);
    return d ? fn(*d) : fail;
}

}  // namespace

Colorref SetTextColor(DcHandle dc, Colorref color) {
    return WithDc(dc, CLR_INVALID, [&](DeviceContext& d) { return std::exchange(d.textColor, color & 0xFFFFFF); });
}
Colorref GetTextColor(DcHandle dc) {
    return WithDc(dc, CLR_INVALID, [](DeviceContext& d) { return d.textColor; });
}
Colorref SetBkColor(DcHandle dc, Colorref color) {
    return WithDc(dc, CLR_INVALID, [&](DeviceContext& d) { return std::exchange(d.bkColor, color & 0xFFFFFF); });
}
int SetBkMode(DcHandle dc, int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) {
        SetLastError(internal::kErrorInvalidParameter);
        return 0;
    }
    return WithDc(dc, 0, [&](DeviceContext& d) { return std::exchange(d.bkMode, mode); });
}

// ---- system metrics ---------------------------------------------------------------------

namespace {

struct MetricOverrides {
    std::mutex mutex;
    std::map<int, int32_t> values;
};

// Never destroyed, like the object table.
MetricOverrides& Overrides() {
    static MetricOverrides* overrides = new MetricOverrides;
    return *overrides;
}

}  // namespace

int32_t GetSystemMetrics(int index) {
    {
        MetricOverrides& o = Overrides();
        std::lock_guard lock(o.mutex);
        if (auto it = o.values.find(index); it != o.values.end()) return it->second;
    }
    switch (index) {
        case SM_CXSCREEN: return 480;
        case SM_CYSCREEN: return 640;
        case SM_CXICON:
        case SM_CYICON: return 32;
        case SM_CXSMICON:
        case SM_CYSMICON: return 16;
        default: return 0;
    }
}

void SetSystemMetric(int index, int32_t value) {
    MetricOverrides& o = Overrides();
    std::lock_guard lock(o.mutex);
    o.values[index] = value;
}

void ResetSystemMetrics() {
    MetricOverrides& o = Overrides();
    std::lock_guard lock(o.mutex);
    o.values.clear();
}

}  // namespace kestrix::platform
