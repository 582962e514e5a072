#include "today/PluginEntry.h"

#include <memory>

#include "core/ControllerServices.h"
#include "core/MainWindow.h"
#include "core/TrackerController.h"
#include "nmea/SatelliteTable.h"
#include "platform/Gdi.h"
#include "platform/MessageLoop.h"
#include "platform/Window.h"
#include "resources/Resources.h"
#include "today/ItemView.h"
#include "ui/ColorText.h"
#include "ui/GpsStatusWindow.h"
#include "ui/Hyperlink.h"
#include "ui/SettingsSheet.h"

namespace kestrix::today {

using namespace platform;

namespace {

// The class background: the system colour COLOR_WINDOW, with the system-colour index flag.
constexpr int kItemBackground = 0x40000005;

std::unique_ptr<ItemView> g_view;
uintptr_t g_instance = 0;
// Set when an item window is made, cleared once its height has been reported.
bool g_heightPending = false;
WindowHandle g_lastItem = kNoWindow;

void Repaint(WindowHandle w) { InvalidateRect(w, nullptr, true); }

LResult OnNavigation(WindowHandle w, WParam key) {
    if (key != static_cast<WParam>(VK_UP) && key != static_cast<WParam>(VK_DOWN)) return 1;
    const uint32_t selected = g_view->GetSelection();
    uint32_t next = 0;
    if (key == static_cast<WParam>(VK_UP)) {
        next = selected == 0 ? 5 : selected == 2 ? 0 : selected - 1;
    } else {
        next = selected == 0 ? 2 : selected == 5 ? 0 : selected + 1;
    }
    g_view->SetSelection(next);
    Repaint(w);
    // 0 hands the selection to the neighbouring item.
    return next != 0 ? 1 : 0;
}

LResult ItemWindowProc(WindowHandle w, uint32_t msg, WParam wp, LParam lp) {
    ItemView* view = g_view.get();
    switch (msg) {
        case WM_DESTROY:
            if (TrackerController::Exists()) TrackerController::Destroy();
            if (g_lastItem == w) g_lastItem = kNoWindow;
            return 0;
        case WM_PAINT: {
            PaintStruct ps;
            const DcHandle dc = BeginPaint(w, ps);
            if (view) view->Paint(w, dc);
            EndPaint(w, ps);
            return 1;
        }
        case WM_ERASEBKGND: {
            TodayDrawWatermarkInfo info;
            info.hdc = static_cast<DcHandle>(wp);
            info.hwnd = w;
            GetClientRect(w, info.rc);
            SendMessage(GetParent(w), TODAYM_DRAWWATERMARK, 0, reinterpret_cast<LParam>(&info));
            return 1;
        }
        case WM_LBUTTONUP:
            if (view) RunItemAction(view->HitTest(LoWord(static_cast<uintptr_t>(lp))), w);
            return 1;
        case WM_TODAYCUSTOM_CLEARCACHE:
            return 1;
        case WM_TODAYCUSTOM_QUERYREFRESHCACHE: {
            auto* item = reinterpret_cast<TodayListItem*>(wp);
            if (!g_heightPending || !item) return 0;
            g_heightPending = false;
            item->cyp = GetSystemMetrics(SM_CYSMICON) + 8;
            return 1;
        }
        case WM_TODAYCUSTOM_RECEIVEDSELECTION:
            if (!view) return 1;
            if (wp == static_cast<WParam>(VK_LEFT) || wp == static_cast<WParam>(VK_UP)) {
                view->SetSelection(5);
            } else if (wp == static_cast<WParam>(VK_RIGHT) || wp == static_cast<WParam>(VK_DOWN)) {
                view->SetSelection(2);
            } else {
                return 1;
            }
            Repaint(w);
            return 1;
        case WM_TODAYCUSTOM_USERNAVIGATION:
            return view ? OnNavigation(w, wp) : 1;
        case WM_TODAYCUSTOM_ACTION:
            if (view) RunItemAction(view->GetSelection(), w);
            return 1;
        default:
            // The lost selection included: the selection stays as it was.
            return 0;
    }
}

}  // namespace

bool PluginLoad() {
    InstallImageProvider();
    bool ok = ui::AddColorTextAtom();
    SatelliteTable::Instance();
    ok = ui::AddHyperlinkAtom() && ok;
    ui::CreateSettingsControls();
    GetRegisteredMessages();
    if (!g_view) g_view = std::make_unique<ItemView>();

    ControllerServices services = DefaultControllerServices();
    services.editSettings = [](TrackerSettings&, int startPage) {
        return ui::ShowSettingsSheet(g_instance, kNoWindow, startPage);
    };
    services.makeStatusWindow = ui::MakeGpsStatusWindow;
    SetControllerServices(std::move(services));
    return ok;
}

void PluginUnload() {
    if (g_lastItem != kNoWindow && IsWindow(g_lastItem)) DestroyWindow(g_lastItem);
    g_lastItem = kNoWindow;
    g_view.reset();  // its icons with it
    // The registered messages stay registered for the process.
    ui::DestroySettingsControls();
    ui::DeleteHyperlinkAtom();
    // The table itself lives as long as the process; unloading empties it.
    SatelliteTable::Instance().Clear();
    ui::DeleteColorTextAtom();
    g_instance = 0;
    g_heightPending = false;
}

ItemView* GetItemView() { return g_view.get(); }

WindowHandle InitializeCustomItem(TodayListItem* item, WindowHandle parent) {
    if (!item || !item->fEnabled || !g_view) return kNoWindow;
    g_instance = item->hinstDLL;
    // An earlier item may have left the class registered.
    UnregisterWindowClass(kItemWindowClass);
    RegisterWindowClass({kItemWindowClass, CS_HREDRAW | CS_VREDRAW, ItemWindowProc, GetSysColorBrush(kItemBackground)});
    g_heightPending = true;
    const WindowHandle w = CreateWindowEx({kItemWindowClass, kItemWindowClass, WS_CHILD | WS_VISIBLE, parent, 0, {}, 0});
    if (w == kNoWindow) return kNoWindow;
    g_lastItem = w;
    TrackerController* c = TrackerController::Instance();
    if (c && !c->Init(g_instance, w)) {
        DestroyWindow(w);  // the controller goes with it
        return kNoWindow;
    }
    g_view->LoadIcons(g_instance);
    return w;
}

void RunItemAction(uint32_t id, WindowHandle itemWindow) {
    if (!TrackerController::Exists() || !g_view) return;
    TrackerController& c = *TrackerController::Instance();
    switch (id) {
        case 2:
            // A session still connecting has no Tracker bit yet, but it runs: stop it too.
            if ((c.GetState() & kModeTracker) || c.IsSessionRunning()) {
                c.StopServices(kModeTracker, false);
            } else {
                c.StartServices(kModeTracker);
            }
            Repaint(itemWindow);
            break;
        case 3:
            if (!(c.GetState() & kModeLogger)) {
                c.StartServices(kModeLogger);
            } else {
                c.StopServices(kModeLogger, false);
            }
            Repaint(itemWindow);
            break;
        case 4:
            c.EditSettingsAndRestart();
            g_view->SetSelection(0);
            // The frame of the cleared selection must not stay on the screen.
            Repaint(itemWindow);
            break;
        case 5:
            if (c.IsReceiverRunning()) {
                c.ShowGpsStatus();
                g_view->SetSelection(0);
                Repaint(itemWindow);
            }
            break;
        default:
            break;
    }
}

}  // namespace kestrix::today
