// Damaged songs: every truncation of a small song that uses every kind of
// event, and thousands of seeded random mutations of it, either are refused
// or load and play to their end, with every read inside the file (the
// sanitizers watch) and nothing that hangs.

#include "render/RenderRig.h"

#include <random>

namespace tonvero::test {
namespace {

Bytes everyKindOfEvent() {
    MidiWriter w(1, 96);
    w.track()
        .meta(0, 0x03, {'T', 'e', 's', 't'})
        .meta(0, 0x58, {4, 2, 24, 8})
        .meta(0, 0x59, {0, 0})
        .tempo(0, 450000)
        .tempo(96, 600000)
        .meta(0, 0x20, {1})
        .endOfTrack(96);
    w.track()
        .program(0, 0, 5)
        .controller(0, 0, 10, 30)
        .controller(0, 0, 6, 12)
        .noteOn(0, 0, 60, 100)
        .running(12, {62, 90})
        .pitchBend(12, 0, 9000)
        .sysex(0, {0x41, 0x10, 0x42, 0xF7})
        .running(6, {0x3C, 0x01, 0x00})
        .noteOn(6, 9, 36, 120)
        .controller(0, 0, 64, 127)
        .noteOff(24, 0, 60)
        .raw({0x00, 0xA0, 60, 10, 0x00, 0xD0, 20})
        .noteOn(0, 0, 62, 0)
        .controller(24, 0, 64, 0)
        .noteOff(48, 9, 36)
        .endOfTrack(12);
    return w.bytes();
}

void oneShotBank(Bank& bank) {
    WaveShape tone;
    tone.samples.assign(800, 4000);
    tone.frequency = 8000;
    bank.programMap[5] = addTone(bank, "tone", tone);
    WaveShape loop = tone;
    loop.looped = 1;
    loop.loopBegin = 100;
    loop.loopEnd = 700;
    loop.cutoffFading = 0x80000;
    bank.programMap[128] = addTone(bank, "drum", loop);
}

// Through the Custom Mixer and the Studio mixer.
class DamagedSongs : public ::testing::TestWithParam<MixerMode> {
protected:
    DamagedSongs() : renderer(GetParam(), kRate) {}
    void SetUp() override {
        ASSERT_TRUE(renderer.openOutput());
        EngineLock lock(renderer.engine().mutex);
        oneShotBank(renderer.engine().bank);
    }
    // Refused, or played to its end (or to the limit, for a song whose damage
    // made it very long); counts which.
    void tryPlaying(const Bytes& bytes) {
        if (loadBytes(renderer, bytes) != SongLoadResult::Loaded) {
            ++refused;
            return;
        }
        const Rendered r = renderToMemory(renderer, kRate, kLimitSeconds);
        ASSERT_TRUE(r.report.started);
        if (r.report.endedWhole) {
            ++ended;
        } else {
            ++limited;
            // Only a song that is long by its own tempo map may run into the limit.
            EXPECT_GT(r.report.songSeconds, kLimitSeconds - 1.0);
        }
        {
            EngineLock lock(renderer.engine().mutex);
            EXPECT_EQ(renderer.engine().playing, 0);
        }
    }

    static constexpr int32_t kRate = 8000;
    static constexpr double kLimitSeconds = 8.0;
    SongRenderer renderer;
    int refused = 0;
    int ended = 0;
    int limited = 0;
};

TEST_P(DamagedSongs, EveryTruncationIsRefusedOrPlays) {
    const Bytes song = everyKindOfEvent();
    for (size_t length = 0; length <= song.size(); ++length) {
        tryPlaying(Bytes(song.begin(), song.begin() + static_cast<std::ptrdiff_t>(length)));
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(limited, 0);
    EXPECT_EQ(refused, 22);  // everything shorter than the header and the first chunk header
    RecordProperty("played", ended);
}

TEST_P(DamagedSongs, SeededMutationsAreRefusedOrPlay) {
    const Bytes song = everyKindOfEvent();
    std::mt19937 random(20240517);
    for (int round = 0; round < 3000; ++round) {
        Bytes bytes = song;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int c = 0; c < changes; ++c) {
            const size_t at = random() % bytes.size();
            switch (random() % 6) {
            case 0: bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at)); break;
            case 1:
                bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), static_cast<uint8_t>(random()));
                break;
            case 2: bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
            case 3: bytes[at] = static_cast<uint8_t>(random() % 2 ? 0xFF : 0x80 | (random() & 0x7F)); break;
            default: bytes[at] = static_cast<uint8_t>(random()); break;
            }
            if (bytes.empty()) bytes.push_back(0);
        }
        tryPlaying(bytes);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(ended, 1000);
    RecordProperty("refused", refused);
    RecordProperty("played", ended);
    RecordProperty("limited", limited);
}

INSTANTIATE_TEST_SUITE_P(Mixers, DamagedSongs, ::testing::Values(MixerMode::Software, MixerMode::Studio));

}  // namespace
}  // namespace tonvero::test
