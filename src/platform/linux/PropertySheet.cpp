// Property sheets: a modal dialog whose client area shows one page at a time; each page
// is a child dialog created the first time it is shown.
#include "platform/Dialog.h"

#include "platform/linux/WindowTable.h"

namespace kestrix::platform {

namespace internal {

struct SheetState {
    std::vector<PropSheetPage> pages;  // never resized: a page's WM_INITDIALOG keeps a pointer
    std::vector<WindowHandle> windows;
    int current = -1;
};

}  // namespace internal

namespace {

using internal::DialogState;
using internal::SheetState;

std::shared_ptr<SheetState> SheetOf(WindowHandle sheet) {
    auto state = internal::DialogOf(sheet);
    return state ? state->sheetState : nullptr;
}

LResult NotifyPage(WindowHandle sheet, WindowHandle page, uint32_t code) {
    if (!IsWindow(page)) return 0;
    NmHdr hdr;
    hdr.hwndFrom = sheet;
    hdr.idFrom = 0;
    hdr.code = code;
    return SendMessage(page, WM_NOTIFY, 0, reinterpret_cast<LParam>(&hdr));
}

// The page's window, created (hidden) when it does not exist yet.
WindowHandle EnsurePage(WindowHandle sheet, int index) {
    auto sheetState = SheetOf(sheet);
    if (!sheetState) return kNoWindow;
    const auto i = static_cast<size_t>(index);
    if (IsWindow(sheetState->windows[i])) return sheetState->windows[i];
    PropSheetPage& page = sheetState->pages[i];
    auto state = std::make_shared<DialogState>();
    state->dlgProc = MakeWndProc(page.proc);
    state->sheet = sheet;
    const WindowHandle window =
        internal::CreateDialogWindow(*page.dialogTemplate, sheet, true, state, reinterpret_cast<LParam>(&page));
    // The page's WM_INITDIALOG may have ended the sheet or changed its state.
    if (auto again = SheetOf(sheet)) again->windows[i] = window;
    return window;
}

// Shows a page: creates it, asks it with PSN_SETACTIVE (-1 refuses), then swaps it in.
bool ActivatePage(WindowHandle sheet, int index) {
    const WindowHandle page = EnsurePage(sheet, index);
    if (page == kNoWindow || NotifyPage(sheet, page, PSN_SETACTIVE) == -1) return false;
    auto sheetState = SheetOf(sheet);
    if (!sheetState || !IsWindow(page)) return false;
    const int old = sheetState->current;
    if (old >= 0 && old != index) ShowWindow(sheetState->windows[static_cast<size_t>(old)], SW_HIDE);
    sheetState->current = index;
    ShowWindow(page, SW_SHOW);
    NotifyWindowChanged();
    return true;
}

// The sheet's own dialog procedure: its Done and Cancel commands.
LResult SheetProc(WindowHandle sheet, uint32_t msg, WParam w, LParam) {
    if (msg != WM_COMMAND) return 0;
    if (LoWord(w) == IDOK) {
        internal::SheetDone(sheet);
        return 1;
    }
    if (LoWord(w) == IDCANCEL) {
        internal::SheetCancel(sheet);
        return 1;
    }
    return 0;
}

bool Creatable(const PropSheetHeader& header) {
    if (header.pages.empty()) return false;
    for (const PropSheetPage& page : header.pages) {
        if (!page.dialogTemplate || !page.proc || (page.instance == 0 && header.instance == 0)) return false;
    }
    return true;
}

}  // namespace

namespace internal {

bool SheetSelectPage(WindowHandle sheet, int index) {
    auto sheetState = SheetOf(sheet);
    if (!sheetState || index < 0 || index >= static_cast<int>(sheetState->pages.size())) return false;
    const int current = sheetState->current;
    if (current == index) return true;
    if (current >= 0 && NotifyPage(sheet, sheetState->windows[static_cast<size_t>(current)], PSN_KILLACTIVE) != 0)
        return false;
    return ActivatePage(sheet, index);
}

bool SheetDone(WindowHandle sheet) {
    auto sheetState = SheetOf(sheet);
    auto state = DialogOf(sheet);
    if (!sheetState || !state || state->ended) return false;
    if (sheetState->current >= 0 &&
        NotifyPage(sheet, sheetState->windows[static_cast<size_t>(sheetState->current)], PSN_KILLACTIVE) != 0) {
        return false;
    }
    // Pages never shown were never created: they have nothing to apply.
    const std::vector<WindowHandle> pages = sheetState->windows;
    for (WindowHandle page : pages) {
        if (NotifyPage(sheet, page, PSN_APPLY) == PSNRET_INVALID_NOCHANGEPAGE) return false;
    }
    if (!IsWindow(sheet)) return false;
    EndModal(*state, 1);
    return true;
}

bool SheetCancel(WindowHandle sheet) {
    auto sheetState = SheetOf(sheet);
    auto state = DialogOf(sheet);
    if (!sheetState || !state || state->ended) return false;
    const std::vector<WindowHandle> pages = sheetState->windows;
    for (WindowHandle page : pages) NotifyPage(sheet, page, PSN_RESET);
    if (IsWindow(sheet)) EndModal(*state, 0);
    return true;
}

std::vector<std::string> SheetPageTitles(WindowHandle sheet) {
    std::vector<std::string> titles;
    if (auto sheetState = SheetOf(sheet)) {
        for (const PropSheetPage& page : sheetState->pages) {
            titles.push_back((page.flags & PSP_USETITLE) ? page.title : page.dialogTemplate->caption);
        }
    }
    return titles;
}

}  // namespace internal

int PropertySheet(const PropSheetHeader& header) {
    if (!Creatable(header) || !MessageLoop::Current()) return -1;
    if (header.owner != kNoWindow && !IsWindow(header.owner)) return -1;
    const bool callback = (header.flags & PSH_USECALLBACK) && header.callback;
    if (callback) header.callback(kNoWindow, PSCB_PRECREATE, 0);

    // The sheet is as large as its largest page, or the whole screen when maximised.
    DialogTemplate frame;
    frame.caption = header.caption;
    for (const PropSheetPage& page : header.pages) {
        frame.cx = std::max(frame.cx, page.dialogTemplate->cx);
        frame.cy = std::max(frame.cy, page.dialogTemplate->cy);
    }
    auto sheetState = std::make_shared<SheetState>();
    sheetState->pages = header.pages;
    sheetState->windows.assign(header.pages.size(), kNoWindow);
    auto state = std::make_shared<DialogState>();
    state->dlgProc = MakeWndProc(SheetProc);
    state->modal = true;
    state->sheetState = sheetState;
    const WindowHandle sheet = internal::CreateDialogWindow(frame, header.owner, false, state, 0);
    if (sheet == kNoWindow) return -1;
    if (header.flags & PSH_MAXIMIZE) {
        MoveWindow(sheet, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), false);
    }
    const WindowHandle top = internal::TopLevelOf(header.owner);
    if (top != kNoWindow && IsWindowEnabled(top)) {
        EnableWindow(top, false);
        state->disabledOwner = top;
    }
    if (callback) {
        header.callback(sheet, PSCB_INITIALIZED, 0);
        header.callback(sheet, WM_INITDIALOG, 0);
    }
    // The start page, or the first page after it that agrees to be shown; when every page
    // refuses, the start page is shown all the same.
    const int count = static_cast<int>(header.pages.size());
    const int start = header.startPage >= 0 && header.startPage < count ? header.startPage : 0;
    bool shown = false;
    for (int n = 0; n < count && !shown && IsWindow(sheet) && !state->ended; ++n) {
        shown = ActivatePage(sheet, (start + n) % count);
    }
    if (!shown && IsWindow(sheet) && !state->ended) {
        const WindowHandle page = EnsurePage(sheet, start);
        if (page != kNoWindow) {
            sheetState->current = start;
            ShowWindow(page, SW_SHOW);
        }
    }
    ShowWindow(sheet, SW_SHOW);
    return internal::RunModal(sheet, state, [sheet] { internal::SheetCancel(sheet); }, 0);
}

bool IsPropertySheet(WindowHandle window) { return SheetOf(window) != nullptr; }

WindowHandle SheetPageWindow(WindowHandle sheet, int index) {
    auto sheetState = SheetOf(sheet);
    if (!sheetState || index < 0 || index >= static_cast<int>(sheetState->windows.size())) return kNoWindow;
    const WindowHandle page = sheetState->windows[static_cast<size_t>(index)];
    return IsWindow(page) ? page : kNoWindow;
}

int SheetCurrentPage(WindowHandle sheet) {
    auto sheetState = SheetOf(sheet);
    return sheetState ? sheetState->current : -1;
}

}  // namespace kestrix::platform
