#include "engine/VoiceLfo.h"

#include <algorithm>
#include <cmath>

namespace tonvero {

VoiceLfo::VoiceLfo(const LfoSettings& settings, int32_t rate)
    : VoiceLfo(absoluteCentsToHz(std::clamp(settings.frequency, -16000, 4500)),
               settings.delay <= kInstantTimecents ? 0.0 : timecentsToSeconds(std::min(settings.delay, 5000)), rate) {}

VoiceLfo::VoiceLfo(double hz, double delaySeconds, int32_t rate)
    : delayFrames_(delaySeconds * rate), cyclesPerFrame_(rate > 0 ? hz / rate : 0) {}

float VoiceLfo::advance(uint32_t frames) noexcept {
    double n = frames;
    if (delayFrames_ > 0) {
        const double waited = std::min(delayFrames_, n);
        delayFrames_ -= waited;
        n -= waited;
        if (delayFrames_ > 0) return 0.0f;
    }
    // A chunk moves the phase on by far less than a cycle (the fastest LFO
    // at 110 Hz, 64 frames): wrapping by subtraction is enough.
    double p = phase_ + cyclesPerFrame_ * n * 0.5;
    while (p >= 1) p -= 1;
    phase_ += cyclesPerFrame_ * n;
    while (phase_ >= 1) phase_ -= 1;
    const double value = p < 0.25 ? 4 * p : p < 0.75 ? 2 - 4 * p : 4 * p - 4;
    return static_cast<float>(value);
}

}  // namespace tonvero
