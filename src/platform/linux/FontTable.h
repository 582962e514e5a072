// Text metrics from a fixed table, so drawings are the same on every machine and tests can
// compute where text lands. Internal to src/platform/linux; the rules are stated in Gdi.h.
// Pure functions, any thread.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Gdi.h"

namespace kestrix::platform::internal {

struct FontMetrics {
    int32_t height = 0;     // cell height: ascent + descent
    int32_t ascent = 0;
    int32_t descent = 0;
    int32_t aveCharWidth = 0;
    int32_t maxCharWidth = 0;
    int32_t weight = 400;
    bool bold = false;
    double emSize = 0;      // the font size the text is drawn with, in tenths of a pixel exact
    // A character's advance in pixels is its table width (thousandths of the font size)
    // times advanceNum / advanceDen: exact integers, so rounding never depends on floating
    // point.
    int64_t advanceNum = 0;
    int64_t advanceDen = 1;
};

FontMetrics MeasureFont(const LogFont& font);

// The text's advance width in pixels, rounded to whole pixels (half away from zero).
int32_t TextWidth(const FontMetrics& metrics, std::string_view utf8);

// The code points of UTF-8 text; a byte that does not start a valid sequence stands for
// U+FFFD.
std::u32string DecodeUtf8(std::string_view utf8);

}  // namespace kestrix::platform::internal
