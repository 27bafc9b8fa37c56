// Moving about in a song, heard: a render from a start point against the
// same span of the whole render, the channels a seek restores, loops that
// repeat exactly and turn without a click, mute and solo, the master volume,
// and songs with bytes other players refuse or data cut short.

#include "render/SoundMeasure.h"

#include "engine/ChannelMonitor.h"
#include "song/SongPosition.h"
#include "song/TempoMap.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace tonvero::test {
namespace {

constexpr int32_t kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// A looped sine of 441 Hz at key 60 that a note-off lets go within 20 ms.
void fillSine(Bank& bank) {
    WaveShape tone;
    tone.samples.resize(1000);
    for (size_t k = 0; k < tone.samples.size(); ++k)
        tone.samples[k] = static_cast<int16_t>(std::lround(8000 * std::sin(2 * kPi * static_cast<double>(k) / 100)));
    tone.looped = 1;
    tone.loopEnd = 999;
    tone.cutoffFading = 64 << 16;
    addTone(bank, "sine", tone);
}

struct RenderRequest {
    MixerMode mode = MixerMode::Studio;
    RenderSpan span;
    std::function<void(MixerEngine&)> set;  // listener settings, under the engine lock
};

Rendered renderWith(const Bytes& song, const RenderRequest& request) {
    SongRenderer renderer(request.mode, kRate, dryStudio());
    std::string error;
    EXPECT_TRUE(renderer.openOutput(&error)) << error;
    {
        EngineLock lock(renderer.engine().mutex);
        fillSine(renderer.engine().bank);
    }
    EXPECT_EQ(loadBytes(renderer, song), SongLoadResult::Loaded);
    if (request.set) {
        EngineLock lock(renderer.engine().mutex);
        request.set(renderer.engine());
    }
    renderer.setSpan(request.span);
    return renderToMemory(renderer, kRate, 600);  // a bound, should a loop never end
}

// Division 480. Channel 0 is set up at tick 0 (program, volume, pan, a bend
// range of 12 by registered parameter 0, a bend up); notes of 0.08 s every
// beat; the tempo goes from 120 to 150 per minute at 2 s. `skip` names a
// channel whose notes are left out (-1 none); channel 1 plays a fifth above
// channel 0, half a beat later.
Bytes chaseSong(int skip = -1) {
    MidiWriter midi(1, 480);
    auto& t = midi.track();
    t.program(0, 0, 3).controller(0, 0, 7, 90).controller(0, 0, 10, 30);
    t.controller(0, 0, 101, 0).controller(0, 0, 100, 0).controller(0, 0, 6, 12).pitchBend(0, 0, 12288);
    t.controller(0, 1, 10, 100);
    uint32_t last = 0;
    for (uint32_t beat = 0; beat < 12; ++beat) {
        const uint32_t tick = beat * 480;
        if (beat == 4) t.tempo(tick - last, 400000), last = tick;
        const uint32_t length = beat < 4 ? 77 : 96;  // 0.08 s at either tempo
        if (skip != 0) t.noteOn(tick - last, 0, 60, 100).noteOff(length, 0, 60), last = tick + length;
        if (skip != 1) t.noteOn(tick + 240 - last, 1, 67, 80).noteOff(length, 1, 67), last = tick + 240 + length;
    }
    t.endOfTrack(13 * 480 - last);  // the same end, whichever notes are left out
    return midi.bytes();
}

TEST(TransportRender, AStartPointRendersTheSameSpanAsTheWholeSong) {
    // 3.1 s lies between notes, long after the last one before it has died away.
    const Bytes song = chaseSong();
    const double start = 3.1;
    const size_t offset = static_cast<size_t>(std::llround(start * kRate));
    const Rendered whole = renderWith(song, {});
    const Rendered part = renderWith(song, {MixerMode::Studio, {start, 0}, {}});
    ASSERT_GT(whole.frames(), offset + kRate);
    ASSERT_EQ(part.frames() + offset, whole.frames());
    // The Studio mixer: the same frames, once the first block has passed.
    const size_t block = StudioMixer::kBlockFrames;
    size_t differing = 0;
    for (size_t i = 2 * block; i < part.samples.size(); ++i)
        differing += part.samples[i] != whole.samples[2 * offset + i];
    EXPECT_EQ(differing, 0u);
    EXPECT_GT(largestStep(part, block, part.frames()), 100);  // and it is not silence

    // The Custom Mixer: the same notes, each within one 20 ms pass.
    const Rendered wholeCustom = renderWith(song, {MixerMode::Software, {}, {}});
    const Rendered partCustom = renderWith(song, {MixerMode::Software, {start, 0}, {}});
    std::vector<size_t> expected;
    for (size_t f : onsets(wholeCustom, 2000))
        if (f >= offset) expected.push_back(f - offset);
    const std::vector<size_t> found = onsets(partCustom, 2000);
    ASSERT_EQ(found.size(), expected.size());
    ASSERT_GE(found.size(), 10u);
    for (size_t k = 0; k < found.size(); ++k)
        EXPECT_LE(std::abs(static_cast<long>(found[k]) - static_cast<long>(expected[k])), 882) << k;

    // An exact span: from 1 s to 2.5 s is 1.5 s of frames.
    const Rendered span = renderWith(song, {MixerMode::Studio, {1.0, 2.5}, {}});
    EXPECT_EQ(span.frames(), static_cast<size_t>(1.5 * kRate));
}

TEST(TransportRender, ASeekRestoresEveryChannelAsTheSongHasIt) {
    MidiWriter midi(1, 480);
    auto& t = midi.track();
    t.program(0, 2, 5).controller(0, 2, 0, 1).controller(0, 2, 32, 2).controller(0, 2, 7, 50);
    t.controller(0, 2, 10, 20).controller(0, 2, 11, 80).controller(0, 2, 101, 0).controller(0, 2, 100, 0);
    t.controller(0, 2, 6, 7).pitchBend(10, 2, 10000).controller(10, 2, 64, 127);
    t.noteOn(10, 2, 60, 100);                                          // held across the seek point: not restarted
    t.controller(1920, 2, 7, 110).noteOff(10, 2, 60).endOfTrack(480);  // after it
    const Bytes song = midi.bytes();
    for (MixerMode mode : {MixerMode::Studio, MixerMode::Software, MixerMode::Hardware}) {
        SCOPED_TRACE(mixerModeName(mode));
        SongRenderer renderer(mode, kRate, dryStudio());
        ASSERT_TRUE(renderer.openOutput());
        {
            EngineLock lock(renderer.engine().mutex);
            fillSine(renderer.engine().bank);
        }
        ASSERT_EQ(loadBytes(renderer, song), SongLoadResult::Loaded);
        renderer.setSpan({1.0, 1.5});
        const Rendered r = renderToMemory(renderer, kRate);
        EXPECT_EQ(largestStep(r, 0, r.frames()), 0);  // the held note stays silent
        MixerEngine& engine = renderer.engine();
        EngineLock lock(engine.mutex);
        ChannelActivities activity;
        channelActivity(engine, activity);
        EXPECT_EQ(activity[2].program, 5);
        EXPECT_EQ(activity[2].volume, 50);
        EXPECT_EQ(activity[2].pan, 20);
        if (engine.studio) {
            const StudioChannel& ch = engine.studio->channel(2);
            EXPECT_EQ(ch.bankMsb, 1);
            EXPECT_EQ(ch.bankLsb, 2);
            EXPECT_EQ(ch.expression, 80);
            EXPECT_EQ(ch.bendRangeData >> 7, 7);
            EXPECT_EQ(ch.bend, 10000);
            EXPECT_TRUE(ch.sustain);
        } else {
            const ChannelState& ch = engine.channels[2];
            EXPECT_EQ(ch.bendRange, 7);
            EXPECT_FLOAT_EQ(ch.bend, (10000 - 8192) * 7.0f / 8192.0f);
            EXPECT_EQ(ch.sustain, 1);
        }
    }
}

// Notes on the beat at 120 per minute for 3 s, with a long note held over
// 1.5 s, the loop's end; `marks` puts the loop into the song itself.
enum class Marks { None, Markers, Controller111 };
Bytes loopSong(Marks marks) {
    // Events in time order: (tick, writer of the event at that delta).
    std::vector<std::pair<uint32_t, std::function<void(MidiWriter::Track&, uint32_t)>>> events;
    auto add = [&](uint32_t tick, std::function<void(MidiWriter::Track&, uint32_t)> write) {
        events.emplace_back(tick, std::move(write));
    };
    const Bytes loopStart{'l', 'o', 'o', 'p', 'S', 't', 'a', 'r', 't'};
    const Bytes loopEnd{'L', 'O', 'O', 'P', 'E', 'N', 'D'};
    if (marks == Marks::Markers) add(480, [&](MidiWriter::Track& t, uint32_t d) { t.meta(d, 0x06, loopStart); });
    if (marks == Marks::Controller111) add(480, [](MidiWriter::Track& t, uint32_t d) { t.controller(d, 0, 111, 0); });
    if (marks == Marks::Markers) add(1440, [&](MidiWriter::Track& t, uint32_t d) { t.meta(d, 0x06, loopEnd); });
    for (int beat = 0; beat < 6; ++beat) {
        const uint32_t tick = static_cast<uint32_t>(beat) * 480;
        add(tick, [beat](MidiWriter::Track& t, uint32_t d) { t.noteOn(d, 0, 60 + beat, 100); });
        add(tick + 200, [beat](MidiWriter::Track& t, uint32_t d) { t.noteOff(d, 0, 60 + beat); });
    }
    add(1200, [](MidiWriter::Track& t, uint32_t d) { t.noteOn(d, 1, 48, 100); });
    add(1800, [](MidiWriter::Track& t, uint32_t d) { t.noteOff(d, 1, 48); });
    add(2880, [](MidiWriter::Track& t, uint32_t d) { t.endOfTrack(d); });
    std::stable_sort(events.begin(), events.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    MidiWriter midi(1, 480);
    auto& track = midi.track();
    uint32_t last = 0;
    for (const auto& [tick, write] : events) {
        write(track, tick - last);
        last = tick;
    }
    return midi.bytes();
}

TEST(TransportRender, LoopsRepeatExactlyAndTurnWithoutAClick) {
    struct Case {
        const char* name;
        Marks marks;
        bool range;    // an A-B range of 0.5 .. 1.5 s
        double start;  // the loop's start and end in seconds
        double end;
    };
    const Case cases[] = {
        {"A-B range", Marks::None, true, 0.5, 1.5},
        {"markers", Marks::Markers, false, 0.5, 1.5},
        {"controller 111", Marks::Controller111, false, 0.5, 3.0},
        {"whole song", Marks::None, false, 0.0, 3.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Rendered r = renderWith(loopSong(c.marks), {MixerMode::Studio, {}, [&](MixerEngine& engine) {
                                                              engine.mutex.assertHeld();  // renderWith holds it
                                                              setLooping(engine, true);
                                                              setLoopCount(engine, 3);
                                                              if (c.range) {
                                                                  EXPECT_TRUE(setLoopRange(engine, 0.5, 1.5));
                                                              }
                                                          }});
        EXPECT_EQ(r.report.loopTurns, 2);
        const size_t a = static_cast<size_t>(std::llround(c.start * kRate));
        const size_t b = static_cast<size_t>(std::llround(c.end * kRate));
        const size_t length = b - a;
        // Three passes, then the rest of the song and the tail.
        ASSERT_GT(r.frames(), a + 3 * length);
        // The second and third passes begin alike (each after a turn): the same frames.
        size_t differing = 0;
        for (size_t i = 0; i < 2 * length; ++i)
            differing += r.samples[2 * (a + length) + i] != r.samples[2 * (a + 2 * length) + i];
        EXPECT_EQ(differing, 0u);
        // No step at either turn larger than the sine's own (8000 x 2 pi / 100 per frame, on two notes at most).
        const int32_t sineStep = static_cast<int32_t>(2 * 8000 * 2 * kPi / 100);
        for (size_t turn : {b, b + length}) EXPECT_LE(largestStep(r, turn - 500, turn + 500), sineStep) << turn;
    }
    // The Custom Mixer turns too: the song heard twice, its notes a song's length apart within a pass.
    const Bytes song = loopSong(Marks::None);
    const Rendered custom = renderWith(song, {MixerMode::Software, {}, [](MixerEngine& engine) {
                                                  engine.mutex.assertHeld();  // renderWith holds it
                                                  setLooping(engine, true);
                                                  setLoopCount(engine, 2);
                                              }});
    EXPECT_EQ(custom.report.loopTurns, 1);
    const std::vector<size_t> heard = onsets(custom, 3000, 0);
    ASSERT_GE(heard.size(), 8u);
    ASSERT_EQ(heard.size() % 2, 0u);
    const size_t half = heard.size() / 2;
    for (size_t k = 0; k < half; ++k)
        EXPECT_NEAR(static_cast<double>(heard[k + half] - heard[k]), 3.0 * kRate, 882.0) << k;
}

TEST(TransportRender, MuteAndSoloSilenceExactlyWhatTheyName) {
    for (MixerMode mode : {MixerMode::Studio, MixerMode::Software}) {
        SCOPED_TRACE(mixerModeName(mode));
        const Rendered onlyFirst = renderWith(chaseSong(1), {mode, {}, {}});
        const Rendered onlySecond = renderWith(chaseSong(0), {mode, {}, {}});
        const Rendered muted = renderWith(chaseSong(), {mode, {}, [](MixerEngine& e) {
                                                            e.mutex.assertHeld();  // renderWith holds it
                                                            setChannelMuted(e, 1, true);
                                                        }});
        const Rendered soloed = renderWith(chaseSong(), {mode, {}, [](MixerEngine& e) {
                                                             e.mutex.assertHeld();  // renderWith holds it
                                                             setChannelSoloed(e, 1, true);
                                                         }});
        ASSERT_EQ(muted.samples.size(), onlyFirst.samples.size());
        EXPECT_TRUE(muted.samples == onlyFirst.samples);
        ASSERT_EQ(soloed.samples.size(), onlySecond.samples.size());
        EXPECT_TRUE(soloed.samples == onlySecond.samples);
        EXPECT_GT(largestStep(soloed, 0, soloed.frames()), 100);
    }
}

TEST(TransportRender, MasterVolumeScalesTheOutputAndFullVolumeChangesNothing) {
    const Bytes song = chaseSong();
    const Rendered full = renderWith(song, {MixerMode::Software, {}, {}});
    const Rendered unity = renderWith(song, {MixerMode::Software, {}, [](MixerEngine& e) {
                                                 e.mutex.assertHeld();  // renderWith holds it
                                                 setMasterVolume(e, 100);
                                             }});
    EXPECT_TRUE(full.samples == unity.samples);
    const Rendered half = renderWith(song, {MixerMode::Software, {}, [](MixerEngine& e) {
                                                e.mutex.assertHeld();  // renderWith holds it
                                                setMasterVolume(e, 50);
                                            }});
    ASSERT_EQ(half.samples.size(), full.samples.size());
    int32_t worst = 0;
    for (size_t i = 2 * static_cast<size_t>(kRate) / 10; i < full.samples.size(); ++i)
        worst = std::max(worst, std::abs(half.samples[i] - full.samples[i] / 4));
    EXPECT_LE(worst, 1);  // a quarter of the level: (50 / 100)^2
}

TEST(TransportRender, IllegalStatusBytesAreSkippedAndACutSongSaysWhere) {
    // Each system status that has no place in a track, with its data bytes, between notes.
    MidiWriter midi(0, 480);
    auto& t = midi.track();
    t.noteOn(0, 0, 60, 100).noteOff(240, 0, 60);
    t.raw({0x00, 0xF1, 0x05, 0x00, 0xF2, 0x01, 0x02, 0x00, 0xF3, 0x03, 0x00, 0xF6, 0x00, 0xF8, 0x00, 0xFE});
    t.noteOn(240, 0, 62, 100).noteOff(240, 0, 62).endOfTrack();
    const Rendered r = renderWith(midi.bytes(), {});
    EXPECT_EQ(r.report.notes.played, 2);
    EXPECT_GE(onsets(r, 2000).size(), 2u);

    // A track whose chunk runs past the end of the file plays what is there
    // and says after which song time it is damaged.
    MidiWriter cut(0, 480);
    auto& c = cut.track();
    c.noteOn(0, 0, 60, 100).noteOff(480, 0, 60).noteOn(480, 0, 62, 100).noteOff(480, 0, 62).endOfTrack();
    Bytes bytes = cut.bytes();
    bytes.resize(bytes.size() - 6);  // inside the last note-off, at 1.5 s
    SongRenderer renderer(MixerMode::Studio, kRate, dryStudio());
    ASSERT_TRUE(renderer.openOutput());
    ASSERT_EQ(loadBytes(renderer, bytes), SongLoadResult::Loaded);
    EngineLock lock(renderer.engine().mutex);
    EXPECT_NEAR(songDamagedAfterSeconds(renderer.engine()), 1.5, 1e-9);
}

}  // namespace
}  // namespace tonvero::test
