// What was drawn on one bitmap or window, as a flat list of SVG shapes in the surface's
// pixel coordinates: rectangles, ellipses, lines, text and images. A block transfer copies
// the source's shapes into the target, moved and scaled, so a drawing never nests and reads
// with the positions it shows at. Shapes that a later opaque rectangle hides entirely are
// dropped, so a surface painted again and again stays as small as one painting.
// Internal to src/platform/linux. Threads: guarded by GdiTable's mutex.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Gdi.h"

namespace kestrix::platform::internal {

// A rectangle with fractional edges: [left, right) x [top, bottom).
struct Box {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    bool Empty() const { return !(right > left && bottom > top); }
    Box Intersect(const Box& o) const;
    bool Contains(const Box& o) const;
    bool Contains(double x, double y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const Box&) const = default;
};

struct Shape {
    enum class Kind : uint8_t { Rect, Ellipse, Line, Text, Image };
    Kind kind = Kind::Rect;
    // Rect, Ellipse: the box of the outline's centre line (the fill box when there is no
    // outline). Line: from (box.left, box.top) to (box.right, box.bottom). Text: its cell.
    // Image: where it is drawn.
    Box box;
    bool fill = false;
    Colorref fillColor = 0;
    bool stroke = false;
    Colorref strokeColor = 0;
    double strokeWidth = 1;
    enum class Dash : uint8_t { None, Dashed, Dotted } dash = Dash::None;
    bool focus = false;  // a focus rectangle (drawn again at the same place, it goes)
    // Text (fillColor is its colour).
    std::string text;
    double fontSize = 0;
    double ascent = 0;
    int weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    // Image.
    int resource = 0;
    int32_t naturalWidth = 0;
    int32_t naturalHeight = 0;
    bool knownTopLeft = false;  // a bitmap: its top-left pixel has the colour topLeft
    Colorref topLeft = 0;
    std::shared_ptr<const std::string> href;
    // Set by Add: where the shape may show (outside it, a clip hides it), and what it
    // covers within that.
    std::optional<Box> clip;
    Box visible;
};

class SvgSurface {
public:
    SvgSurface(int32_t width, int32_t height) : width_(width), height_(height) {}
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    const std::vector<Shape>& Shapes() const { return shapes_; }

    // Adds a shape on top, clipped to clip when given. A shape outside the surface (or its
    // clip) is not kept; an opaque rectangle drops the shapes it hides entirely.
    void Add(Shape shape, std::optional<Box> clip = std::nullopt);
    // Draws a focus rectangle, or takes away the last one drawn at the same place.
    void ToggleFocus(const Shape& focus);
    // Copies the source's shapes within `from` (in the source's pixels) into `to` (in this
    // surface's), scaled, clipped to `to`. With a key, the fills, outlines and text of the
    // key colour are left out; images keep their own transparency.
    void CopyFrom(const SvgSurface& source, const Box& from, const Box& to, std::optional<Colorref> key);
    // The colour at the pixel when the shapes tell it (see GetPixel in Gdi.h).
    std::optional<Colorref> ColorAt(int32_t x, int32_t y) const;
    // The whole drawing as an SVG document of the surface's size.
    std::string Document() const;

private:
    int32_t width_;
    int32_t height_;
    std::vector<Shape> shapes_;
};

// A number as the SVG writes it: an integer, or at most two decimals without trailing zeros.
std::string SvgNumber(double v);

}  // namespace kestrix::platform::internal
