#include "editor/KeyboardGeometry.h"

#include <algorithm>
#include <cmath>

namespace tonvero {

namespace {

// Per pitch class from C: black or not, and the white key's place in its octave.
constexpr bool kBlack[12] = {false, true, false, true, false, false, true, false, true, false, true, false};
constexpr int32_t kWhitePlace[12] = {0, 0, 1, 1, 2, 3, 3, 4, 4, 5, 5, 6};
// The key of each white key of an octave, from C.
constexpr int32_t kWhiteKey[7] = {0, 2, 4, 5, 7, 9, 11};
constexpr const char* kNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

}  // namespace

bool KeyboardGeometry::isBlack(int32_t key) { return kBlack[((key % 12) + 12) % 12]; }

int32_t KeyboardGeometry::whiteIndex(int32_t key) {
    key = std::clamp(key, 0, kKeys - 1);
    return key / 12 * 7 + kWhitePlace[key % 12];
}

std::string KeyboardGeometry::noteName(int32_t key) {
    key = std::clamp(key, 0, kKeys - 1);
    return kNames[key % 12] + std::to_string(key / 12 - 1);
}

int32_t KeyboardGeometry::whiteEdge(int32_t index) const {
    return area.left + static_cast<int32_t>(std::lround(static_cast<double>(index) * area.width() / kWhiteKeys));
}

PixelRect KeyboardGeometry::keyRect(int32_t key) const {
    key = std::clamp(key, 0, kKeys - 1);
    const int32_t index = whiteIndex(key);
    if (!isBlack(key)) return {whiteEdge(index), area.top, whiteEdge(index + 1), area.bottom};
    // Over the line between the white key below and the one above.
    const double whiteWidth = static_cast<double>(area.width()) / kWhiteKeys;
    const int32_t width = std::max(1, static_cast<int32_t>(std::lround(whiteWidth * 0.6)));
    const int32_t centre = whiteEdge(index + 1);
    const int32_t length = std::max(1, static_cast<int32_t>(std::lround(area.height() * 0.62)));
    return {centre - width / 2, area.top, centre - width / 2 + width, area.top + length};
}

std::optional<int32_t> KeyboardGeometry::keyAt(int32_t x, int32_t y) const {
    if (x < area.left || x >= area.right || y < area.top || y >= area.bottom) return std::nullopt;
    const auto holds = [x, y](const PixelRect& r) { return x >= r.left && x < r.right && y >= r.top && y < r.bottom; };
    // The white key x falls on by an even share of the width; the edges are
    // rounded, so its neighbours are looked at too.
    const int32_t estimate = static_cast<int32_t>(static_cast<int64_t>(x - area.left) * kWhiteKeys / area.width());
    std::optional<int32_t> white;
    for (int32_t index = std::max(estimate - 1, 0); index <= std::min(estimate + 1, kWhiteKeys - 1); ++index) {
        const int32_t key = index / 7 * 12 + kWhiteKey[index % 7];
        if (holds(keyRect(key))) white = key;
    }
    if (!white) return std::nullopt;
    // A black key lies over the white ones.
    for (int32_t key : {*white - 1, *white + 1})
        if (key >= 0 && key < kKeys && isBlack(key) && holds(keyRect(key))) return key;
    return white;
}

int32_t KeyboardGeometry::velocityAt(int32_t key, int32_t y) const {
    const PixelRect r = keyRect(key);
    const int32_t rows = r.height() - 1;
    if (rows <= 0) return 127;
    const double fraction = std::clamp(static_cast<double>(y - r.top) / rows, 0.0, 1.0);
    return 1 + static_cast<int32_t>(std::lround(fraction * 126));
}

}  // namespace tonvero
