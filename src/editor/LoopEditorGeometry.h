#pragma once
// The arithmetic of the Loop Point Editor's waveform area, apart from any
// widget: where each sample and the loop marker are drawn, how the scroll bar
// maps to samples (units of 1/32000 of the Wave), what scrolling, zooming and
// choosing a marker do to the first sample shown, and which sample a click hits.
//
// Pixel coordinates are the dialog's client coordinates; right and bottom are
// exclusive edges. Samples are indices into the Wave.
//
// Threads: any (plain values).

#include "editor/PixelGeometry.h"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace tonvero {

// What the scroll bar reports.
enum class ScrollCode {
    LineLeft,       // arrow left
    LineRight,      // arrow right
    PageLeft,       // click into the trough left of the thumb
    PageRight,      // ... right of it
    ThumbTrack,     // thumb being dragged, at `position`
    ThumbPosition,  // thumb released at `position`
    Other,          // home, end, end of scrolling: nothing changes
};

class LoopEditorGeometry {
public:
    // The scroll bar: range 0..32000 with a page of 1000, so the thumb
    // reaches at most 31001.
    static constexpr int32_t kScrollRange = 32000;
    static constexpr int32_t kScrollPage = 1000;
    static constexpr int32_t kLastThumb = kScrollRange - kScrollPage + 1;
    static constexpr int32_t kMinZoom = 1;
    static constexpr int32_t kMaxZoom = 20;

    PixelRect area;                // the waveform area, inside the black frame
    uint32_t firstSample = 0;      // sample drawn at the left edge
    uint32_t samplesPerPixel = 1;  // zoom, 1..20

    // Thumb position (0..32000, before the scroll bar limits it) for a first
    // sample: trunc(sample / count * 32000). A Wave without samples gives 0.
    static int32_t thumbForSample(uint32_t sample, uint32_t sampleCount);
    // First sample for a thumb position: trunc(position * 0.00003125f * count),
    // in single precision as the scale has always been computed.
    static uint32_t sampleForThumb(int32_t position, uint32_t sampleCount);

    // The zero line's height: top + height / 2.
    int32_t zeroLineY() const;
    // Height of sample value v: full scale spans the area, positive values below the zero line.
    int32_t sampleY(int16_t value) const;
    // The points the trace joins: the first sample at the left edge, then one
    // sample per pixel column (samplesPerPixel apart; those between are
    // skipped) until the right edge or the last sample. Empty when the first
    // sample lies at or past the end.
    std::vector<PixelPoint> trace(const int16_t* samples, uint32_t sampleCount) const;
    // The column of the marker for a loop point (a sample index taken as
    // unsigned), or nothing when the point lies outside the samples shown.
    std::optional<int32_t> markerX(uint32_t loopPoint) const;

    // The columns from loopBegin to loopEnd, cut to the samples shown (for
    // shading the loop region), or nothing when no sample of it is shown.
    std::optional<std::pair<int32_t, int32_t>> loopColumns(uint32_t loopBegin, uint32_t loopEnd) const;
    // The sample axis: a tick every 1, 2 or 5 times a power of ten samples,
    // at least minSpacing pixels apart, at the columns of the samples shown
    // (below sampleCount).
    struct AxisTick {
        int32_t x;
        uint32_t sample;
    };
    std::vector<AxisTick> axisTicks(uint32_t sampleCount, int32_t minSpacing) const;

    // Applies a scroll bar report; returns the thumb position to show
    // afterwards, or nothing when the thumb stays where it was.
    std::optional<int32_t> scroll(ScrollCode code, int32_t position, uint32_t sampleCount);
    // The trackbar's position becomes the zoom (kept within 1..20). The first sample stays.
    void setZoom(int32_t position);
    // Choosing a marker: the first sample moves half the area's width to the
    // left of the loop point (not below 0), so at zoom 1 the marker stands in
    // the middle. Returns the thumb position for it.
    int32_t centreOn(int32_t loopPoint, uint32_t sampleCount);
    // The sample under a click at (x, y), or nothing outside the area.
    std::optional<uint32_t> sampleAt(int32_t x, int32_t y) const;
};

}  // namespace tonvero
