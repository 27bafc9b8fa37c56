// The software mixer's inner loop: mixBlock over 1, 8 and 32 active looped
// voices at assorted steps, 20 ms blocks at 44100 Hz (882 frames, 3528
// bytes), reported as voice-frames mixed per second.

#include "BenchWaves.h"

#include "engine/MixerEngine.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace tonvero;

constexpr uint32_t kBlockBytes = 3528;
constexpr uint32_t kBlockFrames = kBlockBytes / 4;

void BM_MixBlock(benchmark::State& state) {
    const int voices = static_cast<int>(state.range(0));
    // No device: mixBlock writes into a plain block; the engine's timers are never started.
    MixerEngine engine(
        MixerMode::Software, 44100, [] { return DeviceOpenResult{}; }, &realTimerService());
    const int32_t slot = engine.bank.insertInstrument("bench");
    Instrument& inst = *engine.bank.instruments[static_cast<size_t>(slot)];
    inst.loopFading = 0;  // held notes keep their level: every voice mixes every pass

    // Eight looped Waves of different lengths, each a sine at its own rate.
    std::vector<Wave*> waves;
    for (int w = 0; w < 8; ++w) {
        waves.push_back(Bank::addZone(inst, benchWave(w))->wave.get());
    }

    // Assorted pitches: two octaves down to two up.
    for (int v = 0; v < voices; ++v) {
        Voice& voice = engine.voices[static_cast<size_t>(v)];
        voice.wave = waves[static_cast<size_t>(v % 8)];
        voice.velocity = 40 + (v * 13) % 88;
        voice.channel = v % 16;
        voice.pitchOffset = (v * 7) % 49 - 24;
        voice.active = 1;
        const uint32_t hz = MixerEngine::noteFrequency(voice.wave->frequency, voice.pitchOffset, 0.0f);
        voice.mixerVoice = engine.startMixerVoice(voice, hz, (v * 37) % 128, &inst);
    }

    std::vector<uint8_t> block(kBlockBytes);
    for (auto _ : state) {
        engine.mixBlock(block.data(), kBlockBytes);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    int active = 0;
    for (const MixerVoice& m : engine.custom.mixerVoices) active += m.active;
    if (active != voices) state.SkipWithError("a voice stopped sounding");
    state.counters["voice_frames_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * voices * kBlockFrames, benchmark::Counter::kIsRate);
    state.counters["blocks_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_MixBlock)->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
