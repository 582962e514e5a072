// Drawing through a DC: shapes, edges, focus rectangles, text, block transfers, pixels.
#include <algorithm>
#include <optional>

#include "platform/Gdi.h"
#include "platform/LastError.h"
#include "platform/linux/FontTable.h"
#include "platform/linux/GdiTable.h"

namespace kestrix::platform {

using internal::Box;
using internal::DeviceContext;
using internal::GdiObject;
using internal::GdiTable;
using internal::Shape;

namespace {

// Runs fn(dc) under the table's lock; false for an unknown DC.
template <typename Fn>
bool WithDc(DcHandle dc, Fn fn) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    DeviceContext* d = t.FindDc(dc);
    return d && fn(*d);
}

bool InvalidParameter() {
    SetLastError(internal::kErrorInvalidParameter);
    return false;
}

Box PixelBox(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return {static_cast<double>(left), static_cast<double>(top), static_cast<double>(right),
            static_cast<double>(bottom)};
}

// A shape of [left, right) x [top, bottom) outlined with the DC's pen (inside the box) and
// filled with its brush. Nothing when both are null.
std::optional<Shape> OutlinedShape(const DeviceContext& d, Shape::Kind kind, int32_t left, int32_t top, int32_t right,
                                   int32_t bottom) {
    Shape s;
    s.kind = kind;
    s.box = PixelBox(std::min(left, right), std::min(top, bottom), std::max(left, right), std::max(top, bottom));
    s.fill = !d.brushData.null;
    s.fillColor = d.brushData.color;
    s.stroke = d.penData.style != PS_NULL;
    s.strokeColor = d.penData.color;
    s.strokeWidth = d.penData.width;
    s.dash = d.penData.style == PS_DASH ? Shape::Dash::Dashed : Shape::Dash::None;
    if (!s.fill && !s.stroke) return std::nullopt;
    if (s.stroke) {
        const double half = std::min({s.strokeWidth, s.box.right - s.box.left, s.box.bottom - s.box.top}) / 2;
        s.box = {s.box.left + half, s.box.top + half, s.box.right - half, s.box.bottom - half};
    }
    return s;
}

// A one-pixel line over the pixels from (x0, y0) up to, not including, (x1, y1): through
// pixel centres, so a horizontal or vertical one covers whole pixels.
Shape PixelLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, Colorref color, int width, Shape::Dash dash) {
    Shape s;
    s.kind = Shape::Kind::Line;
    s.stroke = true;
    s.strokeColor = color;
    s.strokeWidth = width;
    s.dash = dash;
    double ax = x0 + 0.5, ay = y0 + 0.5, bx = x1 + 0.5, by = y1 + 0.5;
    if (y0 == y1) {
        ax = x1 < x0 ? x0 + 1 : x0;
        bx = x1 < x0 ? x1 + 1 : x1;
    } else if (x0 == x1) {
        ay = y1 < y0 ? y0 + 1 : y0;
        by = y1 < y0 ? y1 + 1 : y1;
    }
    s.box = {ax, ay, bx, by};
    return s;
}

// Text as the SVG carries it: UTF-8 without the characters XML cannot hold or that draw
// nothing; bytes that are not UTF-8 become U+FFFD.
std::string CleanText(std::string_view text) {
    std::string out;
    for (char32_t c : internal::DecodeUtf8(text)) {
        if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xFFFE || c == 0xFFFF) continue;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Text with its cell's top-left corner at (x, y), in the DC's font and colours.
void DrawTextAt(DeviceContext& d, int32_t x, int32_t y, std::string_view text, std::optional<Box> clip) {
    const internal::FontMetrics m = internal::MeasureFont(d.fontData);
    const int32_t width = internal::TextWidth(m, text);
    if (width <= 0) return;
    const Box cell = PixelBox(x, y, x + width, y + m.height);
    if (d.bkMode == OPAQUE) {
        Shape bk;
        bk.box = cell;
        bk.fill = true;
        bk.fillColor = d.bkColor;
        d.surface->Add(bk, clip);
    }
    Shape s;
    s.kind = Shape::Kind::Text;
    s.box = cell;
    s.fill = true;
    s.fillColor = d.textColor;
    s.text = CleanText(text);
    s.fontSize = m.emSize;
    s.ascent = m.ascent;
    s.weight = m.weight;
    s.italic = d.fontData.italic;
    s.underline = d.fontData.underline;
    s.strikeOut = d.fontData.strikeOut;
    d.surface->Add(std::move(s), clip);
}

bool Copy(DcHandle dst, int32_t x, int32_t y, int32_t width, int32_t height, DcHandle src, int32_t srcX, int32_t srcY,
          int32_t srcWidth, int32_t srcHeight, std::optional<Colorref> key) {
    if (width < 0 || height < 0 || srcWidth < 0 || srcHeight < 0) return InvalidParameter();
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    DeviceContext* to = t.FindDc(dst);
    DeviceContext* from = to ? t.FindDc(src) : nullptr;
    if (!from) return false;
    if (width == 0 || height == 0 || srcWidth == 0 || srcHeight == 0) return true;
    to->surface->CopyFrom(*from->surface, PixelBox(srcX, srcY, srcX + srcWidth, srcY + srcHeight),
                          PixelBox(x, y, x + width, y + height), key);
    return true;
}

}  // namespace

bool FillRect(DcHandle dc, const Rect& rect, GdiHandle brush) {
    GdiTable& t = GdiTable::Instance();
    std::lock_guard lock(t.mutex);
    DeviceContext* d = t.FindDc(dc);
    const GdiObject* b = d ? t.Find(brush, GdiObject::Kind::Brush) : nullptr;
    if (!b) return false;
    if (b->brush.null || rect.right <= rect.left || rect.bottom <= rect.top) return true;
    Shape s;
    s.box = PixelBox(rect.left, rect.top, rect.right, rect.bottom);
    s.fill = true;
    s.fillColor = b->brush.color;
    d->surface->Add(std::move(s));
    return true;
}

bool Rectangle(DcHandle dc, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return WithDc(dc, [&](DeviceContext& d) {
        if (auto s = OutlinedShape(d, Shape::Kind::Rect, left, top, right, bottom)) d.surface->Add(std::move(*s));
        return true;
    });
}

bool Ellipse(DcHandle dc, int32_t left, int32_t top, int32_t right, int32_t bottom) {
    return WithDc(dc, [&](DeviceContext& d) {
        if (auto s = OutlinedShape(d, Shape::Kind::Ellipse, left, top, right, bottom)) d.surface->Add(std::move(*s));
        return true;
    });
}

bool DrawEdge(DcHandle dc, const Rect& rect, uint32_t edge, uint32_t flags) {
    return WithDc(dc, [&](DeviceContext& d) {
        struct Band {
            int lightTop;      // colour of the left and top sides
            int darkBottom;    // colour of the right and bottom sides
        };
        std::vector<Band> bands;
        if (edge & BDR_RAISEDOUTER) bands.push_back({COLOR_3DLIGHT, COLOR_3DDKSHADOW});
        else if (edge & BDR_SUNKENOUTER) bands.push_back({COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT});
        if (edge & BDR_RAISEDINNER) bands.push_back({COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW});
        else if (edge & BDR_SUNKENINNER) bands.push_back({COLOR_3DDKSHADOW, COLOR_3DLIGHT});
        if (flags & BF_FLAT) {
            // A flat edge is a shadow-coloured frame, a button-face one inside it when both
            // bands are asked for.
            for (size_t i = 0; i < bands.size(); ++i) {
                bands[i].lightTop = bands[i].darkBottom = i == 0 ? COLOR_BTNSHADOW : COLOR_BTNFACE;
            }
        }
        for (size_t i = 0; i < bands.size(); ++i) {
            const auto k = static_cast<int32_t>(i);
            const int32_t l = rect.left + k, t = rect.top + k, r = rect.right - 1 - k, b = rect.bottom - 1 - k;
            if (r < l || b < t) break;
            const Colorref lt = GetSysColor(bands[i].lightTop), rb = GetSysColor(bands[i].darkBottom);
            if ((flags & BF_RECT) == BF_RECT && lt == rb) {
                Shape frame;
                frame.box = {l + 0.5, t + 0.5, r + 0.5, b + 0.5};
                frame.stroke = true;
                frame.strokeColor = lt;
                d.surface->Add(std::move(frame));
                continue;
            }
            // The left and top sides first, then the right and bottom ones over the corners.
            if (flags & BF_TOP) d.surface->Add(PixelLine(l, t, r, t, lt, 1, Shape::Dash::None));
            if (flags & BF_LEFT) d.surface->Add(PixelLine(l, t, l, b, lt, 1, Shape::Dash::None));
            if (flags & BF_BOTTOM) d.surface->Add(PixelLine(l, b, r + 1, b, rb, 1, Shape::Dash::None));
            if (flags & BF_RIGHT) d.surface->Add(PixelLine(r, t, r, b + 1, rb, 1, Shape::Dash::None));
        }
        return true;
    });
}

bool DrawFocusRect(DcHandle dc, const Rect& rect) {
    return WithDc(dc, [&](DeviceContext& d) {
        if (rect.right <= rect.left || rect.bottom <= rect.top) return true;
        Shape s;
        s.box = {rect.left + 0.5, rect.top + 0.5, rect.right - 0.5, rect.bottom - 0.5};
        s.stroke = true;
        s.strokeColor = Rgb(0, 0, 0);
        s.dash = Shape::Dash::Dotted;
        s.focus = true;
        d.surface->ToggleFocus(s);
        return true;
    });
}

bool GetTextMetrics(DcHandle dc, TextMetric& out) {
    return WithDc(dc, [&](DeviceContext& d) {
        const internal::FontMetrics m = internal::MeasureFont(d.fontData);
        out = TextMetric{m.height, m.ascent, m.descent, m.aveCharWidth, m.maxCharWidth, m.weight};
        return true;
    });
}

bool GetTextExtentPoint32(DcHandle dc, std::string_view text, Size& out) {
    return WithDc(dc, [&](DeviceContext& d) {
        const internal::FontMetrics m = internal::MeasureFont(d.fontData);
        out = Size{internal::TextWidth(m, text), m.height};
        return true;
    });
}

bool ExtTextOut(DcHandle dc, int32_t x, int32_t y, std::string_view text) {
    return WithDc(dc, [&](DeviceContext& d) {
        DrawTextAt(d, x, y, text, std::nullopt);
        return true;
    });
}

int32_t DrawText(DcHandle dc, std::string_view text, Rect& rect, uint32_t format) {
    int32_t height = 0;
    WithDc(dc, [&](DeviceContext& d) {
        const internal::FontMetrics m = internal::MeasureFont(d.fontData);
        const int32_t width = internal::TextWidth(m, text);
        height = m.height;
        if (format & DT_CALCRECT) {
            rect.right = rect.left + width;
            rect.bottom = rect.top + height;
            return true;
        }
        int32_t x = rect.left, y = rect.top;
        if (format & DT_CENTER) x = rect.left + (rect.Width() - width) / 2;
        else if (format & DT_RIGHT) x = rect.right - width;
        // DT_VCENTER and DT_BOTTOM apply only with DT_SINGLELINE.
        if ((format & DT_SINGLELINE) && (format & DT_VCENTER)) y = rect.top + (rect.Height() - height) / 2;
        else if ((format & DT_SINGLELINE) && (format & DT_BOTTOM)) y = rect.bottom - height;
        std::optional<Box> clip;
        if (!(format & DT_NOCLIP)) clip = PixelBox(rect.left, rect.top, rect.right, rect.bottom);
        DrawTextAt(d, x, y, text, clip);
        return true;
    });
    return height;
}

bool BitBlt(DcHandle dst, int32_t x, int32_t y, int32_t width, int32_t height, DcHandle src, int32_t srcX,
            int32_t srcY, uint32_t rop) {
    if (rop != SRCCOPY) return InvalidParameter();
    return Copy(dst, x, y, width, height, src, srcX, srcY, width, height, std::nullopt);
}

bool StretchBlt(DcHandle dst, int32_t x, int32_t y, int32_t width, int32_t height, DcHandle src, int32_t srcX,
                int32_t srcY, int32_t srcWidth, int32_t srcHeight, uint32_t rop) {
    if (rop != SRCCOPY) return InvalidParameter();
    return Copy(dst, x, y, width, height, src, srcX, srcY, srcWidth, srcHeight, std::nullopt);
}

bool TransparentImage(DcHandle dst, int32_t x, int32_t y, int32_t width, int32_t height, DcHandle src, int32_t srcX,
                      int32_t srcY, int32_t srcWidth, int32_t srcHeight, Colorref transparent) {
    // A key that GetPixel could not read matches nothing.
    const std::optional<Colorref> key =
        transparent == CLR_INVALID ? std::nullopt : std::optional<Colorref>(transparent & 0xFFFFFF);
    return Copy(dst, x, y, width, height, src, srcX, srcY, srcWidth, srcHeight, key);
}

Colorref GetPixel(DcHandle dc, int32_t x, int32_t y) {
    Colorref color = CLR_INVALID;
    WithDc(dc, [&](DeviceContext& d) {
        if (x < 0 || y < 0 || x >= d.surface->Width() || y >= d.surface->Height()) return false;
        color = d.surface->ColorAt(x, y).value_or(Rgb(0, 0, 0));
        return true;
    });
    return color;
}

}  // namespace kestrix::platform
