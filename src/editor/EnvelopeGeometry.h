#pragma once
// The arithmetic of the volume envelope's curve, apart from any widget: where
// the curve's points lie for an envelope, which point a click grabs, and what
// dragging a point does to the envelope's times and sustain level.
//
// Left to right the curve runs through the delay (silent), the attack (up to
// full level), the hold (at full level), the decay (down to the sustain
// level), a stretch for the held note, and the release (down to silence).
// Each stage's width grows with the logarithm of its time: it is linear in
// the stage's timecents above the shortest time, so a stage of no time has
// no width and every doubling of a time adds the same width. The widths are
// fixed per timecent, sized so that every stage at its longest still fits.
// The decay and release are drawn with their own settings as widths (the
// time a fall over the whole range would take). Heights are decibels below
// full, linear, from 0 dB at the top to 96 dB down at the bottom.
//
// Pixel coordinates are the widget's; right and bottom are exclusive edges.
//
// Threads: any (plain values).

#include "bank/Articulation.h"
#include "editor/PixelGeometry.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tonvero {

// The points a user can drag, in the curve's order.
enum class EnvelopeHandle { DelayEnd, AttackEnd, HoldEnd, DecayEnd, SustainEnd, ReleaseEnd };

class EnvelopeGeometry {
public:
    // The longest delay and hold, and the longest attack, decay and release a
    // SoundFont takes, in timecents above the shortest.
    static constexpr int32_t kDelaySpan = 5000 - kInstantTimecents;
    static constexpr int32_t kTimeSpan = 8000 - kInstantTimecents;
    // The held note's stretch, as wide as a stage of this many timecents.
    static constexpr int32_t kSustainSpan = 12000;
    static constexpr int32_t kTotalSpan = 2 * kDelaySpan + 3 * kTimeSpan + kSustainSpan;
    // The bottom of the drawing: 96 dB below full.
    static constexpr int32_t kFloorCentibels = 960;
    // How far from a point (in pixels, either way) a click still grabs it.
    static constexpr int32_t kGrabRadius = 5;

    PixelRect area;  // the curve's area: the start at its bottom left
    EnvelopeSettings envelope;

    // Pixels per timecent: the whole width holds every stage at its longest.
    double pixelsPerTimecent() const;
    // The height of a level `centibels` below full (levels below the floor at the bottom).
    int32_t levelY(int32_t centibels) const;
    // The level at a height, in centibels below full (0 .. kFloorCentibels).
    int32_t centibelsAt(int32_t y) const;

    // The start, then the end of the delay, attack, hold, decay, held note and release.
    std::array<PixelPoint, 7> points() const;
    PixelPoint handlePoint(EnvelopeHandle handle) const;
    // The attack as drawn: its amplitude rises evenly in time, which in
    // decibels is a curve; `steps` + 1 points from the delay's end to the
    // attack's end (the part below the floor drawn at the floor).
    std::vector<PixelPoint> attackCurve(int32_t steps) const;

    // The point a click at (x, y) grabs: the nearest within kGrabRadius.
    // Where points lie on one another, the later stage's: dragging it away
    // uncovers the earlier ones.
    std::optional<EnvelopeHandle> handleAt(int32_t x, int32_t y) const;
    // The envelope with `handle` moved to (x, y). The delay, attack, hold,
    // decay and release points move sideways and set their stage's time
    // (between the shortest and the longest a SoundFont takes, rounded to two
    // significant digits of seconds; to the stage's start: the shortest); the
    // decay's and the held note's ends move up and down and set the sustain
    // level (0 to 96 dB down, in whole decibels). A coordinate that stays
    // where the point is keeps its value, so a drag in one direction changes
    // nothing in the other.
    EnvelopeSettings dragged(EnvelopeHandle handle, int32_t x, int32_t y) const;

private:
    // Timecents from the start to the end of each stage: the offsets the points' columns are drawn at.
    std::array<double, 7> offsets() const;
    int32_t columnAt(double offset) const;
};

}  // namespace tonvero
