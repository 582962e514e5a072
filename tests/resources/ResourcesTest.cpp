#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "platform/Gdi.h"
#include "support/TestSupport.h"

namespace kestrix {
namespace {

// Every image the item row and the controller load is a well-formed SVG (checked by xmllint)
// that comes through the drawing layer at its size (29 x 19 for a gauge, else 16 x 16), white
// at its top-left pixel, telling which resource it is. No two share a picture, so each state
// and signal level is told apart at a glance, but for the item row's small icons, which
// repeat the large ones.
TEST(Resources, EveryImageIsADistinctWellFormedSvgThatLoadsAtItsSize) {
    InstallImageProvider();
    const std::set<int> gauges = [] {
        std::set<int> g(kSignalBitmapsFix.begin(), kSignalBitmapsFix.end());
        g.insert(kSignalBitmapsNoFix.begin(), kSignalBitmapsNoFix.end());
        return g;
    }();
    std::vector<int> ids(gauges.begin(), gauges.end());
    for (const auto* list : {&kStateIconIds, &kItemIconsLarge, &kItemIconsSmall})
        ids.insert(ids.end(), list->begin(), list->end());
    test::TempDir dir;
    ASSERT_EQ(std::system("command -v xmllint >/dev/null 2>&1"), 0) << "xmllint is not installed (libxml2-utils)";
    std::map<std::string, int> seen;
    const platform::DcHandle dc = platform::CreateCompatibleDC(0);
    for (int id : ids) {
        SCOPED_TRACE("id " + std::to_string(id));
        const char* svg = ResourceSvg(id);
        ASSERT_NE(svg, nullptr);
        const auto [first, added] = seen.emplace(svg, id);
        const bool small = std::find(kItemIconsSmall.begin(), kItemIconsSmall.end(), id) != kItemIconsSmall.end();
        EXPECT_TRUE(added || first->second == id || small) << "the picture of " << first->second;
        EXPECT_NE(std::string(svg).find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos) << svg;
        const platform::GdiHandle bitmap = platform::LoadImage(1, id, platform::IMAGE_BITMAP, 0, 0);
        platform::BitmapInfo info;
        ASSERT_TRUE(platform::GetBitmapInfo(bitmap, info));
        const bool gauge = gauges.count(id) != 0;
        EXPECT_EQ(std::make_tuple(info.width, info.height, platform::ImageResourceId(bitmap)),
                  std::make_tuple(gauge ? 29 : 16, gauge ? 19 : 16, id));
        const platform::GdiHandle old = platform::SelectObject(dc, bitmap);
        EXPECT_EQ(platform::GetPixel(dc, 0, 0), platform::Rgb(255, 255, 255));
        platform::SelectObject(dc, old);
        platform::DeleteObject(bitmap);
        test::WriteFile(dir.File("i.svg"), svg);
        const std::string cmd = "xmllint --noout '" + dir.File("i.svg") + "' 2>'" + dir.File("e.txt") + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << test::ReadFile(dir.File("e.txt")) << svg;
    }
    platform::DeleteDC(dc);
    EXPECT_EQ(platform::LoadImage(1, 116, platform::IMAGE_ICON, 0, 0), 0u) << "no such image";
    EXPECT_EQ(platform::LoadImage(0, 101, platform::IMAGE_ICON, 0, 0), 0u) << "no instance";
}

TEST(Resources, UnknownIdsHaveNoImageAndTheTitleStringIsKestrix) {
    for (int id : {0, -1, 1, 100, 102, 105, 116, 118, 131, 40001}) EXPECT_EQ(ResourceSvg(id), nullptr) << id;
    EXPECT_EQ(LoadResourceString(kStringTitle), "Kestrix");
    EXPECT_EQ(LoadResourceString(999), "");
}

}  // namespace
}  // namespace kestrix
