// The offline renderer end to end: a generated song of 16 tracks and 80
// seconds, keeping 16 to 32 voices sounding, rendered through the software
// mixer (and the other two mixers) at 44100 Hz, and through the Studio mixer
// with and without its stems, reported as a multiple of real time
// ("x_realtime": seconds of sound rendered per second of work).

#include "render/SongRenderer.h"
#include "song/SongLoader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace tonvero;
using Bytes = std::vector<uint8_t>;

void putVarLen(Bytes& out, uint32_t value) {
    Bytes groups{static_cast<uint8_t>(value & 0x7F)};
    while (value >>= 7) groups.insert(groups.begin(), static_cast<uint8_t>((value & 0x7F) | 0x80));
    out.insert(out.end(), groups.begin(), groups.end());
}

void putChunk(Bytes& out, const char* id, const Bytes& data) {
    out.insert(out.end(), id, id + 4);
    const uint32_t n = static_cast<uint32_t>(data.size());
    out.insert(out.end(), {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                           static_cast<uint8_t>(n)});
    out.insert(out.end(), data.begin(), data.end());
}

// 16 tracks at division 480 and 120 to 140 beats a minute. Each track holds
// one note at a time for most of a beat, so 16 are held at once and their
// releases overlap the next notes; tempo, pan, pitch bend and sustain change
// as a song's would.
Bytes benchSong(int seconds) {
    constexpr int kDivision = 480;
    constexpr int kTracks = 16;
    Bytes file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, kTracks + 1, kDivision >> 8, kDivision & 0xFF};
    const int beats = seconds * 2;  // at 120 to 140 a minute the song lasts a little under `seconds`
    Bytes tempo;
    for (int bar = 0; bar < beats / 4; ++bar) {
        putVarLen(tempo, bar == 0 ? 0 : 4 * kDivision);
        const uint32_t t = 500000 - static_cast<uint32_t>((bar % 5) * 15000);
        tempo.insert(tempo.end(), {0xFF, 0x51, 0x03, static_cast<uint8_t>(t >> 16), static_cast<uint8_t>(t >> 8),
                                   static_cast<uint8_t>(t)});
    }
    putVarLen(tempo, 4 * kDivision);
    tempo.insert(tempo.end(), {0xFF, 0x2F, 0x00});
    putChunk(file, "MTrk", tempo);
    for (int tr = 0; tr < kTracks; ++tr) {
        const uint8_t channel = static_cast<uint8_t>(tr == 9 ? 15 : tr);
        Bytes t;
        t.insert(t.end(), {0x00, static_cast<uint8_t>(0xC0 | channel), static_cast<uint8_t>(tr * 7 % 4)});
        t.insert(t.end(), {0x00, static_cast<uint8_t>(0xB0 | channel), 10, static_cast<uint8_t>(tr * 8)});
        for (int b = 0; b < beats; ++b) {
            const uint8_t key = static_cast<uint8_t>(36 + (tr * 5 + b * 7) % 48);
            putVarLen(t, b == 0 ? static_cast<uint32_t>(tr * 7) : kDivision / 8);
            t.insert(t.end(), {static_cast<uint8_t>(0x90 | channel), key, static_cast<uint8_t>(70 + (b * 13) % 57)});
            if (b % 8 == 3) {
                putVarLen(t, kDivision / 4);
                const uint16_t bend = static_cast<uint16_t>(8192 + ((b * 977) % 3000) - 1500);
                t.insert(t.end(), {static_cast<uint8_t>(0xE0 | channel), static_cast<uint8_t>(bend & 0x7F),
                                   static_cast<uint8_t>(bend >> 7)});
                putVarLen(t, kDivision * 5 / 8);
            } else {
                putVarLen(t, kDivision * 7 / 8);
            }
            t.insert(t.end(), {static_cast<uint8_t>(0x80 | channel), key, 0});
        }
        t.insert(t.end(), {0x00, 0xFF, 0x2F, 0x00});
        putChunk(file, "MTrk", t);
    }
    return file;
}

// Four looped Instruments with slow releases, over every program.
void benchBank(Bank& bank) {
    for (int i = 0; i < 4; ++i) {
        const int32_t slot = bank.insertInstrument("bench" + std::to_string(i));
        Instrument& inst = *bank.instruments[static_cast<size_t>(slot)];
        inst.loopFading = 0x100;
        inst.cutoffFading = 0x20000;  // 2.0 a pass: about half a second
        const uint32_t count = 22050 + 5000 * static_cast<uint32_t>(i);
        std::vector<int16_t> samples(count);
        for (uint32_t k = 0; k < count; ++k)
            samples[k] = static_cast<int16_t>(12000 * std::sin(2 * 3.14159265358979 * 220.0 * k / 22050.0) +
                                              4000 * std::sin(2 * 3.14159265358979 * 661.0 * k / 22050.0));
        auto wave = std::make_unique<Wave>();
        wave->setSamples(std::move(samples));
        wave->frequency = 22050;
        wave->updateFormat();
        wave->looped = 1;
        wave->loopBegin = 2205;
        wave->loopEnd = static_cast<int32_t>(count - 1);
        wave->holdPos = 0;
        Bank::addZone(inst, std::move(wave));
    }
    for (int p = 0; p < Bank::kProgramEntries; ++p) bank.programMap[static_cast<size_t>(p)] = p % 4;
}

// A renderer at 44100 Hz in `mode` with the bench bank and `song` loaded.
std::unique_ptr<SongRenderer> loadedRenderer(MixerMode mode, const Bytes& song) {
    auto renderer = std::make_unique<SongRenderer>(mode, 44100);
    renderer->openOutput();
    SongImage image;
    parseSong(song, image);
    MixerEngine& e = renderer->engine();
    EngineLock lock(e.mutex);
    benchBank(e.bank);
    installSong(e, std::move(image));
    return renderer;
}

void BM_RenderSong(benchmark::State& state) {
    const MixerMode mode = static_cast<MixerMode>(state.range(0));
    const Bytes song = benchSong(80);
    double audioSeconds = 0;
    double voiceSum = 0;
    int64_t voiceSamples = 0;
    int32_t fewest = 32;
    for (auto _ : state) {
        state.PauseTiming();
        auto renderer = loadedRenderer(mode, song);
        state.ResumeTiming();
        uint64_t frames = 0;
        MixerEngine& e = renderer->engine();
        const RenderReport report = renderer->render(
            [&frames](const int16_t*, uint32_t count) {
                frames += count;
                return true;
            },
            [&](double position, double) {
                if (position < 2 || !e.playing) return;  // count once the song is under way
                int32_t sounding = 0;
                if (e.softwareMixer)
                    for (const MixerVoice& m : e.custom.mixerVoices) sounding += m.active;
                else
                    for (const Voice& v : e.voices) sounding += v.active;
                voiceSum += sounding;
                ++voiceSamples;
                fewest = std::min(fewest, sounding);
            });
        benchmark::DoNotOptimize(report.peak);
        audioSeconds += static_cast<double>(frames) / 44100.0;
    }
    state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.counters["song_s"] = audioSeconds / static_cast<double>(state.iterations());
    state.counters["voices_avg"] = voiceSamples ? voiceSum / static_cast<double>(voiceSamples) : 0;
    state.counters["voices_min"] = fewest;
}

BENCHMARK(BM_RenderSong)
    ->Arg(static_cast<int>(MixerMode::Software))
    ->Arg(static_cast<int>(MixerMode::Primary))
    ->Arg(static_cast<int>(MixerMode::Hardware))
    ->ArgName("mixer")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

// The Studio mixer's float render of the same song, without stems (0), and
// with them by channel (1: 16 stems) or by program (2: 4 stems).
void BM_RenderStems(benchmark::State& state) {
    const int64_t stems = state.range(0);
    const Bytes song = benchSong(80);
    double audioSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto renderer = loadedRenderer(MixerMode::Studio, song);
        state.ResumeTiming();
        uint64_t frames = 0;
        float peak = 0;
        RenderReport report;
        if (stems == 0) {
            report = renderer->renderFloat([&](const float* mix, uint32_t count) {
                frames += count;
                peak = std::max(peak, std::fabs(mix[0]));
                return true;
            });
        } else {
            report = renderer->renderStems(
                stems == 1 ? StudioMixer::StemMode::Channel : StudioMixer::StemMode::Program,
                [&](const float* mix, uint32_t count, const std::vector<SongRenderer::StemFrames>& parts) {
                    frames += count;
                    peak = std::max(peak, std::fabs(mix[0]));
                    for (const SongRenderer::StemFrames& p : parts) peak = std::max(peak, std::fabs(p.stereo[0]));
                    return true;
                });
        }
        benchmark::DoNotOptimize(peak);
        benchmark::DoNotOptimize(report.frames);
        audioSeconds += static_cast<double>(frames) / 44100.0;
    }
    state.counters["x_realtime"] = benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate);
    state.counters["song_s"] = audioSeconds / static_cast<double>(state.iterations());
}

BENCHMARK(BM_RenderStems)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->ArgName("stems")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
