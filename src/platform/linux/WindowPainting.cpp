// Painting a window (BeginPaint .. EndPaint) and the last painting of each window, which the
// shell reads from its own threads.
#include <mutex>
#include <unordered_map>

#include "platform/Gdi.h"
#include "platform/LastError.h"
#include "platform/MessageLoop.h"
#include "platform/Window.h"
#include "platform/linux/GdiTable.h"
#include "platform/linux/WindowInternal.h"

namespace kestrix::platform {

using internal::DeviceContext;
using internal::GdiTable;

namespace {

struct Painting {
    std::string svg;
    uint64_t count = 0;
};

// Apart from the drawing table, so the shell reading paintings never waits for drawing.
// Never destroyed: windows may still go away during exit.
struct Paintings {
    std::mutex mutex;
    std::unordered_map<WindowHandle, Painting> byWindow;
};

Paintings& Store() {
    static Paintings* paintings = new Paintings;
    return *paintings;
}

}  // namespace

DcHandle BeginPaint(WindowHandle window, PaintStruct& ps) {
    Rect client;
    if (!GetClientRect(window, client)) {
        SetLastError(internal::kErrorInvalidHandle);
        return 0;
    }
    // Every paint draws the whole client area afresh, so what it draws is the painting.
    const bool erase = internal::TakeEraseRequest(window);
    DcHandle dc = 0;
    {
        GdiTable& t = GdiTable::Instance();
        std::lock_guard lock(t.mutex);
        dc = t.AddDc(t.NewDc(DeviceContext::Kind::Paint, window,
                             std::make_shared<internal::SvgSurface>(client.Width(), client.Height())));
    }
    ps.dc = dc;
    ps.paint = client;
    ps.erase = false;
    if (erase) {
        MessageLoop* loop = MessageLoop::OwnerOf(window);
        // Left to the procedure when its WM_ERASEBKGND did not erase.
        ps.erase = !loop || loop->Send(window, WM_ERASEBKGND, dc, 0) == 0;
    }
    return dc;
}

bool EndPaint(WindowHandle window, const PaintStruct& ps) {
    std::string svg;
    {
        GdiTable& t = GdiTable::Instance();
        std::lock_guard lock(t.mutex);
        const DeviceContext* d = t.FindDc(ps.dc);
        if (!d || d->kind != DeviceContext::Kind::Paint || d->window != window) {
            SetLastError(internal::kErrorInvalidHandle);
            return false;
        }
        svg = d->surface->Document();
        t.RemoveDc(ps.dc);
    }
    // A window destroyed while it painted keeps no painting.
    if (!MessageLoop::OwnerOf(window)) return true;
    {
        Paintings& store = Store();
        std::lock_guard lock(store.mutex);
        Painting& p = store.byWindow[window];
        p.svg = std::move(svg);
        ++p.count;
    }
    NotifyWindowChanged();
    return true;
}

std::string GetWindowPainting(WindowHandle window) {
    Paintings& store = Store();
    std::lock_guard lock(store.mutex);
    auto it = store.byWindow.find(window);
    return it == store.byWindow.end() ? std::string() : it->second.svg;
}

uint64_t GetWindowPaintCount(WindowHandle window) {
    Paintings& store = Store();
    std::lock_guard lock(store.mutex);
    auto it = store.byWindow.find(window);
    return it == store.byWindow.end() ? 0 : it->second.count;
}

namespace internal {

void ForgetWindowPainting(WindowHandle window) {
    Paintings& store = Store();
    std::lock_guard lock(store.mutex);
    store.byWindow.erase(window);
}

}  // namespace internal

}  // namespace kestrix::platform
