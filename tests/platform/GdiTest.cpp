#include "platform/Gdi.h"

#include <gtest/gtest.h>

#include <set>
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
