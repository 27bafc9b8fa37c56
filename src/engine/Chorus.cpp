#include "engine/Chorus.h"

#include "engine/Clones.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace tonvero {

namespace {

constexpr double kTwoPi = 6.283185307179586;

}  // namespace

Chorus::Chorus(int32_t rate, const ChorusSettings& settings) {
    rate = rate > 0 ? rate : 44100;
    voices_ = std::clamp(settings.voices, kMinChorusVoices, kMaxChorusVoices);
    phaseStep_ = std::clamp(settings.rateHz, kMinChorusRateHz, kMaxChorusRateHz) / rate;
    // At least three frames, so the interpolation's last point has been written.
    minDelay_ = std::max(3.0f, static_cast<float>(kMinDelaySeconds * rate));
    depth_ = static_cast<float>(std::clamp(settings.depthMs, 0.0, kMaxChorusDepthMs) * 0.001 * rate);
    // A side's copies together as loud as one: their squared gains sum to the level's square.
    gain_ = static_cast<float>(std::clamp(settings.level, 0.0, 1.0) / std::sqrt(static_cast<double>(voices_)));
    uint32_t length = 1;
    while (length < static_cast<uint32_t>(minDelay_ + depth_) + kPiece + 8) length *= 2;
    ring_.assign(length, 0.0f);
    mask_ = length - 1;
}

void Chorus::clear() noexcept {
    std::fill(ring_.begin(), ring_.end(), 0.0f);
    quiet_ = true;
    silentFrames_ = 0;
}

void Chorus::follow(const Chorus& lead) noexcept {
    if (!quiet_) return;
    phase_ = lead.phase_;
    write_ = lead.write_;
}

void Chorus::process(const float* input, float* left, float* right, uint32_t frames) noexcept {
    if (!input && quiet_) return;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(kPiece, frames - done);
        processPiece(input ? input + done : nullptr, left + done, right + done, n);
        done += n;
        if (quiet_) return;
    }
}

namespace {

// Catmull-Rom between b and c, t of the way.
inline float catmullRom(float a, float b, float c, float d, float t) {
    return b + 0.5f * t * (c - a + t * (2.0f * a - 5.0f * b + 4.0f * c - d + t * (3.0f * (b - c) + d - a)));
}

}  // namespace

TONVERO_CLONED void Chorus::addCopy(uint64_t position, uint64_t step, float* out, uint32_t n) const noexcept {
    // The delay changes slowly, so the read position moves on by one sample
    // a frame and its fraction drifts a little: between the frames where the
    // fraction wraps (and where the ring does), samples are read straight
    // along and the fraction moves by a constant amount, which the compiler
    // can run four frames at a time.
    const float* ring = ring_.data();
    const uint32_t size = static_cast<uint32_t>(ring_.size());
    const int64_t drift = static_cast<int64_t>(step - (uint64_t{1} << 32));
    for (uint32_t k = 0; k < n;) {
        const uint32_t index = static_cast<uint32_t>(position >> 32);
        const uint32_t fraction = static_cast<uint32_t>(position);
        const uint32_t first = (index - 1) & mask_;
        uint64_t run = n - k;
        if (drift > 0) run = std::min<uint64_t>(run, (0xFFFFFFFFull - fraction) / static_cast<uint64_t>(drift) + 1);
        if (drift < 0) run = std::min<uint64_t>(run, fraction / static_cast<uint64_t>(-drift) + 1);
        run = std::min<uint64_t>(run, first + 4 <= size ? size - first - 3 : 0);
        if (run == 0) {
            // The four points straddle the ring's end: one frame the long way.
            const float t = static_cast<float>(fraction) * 2.3283064e-10f;
            out[k] += gain_ * catmullRom(ring[(index - 1) & mask_], ring[index & mask_], ring[(index + 1) & mask_],
                                         ring[(index + 2) & mask_], t);
            position += step;
            ++k;
            continue;
        }
        const float* __restrict p = ring + first;
        float* __restrict o = out + k;
        const float t0 = static_cast<float>(fraction) * 2.3283064e-10f;
        const float dt = static_cast<float>(drift) * 2.3283064e-10f;
        const int32_t m = static_cast<int32_t>(run);
        const float gain = gain_;
        for (int32_t j = 0; j < m; ++j)
            o[j] += gain * catmullRom(p[j], p[j + 1], p[j + 2], p[j + 3], t0 + dt * static_cast<float>(j));
        position += step * static_cast<uint64_t>(m);
        k += static_cast<uint32_t>(m);
    }
}

void Chorus::processPiece(const float* input, float* left, float* right, uint32_t n) noexcept {
    const uint32_t at = write_ & mask_;
    const uint32_t first = std::min<uint32_t>(n, static_cast<uint32_t>(ring_.size()) - at);
    if (input) {
        std::memcpy(ring_.data() + at, input, sizeof(float) * first);
        std::memcpy(ring_.data(), input + first, sizeof(float) * (n - first));
        quiet_ = false;
        silentFrames_ = 0;
    } else {
        std::memset(ring_.data() + at, 0, sizeof(float) * first);
        std::memset(ring_.data(), 0, sizeof(float) * (n - first));
        silentFrames_ += n;
    }

    // Each copy's delay at the piece's two ends, straight between them (the
    // swing is far slower than a piece): its read position then moves on by
    // a constant step a frame, kept in 32.32 fixed point.
    const double span = phaseStep_ * n;
    for (int32_t copy = 0; copy < 2 * voices_; ++copy) {
        const double phase = phase_ + (copy / 2 + 0.5 * (copy % 2)) / voices_;
        const double from = minDelay_ + depth_ * 0.5 * (1.0 + std::sin(kTwoPi * phase));
        const double to = minDelay_ + depth_ * 0.5 * (1.0 + std::sin(kTwoPi * (phase + span)));
        uint64_t position =
            (static_cast<uint64_t>(write_) << 32) - static_cast<uint64_t>(std::llround(from * 4294967296.0));
        const uint64_t step = static_cast<uint64_t>(std::llround((1.0 - (to - from) / n) * 4294967296.0));
        float* __restrict out = copy % 2 ? right : left;
        addCopy(position, step, out, n);
    }
    phase_ += span;
    phase_ -= std::floor(phase_);
    write_ += n;
    if (silentFrames_ > ring_.size()) clear();
}

}  // namespace tonvero
