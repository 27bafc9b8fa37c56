#pragma once
// Estimates the fundamental frequency of a sample, so an imported sound can
// be given the Basic Note and Frequency that make its Zone play in tune.
//
// The method is YIN (de Cheveigné and Kawahara): the difference function of
// a window against itself at each lag, normalised by its running mean, whose
// first dip under a threshold is the period. The sound is first low-passed a
// quarter above the highest pitch sought, since harmonics far above it shift
// too much between whole lags for the period's dip to show. Each dip is
// refined by a parabola (its depth too: a period between two lags still dips
// to near zero), and the period is then made exact from the dip near 4, 16,
// 64... periods, up to the longest lag searched (the period is that lag over
// the count), which averages out the parabola's error on short periods. Three
// windows in the steady part of the sample (from 15 % of its length on, past
// the attack) are tried and the clearest kept; a window takes twice the
// longest period, so 0.1 s at 44.1 kHz for the default 20 Hz. Confidence is
// one minus the normalised difference at the period: near 1 for a clean tone;
// silence and noise give no estimate.
//
// Threads: pure functions; any thread.

#include <cstdint>
#include <optional>
#include <span>

namespace tonvero {

struct PitchOptions {
    double lowestHz = 20.0;
    double highestHz = 5000.0;
    // Below this confidence there is no estimate.
    double leastConfidence = 0.7;
};

struct PitchEstimate {
    double hz = 0;          // the fundamental
    double confidence = 0;  // 0..1
};

// The fundamental of `samples` at `sampleRate` Hz; nothing for silence,
// noise, a sample too short for two periods of the lowest pitch that fits,
// or a rate of 0.
std::optional<PitchEstimate> estimatePitch(std::span<const int16_t> samples, double sampleRate,
                                           const PitchOptions& options = {});

// The equal-tempered frequency of MIDI key `key` (69 is 440 Hz).
double keyFrequency(double key);
// The MIDI key nearest `hz`, within 0..127.
int32_t nearestKey(double hz);
// How many cents `hz` lies above key `key` (negative: below).
double centsFromKey(double hz, int32_t key);

// The Basic Note and Wave Frequency that make a sample of fundamental `hz`,
// recorded at `sampleRate`, play in tune: basicNote is the key nearest the
// fundamental, and frequency = round(sampleRate · keyFrequency(basicNote) / hz),
// so that played at its basic note the Zone sounds hz · frequency /
// sampleRate = the key's own frequency. centsOff says how far the sample
// itself lies from that key.
struct TuningProposal {
    int32_t basicNote = 60;
    uint32_t frequency = 0;
    double centsOff = 0;
};
TuningProposal proposeTuning(double sampleRate, double hz);

}  // namespace tonvero
