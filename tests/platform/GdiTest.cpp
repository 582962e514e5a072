#include "platform/Gdi.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/MessageLoop.h"
#include "platform/Window.h"
#include "WindowFixture.h"

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

using Attributes = std::map<std::string, std::string>;

// The attributes of every element with this tag, in document order.
std::vector<Attributes> Elements(const std::string& svg, const std::string& tag) {
    std::vector<Attributes> out;
    const std::regex element("<" + tag + "\\b([^>]*)>"), attribute("([\\w:-]+)=\"([^\"]*)\"");
    for (std::sregex_iterator it(svg.begin(), svg.end(), element), end; it != end; ++it) {
        const std::string body = (*it)[1].str();
        Attributes a;
        for (std::sregex_iterator at(body.begin(), body.end(), attribute); at != end; ++at) a[(*at)[1]] = (*at)[2];
        out.push_back(std::move(a));
    }
    return out;
}

std::string Attr(const Attributes& a, const std::string& name) {
    auto it = a.find(name);
    return it == a.end() ? "<none>" : it->second;
}

std::string Where(const Attributes& a) {
    return Attr(a, "x") + "," + Attr(a, "y") + " " + Attr(a, "width") + "x" + Attr(a, "height");
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

// Test images: a 29 x 19 gauge whose top-left pixel is magenta, and a 16 x 16 icon.
const ImageResource* TestImages(int id) {
    static const ImageResource gauge{R"(<svg xmlns="http://www.w3.org/2000/svg" width="29" height="19"/>)", 29, 19,
                                     Rgb(255, 0, 255)};
    static const ImageResource icon{R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16"/>)", 16, 16, 0};
    return id == 117 ? &gauge : id == 101 ? &icon : nullptr;
}

// What an off-screen bitmap holds lands in the window where the copy puts it: moved,
// scaled, and cut to the copied rectangle and to the source bitmap.
TEST(GdiTest, BlitsLandWhereTheyAreCopied) {
    struct Case {
        const char* name;
        std::function<bool(DcHandle dst, DcHandle src)> copy;
        const char* where;
    };
    const Case cases[] = {
        {"moved", [](DcHandle d, DcHandle s) { return BitBlt(d, 200, 0, 100, 50, s, 0, 0, SRCCOPY); }, "210,10 20x10"},
        {"from inside", [](DcHandle d, DcHandle s) { return BitBlt(d, 0, 0, 100, 50, s, 5, 5, SRCCOPY); }, "5,5 20x10"},
        {"stretched", [](DcHandle d, DcHandle s) { return StretchBlt(d, 0, 0, 200, 25, s, 0, 0, 100, 50, SRCCOPY); },
         "20,5 40x5"},
        {"cut to the copy", [](DcHandle d, DcHandle s) { return BitBlt(d, 0, 0, 20, 15, s, 0, 0, SRCCOPY); }, "10,10 10x5"},
        {"past the source", [](DcHandle d, DcHandle s) { return BitBlt(d, 0, 0, 300, 24, s, -10, 0, SRCCOPY); },
         "20,10 20x10"},
    };
    PaintFixture f;
    const WindowHandle win = f.Window(480, 24);
    MemoryDc src(100, 50);
    const GdiHandle red = CreateSolidBrush(Rgb(255, 0, 0));
    FillRect(src.dc, Rect{10, 10, 30, 20}, red);
    for (const Case& c : cases) {
        bool copied = false;
        const std::string svg = f.Paint(win, [&](DcHandle dc) { copied = c.copy(dc, src.dc); });
        EXPECT_TRUE(copied) << c.name;
        const auto rects = Elements(svg, "rect");
        ASSERT_EQ(rects.size(), 1u) << c.name << "\n" << svg;
        EXPECT_EQ(Where(rects[0]), c.where) << c.name;
        EXPECT_EQ(Attr(rects[0], "fill"), "#ff0000") << c.name;
    }
    DeleteObject(red);
}

// The gauge: a loaded bitmap stretched into a bitmap of the box's size, then copied keyed on
// that bitmap's top-left pixel, leaves only the image; a plain copy keeps its background.
TEST(GdiTest, StretchedBitmapIsKeyedOnItsTopLeftPixel) {
    SetImageProvider(TestImages);
    PaintFixture f;
    const WindowHandle win = f.Window(480, 24);
    const GdiHandle gauge = LoadImage(1, 117, IMAGE_BITMAP, 0, 0);
    MemoryDc source;
    SelectObject(source.dc, gauge);
    MemoryDc stretched(24, 16);
    ASSERT_TRUE(StretchBlt(stretched.dc, 0, 0, 24, 16, source.dc, 0, 0, 29, 19, SRCCOPY));
    const Colorref key = GetPixel(stretched.dc, 0, 0);
    EXPECT_EQ(key, Rgb(255, 0, 255));
    for (bool keyed : {true, false}) {
        const std::string svg = f.Paint(win, [&](DcHandle dc) {
            if (keyed) TransparentImage(dc, 452, 4, 24, 16, stretched.dc, 0, 0, 24, 16, key);
            else BitBlt(dc, 452, 4, 24, 16, stretched.dc, 0, 0, SRCCOPY);
        });
        const auto images = Elements(svg, "image");
        ASSERT_EQ(images.size(), 1u) << svg;
        EXPECT_EQ(Where(images[0]), "452,4 24x16");
        EXPECT_EQ(Attr(images[0], "data-resource"), "117");
        const auto rects = Elements(svg, "rect");
        ASSERT_EQ(rects.size(), keyed ? 0u : 1u) << svg;
        if (!keyed) {
            EXPECT_EQ(Attr(rects[0], "fill"), "#ff00ff");
        }
    }
    SelectObject(source.dc, source.old);
    DeleteObject(gauge);
    SetImageProvider(nullptr);
}

// An icon is an <image> carrying its resource id and its SVG, at the size asked for or its
// own.
TEST(GdiTest, IconsCarryTheirResource) {
    SetImageProvider(TestImages);
    PaintFixture f;
    const WindowHandle win = f.Window(480, 24);
    const GdiHandle icon = LoadImage(1, 101, IMAGE_ICON, 0, 0);
    EXPECT_EQ(ImageResourceId(icon), 101);
    EXPECT_EQ(LoadImage(0, 101, IMAGE_ICON, 0, 0), 0u) << "no instance";
    const std::string svg = f.Paint(win, [&](DcHandle dc) {
        DrawIconEx(dc, 4, 4, icon, 16, 16, DI_NORMAL);
        DrawIconEx(dc, 40, 2, icon, 0, 0, DI_NORMAL);
        DrawIconEx(dc, 60, 2, icon, 32, 20, DI_NORMAL);
    });
    const auto images = Elements(svg, "image");
    ASSERT_EQ(images.size(), 3u) << svg;
    const char* where[] = {"4,4 16x16", "40,2 16x16", "60,2 32x20"};
    for (size_t i = 0; i < images.size(); ++i) {
        EXPECT_EQ(Where(images[i]), where[i]);
        EXPECT_EQ(Attr(images[i], "data-resource"), "101");
        // "<svg xmlns" in base64.
        EXPECT_EQ(Attr(images[i], "href").rfind("data:image/svg+xml;base64,PHN2ZyB4bWxucz", 0), 0u) << Attr(images[i], "href");
    }
    EXPECT_TRUE(DestroyIcon(icon));
    EXPECT_FALSE(DestroyIcon(icon));
    SetImageProvider(nullptr);
}

// The flat selection frame is one shadow-coloured outline inside the rectangle; a 3-D edge is
// lines, light above and left, dark below and right; a focus rectangle drawn twice is gone.
TEST(GdiTest, EdgesAndFocusRectangles) {
    PaintFixture f;
    const WindowHandle win = f.Window(480, 24);
    std::string svg = f.Paint(win, [](DcHandle dc) { DrawEdge(dc, Rect{10, 0, 30, 24}, BDR_RAISEDINNER, BF_RECT | BF_FLAT); });
    auto rects = Elements(svg, "rect");
    ASSERT_EQ(rects.size(), 1u) << svg;
    EXPECT_EQ(Where(rects[0]), "10.5,0.5 19x23");
    EXPECT_EQ(Attr(rects[0], "stroke"), ColorHex(GetSysColor(COLOR_BTNSHADOW)));
    EXPECT_EQ(Attr(rects[0], "fill"), "none");

    svg = f.Paint(win, [](DcHandle dc) { DrawEdge(dc, Rect{0, 0, 10, 10}, BDR_RAISEDINNER, BF_RECT); });
    std::vector<std::string> lines;
    for (auto& l : Elements(svg, "line")) lines.push_back(Attr(l, "x1") + "," + Attr(l, "y1") + "-" + Attr(l, "x2") + "," + Attr(l, "y2") + " " + Attr(l, "stroke"));
    const std::string light = ColorHex(GetSysColor(COLOR_BTNHIGHLIGHT)), dark = ColorHex(GetSysColor(COLOR_BTNSHADOW));
    EXPECT_EQ(lines, (std::vector<std::string>{"0,0.5-9,0.5 " + light, "0.5,0-0.5,9 " + light, "0,9.5-10,9.5 " + dark,
                                               "9.5,0-9.5,10 " + dark}));

    for (int draws = 0; draws <= 3; ++draws) {
        svg = f.Paint(win, [&](DcHandle dc) {
            for (int i = 0; i < draws; ++i) DrawFocusRect(dc, Rect{2, 2, 40, 20});
        });
        rects = Elements(svg, "rect");
        ASSERT_EQ(rects.size(), static_cast<size_t>(draws % 2)) << draws << " draws\n" << svg;
        if (!rects.empty()) {
            EXPECT_EQ(Where(rects[0]), "2.5,2.5 37x17");
        }
    }
}

// Text lands where its format places it (cell top-left, baseline = top + ascent 13 for the
// default font; "Kestrix" is 44 x 16), is escaped, and stands on its background when opaque.
TEST(GdiTest, TextLandsWhereItsFormatPlacesIt) {
    struct Case {
        uint32_t format;
        const char* x;
        const char* y;
    };
    const Case cases[] = {
        {DT_LEFT, "0", "13"},
        {DT_CENTER, "28", "13"},
        {DT_RIGHT, "56", "13"},
        {DT_CENTER | DT_VCENTER | DT_SINGLELINE, "28", "17"},
        {DT_BOTTOM | DT_SINGLELINE, "0", "21"},
        {DT_VCENTER, "0", "13"},  // vertical placement needs a single line
    };
    PaintFixture f;
    const WindowHandle win = f.Window(100, 24);
    for (const Case& c : cases) {
        const std::string svg = f.Paint(win, [&](DcHandle dc) {
            SetBkMode(dc, TRANSPARENT);
            Rect r{0, 0, 100, 24};
            DrawText(dc, "Kestrix", r, c.format);
        });
        const auto texts = Elements(svg, "text");
        ASSERT_EQ(texts.size(), 1u) << svg;
        EXPECT_EQ(Attr(texts[0], "x") + "," + Attr(texts[0], "y"), std::string(c.x) + "," + c.y) << c.format;
        EXPECT_EQ(Attr(texts[0], "textLength"), "44");
        EXPECT_EQ(Attr(texts[0], "font-size"), "14.4");
    }
    Rect measured{5, 5, 6, 6};
    const std::string svg = f.Paint(win, [&](DcHandle dc) {
        SetTextColor(dc, Rgb(0, 0, 255));
        SetBkColor(dc, Rgb(255, 255, 0));
        EXPECT_EQ(DrawText(dc, "Kestrix", measured, DT_CALCRECT), 16);
        ExtTextOut(dc, 2, 3, "a<b&c");
    });
    EXPECT_EQ(measured, (Rect{5, 5, 49, 21}));
    EXPECT_NE(svg.find(">a&lt;b&amp;c</text>"), std::string::npos) << svg;
    const auto rects = Elements(svg, "rect");
    ASSERT_EQ(rects.size(), 1u) << "only ExtTextOut drew, on its opaque background\n" << svg;
    EXPECT_EQ(Attr(rects[0], "fill"), "#ffff00");
    EXPECT_EQ(Attr(Elements(svg, "text").at(0), "fill"), "#0000ff");
}

// Each paint replaces the window's painting, and a bitmap filled and drawn again every time
// does not grow: the hundredth painting is the first one.
TEST(GdiTest, PaintingIsReplacedByTheNextPaint) {
    PaintFixture f;
    const WindowHandle win = f.Window(200, 100);
    MemoryDc buffer(200, 100);
    auto draw = [&](DcHandle dc) {
        FillRect(buffer.dc, Rect{0, 0, 200, 100}, GetStockObject(WHITE_BRUSH));
        Ellipse(buffer.dc, 10, 10, 90, 90);
        ExtTextOut(buffer.dc, 100, 10, "N");
        BitBlt(dc, 0, 0, 200, 100, buffer.dc, 0, 0, SRCCOPY);
    };
    EXPECT_EQ(GetWindowPaintCount(win), 0u);
    const std::string first = f.Paint(win, draw);
    std::string last;
    for (int i = 0; i < 99; ++i) last = f.Paint(win, draw);
    EXPECT_EQ(last, first);
    EXPECT_EQ(GetWindowPaintCount(win), 100u);
    EXPECT_EQ(Attr(Elements(first, "svg").at(0), "viewBox"), "0 0 200 100");
    f.loop.DestroyWindow(win);
    EXPECT_EQ(GetWindowPainting(win), "");
    EXPECT_EQ(GetWindowPaintCount(win), 0u);
}

// BeginPaint has the window erase through the paint DC when its invalidation asked for it;
// what it erased with is in the painting.
TEST(GdiTest, PaintingErasesWhenAsked) {
    PaintFixture f;
    const WindowHandle win = f.Window(50, 20);
    auto paint = f.onMessage;
    f.onMessage = [&](WindowHandle w, uint32_t msg, WParam wp, LParam lp) -> LResult {
        if (msg != WM_ERASEBKGND) return paint(w, msg, wp, lp);
        return FillRect(static_cast<DcHandle>(wp), Rect{0, 0, 50, 20}, GetSysColorBrush(COLOR_BTNFACE));
    };
    for (bool erase : {true, false}) {
        f.log.clear();
        InvalidateRect(win, nullptr, erase);
        UpdateWindow(win);
        EXPECT_EQ(f.Only(WM_ERASEBKGND).size(), erase ? 1u : 0u);
        const auto rects = Elements(GetWindowPainting(win), "rect");
        ASSERT_EQ(rects.size(), erase ? 1u : 0u) << "erase " << erase;
        if (erase) {
            EXPECT_EQ(Attr(rects[0], "fill"), ColorHex(GetSysColor(COLOR_BTNFACE)));
        }
    }
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
