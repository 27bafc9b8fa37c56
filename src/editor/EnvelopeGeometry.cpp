#include "editor/EnvelopeGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tonvero {

namespace {

constexpr int32_t kLongestDelay = kInstantTimecents + EnvelopeGeometry::kDelaySpan;
constexpr int32_t kLongestTime = kInstantTimecents + EnvelopeGeometry::kTimeSpan;

// A stage's timecents above the shortest, within what the stage takes.
double span(int32_t timecents, int32_t longest) {
    return static_cast<double>(std::clamp(timecents, kInstantTimecents, longest)) - kInstantTimecents;
}

// The point's index in points().
size_t pointIndex(EnvelopeHandle handle) { return static_cast<size_t>(handle) + 1; }

int32_t* stageTime(EnvelopeSettings& e, EnvelopeHandle handle) {
    switch (handle) {
    case EnvelopeHandle::DelayEnd: return &e.delay;
    case EnvelopeHandle::AttackEnd: return &e.attack;
    case EnvelopeHandle::HoldEnd: return &e.hold;
    case EnvelopeHandle::DecayEnd: return &e.decay;
    case EnvelopeHandle::ReleaseEnd: return &e.release;
    case EnvelopeHandle::SustainEnd: return nullptr;
    }
    return nullptr;
}

// A dragged time, rounded to two significant digits of seconds (0.038 s,
// 1.5 s, 12 s) so that its field shows a plain number; a stage dragged to
// no width stays the shortest.
int32_t roundedTime(double timecents, int32_t longest) {
    timecents = std::min<double>(timecents, longest);
    if (timecents < kInstantTimecents + 0.5) return kInstantTimecents;
    const double seconds = std::exp2(timecents / 1200.0);
    const double scale = std::pow(10.0, 1 - std::floor(std::log10(seconds)));
    const double rounded = std::round(seconds * scale) / scale;
    const auto held = static_cast<int32_t>(std::lround(1200.0 * std::log2(rounded)));
    return std::clamp(held, kInstantTimecents, longest);
}

int32_t longestOf(EnvelopeHandle handle) {
    return handle == EnvelopeHandle::DelayEnd || handle == EnvelopeHandle::HoldEnd ? kLongestDelay : kLongestTime;
}

}  // namespace

double EnvelopeGeometry::pixelsPerTimecent() const {
    return std::max(area.width() - 1, 0) / static_cast<double>(kTotalSpan);
}

int32_t EnvelopeGeometry::levelY(int32_t centibels) const {
    const int32_t level = std::clamp(centibels, 0, kFloorCentibels);
    const double rows = std::max(area.height() - 1, 0);
    return area.top + static_cast<int32_t>(std::lround(level * rows / kFloorCentibels));
}

int32_t EnvelopeGeometry::centibelsAt(int32_t y) const {
    const int32_t rows = area.height() - 1;
    if (rows <= 0) return 0;
    const double level = static_cast<double>(y - area.top) * kFloorCentibels / rows;
    return std::clamp(static_cast<int32_t>(std::lround(level)), 0, kFloorCentibels);
}

std::array<double, 7> EnvelopeGeometry::offsets() const {
    std::array<double, 7> at{};
    at[1] = span(envelope.delay, kLongestDelay);
    at[2] = at[1] + span(envelope.attack, kLongestTime);
    at[3] = at[2] + span(envelope.hold, kLongestDelay);
    at[4] = at[3] + span(envelope.decay, kLongestTime);
    at[5] = at[4] + kSustainSpan;
    at[6] = at[5] + span(envelope.release, kLongestTime);
    return at;
}

int32_t EnvelopeGeometry::columnAt(double offset) const {
    return area.left + static_cast<int32_t>(std::lround(offset * pixelsPerTimecent()));
}

std::array<PixelPoint, 7> EnvelopeGeometry::points() const {
    const std::array<double, 7> at = offsets();
    const int32_t floor = area.bottom - 1;
    const int32_t full = area.top;
    const int32_t sustain = levelY(envelope.sustain);
    const int32_t rows[7] = {floor, floor, full, full, sustain, sustain, floor};
    std::array<PixelPoint, 7> p{};
    for (size_t i = 0; i < p.size(); ++i) p[i] = {columnAt(at[i]), rows[i]};
    return p;
}

PixelPoint EnvelopeGeometry::handlePoint(EnvelopeHandle handle) const { return points()[pointIndex(handle)]; }

std::vector<PixelPoint> EnvelopeGeometry::attackCurve(int32_t steps) const {
    const std::array<double, 7> at = offsets();
    steps = std::max(steps, 1);
    std::vector<PixelPoint> curve;
    curve.reserve(static_cast<size_t>(steps) + 1);
    for (int32_t i = 0; i <= steps; ++i) {
        const double fraction = static_cast<double>(i) / steps;
        // Amplitude `fraction` of full is 20 log10(fraction) dB: 200 log10 centibels.
        const double below = fraction > 0 ? -200.0 * std::log10(fraction) : kFloorCentibels;
        const int32_t centibels = static_cast<int32_t>(std::lround(std::min<double>(below, kFloorCentibels)));
        curve.push_back({columnAt(at[1] + fraction * (at[2] - at[1])), levelY(centibels)});
    }
    return curve;
}

std::optional<EnvelopeHandle> EnvelopeGeometry::handleAt(int32_t x, int32_t y) const {
    std::optional<EnvelopeHandle> found;
    int64_t nearest = 0;
    for (EnvelopeHandle h : {EnvelopeHandle::DelayEnd, EnvelopeHandle::AttackEnd, EnvelopeHandle::HoldEnd,
                             EnvelopeHandle::DecayEnd, EnvelopeHandle::SustainEnd, EnvelopeHandle::ReleaseEnd}) {
        const PixelPoint p = handlePoint(h);
        const int64_t dx = std::llabs(int64_t{x} - p.x);
        const int64_t dy = std::llabs(int64_t{y} - p.y);
        if (dx > kGrabRadius || dy > kGrabRadius) continue;
        // Later stages win ties (<=): they lie on top.
        const int64_t distance = dx * dx + dy * dy;
        if (!found || distance <= nearest) {
            found = h;
            nearest = distance;
        }
    }
    return found;
}

EnvelopeSettings EnvelopeGeometry::dragged(EnvelopeHandle handle, int32_t x, int32_t y) const {
    EnvelopeSettings result = envelope;
    const PixelPoint now = handlePoint(handle);
    const double perTimecent = pixelsPerTimecent();
    if (int32_t* time = stageTime(result, handle); time && x != now.x && perTimecent > 0) {
        // The stage starts where the one before it ends.
        const double start = offsets()[pointIndex(handle) - 1];
        const double stage = (x - area.left) / perTimecent - start;
        *time = roundedTime(kInstantTimecents + stage, longestOf(handle));
    }
    // The sustain level in whole decibels.
    if ((handle == EnvelopeHandle::DecayEnd || handle == EnvelopeHandle::SustainEnd) && y != now.y)
        result.sustain = (centibelsAt(y) + 5) / 10 * 10;
    return result;
}

}  // namespace tonvero
