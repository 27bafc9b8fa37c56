#include "engine/PeakLimiter.h"

#include "engine/MixKernels.h"

#include <algorithm>
#include <cmath>

namespace tonvero {

PeakLimiter::PeakLimiter(float threshold, double releaseSeconds, int32_t rate, uint32_t lookAhead)
    : threshold_(threshold),
      recovery_(1.0 - std::exp(-1.0 / (std::max(1e-4, releaseSeconds) * std::max(1, rate)))),
      lookAhead_(std::clamp<uint32_t>(lookAhead, 1, kLookAhead)),
      delayFrames_(lookAhead_ - 1),
      recentSum_(lookAhead_) {
    recent_.fill(1.0);
}

bool PeakLimiter::atRest() const {
    return released_ == 1.0 && applied_ == 1.0 && recentSum_ == static_cast<double>(lookAhead_);
}

void PeakLimiter::process(float* stereo, uint32_t frames, float* gains) noexcept {
    // Nothing near the threshold and no gain to recover: the sound only passes the delay.
    if (peakOf(stereo, static_cast<int32_t>(2 * frames)) <= threshold_ && atRest()) {
        passThrough(stereo, frames);
        if (gains) std::fill(gains, gains + frames, 1.0f);
        return;
    }
    for (uint32_t k = 0; k < frames; ++k, ++frame_) {
        float* x = stereo + 2 * k;
        const float framePeak = std::max(std::fabs(x[0]), std::fabs(x[1]));
        const float needed = framePeak > threshold_ ? threshold_ / framePeak : 1.0f;

        // Running minimum of the needed gains over the look-ahead.
        while (minSize_ > 0 && minValues_[(minHead_ + minSize_ - 1) & kQueueMask] >= needed) --minSize_;
        const uint32_t tail = (minHead_ + minSize_) & kQueueMask;
        minValues_[tail] = needed;
        minFrames_[tail] = frame_;
        ++minSize_;
        while (minFrames_[minHead_] + lookAhead_ <= frame_) {
            minHead_ = (minHead_ + 1) & kQueueMask;
            --minSize_;
        }
        const double minimum = minValues_[minHead_];

        // Down at once to the minimum, back up toward 1 with the release.
        released_ = std::min(minimum, released_ + (1.0 - released_) * recovery_);
        if (released_ > 1.0 - 1e-9) released_ = 1.0;

        // Running mean over the look-ahead: a smooth gain that reaches each
        // minimum by the time its frame comes out of the delay.
        const uint32_t slot = static_cast<uint32_t>(frame_ % lookAhead_);
        recentSum_ += released_ - recent_[slot];
        recent_[slot] = released_;
        applied_ = std::min(1.0, recentSum_ / lookAhead_);
        if (applied_ > 1.0 - 1e-7) applied_ = 1.0;

        // The frame delayFrames_ back goes out with that gain.
        const uint32_t in = static_cast<uint32_t>(frame_ % lookAhead_);
        const uint32_t out = static_cast<uint32_t>((frame_ + lookAhead_ - delayFrames_) % lookAhead_);
        delay_[2 * in] = x[0];
        delay_[2 * in + 1] = x[1];
        const float g = static_cast<float>(applied_);
        x[0] = delay_[2 * out] * g;
        x[1] = delay_[2 * out + 1] * g;
        if (gains) gains[k] = g;
    }
}

void PeakLimiter::passThrough(float* stereo, uint32_t frames) noexcept {
    // Each input frame goes into the delay line, then the frame delayFrames_
    // back comes out (the one just written when there is no delay). The two
    // places move on together and wrap at the line's end.
    uint32_t in = static_cast<uint32_t>(frame_ % lookAhead_);
    uint32_t out = (in + lookAhead_ - delayFrames_) % lookAhead_;
    for (uint32_t k = 0; k < frames; ++k) {
        delay_[2 * in] = stereo[2 * k];
        delay_[2 * in + 1] = stereo[2 * k + 1];
        stereo[2 * k] = delay_[2 * out];
        stereo[2 * k + 1] = delay_[2 * out + 1];
        if (++in == lookAhead_) in = 0;
        if (++out == lookAhead_) out = 0;
    }
    frame_ += frames;
    // The needed gains of those frames were all 1: the running minimum is 1.
    minHead_ = 0;
    minSize_ = 1;
    minValues_[0] = 1.0f;
    minFrames_[0] = frame_ - 1;
}

}  // namespace tonvero
