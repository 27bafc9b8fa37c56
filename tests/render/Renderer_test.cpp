// The offline renderer and what the command-line programs build on: the
// rendered sound starts at song time zero, one song renders alike in all
// three mixers, files are written as WAV or FLAC and removed on failure, the
// default bank is looked up in its places, and song times read as clocks.

#include "render/AudioFileWriter.h"
#include "render/DefaultPatchmap.h"
#include "render/RenderRig.h"
#include "render/SongTimeText.h"

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace tonvero::test {
namespace {

namespace fs = std::filesystem;

void toneBank(Bank& bank) {
    WaveShape tone;
    tone.samples.assign(44100, 5000);  // a 1 s one-shot
    addTone(bank, "tone", tone);
}

// Four notes at the Wave's own pitch, each on a channel of its own.
Bytes fourNotes() {
    MidiWriter w(0, 96);
    w.track()
        .noteOn(0, 0, 60, 100)
        .noteOff(48, 0, 60)
        .noteOn(48, 1, 60, 100)
        .noteOff(48, 1, 60)
        .noteOn(0, 2, 60, 100)
        .noteOn(48, 3, 60, 100)
        .noteOff(48, 2, 60)
        .noteOff(0, 3, 60)
        .endOfTrack(0);
    return w.bytes();  // 1.25 s; the last note rings on to 2 s
}

TEST(Renderer, TheSoundStartsAtSongTimeZero) {
    const Rendered r = renderSong(fourNotes(), toneBank);
    ASSERT_TRUE(r.report.endedWhole);
    const std::vector<size_t> found = onsets(r, 100);
    ASSERT_FALSE(found.empty());
    EXPECT_LT(found.front(), 882u);  // within the first 20 ms, not after 0.3 s of silence
    EXPECT_EQ(r.report.notes.played, 4);
    EXPECT_EQ(r.report.frames, r.frames());
    EXPECT_DOUBLE_EQ(r.report.songSeconds, 1.25);
    // One voice at velocity 100 in the middle adds 5000 x 50 / 512; three or
    // four sound together around 1 s.
    EXPECT_GE(r.report.peak, 5000 * 50 / 512 * 3);
    EXPECT_LE(r.report.peak, 5000 * 50 / 512 * 4);
}

TEST(Renderer, ThreeMixersRenderOneSongAlike) {
    const Bytes song = fourNotes();
    const Rendered software = renderSong(song, toneBank, MixerMode::Software);
    const Rendered primary = renderSong(song, toneBank, MixerMode::Primary);
    const Rendered hardware = renderSong(song, toneBank, MixerMode::Hardware);
    for (const Rendered* r : {&software, &primary, &hardware}) {
        EXPECT_TRUE(r->report.endedWhole);
        EXPECT_GT(r->report.peak, 1000);
        EXPECT_GT(r->seconds(), 2.0);
        EXPECT_LT(r->seconds(), 2.1);
    }
    // The mixers place a note to within one 20 ms mixer period of each other,
    // so the files end within one period of each other too.
    EXPECT_EQ(software.frames(), primary.frames());
    EXPECT_NEAR(static_cast<double>(software.frames()), static_cast<double>(hardware.frames()), 882.0);
}

TEST(Renderer, ALimitStopsASongTooLongToWaitFor) {
    MidiWriter w(0, 96);
    w.track().noteOn(0, 0, 60, 100).endOfTrack(96 * 2 * 600);  // ten minutes
    SongRenderer renderer(MixerMode::Software, 22050);
    ASSERT_TRUE(renderer.openOutput());
    {
        EngineLock lock(renderer.engine().mutex);
        toneBank(renderer.engine().bank);
    }
    ASSERT_EQ(loadBytes(renderer, w.bytes()), SongLoadResult::Loaded);
    const Rendered r = renderToMemory(renderer, 22050, 2.0);
    EXPECT_FALSE(r.report.endedWhole);
    EXPECT_NEAR(r.seconds(), 2.0 - 0.3, 0.03);
    EngineLock lock(renderer.engine().mutex);
    EXPECT_EQ(renderer.engine().playing, 0);
}

TEST(Renderer, NothingToRenderWithoutASong) {
    SongRenderer renderer(MixerMode::Software, 44100);
    ASSERT_TRUE(renderer.openOutput());
    const Rendered r = renderToMemory(renderer, 44100);
    EXPECT_FALSE(r.report.started);
    EXPECT_EQ(r.frames(), 0u);
    EXPECT_EQ(renderer.loadSong("/nonexistent/song.mid"), SongLoadResult::CannotOpen);
}

// Frames and format of a sound file, read back.
struct FileInfo {
    sf_count_t frames = -1;
    int format = 0;
    int channels = 0;
    int rate = 0;
};

FileInfo readInfo(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    sf_close(f);
    return {info.frames, info.format & SF_FORMAT_TYPEMASK, info.channels, info.samplerate};
}

TEST(AudioFileWriter, WritesWavOrFlacByTheExtension) {
    const std::vector<int16_t> frames{100, -100, 200, -200, 300, -300};
    for (const std::string name : {"writer_test.wav", "writer_test.FLAC"}) {
        AudioFileWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open(name, 22050, &error)) << error;
        EXPECT_TRUE(writer.write(frames.data(), 3));
        EXPECT_TRUE(writer.close(&error)) << error;
        const FileInfo info = readInfo(name);
        EXPECT_EQ(info.frames, 3);
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.rate, 22050);
        EXPECT_EQ(info.format, name.ends_with(".wav") ? SF_FORMAT_WAV : SF_FORMAT_FLAC);
        fs::remove(name);
    }
}

TEST(AudioFileWriter, LeavesNoFileBehindOnFailure) {
    AudioFileWriter::Format format;
    EXPECT_FALSE(AudioFileWriter::formatForPath("song.aiff", format));
    EXPECT_FALSE(AudioFileWriter::formatForPath("dir.wav/song", format));
    AudioFileWriter writer;
    std::string error;
    EXPECT_FALSE(writer.open("writer_test.aiff", 44100, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists("writer_test.aiff"));
    EXPECT_FALSE(writer.open("/nonexistent/dir/out.wav", 44100, &error));
    EXPECT_FALSE(error.empty());

    {
        AudioFileWriter discarded;
        ASSERT_TRUE(discarded.open("writer_test_discard.wav", 44100));
        const int16_t frame[2] = {1, 2};
        discarded.write(frame, 1);
        EXPECT_TRUE(fs::exists("writer_test_discard.wav"));
        discarded.discard();
        EXPECT_FALSE(fs::exists("writer_test_discard.wav"));
    }
    {
        AudioFileWriter abandoned;  // destroyed while open: removed
        ASSERT_TRUE(abandoned.open("writer_test_abandoned.wav", 44100));
    }
    EXPECT_FALSE(fs::exists("writer_test_abandoned.wav"));
}

TEST(DefaultPatchmap, TheWorkingDirectoryComesFirst) {
    const fs::path here = fs::current_path();
    const fs::path dir = here / "default_patchmap_test";
    fs::create_directories(dir);
    fs::current_path(dir);
    fs::remove(kDefaultPatchmapName);
    const std::string without = findDefaultPatchmap("tonvero-render");
    { std::ofstream(kDefaultPatchmapName) << "x"; }
    const std::string with = findDefaultPatchmap("tonvero-render");
    fs::current_path(here);
    fs::remove_all(dir);

    EXPECT_EQ(with, "gmpatch.map");
    // Without one here: beside the program, installed data, or the bare name.
    const std::string programDir = programDirectory("");
    EXPECT_EQ(programDir, fs::read_symlink("/proc/self/exe").parent_path().string());
    EXPECT_TRUE(without == "gmpatch.map" || without == (fs::path(programDir) / "gmpatch.map").string() ||
                without.ends_with("share/tonvero/gmpatch.map"))
        << without;
}

TEST(SongTimeText, ReadsAsAClock) {
    EXPECT_EQ(formatSongTime(0), "0:00");
    EXPECT_EQ(formatSongTime(42.9), "0:42");
    EXPECT_EQ(formatSongTime(135), "2:15");
    EXPECT_EQ(formatSongTime(3723), "1:02:03");
    EXPECT_EQ(formatSongTime(-5), "0:00");
    EXPECT_EQ(formatSongTime(std::nan("")), "0:00");
    EXPECT_EQ(formatSongPosition(42, 135), "0:42 / 2:15");
    EXPECT_EQ(formatSongTime(25 * 3600 + 61), "25:01:01");  // past a day
    double seconds = -1;
    for (const auto& [text, value] : {std::pair{"83", 83.0}, {"83.25", 83.25}, {"1:23.5", 83.5}, {"1:02:03", 3723.0}}) {
        EXPECT_TRUE(parseSongTime(text, seconds)) << text;
        EXPECT_DOUBLE_EQ(seconds, value) << text;
    }
    for (const char* bad : {"", "-1", "1:60", "1:", ":5", "1.", "x", "1:2:3:4", "1.5:00"})
        EXPECT_FALSE(parseSongTime(bad, seconds)) << bad;
}

}  // namespace
}  // namespace tonvero::test
