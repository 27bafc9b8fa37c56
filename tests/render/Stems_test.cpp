// The Studio mixer's stems through the offline renderer: a song of three
// melodic channels (one changing program while its first notes still hold)
// and drums, reverb and chorus on, loud enough for the limiter to hold it
// down. By channel and by program, the stems are as long as the mix and add
// up to it, the mix is the float render's own, a channel that never plays
// has no stem, and each note goes to the program it started with.

#include "render/SoundMeasure.h"

#include <cmath>
#include <map>

namespace tonvero::test {
namespace {

constexpr int32_t kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// A looped sine of `period` samples; released notes fade out in about 40 ms.
WaveShape sine(size_t period) {
    WaveShape tone;
    tone.samples.resize(period);
    for (size_t k = 0; k < period; ++k)
        tone.samples[k] = static_cast<int16_t>(
            std::lround(12000 * std::sin(2 * kPi * static_cast<double>(k) / static_cast<double>(period))));
    tone.looped = 1;
    tone.loopEnd = static_cast<int32_t>(period) - 1;
    tone.cutoffFading = 0x200000;
    return tone;
}

// Programs 0, 1 and 2 (the last with articulation: a resonant filter and a
// release), and a kit of one noise burst.
void stemBank(Bank& bank) {
    bank.programMap[0] = addTone(bank, "low", sine(100));
    bank.programMap[1] = addTone(bank, "high", sine(50));
    const int32_t shaped = addTone(bank, "shaped", sine(70));
    Zone& zone = *bank.instruments[static_cast<size_t>(shaped)]->zones.at(0);
    zone.articulation = std::make_unique<ZoneArticulation>();
    zone.articulation->filterCutoff = 9000;
    zone.articulation->filterResonance = 60;
    zone.articulation->volumeEnvelope.release = -2400;
    bank.programMap[2] = shaped;
    WaveShape noise;
    noise.samples.resize(3000);
    uint32_t seed = 1;
    for (int16_t& s : noise.samples) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<int16_t>(static_cast<int32_t>(seed >> 16) - 32768);
    }
    bank.programMap[Bank::kDrumEntry] = addTone(bank, "kit", noise);
}

// 100 ticks a quarter at 120 beats a minute: a tick is 5 ms.
Bytes stemSong() {
    MidiWriter w(0, 100);
    w.track()
        .controller(0, 0, 91, 127)
        .controller(0, 0, 93, 127)
        .program(0, 0, 0)
        .controller(0, 1, 91, 0)  // channel 1 sends nothing itself
        .controller(0, 1, 93, 0)
        .program(0, 1, 2)
        .program(0, 5, 3)  // channel 5 is set up and never plays
        .controller(0, 5, 7, 100)
        .controller(0, 9, 91, 60)
        .noteOn(0, 0, 60, 127)  // held over the program change: program 0
        .noteOn(0, 0, 64, 127)
        .noteOn(0, 1, 72, 127)
        .noteOn(0, 9, 36, 127)
        .noteOff(80, 1, 72)      // 0.4 s
        .program(20, 0, 1)       // 0.5 s
        .noteOn(20, 0, 67, 127)  // 0.6 s: program 1
        .noteOn(0, 0, 71, 127)
        .noteOn(0, 9, 36, 127)
        .noteOff(180, 0, 60)  // 1.5 s
        .noteOff(0, 0, 64)
        .noteOff(0, 0, 67)
        .noteOff(0, 0, 71)
        .noteOn(800, 0, 60, 127)  // 5.5 s, the effects silent again since
        .noteOn(0, 9, 36, 127)
        .noteOff(100, 0, 60)
        .endOfTrack(0);
    return w.bytes();
}

struct StemRender {
    RenderReport report;
    std::vector<float> mix;
    std::map<int32_t, std::vector<float>> stems;  // by key, whole length (silence before each began)
    std::map<int32_t, uint64_t> firstFrames;
};

StudioSettings loudStudio(double gainDb) {
    StudioSettings settings;
    settings.gainDb = gainDb;
    settings.reverb.on = true;
    settings.chorus.on = true;
    return settings;
}

SongRenderer& prepare(SongRenderer& renderer) {
    EXPECT_TRUE(renderer.openOutput());
    {
        EngineLock lock(renderer.engine().mutex);
        stemBank(renderer.engine().bank);
    }
    EXPECT_EQ(loadBytes(renderer, stemSong()), SongLoadResult::Loaded);
    return renderer;
}

std::vector<float> renderMix(double gainDb) {
    SongRenderer renderer(MixerMode::Studio, kRate, loudStudio(gainDb));
    std::vector<float> mix;
    prepare(renderer).renderFloat([&mix](const float* frames, uint32_t count) {
        mix.insert(mix.end(), frames, frames + 2 * static_cast<size_t>(count));
        return true;
    });
    return mix;
}

float peakOf(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX) {
    float peak = 0;
    for (size_t k = 2 * from; k < std::min(x.size(), 2 * to); ++k) peak = std::max(peak, std::fabs(x[k]));
    return peak;
}

StemRender renderStems(StudioMixer::StemMode mode, double gainDb) {
    SongRenderer renderer(MixerMode::Studio, kRate, loudStudio(gainDb));
    StemRender out;
    std::vector<int32_t> order;
    out.report = prepare(renderer).renderStems(mode, [&](const float* mix, uint32_t frames,
                                                         const std::vector<SongRenderer::StemFrames>& stems) {
        const size_t at = out.mix.size();
        out.mix.insert(out.mix.end(), mix, mix + 2 * static_cast<size_t>(frames));
        // Earlier stems keep their places; a new one comes in the block
        // that holds its first frame, and is silence before.
        EXPECT_GE(stems.size(), order.size());
        for (size_t i = 0; i < stems.size(); ++i) {
            if (i == order.size()) {
                order.push_back(stems[i].key);
                EXPECT_GE(stems[i].firstFrame, at / 2);
                EXPECT_LT(stems[i].firstFrame, at / 2 + frames);
                EXPECT_EQ(
                    peakOf(std::vector<float>(stems[i].stereo, stems[i].stereo + 2 * (stems[i].firstFrame - at / 2))),
                    0.0f);
                EXPECT_EQ(out.stems.count(stems[i].key), 0u) << "one stem a key";
                out.firstFrames[stems[i].key] = stems[i].firstFrame;
                out.stems[stems[i].key].assign(at, 0.0f);
            }
            EXPECT_EQ(stems[i].key, order[i]);
            std::vector<float>& stem = out.stems[stems[i].key];
            stem.insert(stem.end(), stems[i].stereo, stems[i].stereo + 2 * static_cast<size_t>(frames));
        }
        return true;
    });
    return out;
}

// The largest difference, sample by sample, between `mix` and the sum of `parts`.
double largestMiss(const std::vector<float>& mix, const std::vector<const std::vector<float>*>& parts) {
    double largest = 0;
    for (size_t k = 0; k < mix.size(); ++k) {
        double sum = 0;
        for (const std::vector<float>* p : parts) sum += (*p)[k];
        largest = std::max(largest, std::abs(sum - mix[k]));
    }
    return largest;
}

std::vector<const std::vector<float>*> all(const StemRender& r) {
    std::vector<const std::vector<float>*> parts;
    for (const auto& [key, stem] : r.stems) parts.push_back(&stem);
    return parts;
}

std::vector<int32_t> keys(const StemRender& r) {
    std::vector<int32_t> out;
    for (const auto& [key, stem] : r.stems) out.push_back(key);
    return out;
}

TEST(StudioStems, ByChannelAndByProgramTheyAddUpToTheLimitedMixWithTheirOwnEffects) {
    const double gainDb = 12;
    const std::vector<float> mix = renderMix(gainDb);
    const StemRender channels = renderStems(StudioMixer::StemMode::Channel, gainDb);
    const StemRender programs = renderStems(StudioMixer::StemMode::Program, gainDb);
    ASSERT_TRUE(channels.report.endedWhole);
    ASSERT_TRUE(programs.report.endedWhole);

    // The limiter holds the mix at -1 dBFS: 12 dB up makes it far less than 4 times as loud.
    const std::vector<float> quiet = renderMix(0);
    ASSERT_LE(peakOf(mix), 0.8913f);
    ASSERT_LT(peakOf(mix), 2 * peakOf(quiet));

    // The mix beside the stems is the float render's, sample for sample.
    EXPECT_EQ(channels.mix, mix);
    EXPECT_EQ(programs.mix, mix);
    EXPECT_EQ(channels.report.frames * 2, mix.size());

    // Only what played has a stem: channel 5 and its program 3 have none.
    EXPECT_EQ(keys(channels), (std::vector<int32_t>{0, 1, 9}));
    EXPECT_EQ(keys(programs), (std::vector<int32_t>{0, 1, 2, StudioMixer::kDrumStem}));
    for (const StemRender* r : {&channels, &programs})
        for (const auto& [key, stem] : r->stems) EXPECT_EQ(stem.size(), mix.size()) << key;

    // Each set adds up to the mix, the limiter's gain and the effects' tails
    // included (float rounding is a few 1e-7 here).
    EXPECT_LT(largestMiss(mix, all(channels)), 2e-6);
    EXPECT_LT(largestMiss(mix, all(programs)), 2e-6);

    // Between the parts the effects fell silent and were cleared: the mix is nothing there.
    EXPECT_EQ(peakOf(mix, framesAt(5.0), framesAt(5.5)), 0.0f);

    // The held notes stay in program 0 after the change; program 1 is
    // silence until its notes at 0.6 s; together they are channel 0.
    const std::vector<float>& low = programs.stems.at(0);
    const std::vector<float>& high = programs.stems.at(1);
    EXPECT_GT(peakOf(low, framesAt(0.7), framesAt(1.4)), 0.05f);
    EXPECT_EQ(peakOf(high, 0, framesAt(0.6)), 0.0f);
    EXPECT_GT(programs.firstFrames.at(1), framesAt(0.55));
    EXPECT_LE(programs.firstFrames.at(1), framesAt(0.6));
    EXPECT_GT(peakOf(high, framesAt(0.6), framesAt(0.7)), 0.05f);
    EXPECT_LT(largestMiss(channels.stems.at(0), {&low, &high}), 2e-6);
    EXPECT_LT(largestMiss(channels.stems.at(1), {&programs.stems.at(2)}), 2e-6);
    EXPECT_LT(largestMiss(channels.stems.at(9), {&programs.stems.at(StudioMixer::kDrumStem)}), 2e-6);

    // Channel 1 sends nothing: its stem ends with its release, while the
    // channel 0 notes ring on in their reverb after theirs.
    const std::vector<float>& dry = channels.stems.at(1);
    EXPECT_GT(peakOf(dry, framesAt(0.2), framesAt(0.3)), 0.05f);
    EXPECT_EQ(peakOf(dry, framesAt(1.0)), 0.0f);
    EXPECT_GT(peakOf(channels.stems.at(0), framesAt(1.8), framesAt(2.0)), 1e-4f);
}

}  // namespace
}  // namespace tonvero::test
