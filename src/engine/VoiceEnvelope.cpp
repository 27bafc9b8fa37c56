#include "engine/VoiceEnvelope.h"

#include <algorithm>
#include <cmath>

namespace tonvero {

namespace {

// Frames of a SoundFont time; the shortest times (kInstantTimecents) take none.
double framesOf(int32_t timecents, int32_t rate) {
    if (timecents <= kInstantTimecents) return 0;
    return timecentsToSeconds(std::min(timecents, 8000)) * rate;
}

}  // namespace

VoiceEnvelope::VoiceEnvelope(const EnvelopeSettings& s, int32_t key, int32_t rate, bool volume) : volume_(volume) {
    // Key scaling counts keys below 60: an octave up at 100 halves the time.
    const int32_t below60 = 60 - std::clamp(key, 0, 127);
    delayFrames_ = framesOf(s.delay, rate);
    attackFrames_ = framesOf(s.attack, rate);
    holdFrames_ = framesOf(s.hold + s.keyToHold * below60, rate);
    const double decayFrames = framesOf(s.decay + s.keyToDecay * below60, rate);
    const double releaseFrames = framesOf(s.release, rate);
    // A fall over the whole scale takes the stage's time; an instant one ends at once.
    decayPerFrame_ = decayFrames > 0 ? 1.0 / decayFrames : 2.0;
    releasePerFrame_ = releaseFrames > 0 ? 1.0 / releaseFrames : 2.0;
    sustain_ = volume ? 1.0 - std::clamp(s.sustain, 0, 1440) / (10.0 * kVolumeRangeDb)
                      : 1.0 - std::clamp(s.sustain, 0, 1000) / 1000.0;
    sustain_ = std::max(0.0, sustain_);
    level_ = 0;
    enter(Stage::Delay);
}

void VoiceEnvelope::enter(Stage stage) noexcept {
    stage_ = stage;
    switch (stage) {
    case Stage::Delay:
        framesLeft_ = delayFrames_;
        if (framesLeft_ <= 0) enter(Stage::Attack);
        break;
    case Stage::Attack:
        framesLeft_ = attackFrames_;
        if (framesLeft_ <= 0) {
            level_ = 1;
            enter(Stage::Hold);
        }
        break;
    case Stage::Hold:
        level_ = 1;
        framesLeft_ = holdFrames_;
        if (framesLeft_ <= 0) enter(Stage::Decay);
        break;
    case Stage::Decay:
        if (level_ <= sustain_) enter(Stage::Sustain);
        break;
    case Stage::Sustain:
        level_ = sustain_;
        if (level_ <= 0) stage_ = Stage::Finished;
        break;
    case Stage::Release:
        if (level_ <= 0) stage_ = Stage::Finished;
        break;
    case Stage::Finished: level_ = 0; break;
    }
}

float VoiceEnvelope::advance(uint32_t frames) noexcept {
    double left = frames;
    while (left > 0 && stage_ != Stage::Sustain && stage_ != Stage::Finished) {
        switch (stage_) {
        case Stage::Delay:
        case Stage::Hold: {
            const double used = std::min(left, framesLeft_);
            framesLeft_ -= used;
            left -= used;
            if (framesLeft_ <= 0) enter(stage_ == Stage::Delay ? Stage::Attack : Stage::Decay);
            break;
        }
        case Stage::Attack: {
            const double used = std::min(left, framesLeft_);
            level_ += (1.0 - level_) * (used / framesLeft_);
            framesLeft_ -= used;
            left -= used;
            if (framesLeft_ <= 0) {
                // From the straight attack onto the decibel scale, at full level.
                level_ = 1;
                enter(Stage::Hold);
            }
            break;
        }
        case Stage::Decay: {
            const double needed = (level_ - sustain_) / decayPerFrame_;
            if (needed <= left) {
                left -= needed;
                enter(Stage::Sustain);
            } else {
                level_ -= decayPerFrame_ * left;
                left = 0;
            }
            break;
        }
        case Stage::Release: {
            level_ -= releasePerFrame_ * left;
            left = 0;
            if (level_ <= 0) enter(Stage::Finished);
            break;
        }
        default: left = 0; break;
        }
    }
    return static_cast<float>(level_);
}

void VoiceEnvelope::release() noexcept {
    if (stage_ == Stage::Finished || stage_ == Stage::Release) return;
    if (volume_ && (stage_ == Stage::Attack || stage_ == Stage::Delay)) {
        // The attack's amplitude onto the decibel scale, to fall from there.
        const double db = level_ > 0 ? 20.0 * std::log10(level_) : -kVolumeRangeDb;
        level_ = std::max(0.0, 1.0 + db / kVolumeRangeDb);
    }
    enter(Stage::Release);
}

float VoiceEnvelope::amplitude() const noexcept {
    if (stage_ == Stage::Finished) return 0.0f;
    if (stage_ == Stage::Attack || stage_ == Stage::Delay) return static_cast<float>(level_);
    if (level_ <= 0) return 0.0f;
    // 10^((level - 1) x 96 / 20), as a power of two.
    constexpr float kLog2Of10TimesRange = static_cast<float>(3.32192809488736 * kVolumeRangeDb / 20.0);
    return std::exp2(static_cast<float>(level_ - 1.0) * kLog2Of10TimesRange);
}

}  // namespace tonvero
