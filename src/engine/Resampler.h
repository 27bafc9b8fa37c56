#pragma once
// Reads a Studio voice's Wave at its fractional position and steps it on:
// nearest sample, linear, 4-point cubic (Catmull-Rom) or a 16-point
// Kaiser-windowed sinc from a table made once. The position keeps its
// fraction across calls and loop wraps (a wrap takes the loop's length off
// it); reads around a loop's end continue at its start, reads before the
// first sample or past the last give silence. Nothing is read outside the
// Wave's samples.
//
// Threads: the renderer's; real-time safe (no allocation, no lock).

#include "engine/MixerMode.h"
#include "engine/StudioVoice.h"

#include <cstdint>

namespace tonvero {

// Builds the sinc table if it is not built yet. Call it before rendering
// (the Studio mixer's constructor does), so the audio thread never does.
void prepareResampler();

// Whether the resampler may use the processor's wider vectors (AVX2) where
// it has them; on by default. Both ways give the same bits; returns the
// previous setting (for tests that compare them).
bool allowWideVectors(bool allow) noexcept;

// Fills the voice's loopEdge from its samples and loop (at its start).
void prepareLoopEdge(StudioVoice& voice) noexcept;

// Writes `frames` mono values (in sample units, -32768..32767) of `voice`
// to `out` and moves its position on. Returns the frames written before an
// unlooped Wave ran out; `out` is zero from there to `frames`.
uint32_t resampleVoice(StudioVoice& voice, Interpolation interpolation, float* out, uint32_t frames) noexcept;

}  // namespace tonvero
