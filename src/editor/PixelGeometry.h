#pragma once
// Pixel rectangles and points for the editors' drawing arithmetic, apart from
// any widget. Right and bottom are exclusive edges.
//
// Threads: any (plain values).

#include <cstdint>

namespace tonvero {

struct PixelRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    int32_t width() const { return right - left; }
    int32_t height() const { return bottom - top; }
    bool operator==(const PixelRect&) const = default;
};

struct PixelPoint {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const PixelPoint&) const = default;
};

}  // namespace tonvero
