#include "editor/LoopEditorGeometry.h"

#include <algorithm>
#include <limits>

namespace tonvero {

namespace {

// 1/32000, as the scroll scale has always held it: in single precision.
constexpr float kThumbToFraction = 0.00003125f;

uint32_t clampToU32(uint64_t value) {
    return static_cast<uint32_t>(std::min<uint64_t>(value, std::numeric_limits<uint32_t>::max()));
}

}  // namespace

int32_t LoopEditorGeometry::thumbForSample(uint32_t sample, uint32_t sampleCount) {
    if (sampleCount == 0) return 0;  // no samples: the thumb stays at the start
    const double fraction = static_cast<double>(sample) / static_cast<double>(sampleCount);
    // A first sample past the end (a loop point beyond the samples) keeps the
    // thumb at the end rather than overflowing the scale.
    return static_cast<int32_t>(std::min(fraction, 1.0) * kScrollRange);
}

uint32_t LoopEditorGeometry::sampleForThumb(int32_t position, uint32_t sampleCount) {
    const float sample = static_cast<float>(position) * kThumbToFraction * static_cast<float>(sampleCount);
    if (!(sample > 0.0f)) return 0;
    if (sample >= 4294967296.0f) return std::numeric_limits<uint32_t>::max();
    return static_cast<uint32_t>(sample);
}

int32_t LoopEditorGeometry::zeroLineY() const { return area.top + (area.bottom - area.top) / 2; }

int32_t LoopEditorGeometry::sampleY(int16_t value) const {
    const float scale = static_cast<float>(area.bottom - area.top) / 65536.0f;
    return static_cast<int32_t>(static_cast<float>(value) * scale + static_cast<float>(zeroLineY()));
}

std::vector<PixelPoint> LoopEditorGeometry::trace(const int16_t* samples, uint32_t sampleCount) const {
    std::vector<PixelPoint> points;
    if (!samples || firstSample >= sampleCount) return points;
    points.push_back({area.left, sampleY(samples[firstSample])});
    // The second column shows the very next sample; from there on each column
    // advances by the zoom.
    uint64_t i = static_cast<uint64_t>(firstSample) + 1;
    const uint64_t step = std::max<uint32_t>(samplesPerPixel, 1);
    for (int32_t x = area.left + 1; x < area.right && i < sampleCount; ++x, i += step)
        points.push_back({x, sampleY(samples[i])});
    return points;
}

std::optional<int32_t> LoopEditorGeometry::markerX(uint32_t loopPoint) const {
    const uint64_t zoom = std::max<uint32_t>(samplesPerPixel, 1);
    const int64_t width = static_cast<int64_t>(area.right) - area.left;
    if (width <= 0) return std::nullopt;
    const uint64_t end = firstSample + static_cast<uint64_t>(width) * zoom;
    if (loopPoint < firstSample || loopPoint >= end) return std::nullopt;
    return area.left + static_cast<int32_t>((loopPoint - firstSample) / zoom);
}

std::optional<std::pair<int32_t, int32_t>> LoopEditorGeometry::loopColumns(uint32_t loopBegin, uint32_t loopEnd) const {
    const uint64_t zoom = std::max<uint32_t>(samplesPerPixel, 1);
    const int64_t width = static_cast<int64_t>(area.right) - area.left;
    if (width <= 0 || loopEnd < loopBegin) return std::nullopt;
    const uint64_t end = firstSample + static_cast<uint64_t>(width) * zoom;  // first sample not shown
    if (loopEnd < firstSample || loopBegin >= end) return std::nullopt;
    const uint64_t from = std::max<uint64_t>(loopBegin, firstSample);
    const uint64_t to = std::min<uint64_t>(loopEnd, end - 1);
    return std::make_pair(area.left + static_cast<int32_t>((from - firstSample) / zoom),
                          area.left + static_cast<int32_t>((to - firstSample) / zoom));
}

std::vector<LoopEditorGeometry::AxisTick> LoopEditorGeometry::axisTicks(uint32_t sampleCount,
                                                                        int32_t minSpacing) const {
    std::vector<AxisTick> ticks;
    const uint64_t zoom = std::max<uint32_t>(samplesPerPixel, 1);
    const int64_t width = static_cast<int64_t>(area.right) - area.left;
    if (width <= 0 || firstSample >= sampleCount) return ticks;
    // The smallest step of 1, 2 or 5 times a power of ten at least minSpacing columns long.
    const uint64_t least = zoom * static_cast<uint64_t>(std::max(minSpacing, 1));
    uint64_t step = 1;
    for (uint64_t power = 1; step < least; power *= 10) {
        for (uint64_t m : {1u, 2u, 5u}) {
            step = m * power;
            if (step >= least) break;
        }
    }
    const uint64_t end = std::min<uint64_t>(sampleCount, firstSample + static_cast<uint64_t>(width) * zoom);
    for (uint64_t sample = (firstSample + step - 1) / step * step; sample < end; sample += step)
        ticks.push_back(
            {area.left + static_cast<int32_t>((sample - firstSample) / zoom), static_cast<uint32_t>(sample)});
    return ticks;
}

std::optional<int32_t> LoopEditorGeometry::scroll(ScrollCode code, int32_t position, uint32_t sampleCount) {
    const uint64_t zoom = samplesPerPixel;
    uint64_t step = 0;
    switch (code) {
    case ScrollCode::LineLeft:
    case ScrollCode::LineRight: step = 20 * zoom; break;
    case ScrollCode::PageLeft:
    case ScrollCode::PageRight: step = 200 * zoom; break;
    case ScrollCode::ThumbTrack:
    case ScrollCode::ThumbPosition: firstSample = sampleForThumb(position, sampleCount); return position;
    case ScrollCode::Other: return std::nullopt;
    }
    if (code == ScrollCode::LineLeft || code == ScrollCode::PageLeft) {
        firstSample = step < firstSample ? static_cast<uint32_t>(firstSample - step) : 0;
    } else {
        const uint64_t next = firstSample + step;
        firstSample = next < sampleCount ? static_cast<uint32_t>(next) : sampleCount;
    }
    return thumbForSample(firstSample, sampleCount);
}

void LoopEditorGeometry::setZoom(int32_t position) {
    samplesPerPixel = static_cast<uint32_t>(std::clamp(position, kMinZoom, kMaxZoom));
}

int32_t LoopEditorGeometry::centreOn(int32_t loopPoint, uint32_t sampleCount) {
    // (left - right) / 2 rounds toward zero, as the half width always has.
    const int64_t first = static_cast<int64_t>(loopPoint) + (static_cast<int64_t>(area.left) - area.right) / 2;
    firstSample = first < 0 ? 0 : clampToU32(static_cast<uint64_t>(first));
    return thumbForSample(firstSample, sampleCount);
}

std::optional<uint32_t> LoopEditorGeometry::sampleAt(int32_t x, int32_t y) const {
    const int64_t dx = static_cast<int64_t>(x) - area.left;
    const int64_t dy = static_cast<int64_t>(y) - area.top;
    if (dx < 0 || dx >= static_cast<int64_t>(area.right) - area.left) return std::nullopt;
    if (dy < 0 || dy >= static_cast<int64_t>(area.bottom) - area.top) return std::nullopt;
    return clampToU32(firstSample + static_cast<uint64_t>(dx) * samplesPerPixel);
}

}  // namespace tonvero
