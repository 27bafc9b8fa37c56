// Loading Standard MIDI Files: header fields, track chunks, the results of
// damaged and foreign files, and the song's tempo map.

#include "support/EngineRig.h"
#include "song/TempoMap.h"
#include "song/TrackReader.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace tonvero::test {
namespace {

MidiWriter twoTrackSong() {
    MidiWriter w(1, 96);
    w.track().tempo(0, 400000).endOfTrack(0);                          // 7 + 4 = 11 bytes
    w.track().noteOn(0, 0, 60, 100).noteOff(96, 0, 60).endOfTrack(0);  // 4 + 4 + 4 = 12 bytes
    return w;
}

SongImage parsed(const Bytes& bytes, SongLoadResult expected = SongLoadResult::Loaded) {
    SongImage image;
    EXPECT_EQ(parseSong(bytes, image), expected);
    return image;
}

TEST(SongLoader, FormatZeroHasOneTrackAtOffset22WhateverItsCountSays) {
    MidiWriter w(0, 96, 3);
    w.track().noteOn(0, 0, 60, 100).endOfTrack(10);
    const SongImage song = parsed(w.bytes());
    EXPECT_EQ(song.format, 0);
    EXPECT_EQ(song.trackCount, 3);
    ASSERT_EQ(song.tracks.size(), 1);
    EXPECT_EQ(song.tracks.at(0)->dataOffset, 22);
    EXPECT_EQ(song.tracks.at(0)->dataLength, 8);
    EXPECT_EQ(song.tracks.at(1), nullptr);
}

TEST(SongLoader, FormatOneTracksFollowEachOther) {
    const SongImage song = parsed(twoTrackSong().bytes());
    ASSERT_EQ(song.tracks.size(), 2);
    EXPECT_EQ(song.tracks.at(0)->dataOffset, 22);
    EXPECT_EQ(song.tracks.at(1)->dataOffset, 22 + 11 + 8);
    EXPECT_EQ(song.tracks.at(1)->dataLength, 12);
    EXPECT_EQ(song.division, 96);
}

TEST(SongLoader, OnlyTheLowByteOfTheFormatCounts) {
    MidiWriter w(0x0100, 96);
    w.track().endOfTrack();
    const SongImage song = parsed(w.bytes());
    EXPECT_EQ(song.format, 0);
    EXPECT_EQ(song.tracks.size(), 1);
}

TEST(SongLoader, FormatOneWithNoTracksGivesNoneAndFormatTwoGivesEachSequence) {
    MidiWriter none(1, 96, 0);
    none.track().endOfTrack();
    EXPECT_EQ(parsed(none.bytes()).tracks.size(), 0);
    MidiWriter two(2, 96);
    two.track().endOfTrack();
    two.track().endOfTrack();
    EXPECT_EQ(parsed(two.bytes()).tracks.size(), 2);
}

TEST(SongLoader, TrackListGrowsByFiveWhenFull) {
    MidiWriter w(1, 96);
    for (int i = 0; i < 7; ++i) w.track().endOfTrack();
    const SongImage song = parsed(w.bytes());
    EXPECT_EQ(song.tracks.size(), 7);
    EXPECT_EQ(song.tracks.capacity(), 10);  // released storage: 0 -> 5 -> 10
    TrackList fresh;
    EXPECT_EQ(fresh.capacity(), 1);
    fresh.append(std::make_unique<Track>());
    EXPECT_EQ(fresh.capacity(), 1);
    fresh.append(std::make_unique<Track>());
    EXPECT_EQ(fresh.capacity(), 6);
}

TEST(SongLoader, ChunksOtherThanTracksAreSkipped) {
    MidiWriter w(1, 96);
    w.otherChunk("XFIH", {1, 2, 3, 4, 5});
    w.track().noteOn(0, 0, 60, 100).endOfTrack(0);
    w.otherChunk("MTrx", {0x00, 0xFF, 0x2F, 0x00});
    w.track().endOfTrack(5);
    const SongImage song = parsed(w.bytes());
    ASSERT_EQ(song.tracks.size(), 2);
    EXPECT_EQ(song.tracks.at(0)->dataOffset, 22 + 8 + 5);
    EXPECT_EQ(song.tracks.at(1)->dataOffset, 22 + 8 + 5 + 8 + 8 + 8 + 4);
}

TEST(SongLoader, ALongerHeaderIsSkippedByItsLength) {
    MidiWriter w(0, 96);
    w.track().endOfTrack();
    Bytes bytes = w.bytes();
    bytes[7] = 8;
    bytes.insert(bytes.begin() + 14, {0xAA, 0xBB});
    const SongImage song = parsed(bytes);
    ASSERT_EQ(song.tracks.size(), 1);
    EXPECT_EQ(song.tracks.at(0)->dataOffset, 24);
}

TEST(SongLoader, RmidFilesAreUnwrapped) {
    const Bytes midi = twoTrackSong().bytes();
    const SongImage song = parsed(rmidFile(midi));
    EXPECT_EQ(song.data, midi);
    EXPECT_EQ(song.tracks.size(), 2);
    // A RIFF file of another kind, or without a data chunk, is not MIDI.
    Bytes wave = rmidFile(midi);
    std::copy_n("WAVE", 4, wave.begin() + 8);
    parsed(wave, SongLoadResult::NotMidi);
    Bytes noData = rmidFile(midi);
    std::copy_n("LIST", 4, noData.begin() + 12);
    parsed(noData, SongLoadResult::NotMidi);
}

TEST(SongLoader, ATrackRunningPastTheFileIsClippedToIt) {
    Bytes bytes = twoTrackSong().bytes();
    bytes.erase(bytes.end() - 3, bytes.end());  // the second track loses its end-of-track event
    const SongImage song = parsed(bytes);
    ASSERT_EQ(song.tracks.size(), 2);
    EXPECT_EQ(song.tracks.at(1)->dataLength, 9);
    EXPECT_EQ(song.tracks.at(1)->dataOffset + song.tracks.at(1)->dataLength, static_cast<int32_t>(bytes.size()));
}

TEST(SongLoader, ResultsForFilesThatCannotBeUsed) {
    Bytes text{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!', '!'};
    parsed(text, SongLoadResult::NotMidi);
    parsed({}, SongLoadResult::NotMidi);
    parsed({'M', 'T', 'h'}, SongLoadResult::NotMidi);

    const Bytes good = twoTrackSong().bytes();
    parsed(Bytes(good.begin(), good.begin() + 13), SongLoadResult::Damaged);  // the header does not fit
    Bytes shortHeader = good;
    shortHeader[7] = 5;
    parsed(shortHeader, SongLoadResult::Damaged);
    Bytes hugeHeader = good;
    hugeHeader[4] = 0x7F;
    parsed(hugeHeader, SongLoadResult::Damaged);
    Bytes zeroDivision = good;
    zeroDivision[12] = zeroDivision[13] = 0;
    parsed(zeroDivision, SongLoadResult::Damaged);
    Bytes noTicksPerFrame = good;
    noTicksPerFrame[12] = 0xE7;
    noTicksPerFrame[13] = 0;
    parsed(noTicksPerFrame, SongLoadResult::Damaged);
    // Tracks promised, none there.
    parsed(Bytes(good.begin(), good.begin() + 14), SongLoadResult::Damaged);
    parsed(Bytes(good.begin(), good.begin() + 20), SongLoadResult::Damaged);
}

TEST(SongLoader, AFailedLoadLeavesTheSongExactlyAsItWas) {
    SongRig rig;
    const Bytes first = twoTrackSong().bytes();
    ASSERT_EQ(rig.load(first), SongLoadResult::Loaded);
    MixerEngine& e = rig.e();
    double length = 0;
    const Track* track0 = nullptr;
    {
        EngineLock lock(e.mutex);
        length = e.song.songTiming.lengthSeconds;
        track0 = e.song.tracks.at(0);
    }

    Bytes damaged = first;
    damaged[12] = damaged[13] = 0;
    EXPECT_EQ(rig.load(damaged), SongLoadResult::Damaged);
    EXPECT_EQ(rig.load(Bytes{'n', 'o', 'p', 'e'}), SongLoadResult::NotMidi);
    {
        EngineLock lock(e.mutex);
        EXPECT_EQ(loadSong(e, "/nonexistent/dir/song.mid"), SongLoadResult::CannotOpen);
        EXPECT_EQ(e.song.songData, first);
        EXPECT_EQ(e.song.format, 1);
        EXPECT_EQ(e.song.trackCount, 2);
        EXPECT_EQ(e.song.division, 96);
        EXPECT_EQ(e.song.tracks.size(), 2);
        EXPECT_EQ(e.song.tracks.at(0), track0);
        EXPECT_EQ(e.song.songTiming.lengthSeconds, length);
    }
    EXPECT_EQ(play(e), 1);
}

TEST(SongLoader, LoadsFromAFileAndFreesTheSong) {
    const std::string path = "loader_test_song.mid";
    ASSERT_TRUE(twoTrackSong().write(path));
    SongRig rig;
    MixerEngine& e = rig.e();
    EngineLock lock(e.mutex);
    EXPECT_EQ(loadSong(e, path), SongLoadResult::Loaded);
    EXPECT_EQ(e.song.tracks.size(), 2);
    freeSong(e);
    EXPECT_TRUE(e.song.songData.empty());
    EXPECT_EQ(e.song.tracks.size(), 0);
    EXPECT_EQ(e.song.tracks.capacity(), 0);
    EXPECT_EQ(e.song.format, 1);  // kept until the next load
    std::remove(path.c_str());
    EXPECT_STREQ(songLoadResultText(SongLoadResult::Loaded), "Song loaded.");
}

TEST(ReadVarLen, ReadsQuantitiesAndStaysInsideTheTrack) {
    const Bytes data{0x81, 0x00, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x83};
    Track track;
    track.dataLength = 9;
    TrackReader reader(data.data(), track);
    EXPECT_EQ(reader.varLen(), 128u);
    EXPECT_EQ(track.position, 2);
    EXPECT_EQ(reader.varLen(), 0x7Fu);
    EXPECT_EQ(reader.varLen(), 0x0FFFFFFFu);
    EXPECT_EQ(reader.varLen(), 0u);
    EXPECT_EQ(track.ended, 0);
    reader.varLen();  // 0x83 continues past the end of the track
    EXPECT_TRUE(reader.overran());
    EXPECT_EQ(track.ended, 1);
    EXPECT_EQ(track.position, 9);

    // Through the engine, on a loaded song: the first delta of a track.
    SongRig rig;
    MidiWriter w(0, 96);
    w.track().raw({0x81, 0x00}).endOfTrack();
    ASSERT_EQ(rig.load(w), SongLoadResult::Loaded);
    EngineLock lock(rig.e().mutex);
    Track& t = *rig.e().song.tracks.at(0);
    EXPECT_EQ(readVarLen(rig.e(), t), 128u);
    EXPECT_EQ(t.position, 2);
}

TEST(TempoMap, LengthFollowsTheTempoChangesOfEveryTrack) {
    MidiWriter w(1, 480);
    w.track().tempo(0, 600000).tempo(960, 300000).endOfTrack(480);      // ends at tick 1440
    w.track().noteOn(0, 0, 60, 90).noteOff(1920, 0, 60).endOfTrack(0);  // ends at tick 1920
    const SongImage song = parsed(w.bytes());
    EXPECT_EQ(song.timing.endTick, 1920u);
    // 960 ticks at 0.6 s per quarter, then 960 at 0.3 s.
    EXPECT_NEAR(song.timing.lengthSeconds, 1.2 + 0.6, 1e-9);
    EXPECT_NEAR(secondsAtTick(song.timing, 480), 0.6, 1e-9);
    EXPECT_NEAR(secondsAtTick(song.timing, 1200), 1.2 + 0.15, 1e-9);
}

TEST(TempoMap, SmpteDivisionsHaveAFixedTickLength) {
    EXPECT_TRUE(isSmpteDivision(0xE728));
    EXPECT_DOUBLE_EQ(smpteTicksPerSecond(0xE728), 1000.0);   // 25 frames x 40 ticks
    EXPECT_DOUBLE_EQ(smpteTicksPerSecond(0xE250), 2400.0);   // 30 x 80
    EXPECT_NEAR(smpteTicksPerSecond(0xE364), 2997.0, 0.01);  // 29.97 x 100
    EXPECT_DOUBLE_EQ(microsPerTick(0xE728, 123456), 1000.0);
    EXPECT_DOUBLE_EQ(microsPerTick(96, 480000), 5000.0);

    MidiWriter w(0, 0xE728);
    w.track().tempo(0, 250000).noteOn(0, 0, 60, 90).endOfTrack(1500);
    const SongImage song = parsed(w.bytes());
    EXPECT_DOUBLE_EQ(song.timing.lengthSeconds, 1.5);  // the tempo event does not count
}

}  // namespace
}  // namespace tonvero::test
