// The Studio mixer's inner loop: render() over 1, 32 and 256 held, looped
// voices at assorted pitches, pans and velocities, 20 ms blocks at 44100 Hz
// (882 frames), with cubic and with sinc interpolation, and with cubic on
// Zones with articulation (envelope, vibrato and a low-pass filter that the
// velocities move), the reverb and chorus off; and once more on those Zones
// with both effects on and every channel sending to them (a cost per output
// frame, whatever the voices); reported as the time per voice and output
// frame and as voice-frames per second. Then one device period at a time
// (64, 128, 256 frames at 48 kHz), as a low-latency callback renders, as a
// share of the period's length.

#include "BenchWaves.h"

#include "bank/Bank.h"
#include "engine/StudioMixer.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace tonvero;

constexpr uint32_t kBlockFrames = 882;

// A Studio mixer at `rate` Hz over a bank of eight looped sine Waves, with
// `voices` held notes sounding on all 16 channels (no drums), each channel
// panned apart and sending to the chorus.
struct BenchMixer {
    Bank bank;
    std::unique_ptr<StudioMixer> mixer;
};

std::unique_ptr<BenchMixer> makeBenchMixer(int voices, int32_t rate, Interpolation interpolation, bool shaped,
                                           bool effects) {
    auto bench = std::make_unique<BenchMixer>();
    Bank& bank = bench->bank;
    const int32_t slot = bank.insertInstrument("bench");
    Instrument& inst = *bank.instruments[static_cast<size_t>(slot)];
    inst.loopFading = 0;  // held notes keep their level: every voice sounds every block

    // Eight looped Waves of different lengths, each a sine at its own rate,
    // over key ranges of their own.
    for (int w = 0; w < 8; ++w) {
        Zone* zone = Bank::addZone(inst, benchWave(w));
        zone->rangeStart = 16 * w;
        zone->rangeEnd = 16 * w + 15;
        zone->basicNote = 16 * w + 8;
        if (shaped) {
            zone->articulation = std::make_unique<ZoneArticulation>();
            zone->articulation->volumeEnvelope.attack = -3600;  // 125 ms
            zone->articulation->volumeEnvelope.decay = 2400;    // 4 s for the whole range
            zone->articulation->volumeEnvelope.sustain = 100;
            zone->articulation->vibratoLfo.toPitch = 10;
            zone->articulation->filterCutoff = 11000;
            zone->articulation->filterResonance = 60;
        }
    }

    StudioSettings settings;
    settings.voices = 256;
    settings.interpolation = interpolation;
    settings.reverb.on = effects;
    settings.chorus.on = effects;
    bench->mixer = std::make_unique<StudioMixer>(rate, settings, bank);
    StudioMixer& mixer = *bench->mixer;
    // Two octaves either side of each Zone's basic note.
    for (int c = 0; c < 16; ++c) {
        StudioEvent pan;
        pan.type = 0xB0;
        pan.channel = static_cast<uint8_t>(c);
        pan.data1 = 10;
        pan.data2 = static_cast<uint8_t>((c * 37) % 128);
        pan.immediate = true;
        mixer.post(pan);
        StudioEvent chorus = pan;
        chorus.data1 = 93;
        chorus.data2 = 40;
        mixer.post(chorus);
    }
    for (int v = 0; v < voices; ++v) {
        StudioEvent note;
        note.type = 0x90;
        note.channel = static_cast<uint8_t>(v % 16 == 9 ? 10 : v % 16);
        note.data1 = static_cast<uint8_t>((v * 29) % 128);
        note.data2 = static_cast<uint8_t>(40 + (v * 13) % 88);
        note.immediate = true;
        mixer.post(note);
    }
    return bench;
}

void BM_StudioRender(benchmark::State& state, Interpolation interpolation, bool shaped, bool effects) {
    const int voices = static_cast<int>(state.range(0));
    auto bench = makeBenchMixer(voices, 44100, interpolation, shaped, effects);
    StudioMixer& mixer = *bench->mixer;
    std::vector<int16_t> block(2 * kBlockFrames);
    for (auto _ : state) {
        mixer.render(block.data(), kBlockFrames);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    if (mixer.playingVoices() != voices) state.SkipWithError("a voice stopped sounding");
    const double voiceFrames = static_cast<double>(state.iterations()) * voices * kBlockFrames;
    state.counters["voice_frames_per_s"] = benchmark::Counter(voiceFrames, benchmark::Counter::kIsRate);
    // Seconds per voice-frame, shown with its unit prefix ("4.9n" is 4.9 ns).
    state.counters["per_voice_frame"] =
        benchmark::Counter(voiceFrames, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// One audio device period at 48 kHz, as a device's callback would render it:
// 64, 128 or 256 frames with 1, 32 or 256 voices on shaped Zones, the reverb
// and chorus on. `percent_of_period` is the render's time as a percentage of
// the period's length (100 would take the whole period; Google Benchmark
// prints an inverted rate with an "s" after it).
void BM_StudioPeriod(benchmark::State& state) {
    const auto frames = static_cast<uint32_t>(state.range(0));
    const int voices = static_cast<int>(state.range(1));
    constexpr int32_t kRate = 48000;
    auto bench = makeBenchMixer(voices, kRate, Interpolation::Cubic, true, true);
    StudioMixer& mixer = *bench->mixer;
    std::vector<int16_t> block(2 * frames);
    for (auto _ : state) {
        mixer.render(block.data(), frames);
        benchmark::DoNotOptimize(block.data());
        benchmark::ClobberMemory();
    }
    if (mixer.playingVoices() != voices) state.SkipWithError("a voice stopped sounding");
    const double periodSeconds = static_cast<double>(frames) / kRate;
    // Hundredths of the periods' length per second of CPU, inverted: CPU time as a percentage of it.
    state.counters["percent_of_period"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * periodSeconds / 100,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["period_ms"] = periodSeconds * 1e3;
}

BENCHMARK_CAPTURE(BM_StudioRender, cubic, Interpolation::Cubic, false, false)
    ->ArgName("voices")
    ->Arg(1)
    ->Arg(32)
    ->Arg(256)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_StudioRender, sinc, Interpolation::Sinc, false, false)
    ->ArgName("voices")
    ->Arg(1)
    ->Arg(32)
    ->Arg(256)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_StudioRender, cubic_shaped, Interpolation::Cubic, true, false)
    ->ArgName("voices")
    ->Arg(1)
    ->Arg(32)
    ->Arg(256)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_StudioRender, cubic_shaped_effects, Interpolation::Cubic, true, true)
    ->ArgName("voices")
    ->Arg(1)
    ->Arg(32)
    ->Arg(256)
    ->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_StudioPeriod)
    ->ArgNames({"frames", "voices"})
    ->ArgsProduct({{64, 128, 256}, {1, 32, 256}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
