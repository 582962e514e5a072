// The home screen's side of a custom item: the description the home screen keeps of each
// item, the messages it sends to the item window, and the two it answers for the item (its
// background and its text colour).
//
//   item -> home screen (sent to the item window's parent):
//     TODAYM_GETCOLOR       wParam: a TODAYCOLOR_* index; result: the colour (COLORREF)
//     TODAYM_DRAWWATERMARK  lParam: const TodayDrawWatermarkInfo*; the home screen fills
//                           that rectangle of that DC with its background; result 1
//   home screen -> item window:
//     WM_TODAYCUSTOM_CLEARCACHE         wParam: TodayListItem*
//     WM_TODAYCUSTOM_QUERYREFRESHCACHE  wParam: TodayListItem*; the item may set cyp (its
//                                       height in pixels); result 1: size me again
//     WM_TODAYCUSTOM_RECEIVEDSELECTION  wParam: the virtual key that moved the selection here
//     WM_TODAYCUSTOM_LOSTSELECTION      the selection moved elsewhere
//     WM_TODAYCUSTOM_USERNAVIGATION     wParam: the key; result 0: the selection leaves the item
//     WM_TODAYCUSTOM_ACTION             the action key was pressed
//
// Threads: plain data, any thread; the messages are handled on the UI thread.
#pragma once
#include <cstdint>
#include <string>

#include "platform/Gdi.h"
#include "platform/Types.h"

namespace kestrix::platform {

constexpr uint32_t TODAYM_GETCOLOR = WM_USER + 100;        // 0x464
constexpr uint32_t TODAYM_DRAWWATERMARK = WM_USER + 101;   // 0x465
constexpr uint32_t WM_TODAYCUSTOM_CLEARCACHE = WM_USER + 242;         // 0x4F2
constexpr uint32_t WM_TODAYCUSTOM_QUERYREFRESHCACHE = WM_USER + 243;  // 0x4F3
constexpr uint32_t WM_TODAYCUSTOM_RECEIVEDSELECTION = WM_USER + 244;  // 0x4F4
constexpr uint32_t WM_TODAYCUSTOM_LOSTSELECTION = WM_USER + 245;      // 0x4F5
constexpr uint32_t WM_TODAYCUSTOM_USERNAVIGATION = WM_USER + 246;     // 0x4F6
constexpr uint32_t WM_TODAYCUSTOM_ACTION = WM_USER + 247;             // 0x4F7

// TODAYM_GETCOLOR indexes.
constexpr uint32_t TODAYCOLOR_TEXT = 0x10000004;

// What the home screen knows of one item: given to InitializeCustomItem and to the item's
// cache messages.
struct TodayListItem {
    std::string name;
    bool fEnabled = true;      // false: the person switched the item off
    uintptr_t hinstDLL = 0;    // the item library's module instance
    int32_t cyp = 0;           // the item's height in pixels, set by the item
};

struct TodayDrawWatermarkInfo {
    DcHandle hdc = 0;
    Rect rc;                   // in the item window's client coordinates
    WindowHandle hwnd = kNoWindow;  // the item window
};

}  // namespace kestrix::platform
