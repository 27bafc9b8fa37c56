// Songs at the edges of the file format, heard: format 2 sequences one after
// another, formats no player knows refused by name, and notes on their exact
// frame at the extreme tempos and divisions and past 2^32 ticks.

#include "render/SoundMeasure.h"

#include <string>

namespace tonvero::test {
namespace {

constexpr int32_t kRate = 44100;

// A constant level, looped, let go at once: a note sounds from its very first frame.
void fillSteady(Bank& bank) {
    WaveShape tone;
    tone.samples.assign(1000, 8000);
    tone.looped = 1;
    tone.loopEnd = 999;
    tone.cutoffFading = 64 << 16;
    addTone(bank, "steady", tone);
}

Rendered render(const Bytes& song, MixerMode mode) { return renderSong(song, fillSteady, mode, kRate, dryStudio()); }

TEST(SongEdges, FormatTwoPlaysItsSequencesOneAfterAnother) {
    // Three sequences at division 480: the second sets its own tempo twice
    // as fast; the third begins again at the default tempo.
    MidiWriter midi(2, 480);
    midi.track().noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack(480);                   // 0 .. 1 s
    midi.track().tempo(0, 250000).noteOn(0, 0, 62, 100).noteOff(480, 0, 62).endOfTrack(480);  // 1 .. 1.5 s
    midi.track().noteOn(0, 0, 64, 100).noteOff(480, 0, 64).endOfTrack(480);                   // 1.5 .. 2.5 s
    for (MixerMode mode : {MixerMode::Studio, MixerMode::Software, MixerMode::Hardware}) {
        SCOPED_TRACE(mixerModeName(mode));
        const Rendered r = render(midi.bytes(), mode);
        EXPECT_DOUBLE_EQ(r.report.songSeconds, 2.5);
        EXPECT_EQ(r.report.notes.played, 3);
        const std::vector<size_t> heard = onsets(r, 4000);
        ASSERT_EQ(heard.size(), 3u);
        // On the frame in the Studio mixer; within a 20 ms pass in the others.
        const double slack = mode == MixerMode::Studio ? 0 : 882;
        EXPECT_NEAR(static_cast<double>(heard[0]), 0, slack);
        EXPECT_NEAR(static_cast<double>(heard[1]), 1.0 * kRate, slack);
        EXPECT_NEAR(static_cast<double>(heard[2]), 1.5 * kRate, slack);
    }
}

TEST(SongEdges, AFormatAboveTwoIsRefusedByItsValue) {
    MidiWriter midi(3, 480);
    midi.track().noteOn(0, 0, 60, 100).noteOff(480, 0, 60).endOfTrack();
    SongImage image;
    EXPECT_EQ(parseSong(midi.bytes(), image), SongLoadResult::UnknownFormat);
    EXPECT_NE(std::string(songLoadResultText(SongLoadResult::UnknownFormat)).find("format 3"), std::string::npos);
    EXPECT_TRUE(image.tracks.size() == 0);
}

struct Extreme {
    uint16_t division;
    uint32_t tempo;  // microseconds per quarter note (not used with SMPTE)
    uint64_t tick;   // of the note, reached by deltas of at most 2^28 - 1
    uint64_t frame;  // where it must start at 44100 Hz
};

class Extremes : public ::testing::TestWithParam<Extreme> {};

TEST_P(Extremes, TheNoteStartsOnItsFrame) {
    const Extreme& e = GetParam();
    MidiWriter midi(0, e.division);
    auto& t = midi.track();
    t.tempo(0, e.tempo);
    uint64_t left = e.tick;
    while (left > 0x0FFFFFFF) {  // the largest delta a variable-length quantity of 4 bytes holds
        t.meta(0x0FFFFFFF, 0x01, {'.'});
        left -= 0x0FFFFFFF;
    }
    t.noteOn(static_cast<uint32_t>(left), 0, 60, 100).noteOff(1, 0, 60).endOfTrack(1);
    const Rendered r = render(midi.bytes(), MixerMode::Studio);
    EXPECT_EQ(r.report.notes.played, 1);
    const std::vector<size_t> heard = onsets(r, 1);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], e.frame);
}

INSTANTIATE_TEST_SUITE_P(TemposAndDivisions, Extremes,
                         ::testing::Values(
                             // One tick per quarter at the slowest tempo: 16.777215 s.
                             Extreme{1, 16777215, 1, 739875},
                             // 32767 ticks per quarter at the fastest tempo: 5 ms of ticks.
                             Extreme{32767, 1, 32767ull * 5000, 220}, Extreme{32767, 16777215, 32767, 739875},
                             // Past 2^32 ticks (at 32767 per microsecond-long quarter).
                             Extreme{32767, 1, 5000000000ull, 6729},
                             // SMPTE: 25 frames of 40 ticks, 29.97 of 255, 24 of 1, 30 of 80.
                             Extreme{0xE728, 500000, 1000, 44100}, Extreme{0xE3FF, 500000, 7645, 44115},
                             Extreme{0xE801, 500000, 12, 22050}, Extreme{0xE250, 500000, 2400, 44100}));

}  // namespace
}  // namespace tonvero::test
