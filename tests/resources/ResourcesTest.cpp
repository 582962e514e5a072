#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "platform/Gdi.h"
#include "support/TestSupport.h"

namespace kestrix {
namespace {

std::vector<int> AllImageIds() {
    std::vector<int> ids(kStateIconIds.begin(), kStateIconIds.end());
    ids.insert(ids.end(), kSignalBitmapsFix.begin(), kSignalBitmapsFix.end());
    ids.insert(ids.end(), kSignalBitmapsNoFix.begin(), kSignalBitmapsNoFix.end());
    return ids;
}

std::string RootAttribute(const std::string& svg, const std::string& key) {
    std::smatch m;
    const std::regex re("^\\s*<svg\\b[^>]*\\s" + key + "=\"([^\"]*)\"");
    return std::regex_search(svg, m, re) ? m[1].str() : std::string("<none>");
}

// Every image is well formed (checked by xmllint), an svg of its size, and no two ids share
// one: each state and each signal level must be told apart at a glance.
TEST(Resources, EveryImageIsADistinctWellFormedSvgOfItsSize) {
    test::TempDir dir;
    std::set<std::string> seen;
    const bool lint = std::system("command -v xmllint >/dev/null 2>&1") == 0;
    for (int id : AllImageIds()) {
        SCOPED_TRACE("id " + std::to_string(id));
        const char* svg = ResourceSvg(id);
        ASSERT_NE(svg, nullptr);
        EXPECT_TRUE(seen.insert(svg).second) << "repeats another image";
        EXPECT_EQ(RootAttribute(svg, "xmlns"), "http://www.w3.org/2000/svg");
        const bool icon = std::find(kStateIconIds.begin(), kStateIconIds.end(), id) != kStateIconIds.end();
        EXPECT_EQ(RootAttribute(svg, "width"), icon ? "16" : "29");
        EXPECT_EQ(RootAttribute(svg, "height"), icon ? "16" : "19");
        if (!lint) continue;
        test::WriteFile(dir.File("i.svg"), svg);
        const std::string cmd = "xmllint --noout '" + dir.File("i.svg") + "' 2>'" + dir.File("e.txt") + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << test::ReadFile(dir.File("e.txt")) << svg;
    }
    if (!lint) GTEST_SKIP() << "xmllint not installed: well-formedness not checked";
}

// A gauge lights as many of its five bars as its level, shortest first, in one colour with a
// fix and in another without; unlit bars stay grey.
TEST(Resources, SignalGaugesLightOneBarALevel) {
    const std::regex rectFill("<rect\\b[^>]*\\sfill=\"([^\"]*)\"");
    std::string colour[2];
    for (size_t level = 0; level < kSignalBitmapsFix.size(); ++level) {
        for (int fix : {1, 0}) {
            const std::string svg = ResourceSvg(fix ? kSignalBitmapsFix[level] : kSignalBitmapsNoFix[level]);
            std::vector<std::string> fills;
            for (std::sregex_iterator it(svg.begin(), svg.end(), rectFill), end; it != end; ++it)
                fills.push_back((*it)[1].str());
            ASSERT_EQ(fills.size(), 5u) << svg;
            for (size_t bar = 0; bar < fills.size(); ++bar) {
                if (bar >= level) {
                    EXPECT_EQ(fills[bar], "#d0d0d0") << "level " << level << " bar " << bar;
                    continue;
                }
                if (colour[fix].empty()) colour[fix] = fills[bar];
                EXPECT_NE(fills[bar], "#d0d0d0") << "level " << level << " bar " << bar;
                EXPECT_EQ(fills[bar], colour[fix]) << "level " << level << " bar " << bar;
            }
        }
    }
    EXPECT_NE(colour[0], colour[1]);
}

// Every image the item row and the controller load comes through the drawing layer at its
// natural size, white at its top-left pixel, and tells which resource it is.
TEST(Resources, EveryImageLoadsThroughTheDrawingLayer) {
    InstallImageProvider();
    std::vector<int> ids = AllImageIds();
    ids.insert(ids.end(), kItemIconsSmall.begin(), kItemIconsSmall.end());
    ids.insert(ids.end(), kItemIconsLarge.begin(), kItemIconsLarge.end());
    const platform::DcHandle dc = platform::CreateCompatibleDC(0);
    for (int id : ids) {
        SCOPED_TRACE("id " + std::to_string(id));
        const platform::GdiHandle bitmap = platform::LoadImage(1, id, platform::IMAGE_BITMAP, 0, 0);
        platform::BitmapInfo info;
        ASSERT_TRUE(platform::GetBitmapInfo(bitmap, info));
        const bool gauge = std::find(kSignalBitmapsFix.begin(), kSignalBitmapsFix.end(), id) != kSignalBitmapsFix.end() ||
                           std::find(kSignalBitmapsNoFix.begin(), kSignalBitmapsNoFix.end(), id) != kSignalBitmapsNoFix.end();
        EXPECT_EQ(info.width, gauge ? 29 : 16);
        EXPECT_EQ(info.height, gauge ? 19 : 16);
        EXPECT_EQ(platform::ImageResourceId(bitmap), id);
        const platform::GdiHandle old = platform::SelectObject(dc, bitmap);
        EXPECT_EQ(platform::GetPixel(dc, 0, 0), platform::Rgb(255, 255, 255));
        platform::SelectObject(dc, old);
        platform::DeleteObject(bitmap);
    }
    platform::DeleteDC(dc);
    EXPECT_EQ(platform::LoadImage(1, 116, platform::IMAGE_ICON, 0, 0), 0u);
}

TEST(Resources, UnknownIdsHaveNoImageAndTheTitleStringIsKestrix) {
    for (int id : {0, -1, 1, 100, 102, 105, 116, 118, 131, 40001}) EXPECT_EQ(ResourceSvg(id), nullptr) << id;
    EXPECT_EQ(LoadResourceString(kStringTitle), "Kestrix");
    EXPECT_EQ(LoadResourceString(999), "");
}

}  // namespace
}  // namespace kestrix
