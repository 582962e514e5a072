#include "platform/Gdi.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <thread>
#include <vector>

namespace kestrix::platform {
namespace {

// Deleted objects fail every later call; stock objects survive DeleteObject.
TEST(GdiTest, DeletedObjectsAreGoneAndStockObjectsStay) {
    LogFont lf;
    lf.height = 24;
    lf.width = 16;
    lf.weight = 700;
    lf.faceName = "Sans";
    const GdiHandle font = CreateFontIndirect(lf);
    const GdiHandle brush = CreateSolidBrush(Rgb(1, 2, 3));
    const GdiHandle bitmap = CreateCompatibleBitmap(0, 29, 19);
    LogFont got;
    Colorref color = 0;
    BitmapInfo info;
    ASSERT_TRUE(GetFontInfo(font, got));
    EXPECT_EQ(got, lf);
    ASSERT_TRUE(GetBrushColor(brush, color));
    EXPECT_EQ(ColorHex(color), "#010203");
    ASSERT_TRUE(GetBitmapInfo(bitmap, info));
    EXPECT_EQ(info.width * 100 + info.height, 2919);
    EXPECT_FALSE(GetFontInfo(brush, got)) << "a brush is not a font";

    for (GdiHandle h : {font, brush, bitmap}) EXPECT_TRUE(DeleteObject(h));
    EXPECT_FALSE(GetFontInfo(font, got));
    EXPECT_FALSE(GetBrushColor(brush, color));
    EXPECT_FALSE(GetBitmapInfo(bitmap, info));
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

// SelectObject hands back what it replaced, per kind; a bitmap goes into one memory DC at a
// time and never into a window DC; attributes return their previous values.
TEST(GdiTest, DeviceContextsSwapObjectsAndAttributes) {
    const DcHandle screen = GetDC(kNoWindow);
    const DcHandle mem = CreateCompatibleDC(screen);
    const DcHandle other = CreateCompatibleDC(screen);
    ASSERT_NE(screen, 0u);
    ASSERT_NE(mem, 0u);
    const GdiHandle pen = CreatePen(PS_SOLID, 1, Rgb(0, 0, 255));
    const GdiHandle bitmap = CreateCompatibleBitmap(mem, 10, 10);
    EXPECT_EQ(SelectObject(mem, pen), GetStockObject(BLACK_PEN));
    EXPECT_EQ(GetCurrentObject(mem, OBJ_PEN), pen);
    EXPECT_EQ(GetCurrentObject(mem, OBJ_FONT), GetStockObject(SYSTEM_FONT));
    const GdiHandle blank = SelectObject(mem, bitmap);
    EXPECT_NE(blank, 0u);
    EXPECT_EQ(SelectObject(other, bitmap), 0u) << "already selected into another DC";
    EXPECT_EQ(SelectObject(screen, bitmap), 0u) << "window DCs take no bitmap";
    EXPECT_EQ(SelectObject(mem, blank), bitmap);
    EXPECT_EQ(SelectObject(other, bitmap), blank) << "free again once deselected";

    EXPECT_EQ(SetTextColor(mem, Rgb(255, 0, 0)), Rgb(0, 0, 0));
    EXPECT_EQ(GetTextColor(mem), Rgb(255, 0, 0));
    EXPECT_EQ(SetBkColor(mem, 0), Rgb(255, 255, 255));
    EXPECT_EQ(SetBkMode(mem, TRANSPARENT), OPAQUE);
    EXPECT_EQ(GetBkMode(mem), TRANSPARENT);
    EXPECT_EQ(SetBkMode(mem, 7), 0);

    EXPECT_FALSE(DeleteDC(screen)) << "a window DC is released, not deleted";
    EXPECT_TRUE(ReleaseDC(kNoWindow, screen));
    for (DcHandle dc : {mem, other}) EXPECT_TRUE(DeleteDC(dc));
    EXPECT_EQ(GetTextColor(mem), CLR_INVALID);
    EXPECT_EQ(SelectObject(mem, pen), 0u);
    EXPECT_EQ(CreateCompatibleDC(mem), 0u);
    DeleteObject(pen);
    DeleteObject(bitmap);
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
    struct Case {
        LogFont font;
        const char* text;
        Size extent;
    };
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
    struct MetricCase {
        LogFont font;
        TextMetric metric;
    };
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

// GetPixel reads the topmost shape whose colour at the pixel is known, looks through text,
// and reads black where nothing was drawn.
TEST(GdiTest, PixelsReadTheTopmostKnownShape) {
    MemoryDc mem(40, 30);
    EXPECT_EQ(GetPixel(mem.dc, 5, 5), Rgb(0, 0, 0)) << "blank";
    const GdiHandle red = CreateSolidBrush(Rgb(255, 0, 0));
    const GdiHandle green = CreateSolidBrush(Rgb(0, 255, 0));
    const GdiHandle yellow = CreateSolidBrush(Rgb(255, 255, 0));
    const GdiHandle blue = CreatePen(PS_SOLID, 1, Rgb(0, 0, 255));
    FillRect(mem.dc, Rect{0, 0, 40, 30}, red);
    SelectObject(mem.dc, blue);
    SelectObject(mem.dc, green);
    Rectangle(mem.dc, 10, 10, 20, 20);
    SelectObject(mem.dc, GetStockObject(NULL_PEN));
    SelectObject(mem.dc, yellow);
    Ellipse(mem.dc, 20, 0, 40, 20);
    SetBkMode(mem.dc, TRANSPARENT);
    SetTextColor(mem.dc, Rgb(9, 9, 9));
    ExtTextOut(mem.dc, 0, 20, "WWW");
    struct Case {
        int32_t x, y;
        Colorref color;
    };
    const Case cases[] = {
        {10, 10, Rgb(0, 0, 255)}, {19, 15, Rgb(0, 0, 255)}, {15, 15, Rgb(0, 255, 0)}, {9, 9, Rgb(255, 0, 0)},
        {30, 10, Rgb(255, 255, 0)}, {20, 0, Rgb(255, 0, 0)}, {2, 25, Rgb(255, 0, 0)},
        {40, 0, CLR_INVALID}, {0, -1, CLR_INVALID},
    };
    for (const Case& c : cases) EXPECT_EQ(GetPixel(mem.dc, c.x, c.y), c.color) << c.x << "," << c.y;
    SelectObject(mem.dc, GetStockObject(BLACK_PEN));
    SelectObject(mem.dc, GetStockObject(WHITE_BRUSH));
    for (GdiHandle h : {red, green, yellow, blue}) DeleteObject(h);
}

// Objects made and deleted on several threads at once get distinct handles and keep their
// own attributes.
TEST(GdiTest, ObjectsAreMadeSafelyOnManyThreads) {
    constexpr int kThreads = 4, kEach = 300;
    std::vector<std::vector<GdiHandle>> made(kThreads);
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &made, &wrong] {
            for (int i = 0; i < kEach; ++i) {
                LogFont lf;
                lf.height = t * 1000 + i;
                const GdiHandle font = CreateFontIndirect(lf);
                const GdiHandle brush = CreateSolidBrush(static_cast<Colorref>(t * 1000 + i));
                DeleteObject(brush);
                LogFont got;
                if (!GetFontInfo(font, got) || got.height != lf.height) ++wrong[t];
                made[t].push_back(font);
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<GdiHandle> all;
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(wrong[t], 0) << "thread " << t;
        for (GdiHandle h : made[t]) {
            all.insert(h);
            DeleteObject(h);
        }
    }
    EXPECT_EQ(all.size(), size_t{kThreads * kEach});
}

}  // namespace
}  // namespace kestrix::platform
