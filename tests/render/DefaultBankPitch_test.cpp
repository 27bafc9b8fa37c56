// The default bank is in tune: concert A (key 69) rendered through the engine
// on four programs sounds at 440 Hz within 1 %, and the Custom Mixer's looped
// notes high on the keyboard (keys 84 to 108, where each pass over a short
// loop used to lose the position's fraction and so play flat) sound within
// 10 cents of their keys on organ, guitar, violin and lead programs, measured
// from the rendered sound by autocorrelation. Skipped when the build made no
// default bank (the General MIDI SoundFont is not installed).

#include "bank/Patchmap.h"
#include "render/DefaultPatchmap.h"
#include "render/SongRenderer.h"
#include "support/MidiWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace tonvero {
namespace {

constexpr int32_t kRate = 44100;
constexpr int kDivision = 480;  // ticks a quarter note; at 120 beats a minute, 960 ticks a second

struct Note {
    int key = 69;
    uint32_t startTick = 0, lengthTicks = 960;
};

// The left channel of `program` playing `notes` (in start order) at velocity
// 100 through the Software Custom Mixer with the bank at `bankPath`.
std::vector<double> render(const std::string& bankPath, int program, const std::vector<Note>& notes) {
    test::MidiWriter midi(0, kDivision);
    test::MidiWriter::Track& track = midi.track().tempo(0, 500000).program(0, 0, program);
    uint32_t now = 0;
    for (const Note& note : notes) {
        track.noteOn(note.startTick - now, 0, note.key, 100).noteOff(note.lengthTicks, 0, note.key);
        now = note.startTick + note.lengthTicks;
    }
    track.endOfTrack(0);
    const std::string songPath = ::testing::TempDir() + "default_bank_pitch_" + std::to_string(program) + ".mid";
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

// Normalised autocorrelation of `sound` over [from, from + window) at `lag`.
double correlation(const std::vector<double>& sound, size_t from, size_t window, int lag) {
    double sum = 0, a2 = 0, b2 = 0;
    for (size_t i = from; i < from + window; ++i) {
        const double a = sound[i], b = sound[i + static_cast<size_t>(lag)];
        sum += a * b;
        a2 += a * a;
        b2 += b * b;
    }
    return sum / std::sqrt(a2 * b2 + 1e-9);
}

// The lag of the strongest autocorrelation in [minLag, maxLag], refined between
// neighbouring lags by a parabola.
double strongestLag(const std::vector<double>& sound, size_t from, size_t window, int minLag, int maxLag) {
    int best = minLag;
    double bestScore = -2;
    for (int lag = minLag; lag <= maxLag; ++lag) {
        const double score = correlation(sound, from, window, lag);
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    const double l = correlation(sound, from, window, best - 1), r = correlation(sound, from, window, best + 1);
    const double denominator = l - 2 * bestScore + r;
    // A flat top (no parabola through the three) leaves the lag as it is.
    const double offset = denominator < 0 ? 0.5 * (l - r) / denominator : 0.0;
    return best + std::clamp(offset, -0.5, 0.5);
}

// The fundamental in Hz of `sound` in [from, from + window), searched within
// a factor of `spread` of `expectedHz`: the period from the strongest lag near
// one period, then made exact from the strongest lag near four times as many
// periods, and so on up to about 2000 frames, which averages over every loop
// pass within them (each step's error stays far below the third of a period
// the next one searches).
double fundamental(const std::vector<double>& sound, size_t from, size_t window, double expectedHz, double spread) {
    const double expected = kRate / expectedHz;
    double period = strongestLag(sound, from, window, static_cast<int>(expected / spread),
                                 static_cast<int>(std::ceil(expected * spread)));
    for (int periods = 4; periods * period <= 2000; periods *= 4) {
        const double around = periods * period;
        period = strongestLag(sound, from, window, static_cast<int>(around - period / 3),
                              static_cast<int>(std::ceil(around + period / 3))) /
                 periods;
    }
    return kRate / period;
}

double centsBetween(double hz, double reference) { return 1200.0 * std::log2(hz / reference); }

TEST(DefaultBankPitch, ConcertASoundsAt440Hz) {
    const std::string bank = findDefaultPatchmap("");
    if (!std::filesystem::exists(bank)) GTEST_SKIP() << "no default bank gmpatch.map in this build";
    // Piano, nylon guitar, violin, flute.
    for (int program : {0, 24, 40, 73}) {
        const std::vector<double> sound = render(bank, program, {Note{}});
        const size_t from = kRate / 5, window = kRate / 2;  // the steady part, after the attack
        ASSERT_GT(sound.size(), from + window + kRate / 260 + 2) << "program " << program;
        // Between 260 and 735 Hz: a semitone either way is far inside.
        EXPECT_NEAR(fundamental(sound, from, window, 440.0, 1.68), 440.0, 4.4) << "program " << program;
    }
}

TEST(DefaultBankPitch, HighLoopedNotesOfTheCustomMixerAreInTune) {
    const std::string bankPath = findDefaultPatchmap("");
    if (!std::filesystem::exists(bankPath)) GTEST_SKIP() << "no default bank gmpatch.map in this build";
    Bank bank;
    ASSERT_EQ(loadPatchmap(bank, bankPath), LoadOk);
    constexpr int kLowKey = 84, kHighKey = 108;
    // One note a second, each held 0.6 s; measured from 0.15 s to 0.55 s after
    // its start, in its loop, with the earlier note's release long gone.
    std::vector<Note> notes;
    for (int key = kLowKey; key <= kHighKey; ++key)
        notes.push_back({key, static_cast<uint32_t>((key - kLowKey) * 960), 576});
    double worst = 0;
    // Drawbar organ, church organ, nylon guitar, violin, square lead.
    for (int program : {16, 19, 24, 40, 80}) {
        const Instrument* instrument = bank.instrumentForProgram(program);
        ASSERT_NE(instrument, nullptr);
        const std::vector<double> sound = render(bankPath, program, notes);
        for (int key = kLowKey; key <= kHighKey; ++key) {
            const Zone* zone = Bank::findZone(instrument, key);
            ASSERT_NE(zone, nullptr) << "program " << program << " key " << key;
            ASSERT_TRUE(zone->wave && zone->wave->looped) << "program " << program << " key " << key;
            const size_t from = static_cast<size_t>((key - kLowKey) * kRate + kRate * 15 / 100);
            const size_t window = kRate * 4 / 10;
            ASSERT_GT(sound.size(), from + window + 2200) << "program " << program << " key " << key;
            const double expected = 440.0 * std::exp2((key - 69) / 12.0);
            // Within a factor of 1.3 either way (about 450 cents): far more than any error to be found.
            const double error = centsBetween(fundamental(sound, from, window, expected, 1.3), expected);
            EXPECT_NEAR(error, 0.0, 10.0)
                << "program " << program << " '" << instrument->name << "' key " << key << ": loop of "
                << zone->wave->loopEnd - zone->wave->loopBegin + 1 << " samples";
            worst = std::max(worst, std::abs(error));
            std::printf("program %3d key %3d: %+7.2f cents (loop %d samples)\n", program, key, error,
                        zone->wave->loopEnd - zone->wave->loopBegin + 1);
        }
    }
    std::printf("largest error: %.2f cents\n", worst);
}

}  // namespace
}  // namespace tonvero
