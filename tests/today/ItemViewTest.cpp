#include "today/ItemView.h"


#include "TodayFixture.h"
#include "base/TrackPoint.h"

namespace kestrix::test {
namespace {

using V = std::vector<std::string>;

TEST_F(TodayTest, IconsBelow32PixelsComeFromTheFirstColumn) {
    today::PluginUnload();
    platform::SetSystemMetric(platform::SM_CXICON, 16);
    Load();
    Item();
    EXPECT_EQ(Images(Paint()),
              (V{"156 4 4 16 16", "119 452 4 24 16", "158 432 4 16 16", "155 412 4 16 16", "149 392 4 16 16"}));
}

}  // namespace
}  // namespace kestrix::test
