#include "platform/linux/FontTable.h"

#include <algorithm>
#include <array>

namespace kestrix::platform::internal {

namespace {

// Advance widths in thousandths of the font size for U+0020..U+007E: the widths of the
// common proportional sans faces (Helvetica, Arial, Liberation Sans), regular and bold.
constexpr std::array<uint16_t, 95> kRegular{
    278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,  //  !"#$%&'()*+,-./
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,  // 0-9 :;<=>?
    1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,  // @A-O
    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,  // P-Z [\]^_
    333, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,  // `a-o
    556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584,       // p-z {|}~
};
constexpr std::array<uint16_t, 95> kBold{
    278, 333, 474, 556, 556, 889, 722, 238, 333, 333, 389, 584, 278, 333, 278, 278,
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 333, 333, 584, 584, 584, 611,
    975, 722, 722, 722, 722, 667, 611, 778, 722, 278, 556, 722, 611, 833, 722, 778,
    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 333, 278, 333, 584, 556,
    333, 556, 611, 556, 611, 556, 333, 611, 611, 278, 278, 556, 278, 889, 611, 611,
    611, 611, 389, 556, 333, 611, 556, 778, 556, 556, 500, 389, 280, 389, 584,
};
// Every other printable character is as wide as a digit; control characters have no width.
constexpr uint16_t kOther = 556;
constexpr int32_t kDefaultCell = 16;
// Sizes beyond this are taken as this (nothing on a 480-pixel screen is larger).
constexpr int32_t kMaxCell = 4096;

uint16_t Advance(bool bold, char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return 0;
    if (c <= 0x7E) return (bold ? kBold : kRegular)[c - 0x20];
    return kOther;
}

int64_t Units(const FontMetrics& m, std::string_view utf8) {
    int64_t units = 0;
    for (char32_t c : DecodeUtf8(utf8)) units += Advance(m.bold, c);
    return units;
}

// Half a pixel rounds up.
int64_t RoundedAdvance(const FontMetrics& m, int64_t units) {
    return (2 * units * m.advanceNum + m.advanceDen) / (2 * m.advanceDen);
}

}  // namespace

FontMetrics MeasureFont(const LogFont& font) {
    FontMetrics m;
    const int64_t h = font.height;
    int64_t emTenths = 0;
    if (h < 0) {
        // A character height: the font size itself; the cell is a ninth taller.
        emTenths = 10 * std::min<int64_t>(-h, kMaxCell);
        m.height = static_cast<int32_t>((emTenths + 4) / 9);
    } else {
        m.height = h == 0 ? kDefaultCell : static_cast<int32_t>(std::min<int64_t>(h, kMaxCell));
        emTenths = 9 * int64_t{m.height};
    }
    m.emSize = static_cast<double>(emTenths) / 10.0;
    m.ascent = (m.height * 4 + 2) / 5;
    m.descent = m.height - m.ascent;
    m.weight = font.weight == 0 ? 400 : font.weight;
    m.bold = m.weight >= 600;
    const int64_t x = Advance(m.bold, U'x');
    if (font.width > 0) {
        // The width asked for is the width of "x"; every character stretches alike.
        m.advanceNum = std::min<int64_t>(font.width, kMaxCell);
        m.advanceDen = x;
    } else {
        m.advanceNum = emTenths;
        m.advanceDen = 10000;
    }
    const auto& table = m.bold ? kBold : kRegular;
    const int64_t widest = *std::max_element(table.begin(), table.end());
    m.aveCharWidth = static_cast<int32_t>(RoundedAdvance(m, x));
    m.maxCharWidth = static_cast<int32_t>(RoundedAdvance(m, widest));
    return m;
}

int32_t TextWidth(const FontMetrics& metrics, std::string_view utf8) {
    return static_cast<int32_t>(RoundedAdvance(metrics, Units(metrics, utf8)));
}

std::u32string DecodeUtf8(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        size_t len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        char32_t c = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        bool ok = len != 0 && i + len <= s.size();
        for (size_t k = 1; ok && k < len; ++k) {
            const auto cont = static_cast<unsigned char>(s[i + k]);
            ok = (cont & 0xC0) == 0x80;
            c = (c << 6) | (cont & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not characters.
        static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
        if (ok && (c < kMin[len] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)) ok = false;
        if (!ok) {
            out.push_back(U'\uFFFD');
            ++i;
            continue;
        }
        out.push_back(c);
        i += len;
    }
    return out;
}

}  // namespace kestrix::platform::internal
