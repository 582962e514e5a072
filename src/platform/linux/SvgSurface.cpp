#include "platform/linux/SvgSurface.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/Text.h"

namespace kestrix::platform::internal {

namespace {

// Edges closer than this are the same edge (coordinates are pixels of a small screen).
constexpr double kEpsilon = 1e-6;

Box Bounds(const Shape& s) {
    const double half = s.stroke ? s.strokeWidth / 2 : 0;
    switch (s.kind) {
        case Shape::Kind::Rect:
        case Shape::Kind::Ellipse:
            return {s.box.left - half, s.box.top - half, s.box.right + half, s.box.bottom + half};
        case Shape::Kind::Line:
            return {std::min(s.box.left, s.box.right) - half, std::min(s.box.top, s.box.bottom) - half,
                    std::max(s.box.left, s.box.right) + half, std::max(s.box.top, s.box.bottom) + half};
        case Shape::Kind::Text:
        case Shape::Kind::Image:
            break;
    }
    return s.box;
}

Box Inset(const Box& b, double d) { return {b.left + d, b.top + d, b.right - d, b.bottom - d}; }

// Inside the ellipse with the box's centre and its half-axes grown by `grow`.
bool InEllipse(const Box& b, double grow, double x, double y) {
    const double rx = (b.right - b.left) / 2 + grow, ry = (b.bottom - b.top) / 2 + grow;
    if (rx <= 0 || ry <= 0) return false;
    const double dx = (x - (b.left + b.right) / 2) / rx, dy = (y - (b.top + b.bottom) / 2) / ry;
    return dx * dx + dy * dy <= 1;
}

// What the shape hides entirely under it: its opaque part (only rectangles count).
std::optional<Box> Cover(const Shape& s) {
    if (s.kind != Shape::Kind::Rect || s.focus) return std::nullopt;
    if (s.stroke && s.dash == Shape::Dash::None && s.fill) return Bounds(s);
    if (s.fill) return s.stroke ? Inset(s.box, s.strokeWidth / 2) : s.box;
    return std::nullopt;
}

// A filled rectangle, and a horizontal or vertical line whose width the clip holds, are
// clipped exactly by cutting them; the clip is then no longer needed.
void CutToClip(Shape& s, std::optional<Box>& clip) {
    const Box& c = *clip;
    Box& b = s.box;
    const double half = s.strokeWidth / 2;
    if (s.kind == Shape::Kind::Rect && !s.stroke && !s.focus) {
        b = b.Intersect(c);
    } else if (s.kind == Shape::Kind::Line && s.dash == Shape::Dash::None && b.top == b.bottom &&
               b.top - half >= c.top && b.top + half <= c.bottom) {
        b.left = std::clamp(b.left, c.left, c.right);
        b.right = std::clamp(b.right, c.left, c.right);
    } else if (s.kind == Shape::Kind::Line && s.dash == Shape::Dash::None && b.left == b.right &&
               b.left - half >= c.left && b.left + half <= c.right) {
        b.top = std::clamp(b.top, c.top, c.bottom);
        b.bottom = std::clamp(b.bottom, c.top, c.bottom);
    } else {
        return;
    }
    clip.reset();
}

void Attr(std::string& out, const char* name, double v) {
    out += ' ';
    out += name;
    out += "=\"";
    out += SvgNumber(v);
    out += '"';
}

void Attr(std::string& out, const char* name, const std::string& v) {
    out += ' ';
    out += name;
    out += "=\"";
    out += v;
    out += '"';
}

void Paint(std::string& out, const Shape& s) {
    if (s.kind != Shape::Kind::Line) Attr(out, "fill", s.fill ? ColorHex(s.fillColor) : std::string("none"));
    if (!s.stroke) return;
    Attr(out, "stroke", ColorHex(s.strokeColor));
    if (std::abs(s.strokeWidth - 1) > kEpsilon) Attr(out, "stroke-width", s.strokeWidth);
    if (s.dash == Shape::Dash::Dashed) {
        Attr(out, "stroke-dasharray", SvgNumber(6 * s.strokeWidth) + " " + SvgNumber(2 * s.strokeWidth));
    } else if (s.dash == Shape::Dash::Dotted) {
        Attr(out, "stroke-dasharray", SvgNumber(s.strokeWidth));
    }
}

void Write(std::string& out, const Shape& s) {
    const Box& b = s.box;
    switch (s.kind) {
        case Shape::Kind::Rect:
            out += "<rect";
            Attr(out, "x", b.left);
            Attr(out, "y", b.top);
            Attr(out, "width", b.right - b.left);
            Attr(out, "height", b.bottom - b.top);
            Paint(out, s);
            out += "/>";
            return;
        case Shape::Kind::Ellipse:
            out += "<ellipse";
            Attr(out, "cx", (b.left + b.right) / 2);
            Attr(out, "cy", (b.top + b.bottom) / 2);
            Attr(out, "rx", (b.right - b.left) / 2);
            Attr(out, "ry", (b.bottom - b.top) / 2);
            Paint(out, s);
            out += "/>";
            return;
        case Shape::Kind::Line:
            out += "<line";
            Attr(out, "x1", b.left);
            Attr(out, "y1", b.top);
            Attr(out, "x2", b.right);
            Attr(out, "y2", b.bottom);
            Paint(out, s);
            out += "/>";
            return;
        case Shape::Kind::Text:
            out += "<text";
            Attr(out, "x", b.left);
            Attr(out, "y", b.top + s.ascent);
            Attr(out, "font-size", s.fontSize);
            if (s.weight >= 600) Attr(out, "font-weight", std::string("bold"));
            if (s.italic) Attr(out, "font-style", std::string("italic"));
            if (s.underline || s.strikeOut) {
                Attr(out, "text-decoration",
                     std::string(s.underline ? "underline" : "") + (s.underline && s.strikeOut ? " " : "") +
                         (s.strikeOut ? "line-through" : ""));
            }
            Attr(out, "fill", ColorHex(s.fillColor));
            // The browser's face may be wider or narrower than the table: the text is drawn
            // exactly as wide as it was measured.
            Attr(out, "textLength", b.right - b.left);
            Attr(out, "lengthAdjust", std::string("spacingAndGlyphs"));
            out += '>';
            out += EscapeMarkup(s.text);
            out += "</text>";
            return;
        case Shape::Kind::Image:
            out += "<image";
            Attr(out, "x", b.left);
            Attr(out, "y", b.top);
            Attr(out, "width", b.right - b.left);
            Attr(out, "height", b.bottom - b.top);
            Attr(out, "preserveAspectRatio", std::string("none"));
            Attr(out, "data-resource", std::to_string(s.resource));
            if (s.href) Attr(out, "href", *s.href);
            out += "/>";
            return;
    }
}

}  // namespace

Box Box::Intersect(const Box& o) const {
    return {std::max(left, o.left), std::max(top, o.top), std::min(right, o.right), std::min(bottom, o.bottom)};
}

bool Box::Contains(const Box& o) const {
    return o.left >= left - kEpsilon && o.top >= top - kEpsilon && o.right <= right + kEpsilon &&
           o.bottom <= bottom + kEpsilon;
}

std::string SvgNumber(double v) {
    long long n = std::llround(v * 100);
    std::string out;
    if (n < 0) {
        out += '-';
        n = -n;
    }
    out += std::to_string(n / 100);
    const long long frac = n % 100;
    if (frac != 0) {
        out += '.';
        out += static_cast<char>('0' + frac / 10);
        if (frac % 10) out += static_cast<char>('0' + frac % 10);
    }
    return out == "-0" ? "0" : out;
}

void SvgSurface::Add(Shape shape, std::optional<Box> clip) {
    Box area{0, 0, static_cast<double>(width_), static_cast<double>(height_)};
    if (clip) area = area.Intersect(*clip);
    if (clip) CutToClip(shape, clip);
    if (shape.kind == Shape::Kind::Line && shape.box.left == shape.box.right && shape.box.top == shape.box.bottom) return;
    const Box bounds = Bounds(shape);
    shape.visible = bounds.Intersect(area);
    if (shape.visible.Empty()) return;
    // The surface's own edges clip without help; only a clip inside them is written.
    shape.clip = clip && !clip->Contains(bounds) ? clip : std::nullopt;
    if (std::optional<Box> cover = Cover(shape)) {
        const Box hidden = cover->Intersect(area);
        std::erase_if(shapes_, [&](const Shape& s) { return hidden.Contains(s.visible); });
    }
    shapes_.push_back(std::move(shape));
}

void SvgSurface::ToggleFocus(const Shape& focus) {
    for (auto it = shapes_.rbegin(); it != shapes_.rend(); ++it) {
        if (it->focus && it->box == focus.box) {
            shapes_.erase(std::next(it).base());
            return;
        }
    }
    Add(focus);
}

void SvgSurface::CopyFrom(const SvgSurface& source, const Box& from, const Box& to, std::optional<Colorref> key) {
    if (from.Empty() || to.Empty()) return;
    const double sx = (to.right - to.left) / (from.right - from.left);
    const double sy = (to.bottom - to.top) / (from.bottom - from.top);
    auto mapX = [&](double x) { return to.left + (x - from.left) * sx; };
    auto mapY = [&](double y) { return to.top + (y - from.top) * sy; };
    auto map = [&](const Box& b) { return Box{mapX(b.left), mapY(b.top), mapX(b.right), mapY(b.bottom)}; };
    // Only what lies on the source bitmap is copied.
    const Box within = from.Intersect({0, 0, static_cast<double>(source.width_), static_cast<double>(source.height_)});
    if (within.Empty()) return;
    const Box target = map(within);
    const std::vector<Shape> shapes = source.shapes_;  // the source may be this surface
    for (Shape s : shapes) {
        if (s.visible.Intersect(within).Empty()) continue;
        if (key) {
            if (s.fill && s.fillColor == *key) s.fill = false;
            if (s.stroke && s.strokeColor == *key) s.stroke = false;
            const bool gone = s.kind == Shape::Kind::Text ? !s.fill : s.kind != Shape::Kind::Image && !s.fill && !s.stroke;
            if (gone) continue;
        }
        s.box = map(s.box);
        s.strokeWidth *= std::sqrt(sx * sy);
        s.fontSize *= sy;
        s.ascent *= sy;
        const Box clip = s.clip ? map(*s.clip).Intersect(target) : target;
        Add(std::move(s), clip);
    }
}

std::optional<Colorref> SvgSurface::ColorAt(int32_t x, int32_t y) const {
    const double px = x + 0.5, py = y + 0.5;
    for (auto it = shapes_.rbegin(); it != shapes_.rend(); ++it) {
        const Shape& s = *it;
        if (!s.visible.Contains(px, py) || s.focus) continue;
        const bool solidStroke = s.stroke && s.dash == Shape::Dash::None;
        const double half = s.stroke ? s.strokeWidth / 2 : 0;
        switch (s.kind) {
            case Shape::Kind::Rect: {
                const Box inner = Inset(s.box, half);
                if (!inner.Contains(px, py)) {
                    if (solidStroke) return s.strokeColor;
                    continue;
                }
                if (s.fill) return s.fillColor;
                continue;
            }
            case Shape::Kind::Ellipse:
                if (!InEllipse(s.box, half, px, py)) continue;
                if (!InEllipse(s.box, -half, px, py)) {
                    if (solidStroke) return s.strokeColor;
                    continue;
                }
                if (s.fill) return s.fillColor;
                continue;
            case Shape::Kind::Line:
                // A horizontal or vertical line covers its box; a slanted one is not worked out.
                if (solidStroke && (s.box.left == s.box.right || s.box.top == s.box.bottom)) return s.strokeColor;
                continue;
            case Shape::Kind::Image: {
                if (!s.knownTopLeft) continue;
                const double w = s.box.right - s.box.left, h = s.box.bottom - s.box.top;
                if (std::floor((px - s.box.left) * s.naturalWidth / w) == 0 &&
                    std::floor((py - s.box.top) * s.naturalHeight / h) == 0) {
                    return s.topLeft;
                }
                continue;
            }
            case Shape::Kind::Text:
                continue;
        }
    }
    return std::nullopt;
}

std::string SvgSurface::Document() const {
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\"";
    Attr(out, "width", width_);
    Attr(out, "height", height_);
    Attr(out, "viewBox", "0 0 " + std::to_string(width_) + " " + std::to_string(height_));
    Attr(out, "font-family", std::string("Liberation Sans,Arial,Helvetica,sans-serif"));
    Attr(out, "xml:space", std::string("preserve"));
    out += '>';
    // Shapes clipped alike share one nested viewport, which clips without needing an id.
    for (size_t i = 0; i < shapes_.size();) {
        if (!shapes_[i].clip) {
            Write(out, shapes_[i++]);
            continue;
        }
        const Box c = *shapes_[i].clip;
        out += "<svg";
        Attr(out, "x", c.left);
        Attr(out, "y", c.top);
        Attr(out, "width", c.right - c.left);
        Attr(out, "height", c.bottom - c.top);
        Attr(out, "viewBox", SvgNumber(c.left) + " " + SvgNumber(c.top) + " " + SvgNumber(c.right - c.left) + " " +
                                 SvgNumber(c.bottom - c.top));
        out += '>';
        for (; i < shapes_.size() && shapes_[i].clip == c; ++i) Write(out, shapes_[i]);
        out += "</svg>";
    }
    out += "</svg>";
    return out;
}

}  // namespace kestrix::platform::internal
