// Songs keep the time their files give: every note starts in the rendered
// sound within one mixer period plus one sequencer batch of its place in the
// tempo map, the song's last event lands within 0.5 % of its tempo-map time,
// and the last note of a song is heard whole, release included.

#include "render/RenderRig.h"

#include <cmath>

namespace tonvero::test {
namespace {

struct TempoChange {
    uint32_t tick;
    uint32_t tempo;
};

// Seconds at `tick` by the tempo map, computed here from the changes themselves.
double idealSeconds(uint32_t tick, const std::vector<TempoChange>& changes, int division) {
    double seconds = 0;
    uint32_t at = 0;
    double tempo = 500000;
    for (const TempoChange& c : changes) {
        if (c.tick >= tick) break;
        seconds += (c.tick - at) * tempo / division * 1e-6;
        at = c.tick;
        tempo = c.tempo;
    }
    return seconds + (tick - at) * tempo / division * 1e-6;
}

// The longest sequencer period the song can have: a batch is at least 1 ms
// and is chosen to keep to 125 events a second at the tempo before a change.
double longestBatchSeconds(const std::vector<TempoChange>& changes, int division) {
    double previousRate = division / 0.5;  // ticks per second at the default tempo
    double longest = 2 / previousRate;
    for (const TempoChange& c : changes) {
        const double tickSeconds = c.tempo / 1e6 / division;
        const double batch = std::max(std::ceil(previousRate / 125.0), std::ceil(0.001 / tickSeconds));
        longest = std::max(longest, batch * tickSeconds);
        previousRate = 1 / tickSeconds;
    }
    return longest;
}

// A short click: 5 ms of constant level, unlooped, so notes stand apart.
void clickBank(Bank& bank) {
    WaveShape click;
    click.samples.assign(220, 6000);
    addTone(bank, "click", click);
}

struct TimedSong {
    Bytes bytes;
    std::vector<uint32_t> noteTicks;
    std::vector<TempoChange> changes;
};

// Three tracks: the tempo map on the first, notes on the others. Notes fall
// every half beat or so, and two come in the first 20 ms. They alternate
// between channel 0, panned hard left, and channel 1, panned hard right, so
// that two notes mixed into the same 20 ms are still told apart.
TimedSong timedSong(int division) {
    TimedSong song;
    const int q = division;
    song.changes = {{0, 600000},
                    {static_cast<uint32_t>(4 * q), 400000},
                    {static_cast<uint32_t>(9 * q), 750000},
                    {static_cast<uint32_t>(13 * q), 300000},
                    {static_cast<uint32_t>(20 * q), 520000}};
    MidiWriter w(1, static_cast<uint16_t>(division));
    auto& tempoTrack = w.track();
    uint32_t at = 0;
    for (const TempoChange& c : song.changes) {
        tempoTrack.tempo(c.tick - at, c.tempo);
        at = c.tick;
    }
    tempoTrack.endOfTrack(0);
    w.track().controller(0, 0, 10, 0).controller(0, 1, 10, 127).endOfTrack(0);

    std::vector<uint32_t> ticks{0, static_cast<uint32_t>(q / 48)};  // 0 and about 12 ms
    for (uint32_t t = static_cast<uint32_t>(q / 4); t < static_cast<uint32_t>(26 * q);
         t += static_cast<uint32_t>(q * 2 / 5 + q / 7))
        ticks.push_back(t);
    song.noteTicks = ticks;
    auto& a = w.track();
    auto& b = w.track();
    uint32_t atA = 0, atB = 0;
    for (size_t i = 0; i < ticks.size(); ++i) {
        auto& track = i % 2 ? b : a;
        uint32_t& trackAt = i % 2 ? atB : atA;
        const int key = 48 + static_cast<int>(i % 24);
        const int channel = static_cast<int>(i % 2);
        track.noteOn(ticks[i] - trackAt, channel, key, 100).noteOff(1, channel, key);
        trackAt = ticks[i] + 1;
    }
    a.endOfTrack(0);
    b.endOfTrack(0);
    song.bytes = w.bytes();
    return song;
}

class Timing : public ::testing::TestWithParam<int> {};

TEST_P(Timing, NotesStartWhereTheTempoMapPutsThem) {
    const int division = GetParam();
    const TimedSong song = timedSong(division);
    const Rendered r = renderSong(song.bytes, clickBank);
    ASSERT_TRUE(r.report.endedWhole);
    const std::vector<size_t> left = onsets(r, 200, 0);
    const std::vector<size_t> right = onsets(r, 200, 1);
    ASSERT_EQ(left.size(), (song.noteTicks.size() + 1) / 2);
    ASSERT_EQ(right.size(), song.noteTicks.size() / 2);
    std::vector<size_t> found;
    for (size_t i = 0; i < song.noteTicks.size(); ++i) found.push_back(i % 2 ? right[i / 2] : left[i / 2]);
    const double tolerance = 0.020 + longestBatchSeconds(song.changes, division);
    double worst = 0;
    for (size_t i = 0; i < found.size(); ++i) {
        const double ideal = idealSeconds(song.noteTicks[i], song.changes, division);
        const double heard = static_cast<double>(found[i]) / r.rate;
        EXPECT_NEAR(heard, ideal, tolerance) << "note " << i << " at tick " << song.noteTicks[i];
        worst = std::max(worst, std::abs(heard - ideal));
    }
    const double lastIdeal = idealSeconds(song.noteTicks.back(), song.changes, division);
    const double lastHeard = static_cast<double>(found.back()) / r.rate;
    EXPECT_LE(std::abs(lastHeard - lastIdeal), 0.005 * lastIdeal);
    EXPECT_NEAR(r.report.songSeconds, idealSeconds(song.noteTicks.back() + 1, song.changes, division), 1e-9);
    RecordProperty("worst_error_ms", std::to_string(worst * 1000));
}

INSTANTIATE_TEST_SUITE_P(Divisions, Timing, ::testing::Values(96, 480, 960));

TEST(SongEnd, TheLastNoteIsHeardWholeWithItsRelease) {
    // A looped tone whose release takes 10 passes (0.2 s) after its note-off,
    // which is the song's very last event.
    WaveShape tone;
    tone.looped = 1;
    tone.loopEnd = 4409;
    tone.cutoffFading = 0x66666;  // 6.4 of the gain of 63.5 per pass
    MidiWriter w(0, 96);
    w.track().noteOn(0, 0, 60, 127).noteOff(192, 0, 60).endOfTrack(0);  // 1 s
    const Rendered r = renderSong(w.bytes(), [&](Bank& bank) { addTone(bank, "tone", tone); });
    ASSERT_TRUE(r.report.endedWhole);
    const double last = static_cast<double>(lastSound(r)) / r.rate;
    EXPECT_GT(last, 1.0 + 0.15);
    EXPECT_LT(last, 1.0 + 0.25);
    // The file runs on past the last sound: nothing was cut.
    EXPECT_GT(r.seconds(), last);
    EXPECT_LT(r.seconds(), last + 0.1);

    // A one-shot sample of 2 s whose note is let go after 0.5 s plays to its end.
    WaveShape oneShot;
    oneShot.samples.assign(88200, 3000);
    MidiWriter shortNote(0, 96);
    shortNote.track().noteOn(0, 0, 60, 127).noteOff(96, 0, 60).endOfTrack(0);
    const Rendered tail = renderSong(shortNote.bytes(), [&](Bank& bank) { addTone(bank, "tail", oneShot); });
    const double tailEnd = static_cast<double>(lastSound(tail)) / tail.rate;
    EXPECT_NEAR(tailEnd, 2.0, 0.021);
    EXPECT_GT(tail.seconds(), tailEnd);
}

}  // namespace
}  // namespace tonvero::test
