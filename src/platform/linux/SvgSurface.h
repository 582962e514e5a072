// What was drawn on one bitmap or window: its size in pixels. Internal to
// src/platform/linux. Threads: guarded by GdiTable's mutex.
#pragma once
#include <cstdint>

namespace kestrix::platform::internal {

class SvgSurface {
public:
    SvgSurface(int32_t width, int32_t height) : width_(width), height_(height) {}
    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }

private:
    int32_t width_;
    int32_t height_;
};

}  // namespace kestrix::platform::internal
