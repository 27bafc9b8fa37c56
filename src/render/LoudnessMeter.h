#pragma once
// Measures stereo sound as EBU R128 does, through libebur128: the integrated
// loudness in LUFS, the sample peak and, when asked for, the true peak (4x
// oversampled), both as linear full-scale values.
//
// One thread at a time.

#include <cstdint>

namespace tonvero {

class LoudnessMeter {
public:
    // `rate` in Hz; `truePeak` also measures the true peak (which costs more).
    LoudnessMeter(int32_t rate, bool truePeak);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    bool valid() const { return state_ != nullptr; }
    // Interleaved stereo frames, full scale 1.0 (floats) or 32768 (shorts).
    void addFloat(const float* stereoFrames, uint32_t frames);
    void addShort(const int16_t* stereoFrames, uint32_t frames);
    // LUFS; minus infinity for silence (nothing above the absolute gate).
    double integratedLufs() const;
    // The larger of the two channels' peaks, linear (1.0 full scale).
    double samplePeak() const;
    // 0 unless made with `truePeak`.
    double truePeak() const;

private:
    void* state_ = nullptr;  // ebur128_state*
    bool truePeak_ = false;
};

// 20 log10(linear); minus infinity for 0.
double decibelsOf(double linear);

}  // namespace tonvero
