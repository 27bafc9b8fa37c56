// Pitch estimation and the tuning it proposes: sines and harmonic-rich tones
// (a band-limited sawtooth behind a noisy attack, a tone whose fundamental is
// weak) from 41 Hz to 3.5 kHz at 22050 and 44100 Hz are found within 10
// cents; silence and noise give nothing; three melodic Waves of the default
// bank (when the build made it) get back the Basic Note and Frequency the
// bank gives them. And note names, both ways.

#include "bank/NoteName.h"
#include "bank/Patchmap.h"
#include "bank/PitchEstimate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

namespace tonvero {
namespace {

double cents(double hz, double reference) { return 1200.0 * std::log2(hz / reference); }

// `seconds` of a tone at `hz`: harmonics k = 1, 2... below the Nyquist
// frequency with amplitudes amplitude(k), scaled to a peak near 20000.
template <typename Amplitude>
std::vector<int16_t> tone(double hz, double rate, double seconds, Amplitude amplitude) {
    std::vector<double> sum(static_cast<size_t>(seconds * rate));
    for (int k = 1; k * hz < rate / 2; ++k) {
        const double a = amplitude(k), step = 2 * M_PI * k * hz / rate;
        for (size_t i = 0; i < sum.size(); ++i) sum[i] += a * std::sin(step * static_cast<double>(i) + 0.3 * k);
    }
    double peak = 1e-9;
    for (double v : sum) peak = std::max(peak, std::abs(v));
    std::vector<int16_t> out(sum.size());
    for (size_t i = 0; i < sum.size(); ++i) out[i] = static_cast<int16_t>(std::lround(20000 * sum[i] / peak));
    return out;
}

TEST(PitchEstimate, TonesAreFoundWithinTenCents) {
    std::mt19937 random(3);
    std::uniform_int_distribution<int> noise(-12000, 12000);
    for (double rate : {22050.0, 44100.0}) {
        for (double hz : {41.2, 110.0, 261.63, 1046.5, 3520.0}) {
            std::vector<int16_t> sawtooth = tone(hz, rate, 1.0, [](int k) { return 1.0 / k; });
            // A noisy attack over the first 5 %: the estimate looks past it.
            for (size_t i = 0; i < sawtooth.size() / 20; ++i)
                sawtooth[i] = static_cast<int16_t>(std::clamp(sawtooth[i] + noise(random), -32768, 32767));
            const struct {
                const char* name;
                std::vector<int16_t> samples;
            } cases[] = {
                {"sine", tone(hz, rate, 1.0, [](int k) { return k == 1 ? 1.0 : 0.0; })},
                {"sawtooth", sawtooth},
                // Fundamental at a tenth of the second and third harmonics.
                {"weak fundamental",
                 tone(hz, rate, 1.0, [](int k) { return k == 1   ? 0.1
                                                        : k <= 4 ? 1.0 / (k - 1)
                                                                 : 0.0; })},
            };
            for (const auto& c : cases) {
                const std::optional<PitchEstimate> found = estimatePitch(c.samples, rate);
                ASSERT_TRUE(found.has_value()) << c.name << ' ' << hz << " Hz at " << rate;
                EXPECT_NEAR(cents(found->hz, hz), 0.0, 10.0) << c.name << ' ' << hz << " Hz at " << rate;
                EXPECT_GT(found->confidence, 0.9) << c.name << ' ' << hz << " Hz at " << rate;
            }
        }
    }
}

TEST(PitchEstimate, SilenceNoiseAndTooLittleGiveNothing) {
    EXPECT_FALSE(estimatePitch(std::vector<int16_t>(44100, 0), 44100));
    std::mt19937 random(5);
    std::uniform_int_distribution<int> dither(-1, 1), loud(-20000, 20000);
    std::vector<int16_t> faint(44100), white(44100);
    for (size_t i = 0; i < white.size(); ++i) {
        faint[i] = static_cast<int16_t>(dither(random));
        white[i] = static_cast<int16_t>(loud(random));
    }
    EXPECT_FALSE(estimatePitch(faint, 44100)) << "dither-level noise is silence";
    EXPECT_FALSE(estimatePitch(white, 44100));
    EXPECT_FALSE(estimatePitch(white, 22050));
    EXPECT_FALSE(estimatePitch({}, 44100));
    const std::vector<int16_t> sine = tone(440, 44100, 1.0, [](int k) { return k == 1 ? 1.0 : 0.0; });
    EXPECT_FALSE(estimatePitch(std::span(sine).first(12), 44100)) << "not two periods of anything";
    EXPECT_FALSE(estimatePitch(sine, 0));
    // A short sample still gives the pitches that fit twice in it.
    const std::optional<PitchEstimate> shortOne = estimatePitch(std::span(sine).first(1000), 44100);
    ASSERT_TRUE(shortOne.has_value());
    EXPECT_NEAR(cents(shortOne->hz, 440), 0.0, 10.0);
}

TEST(PitchEstimate, KeysCentsAndTheProposedTuning) {
    EXPECT_DOUBLE_EQ(keyFrequency(69), 440.0);
    EXPECT_NEAR(keyFrequency(60), 261.6256, 1e-4);
    // 452 Hz is 46.6 cents above A4, 454 Hz 54.2.
    EXPECT_EQ(std::vector({nearestKey(440), nearestKey(452), nearestKey(454), nearestKey(1), nearestKey(30000)}),
              std::vector({69, 69, 70, 0, 127}));
    EXPECT_NEAR(centsFromKey(452.0, 69), 46.58, 0.01);

    // A sample at 452 Hz recorded at 44100 Hz: basic note A4, and a Frequency
    // at which A4 sounds 440 Hz.
    const TuningProposal a = proposeTuning(44100, 452.0);
    EXPECT_EQ(a.basicNote, 69);
    EXPECT_EQ(a.frequency, 42929u);
    EXPECT_NEAR(a.centsOff, 46.58, 0.01);
    EXPECT_NEAR(cents(452.0 * a.frequency / 44100, 440.0), 0.0, 0.05);
    const TuningProposal c = proposeTuning(22050, 261.6256);
    EXPECT_EQ(c.basicNote, 60);
    EXPECT_EQ(c.frequency, 22050u);
}

// The bank the build made beside the test programs, or empty.
std::string buildBank() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    const std::filesystem::path bank = self.parent_path() / "gmpatch.map";
    return std::filesystem::exists(bank) ? bank.string() : std::string();
}

// What a voice plays of `wave` for `seconds` at its own frequency: the samples
// up to the loop's end, then the loop over and over.
std::vector<int16_t> played(const Wave& wave, double seconds) {
    const size_t want = static_cast<size_t>(seconds * wave.frequency);
    if (!wave.looped || wave.loopEnd < wave.loopBegin || static_cast<size_t>(wave.loopEnd) >= wave.samples.size())
        return wave.samples.copy();
    std::vector<int16_t> out(wave.samples.begin(), wave.samples.begin() + wave.loopEnd + 1);
    while (out.size() < want)
        out.insert(out.end(), wave.samples.begin() + wave.loopBegin, wave.samples.begin() + wave.loopEnd + 1);
    return out;
}

TEST(PitchEstimate, MelodicWavesOfTheDefaultBankGetTheirOwnTuning) {
    const std::string path = buildBank();
    if (path.empty()) GTEST_SKIP() << "no default bank gmpatch.map in this build";
    Bank bank;
    ASSERT_EQ(loadPatchmap(bank, path), LoadOk);
    // Acoustic grand piano, string ensemble, flute, each where it holds middle C.
    for (int program : {0, 48, 73}) {
        const Instrument* instrument = bank.instrumentForProgram(program);
        ASSERT_NE(instrument, nullptr) << program;
        const Zone* zone = Bank::findZone(instrument, 60);
        ASSERT_TRUE(zone && zone->wave) << program;
        const Wave& wave = *zone->wave;
        // The pitch the samples sound at the Wave's frequency: the Zone's basic note.
        const std::optional<PitchEstimate> found = estimatePitch(played(wave, 1.5), wave.frequency);
        ASSERT_TRUE(found.has_value()) << "program " << program << ' ' << wave.name;
        EXPECT_NEAR(centsFromKey(found->hz, zone->basicNote), 0.0, 10.0) << "program " << program << ' ' << wave.name;
        const TuningProposal proposal = proposeTuning(wave.frequency, found->hz);
        EXPECT_EQ(proposal.basicNote, zone->basicNote) << "program " << program;
        EXPECT_NEAR(cents(proposal.frequency, wave.frequency), 0.0, 10.0) << "program " << program;
    }
}

TEST(NoteName, NamedParsedAndFoundAtTheEndOfNames) {
    EXPECT_EQ(noteName(60) + noteName(89) + noteName(66) + noteName(0) + noteName(127), "C4F6F#4C-1G9");
    EXPECT_EQ(noteName(128), "");
    EXPECT_EQ(noteLabel(89), "89 (F6)");
    for (int key = 0; key <= 127; ++key) EXPECT_EQ(parseNoteName(noteName(key)), key) << key;
    EXPECT_EQ(parseNoteName("Gb4"), 66);
    EXPECT_EQ(parseNoteName("f#4"), 66);
    EXPECT_EQ(parseNoteName("Cb4"), 59);
    EXPECT_EQ(parseNoteName("B#3"), 60);
    for (const char* none : {"", "C", "H4", "G#9", "Cb-1", "C10", "C4x", "4", "C-2", "#4"})
        EXPECT_EQ(parseNoteName(none), std::nullopt) << none;

    EXPECT_EQ(findNoteNameAtEnd("Violin Gb4"), 66);
    EXPECT_EQ(findNoteNameAtEnd("Piano C#3.wav"), 49);
    EXPECT_EQ(findNoteNameAtEnd("flute_a4.flac"), 69);
    EXPECT_EQ(findNoteNameAtEnd("Bass-E1"), 28);
    EXPECT_EQ(findNoteNameAtEnd("Low-C-1.aif"), 0);
    EXPECT_EQ(findNoteNameAtEnd("Lead.A4"), 69);
    for (const char* none : {"", "Pad 2", "Bass", "Strings E", "Grab4", "take.001.wav", "Piano.wav", "Piano C#3 soft"})
        EXPECT_EQ(findNoteNameAtEnd(none), std::nullopt) << none;
}

}  // namespace
}  // namespace tonvero
