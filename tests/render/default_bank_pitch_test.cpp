// The default bank is in tune: concert A (key 69) rendered through the engine
// on four programs sounds at 440 Hz within 1 %, measured from the rendered
// sound by autocorrelation. Skipped when the build made no default bank (the
// General MIDI SoundFont is not installed).

#include "bank/Patchmap.h"
#include "render/DefaultPatchmap.h"
#include "render/SongRenderer.h"
#include "support/MidiWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace tonvero {
namespace {

constexpr int32_t kRate = 44100;

// The left channel of `program` playing key 69 at velocity 100 for one second.
std::vector<double> renderConcertA(const std::string& bankPath, int program) {
    test::MidiWriter midi(0, 480);
    midi.track().tempo(0, 500000).program(0, 0, program).noteOn(0, 0, 69, 100).noteOff(960, 0, 69).endOfTrack(0);
    const std::string songPath = ::testing::TempDir() + "concert_a_" + std::to_string(program) + ".mid";
    EXPECT_TRUE(midi.write(songPath));

    SongRenderer renderer(MixerMode::Software, kRate);
    std::string error;
    EXPECT_TRUE(renderer.openOutput(&error)) << error;
    {
        EngineLock lock(renderer.engine().mutex);
        EXPECT_EQ(loadPatchmap(renderer.engine().bank, bankPath), LoadOk);
    }
    EXPECT_EQ(renderer.loadSong(songPath), SongLoadResult::Loaded);
    std::vector<double> left;
    const RenderReport report = renderer.render([&left](const int16_t* frames, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) left.push_back(frames[2 * i]);
        return true;
    });
    EXPECT_TRUE(report.endedWhole);
    EXPECT_EQ(report.notes.withoutInstrument + report.notes.withoutZone, 0);
    std::remove(songPath.c_str());
    return left;
}

// The fundamental in Hz of `sound` between `from` and `from + window`: the lag
// of the strongest normalised autocorrelation between 260 and 735 Hz (a
// semitone either way is far inside), refined between neighbouring lags.
double fundamental(const std::vector<double>& sound, size_t from, size_t window) {
    const int minLag = kRate / 735, maxLag = kRate / 260;
    std::vector<double> score(static_cast<size_t>(maxLag) + 2, 0.0);
    for (int lag = minLag - 1; lag <= maxLag + 1; ++lag) {
        double sum = 0, a2 = 0, b2 = 0;
        for (size_t i = from; i < from + window; ++i) {
            const double a = sound[i], b = sound[i + static_cast<size_t>(lag)];
            sum += a * b;
            a2 += a * a;
            b2 += b * b;
        }
        score[static_cast<size_t>(lag)] = sum / std::sqrt(a2 * b2 + 1e-9);
    }
    int best = minLag;
    for (int lag = minLag; lag <= maxLag; ++lag)
        if (score[static_cast<size_t>(lag)] > score[static_cast<size_t>(best)]) best = lag;
    const double l = score[static_cast<size_t>(best - 1)], c = score[static_cast<size_t>(best)],
                 r = score[static_cast<size_t>(best + 1)];
    const double denominator = l - 2 * c + r;
    const double lag = best + (denominator != 0 ? 0.5 * (l - r) / denominator : 0.0);
    return kRate / lag;
}

TEST(DefaultBankPitch, ConcertASoundsAt440Hz) {
    const std::string bank = findDefaultPatchmap("");
    if (!std::filesystem::exists(bank)) GTEST_SKIP() << "no default bank gmpatch.map in this build";
    // Piano, nylon guitar, violin, flute.
    for (int program : {0, 24, 40, 73}) {
        const std::vector<double> sound = renderConcertA(bank, program);
        const size_t from = kRate / 5, window = kRate / 2;  // the steady part, after the attack
        ASSERT_GT(sound.size(), from + window + kRate / 260 + 2) << "program " << program;
        EXPECT_NEAR(fundamental(sound, from, window), 440.0, 4.4) << "program " << program;
    }
}

}  // namespace
}  // namespace tonvero
