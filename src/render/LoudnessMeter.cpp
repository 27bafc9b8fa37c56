#include "render/LoudnessMeter.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace tonvero {

namespace {
ebur128_state* meter(void* state) { return static_cast<ebur128_state*>(state); }
}  // namespace

LoudnessMeter::LoudnessMeter(int32_t rate, bool truePeak) : truePeak_(truePeak) {
    const int mode = EBUR128_MODE_I | EBUR128_MODE_SAMPLE_PEAK | (truePeak ? EBUR128_MODE_TRUE_PEAK : 0);
    state_ = ebur128_init(2, static_cast<unsigned long>(rate), mode);
}

LoudnessMeter::~LoudnessMeter() {
    if (state_) {
        ebur128_state* state = meter(state_);
        ebur128_destroy(&state);
    }
}

void LoudnessMeter::addFloat(const float* stereoFrames, uint32_t frames) {
    if (state_ && frames > 0) ebur128_add_frames_float(meter(state_), stereoFrames, frames);
}

void LoudnessMeter::addShort(const int16_t* stereoFrames, uint32_t frames) {
    if (state_ && frames > 0) ebur128_add_frames_short(meter(state_), stereoFrames, frames);
}

double LoudnessMeter::integratedLufs() const {
    double lufs = -std::numeric_limits<double>::infinity();
    if (state_ && ebur128_loudness_global(meter(state_), &lufs) != EBUR128_SUCCESS)
        return -std::numeric_limits<double>::infinity();
    return lufs;
}

double LoudnessMeter::samplePeak() const {
    double peak = 0;
    for (unsigned c = 0; state_ && c < 2; ++c) {
        double p = 0;
        if (ebur128_sample_peak(meter(state_), c, &p) == EBUR128_SUCCESS) peak = std::max(peak, p);
    }
    return peak;
}

double LoudnessMeter::truePeak() const {
    double peak = 0;
    for (unsigned c = 0; state_ && truePeak_ && c < 2; ++c) {
        double p = 0;
        if (ebur128_true_peak(meter(state_), c, &p) == EBUR128_SUCCESS) peak = std::max(peak, p);
    }
    return peak;
}

double decibelsOf(double linear) {
    return linear > 0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

}  // namespace tonvero
