// A small GDI-like drawing layer whose backend records SVG: drawing objects (fonts, pens,
// brushes, bitmaps, icons), device contexts for windows and for off-screen bitmaps, text
// with metrics from a fixed font table (so drawings are deterministic and tests can compute
// positions), rectangles, ellipses, edges, focus rectangles, block transfers (plain,
// stretched, with a transparent colour), and the system metrics of the emulated screen.
//
// What a window's WM_PAINT drew (BeginPaint .. EndPaint) is kept as that window's painting,
// an SVG document of its client size, which the shell shows. Every icon or bitmap drawn
// carries data-resource="ID" in the SVG so a reader can tell which image is where. Drawing
// through a DC from GetDC outside WM_PAINT is not kept.
//
// Colours are COLORREF values 0x00BBGGRR. Coordinates are pixels. Handles are small
// process-wide numbers (0 = none); an unknown or deleted handle makes a call fail (false,
// 0) and never touches freed memory. Stock objects cannot be deleted (DeleteObject on one
// succeeds and does nothing).
//
// Threads: drawing objects may be created and deleted on any thread; a DC belongs to the
// thread that made it. GetWindowPainting may be called on any thread.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Types.h"

namespace kestrix::platform {

using Colorref = uint32_t;
constexpr Colorref Rgb(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<Colorref>(r) | (static_cast<Colorref>(g) << 8) | (static_cast<Colorref>(b) << 16);
}
constexpr uint8_t RedOf(Colorref c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t GreenOf(Colorref c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t BlueOf(Colorref c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }
// "#rrggbb".
std::string ColorHex(Colorref c);

using GdiHandle = uint32_t;  // font, pen, brush, bitmap or icon
using DcHandle = uint32_t;

// ---- objects ----------------------------------------------------------------------------

struct LogFont {
    int32_t height = 0;   // < 0: character height in pixels; > 0: cell height; 0: default (16)
    int32_t width = 0;    // average character width; 0: from the height
    int32_t escapement = 0;
    int32_t orientation = 0;
    int32_t weight = 0;   // 400 normal, 700 bold; 0 = normal
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    std::string faceName;  // informational: every face is measured with the same table
    bool operator==(const LogFont&) const = default;
};
GdiHandle CreateFontIndirect(const LogFont& font);
// GetObject for a font: false when the handle is not a font.
bool GetFontInfo(GdiHandle font, LogFont& out);

constexpr int PS_SOLID = 0;
constexpr int PS_DASH = 1;
constexpr int PS_NULL = 5;
GdiHandle CreatePen(int style, int width, Colorref color);
GdiHandle CreateSolidBrush(Colorref color);

// Stock objects. SYSTEM_FONT and DEFAULT_GUI_FONT are a regular face of cell height 16.
constexpr int WHITE_BRUSH = 0;
constexpr int LTGRAY_BRUSH = 1;
constexpr int GRAY_BRUSH = 2;
constexpr int DKGRAY_BRUSH = 3;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int NULL_PEN = 8;
constexpr int SYSTEM_FONT = 13;
constexpr int DEFAULT_GUI_FONT = 17;
GdiHandle GetStockObject(int index);

// System colours (the emulated handheld's light theme: white windows and statics, black
// text, button face #ececec, shadow #808080, highlight #ffffff, dark shadow #404040, light
// #d4d4d4, selection #316ac5). Indexes 0..26; the handheld's 0x40000000 flag may be set.
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;
constexpr int COLOR_STATIC = 25;
constexpr int COLOR_STATICTEXT = 26;
// 0 for an unknown index.
Colorref GetSysColor(int index);
// A stock brush of that colour; 0 for an unknown index.
GdiHandle GetSysColorBrush(int index);
// The brush colour, false when the handle is not a brush.
bool GetBrushColor(GdiHandle brush, Colorref& out);

bool DeleteObject(GdiHandle object);

struct BitmapInfo {
    int32_t width = 0;
    int32_t height = 0;
};
bool GetBitmapInfo(GdiHandle bitmap, BitmapInfo& out);

// ---- device contexts --------------------------------------------------------------------

// A DC of the window's client area (drawing through it is not kept). ReleaseDC ends it.
DcHandle GetDC(WindowHandle window);
bool ReleaseDC(WindowHandle window, DcHandle dc);
// A new DC has the black pen, the white brush, the system font, black text, a white
// background colour and OPAQUE mode.
// An off-screen DC; draws into the bitmap selected into it (a 1 x 1 blank bitmap at first).
DcHandle CreateCompatibleDC(DcHandle dc);
bool DeleteDC(DcHandle dc);
// A blank (transparent) bitmap of that size.
GdiHandle CreateCompatibleBitmap(DcHandle dc, int32_t width, int32_t height);

struct PaintStruct {
    DcHandle dc = 0;
    bool erase = false;
    Rect paint;
};
// Starts painting the window: a DC of its client area, after WM_ERASEBKGND (wParam: the DC)
// when the invalidation asked for erasing. EndPaint keeps what was drawn as the window's
// painting and ends the DC.
DcHandle BeginPaint(WindowHandle window, PaintStruct& ps);
bool EndPaint(WindowHandle window, const PaintStruct& ps);

// Selects a font, pen, brush or bitmap (bitmaps into off-screen DCs only) and returns the
// one it replaces; 0 on failure.
GdiHandle SelectObject(DcHandle dc, GdiHandle object);
GdiHandle GetCurrentObject(DcHandle dc, int kind);  // kind: OBJ_PEN, OBJ_BRUSH, OBJ_FONT, OBJ_BITMAP
constexpr int OBJ_PEN = 1;
constexpr int OBJ_BRUSH = 2;
constexpr int OBJ_FONT = 6;
constexpr int OBJ_BITMAP = 7;

// Text colour, background colour and mode; each Set returns the previous value.
Colorref SetTextColor(DcHandle dc, Colorref color);
Colorref GetTextColor(DcHandle dc);
Colorref SetBkColor(DcHandle dc, Colorref color);
Colorref GetBkColor(DcHandle dc);
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
int SetBkMode(DcHandle dc, int mode);  // 0 on failure
int GetBkMode(DcHandle dc);

// ---- drawing ----------------------------------------------------------------------------

bool FillRect(DcHandle dc, const Rect& rect, GdiHandle brush);
// With the selected pen (outline) and brush (fill).
bool Rectangle(DcHandle dc, int32_t left, int32_t top, int32_t right, int32_t bottom);
bool Ellipse(DcHandle dc, int32_t left, int32_t top, int32_t right, int32_t bottom);
bool MoveToEx(DcHandle dc, int32_t x, int32_t y, Point* previous);
bool LineTo(DcHandle dc, int32_t x, int32_t y);

// DrawEdge edges and flags.
constexpr uint32_t BDR_RAISEDOUTER = 0x1;
constexpr uint32_t BDR_SUNKENOUTER = 0x2;
constexpr uint32_t BDR_RAISEDINNER = 0x4;
constexpr uint32_t BDR_SUNKENINNER = 0x8;
constexpr uint32_t EDGE_RAISED = BDR_RAISEDOUTER | BDR_RAISEDINNER;
constexpr uint32_t EDGE_SUNKEN = BDR_SUNKENOUTER | BDR_SUNKENINNER;
constexpr uint32_t BF_LEFT = 0x1;
constexpr uint32_t BF_TOP = 0x2;
constexpr uint32_t BF_RIGHT = 0x4;
constexpr uint32_t BF_BOTTOM = 0x8;
constexpr uint32_t BF_RECT = 0xF;
constexpr uint32_t BF_FLAT = 0x4000;
bool DrawEdge(DcHandle dc, const Rect& rect, uint32_t edge, uint32_t flags);
// Drawn twice at the same place it is gone again (an XOR frame).
bool DrawFocusRect(DcHandle dc, const Rect& rect);

// Text, with the selected font, the text colour, and (OPAQUE mode) the background colour.
struct TextMetric {
    int32_t height = 0;     // tmHeight
    int32_t ascent = 0;
    int32_t descent = 0;
    int32_t aveCharWidth = 0;
    int32_t maxCharWidth = 0;
    int32_t weight = 0;
};
bool GetTextMetrics(DcHandle dc, TextMetric& out);
bool GetTextExtentPoint32(DcHandle dc, std::string_view text, Size& out);
// x, y: the top-left corner of the text's cell.
bool ExtTextOut(DcHandle dc, int32_t x, int32_t y, std::string_view text);
constexpr uint32_t DT_TOP = 0x0;
constexpr uint32_t DT_LEFT = 0x0;
constexpr uint32_t DT_CENTER = 0x1;
constexpr uint32_t DT_RIGHT = 0x2;
constexpr uint32_t DT_VCENTER = 0x4;
constexpr uint32_t DT_BOTTOM = 0x8;
constexpr uint32_t DT_SINGLELINE = 0x20;
constexpr uint32_t DT_NOCLIP = 0x100;
constexpr uint32_t DT_CALCRECT = 0x400;
// One line of text placed in rect by format; DT_CALCRECT only measures (rect's right and
// bottom are set). Returns the text's height, 0 on failure.
int32_t DrawText(DcHandle dc, std::string_view text, Rect& rect, uint32_t format);

constexpr uint32_t SRCCOPY = 0x00CC0020;
// Copies a rectangle of the source DC's bitmap (what was drawn into it) to the target.
bool BitBlt(DcHandle dst, int32_t x, int32_t y, int32_t width, int32_t height, DcHandle src, int32_t srcX,
            int32_t srcY, uint32_t rop);
bool StretchBlt(DcHandle dst, int32_t x, int32_t y, int32_t width, int32_t height, DcHandle src, int32_t srcX,
                int32_t srcY, int32_t srcWidth, int32_t srcHeight, uint32_t rop);
// As StretchBlt, leaving out the pixels of the transparent colour.
bool TransparentImage(DcHandle dst, int32_t x, int32_t y, int32_t width, int32_t height, DcHandle src,
                      int32_t srcX, int32_t srcY, int32_t srcWidth, int32_t srcHeight, Colorref transparent);
// The colour at a point of the DC's bitmap; CLR_INVALID outside it.
constexpr Colorref CLR_INVALID = 0xFFFFFFFF;
Colorref GetPixel(DcHandle dc, int32_t x, int32_t y);

// ---- images -----------------------------------------------------------------------------

// Icons and bitmaps are SVG images. The resources library installs the provider that gives
// each resource id its image: the SVG document, its natural size, and the colour of its
// top-left pixel (what GetPixel reports there, so a transparent colour can be taken from it).
struct ImageResource {
    std::string_view svg;
    int32_t width = 0;
    int32_t height = 0;
    Colorref topLeft = 0;
};
using ImageProvider = const ImageResource* (*)(int resourceId);
void SetImageProvider(ImageProvider provider);

constexpr int IMAGE_BITMAP = 0;
constexpr int IMAGE_ICON = 1;
// An icon or bitmap of a resource at cx x cy pixels (0: its natural size). 0 without an
// instance, for an unknown id, or before a provider is installed.
GdiHandle LoadImage(uintptr_t instance, int resourceId, int type, int32_t cx, int32_t cy);
constexpr uint32_t DI_NORMAL = 0x3;
bool DrawIconEx(DcHandle dc, int32_t x, int32_t y, GdiHandle icon, int32_t cx, int32_t cy, uint32_t flags);
bool DestroyIcon(GdiHandle icon);
// The resource id an icon or bitmap was loaded from (0: none), for tests and the shell.
int ImageResourceId(GdiHandle image);

// ---- the painting the shell shows --------------------------------------------------------

// The SVG of the window's last completed WM_PAINT ("" before its first). Any thread.
std::string GetWindowPainting(WindowHandle window);
// Counts completed paintings of the window (0 before the first). Any thread.
uint64_t GetWindowPaintCount(WindowHandle window);

// ---- system metrics ---------------------------------------------------------------------

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CXSMICON = 49;
constexpr int SM_CYSMICON = 50;
// The emulated screen: 480 x 640 pixels, icons 32, small icons 16.
int32_t GetSystemMetrics(int index);
// For tests: another value for one metric until ResetSystemMetrics. Any thread.
void SetSystemMetric(int index, int32_t value);
void ResetSystemMetrics();

}  // namespace kestrix::platform
