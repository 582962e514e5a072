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
// The SVG. A painting is <svg xmlns width height viewBox="0 0 W H" font-family xml:space>
// holding a flat list of shapes in client pixels, in drawing order:
//   FillRect          <rect x y width height fill>, exactly the pixels [left, right) x [top, bottom)
//   Rectangle         <rect ... fill stroke [stroke-width]>: the pen's outline lies inside the
//                     box (a 1-pixel pen of Rectangle(0, 0, 10, 10) is x="0.5" width="9"); a null
//                     pen or brush gives no stroke or fill="none"; PS_DASH adds stroke-dasharray
//   Ellipse           <ellipse cx cy rx ry fill stroke>, the outline inside the box likewise
//   DrawEdge          flat and all four sides: one <rect fill="none" stroke> per band, the first
//                     COLOR_BTNSHADOW, a second COLOR_BTNFACE (BDR_RAISEDINNER | BF_RECT | BF_FLAT
//                     of {10, 0, 30, 24} is x="10.5" y="0.5" width="19" height="23" stroke="#808080");
//                     otherwise <line>s, left and top sides in the band's light colour, then right
//                     and bottom in its dark one (raised outer COLOR_3DLIGHT / COLOR_3DDKSHADOW,
//                     raised inner COLOR_BTNHIGHLIGHT / COLOR_BTNSHADOW, sunken the other way round)
//   DrawFocusRect     <rect fill="none" stroke="#000000" stroke-dasharray="1">, inside the box
//   text              <text x y font-size [font-weight="bold"] [font-style] [text-decoration] fill
//                     textLength lengthAdjust="spacingAndGlyphs">: x is the cell's left edge, y its
//                     baseline (cell top + ascent), font-size the font's size, textLength the
//                     measured width; OPAQUE mode puts a <rect> of the background colour, the
//                     cell's size, before it
//   DrawIconEx        <image x y width height preserveAspectRatio="none" data-resource="ID"
//                     href="data:image/svg+xml;base64,...">
// A block transfer copies the source bitmap's shapes into the target moved and scaled to where
// they land, so positions read directly; a shape reaching past the copied rectangle (or past a
// DrawText rectangle) is wrapped in <svg x y width height viewBox="x y width height">, which
// clips it. TransparentImage leaves out the fills, outlines and text of the transparent colour.
// A bitmap from LoadImage is a background <rect> of its top-left colour under its <image>, so a
// StretchBlt of it followed by TransparentImage keyed on GetPixel(0, 0) shows only the image.
// Numbers are integers or have at most two decimals. A shape that a later opaque rectangle
// hides entirely is dropped, so a bitmap filled and drawn again does not grow; a window's
// painting holds its last WM_PAINT only.
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

// System colours (a light theme: white windows and statics, black text, button face
// #ececec, shadow #808080, highlight #ffffff, dark shadow #404040, light #d4d4d4,
// selection #316ac5). Indexes 0..26, with or without the system-colour flag 0x40000000.
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

// False for an icon (DestroyIcon frees those). An object deleted while selected into a DC
// keeps drawing there until it is replaced.
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

// Selects a font, pen, brush or bitmap (bitmaps into off-screen DCs only, one DC at a time)
// and returns the one it replaces; 0 on failure.
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
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
int SetBkMode(DcHandle dc, int mode);  // 0 on failure

// ---- drawing ----------------------------------------------------------------------------

bool FillRect(DcHandle dc, const Rect& rect, GdiHandle brush);
// With the selected pen (outline) and brush (fill).
bool Rectangle(DcHandle dc, int32_t left, int32_t top, int32_t right, int32_t bottom);
bool Ellipse(DcHandle dc, int32_t left, int32_t top, int32_t right, int32_t bottom);

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
//
// Metrics come from a fixed table, the same on every machine. A font's cell height H is
// LogFont::height when positive, 16 when 0, and round(-height / 0.9) when negative; its size
// (SVG font-size) is 0.9 H, or -height when negative. Ascent = round(0.8 H), descent = H -
// ascent. Weight 600 and above is bold. Each character of U+0020..U+007E has a width in
// thousandths of the size (the widths of Helvetica and Arial: regular "W" 944, "0".."9" 556,
// "x" 500, space 278, "i" 222; bold "W" 944, digits 556, "x" 556; the whole table is in
// linux/FontTable.cpp); any other character is 556 wide and control characters 0. A text's
// width is the sum of its characters' widths times size / 1000, rounded to whole pixels once
// at the end (half up); with LogFont::width > 0 it is instead the sum times width / (the
// width of "x"), so "x" is exactly that wide. aveCharWidth is the width of "x", maxCharWidth
// that of the widest character. Examples: the default font (H 16, size 14.4) measures "W" as
// 14 x 16 and "00" as 16 x 16; bold, height 24, width 16 measures "W" as 27 x 24 (ascent 19)
// and "00" as 32 x 24.
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
// The colour at a point of the DC's bitmap, as far as its shapes tell it: the topmost shape
// at the pixel whose colour there is known (a rectangle's fill or outline, an ellipse's, a
// horizontal or vertical line's, a loaded bitmap's top-left pixel, and its background under
// every other pixel); text, slanted lines, focus rectangles and the inside of icons are looked
// through. A pixel nothing known covers reads black (0). CLR_INVALID outside the bitmap.
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
