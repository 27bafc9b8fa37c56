// The default bank's source: Debian's TimGM6mb SoundFont imports into a
// complete General MIDI bank with its eight drum kits, and its instruments
// are in tune. Skipped where
// the SoundFont is not installed.

#include "bank/Sf2Import.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

namespace tonvero {
namespace {

const char* const kSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

class TimGM6mb : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!std::filesystem::exists(kSoundFont)) return;
        bank_ = new Bank;
        std::string error;
        imported_ = importSoundFont(kSoundFont, *bank_, error, &report_);
        error_ = error;
    }
    static void TearDownTestSuite() {
        delete bank_;
        bank_ = nullptr;
    }
    void SetUp() override {
        if (!bank_) GTEST_SKIP() << kSoundFont << " is not installed (package timgm6mb-soundfont)";
        ASSERT_TRUE(imported_) << error_;
    }

    static Bank* bank_;
    static bool imported_;
    static std::string error_;
    static Sf2ImportReport report_;
};

Bank* TimGM6mb::bank_ = nullptr;
bool TimGM6mb::imported_ = false;
std::string TimGM6mb::error_;
Sf2ImportReport TimGM6mb::report_;

TEST_F(TimGM6mb, MapsEveryProgramAndTheDrumKit) {
    EXPECT_EQ(report_.mappedEntries, 129);
    EXPECT_LE(bank_->instrumentCount, Bank::kInstrumentSlots);
    for (int32_t p = 0; p < Bank::kProgramEntries; ++p) {
        const int32_t slot = bank_->programMap[static_cast<size_t>(p)];
        ASSERT_GE(slot, 0);
        ASSERT_LT(slot, bank_->instrumentCount) << "program " << p;
        EXPECT_GT(bank_->instruments[static_cast<size_t>(slot)]->zones.count(), 0) << "program " << p;
    }
    EXPECT_EQ(bank_->instruments[static_cast<size_t>(bank_->programMap[0])]->name, "Piano 1");
    const Instrument* drums = bank_->instrumentForProgram(Bank::kDrumEntry);
    EXPECT_EQ(drums->name, "Standard");
    for (int32_t key = 35; key <= 81; ++key) {
        const Zone* zone = Bank::findZone(drums, key);
        ASSERT_NE(zone, nullptr) << "drum key " << key;
        EXPECT_EQ(zone->basicNote, key);
    }
    // Its seven other kits, each by its program, with a Zone of its own for each drum.
    EXPECT_EQ(report_.kits, 7);
    for (int32_t kit : {8, 16, 24, 25, 32, 40, 48}) {
        const Instrument* instrument = bank_->kitForProgram(kit);
        ASSERT_EQ(instrument, bank_->kits[static_cast<size_t>(kit)].get()) << "kit " << kit;
        for (int32_t key = 35; key <= 81; ++key) {
            const Zone* zone = Bank::findZone(instrument, key);
            if (zone) {
                EXPECT_EQ(zone->basicNote, key) << "kit " << kit << " key " << key;
            }
        }
    }
}

TEST_F(TimGM6mb, EveryWaveIsPlayable) {
    bank_->forEachWave([](const Wave& wave) {
        ASSERT_GT(wave.sampleCount, 0u);
        ASSERT_EQ(wave.sampleCount, wave.samples.size());
        ASSERT_GT(wave.frequency, 0u);
        ASSERT_EQ(wave.format.samplesPerSec, wave.frequency);
        if (wave.looped) {
            ASSERT_LE(0, wave.loopBegin);
            ASSERT_LT(wave.loopBegin, wave.loopEnd);
            ASSERT_LT(static_cast<uint32_t>(wave.loopEnd), wave.sampleCount);
            ASSERT_LE(wave.holdPos, wave.loopEnd);
            // Short loops are repeated up to 1000 samples, so the Custom Mixer plays them in tune.
            ASSERT_GE(wave.loopEnd - wave.loopBegin + 1, 1000) << wave.name;
        }
    });
}

// The sound a Zone's Wave makes when played from its start, looping as the
// mixer loops it, one source sample per output sample.
std::vector<double> unrolled(const Wave& wave, size_t length) {
    std::vector<double> out;
    size_t position = 0;
    while (out.size() < length) {
        if (wave.looped && position > static_cast<size_t>(wave.loopEnd)) position = static_cast<size_t>(wave.loopBegin);
        if (position >= wave.sampleCount) break;
        out.push_back(wave.samples[position++]);
    }
    return out;
}

// The period in samples of the strongest repetition between minLag and maxLag
// (normalised autocorrelation, refined between neighbouring lags).
double periodOf(const std::vector<double>& signal, size_t from, size_t window, int minLag, int maxLag) {
    std::vector<double> score(static_cast<size_t>(maxLag) + 2, -1.0);
    for (int lag = minLag - 1; lag <= maxLag + 1; ++lag) {
        double sum = 0, a2 = 0, b2 = 0;
        for (size_t i = from; i < from + window; ++i) {
            const double a = signal[i], b = signal[i + static_cast<size_t>(lag)];
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
    return best + (denominator != 0 ? 0.5 * (l - r) / denominator : 0.0);
}

TEST_F(TimGM6mb, ConcertAIsInTune) {
    // Piano, nylon guitar, violin, flute: key 69 played at its Zone's frequency sounds at 440 Hz.
    for (int32_t p : {0, 24, 40, 73}) {
        const Instrument* instrument = bank_->instrumentForProgram(p);
        const Zone* zone = Bank::findZone(instrument, 69);
        ASSERT_NE(zone, nullptr) << "program " << p;
        const double rate = zone->wave->frequency * std::exp2((69 - zone->basicNote) / 12.0);
        const double expected = rate / 440.0;  // samples per cycle
        const std::vector<double> sound = unrolled(*zone->wave, 16384);
        const size_t window = 2048;
        const int maxLag = static_cast<int>(expected * 1.4);
        ASSERT_GT(sound.size(), window + static_cast<size_t>(maxLag) + 2) << "program " << p;
        const size_t from = std::min<size_t>(sound.size() / 4, sound.size() - window - maxLag - 2);
        const double period = periodOf(sound, from, window, static_cast<int>(expected * 0.7), maxLag);
        const double hz = rate / period;
        EXPECT_NEAR(hz, 440.0, 4.4) << "program " << p << " '" << instrument->name << "'";
    }
}

}  // namespace
}  // namespace tonvero
