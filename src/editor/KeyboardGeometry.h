#pragma once
// The arithmetic of the keyboard strip, apart from any widget: all 128 MIDI
// keys (C-1 to G9; key 60, middle C, is C4) side by side, the 75 white keys
// sharing the width evenly and each black key standing over the line between
// its two white neighbours, two thirds as long and about as wide as half a
// white key. Which key a point lies on, and the velocity a press there gives:
// lower on a key is louder, as a real key pressed near its front edge, from
// 1 at the key's top to 127 at its bottom.
//
// Pixel coordinates are the widget's; right and bottom are exclusive edges.
//
// Threads: any (plain values).

#include "editor/PixelGeometry.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tonvero {

class KeyboardGeometry {
public:
    static constexpr int32_t kKeys = 128;
    static constexpr int32_t kWhiteKeys = 75;

    PixelRect area;  // the keys, white keys from top to bottom

    static bool isBlack(int32_t key);
    // A white key's place among the white keys (0 .. 74); for a black key,
    // that of the white key below it.
    static int32_t whiteIndex(int32_t key);
    // "C4" for key 60, "F#-1" for key 6.
    static std::string noteName(int32_t key);

    PixelRect keyRect(int32_t key) const;
    // The key at (x, y): a black key where one stands, else the white key;
    // nothing outside the area.
    std::optional<int32_t> keyAt(int32_t x, int32_t y) const;
    // The velocity of a press at height `y` on `key` (1 .. 127).
    int32_t velocityAt(int32_t key, int32_t y) const;

private:
    int32_t whiteEdge(int32_t index) const;  // the left edge of white key `index` (75: the right edge)
};

}  // namespace tonvero
