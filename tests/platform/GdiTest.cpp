#include "platform/Gdi.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/MessageLoop.h"
#include "platform/Window.h"
#include "SvgElements.h"
#include "WindowFixture.h"

namespace kestrix::platform {
namespace {

// Deleted objects fail every later call; stock objects survive DeleteObject.
TEST(GdiTest, DeletedObjectsAreGoneAndStockObjectsStay) {
    LogFont lf, got;
    std::tie(lf.height, lf.width, lf.weight, lf.faceName) = std::make_tuple(24, 16, 700, "Sans");
    const GdiHandle font = CreateFontIndirect(lf), brush = CreateSolidBrush(Rgb(1, 2, 3));
    const GdiHandle bitmap = CreateCompatibleBitmap(0, 29, 19);
    Colorref color = 0;
    BitmapInfo info;
    ASSERT_TRUE(GetFontInfo(font, got) && GetBrushColor(brush, color) && GetBitmapInfo(bitmap, info));
    EXPECT_EQ(std::make_tuple(got, ColorHex(color), info.width, info.height), std::make_tuple(lf, "#010203", 29, 19));
    EXPECT_FALSE(GetFontInfo(brush, got)) << "a brush is not a font";
    for (GdiHandle h : {font, brush, bitmap}) EXPECT_TRUE(DeleteObject(h));
    EXPECT_FALSE(GetFontInfo(font, got) || GetBrushColor(brush, color) || GetBitmapInfo(bitmap, info));
    EXPECT_FALSE(DeleteObject(font)) << "deleted twice";

    const GdiHandle white = GetStockObject(WHITE_BRUSH);
    for (GdiHandle h : {white, GetStockObject(NULL_PEN), GetStockObject(SYSTEM_FONT), GetSysColorBrush(COLOR_BTNFACE)}) {
        ASSERT_NE(h, 0u);
        EXPECT_TRUE(DeleteObject(h));
    }
    ASSERT_TRUE(GetBrushColor(white, color));
    EXPECT_EQ(color, Rgb(255, 255, 255));
    ASSERT_TRUE(GetBrushColor(GetSysColorBrush(COLOR_BTNFACE), color));
    EXPECT_EQ(color, GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(GetSysColor(COLOR_WINDOW | 0x40000000), Rgb(255, 255, 255));
    EXPECT_EQ(GetSysColorBrush(99), 0u);
}

LogFont Font(int32_t height, int32_t width = 0, int32_t weight = 0) {
    LogFont lf;
    lf.height = height;
    lf.width = width;
    lf.weight = weight;
    return lf;
}

// A DC that draws into a fresh bitmap of its own, deleted with it.
struct MemoryDc {
    explicit MemoryDc(int32_t width = 1, int32_t height = 1)
        : dc(CreateCompatibleDC(0)), bitmap(CreateCompatibleBitmap(dc, width, height)) {
        old = SelectObject(dc, bitmap);
    }
    ~MemoryDc() {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bitmap);
    }
    DcHandle dc;
    GdiHandle bitmap;
    GdiHandle old;
};

// The fixed table gives the same sizes everywhere (Gdi.h states the rules and examples).
TEST(GdiTest, TextIsMeasuredFromTheFontTable) {
    struct Case { LogFont font; const char* text; Size extent; };
    const Case cases[] = {
        {Font(0), "W", {14, 16}},
        {Font(0), "00", {16, 16}},
        {Font(0), "Kestrix", {44, 16}},
        {Font(24, 16, 700), "W", {27, 24}},
        {Font(24, 16, 700), "00", {32, 24}},
        {Font(24, 16, 700), "N", {21, 24}},
        {Font(-12), "Hi", {11, 13}},
        {Font(0, 1, 700), " ", {1, 16}},           // exactly half a pixel rounds up
        {Font(0), "\xc3\xa9\x01", {8, 16}},     // e-acute as wide as a digit, a control character nothing
        {Font(0), "\xff", {8, 16}},             // not UTF-8: measured as U+FFFD
    };
    MemoryDc mem;
    for (const Case& c : cases) {
        const GdiHandle font = CreateFontIndirect(c.font);
        const GdiHandle old = SelectObject(mem.dc, font);
        Size size;
        ASSERT_TRUE(GetTextExtentPoint32(mem.dc, c.text, size));
        EXPECT_EQ(size, c.extent) << c.font.height << "/" << c.font.width << " \"" << c.text << "\"";
        SelectObject(mem.dc, old);
        DeleteObject(font);
    }
    struct MetricCase { LogFont font; TextMetric metric; };
    const MetricCase metrics[] = {
        {Font(0), {16, 13, 3, 7, 15, 400}},
        {Font(24, 16, 700), {24, 19, 5, 16, 28, 700}},
        {Font(-12), {13, 10, 3, 6, 12, 400}},
    };
    for (const MetricCase& c : metrics) {
        const GdiHandle font = CreateFontIndirect(c.font);
        const GdiHandle old = SelectObject(mem.dc, font);
        TextMetric tm;
        ASSERT_TRUE(GetTextMetrics(mem.dc, tm));
        EXPECT_EQ(std::tie(tm.height, tm.ascent, tm.descent, tm.aveCharWidth, tm.maxCharWidth, tm.weight),
                  std::tie(c.metric.height, c.metric.ascent, c.metric.descent, c.metric.aveCharWidth,
                           c.metric.maxCharWidth, c.metric.weight))
            << c.font.height;
        SelectObject(mem.dc, old);
        DeleteObject(font);
    }
}

// Windows whose WM_PAINT runs `draw` between BeginPaint and EndPaint.
struct PaintFixture : test::WindowFixture {
    std::function<void(DcHandle)> draw;
    PaintFixture() {
        onMessage = [this](WindowHandle w, uint32_t msg, WParam, LParam) -> LResult {
            if (msg != WM_PAINT) return 0;
            PaintStruct ps;
            const DcHandle dc = BeginPaint(w, ps);
            if (draw) draw(dc);
            EndPaint(w, ps);
            return 1;
        };
    }
    WindowHandle Window(int32_t width, int32_t height) { return Make(kNoWindow, 0, "probe", WS_POPUP, Rect{0, 0, width, height}); }
    // Paints the window with fn and returns its painting.
    std::string Paint(WindowHandle window, std::function<void(DcHandle)> fn) {
        draw = std::move(fn);
        loop.Send(window, WM_PAINT, 0, 0);
        return GetWindowPainting(window);
    }
};

// A 3-D edge is lines, light above and left, dark below and right (the flat one is the item
// row's selection frame, checked there); a focus rectangle drawn twice is gone.
TEST(GdiTest, EdgesAndFocusRectangles) {
    PaintFixture f;
    const WindowHandle win = f.Window(480, 24);
    const std::string light = ColorHex(GetSysColor(COLOR_BTNHIGHLIGHT)), dark = ColorHex(GetSysColor(COLOR_BTNSHADOW));
    std::string svg = f.Paint(win, [](DcHandle dc) { DrawEdge(dc, Rect{0, 0, 10, 10}, BDR_RAISEDINNER, BF_RECT); });
    EXPECT_EQ(test::SvgShapes(svg, "line", {"x1", "y1", "x2", "y2", "stroke"}),
              (std::vector<std::string>{"0 0.5 9 0.5 " + light, "0.5 0 0.5 9 " + light, "0 9.5 10 9.5 " + dark,
                                        "9.5 0 9.5 10 " + dark}));
    for (size_t draws = 0; draws <= 3; ++draws) {
        svg = f.Paint(win, [&](DcHandle dc) {
            for (size_t i = 0; i < draws; ++i) DrawFocusRect(dc, Rect{2, 2, 40, 20});
        });
        EXPECT_EQ(test::SvgShapes(svg, "rect", {"x", "y", "width", "height"}),
                  std::vector<std::string>(draws % 2, "2.5 2.5 37 17"))
            << draws << " draws";
    }
}

}  // namespace
}  // namespace kestrix::platform
