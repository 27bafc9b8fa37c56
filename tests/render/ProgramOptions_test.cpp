// The options tonvero-play and tonvero-render take for the transport (start,
// end, loop, volume, mute, solo): what they refuse and why, and what a
// render with them holds.

#include "render/ProgramRun.h"
#include "render/MixerOptions.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tonvero::test {
namespace {

TEST(ChannelList, TakesChannelsOneToSixteen) {
    struct Case {
        const char* text;
        uint16_t mask;
    };
    for (const Case& c : {Case{"10", 1u << 9}, Case{"1,4", 0b1001}, Case{"16,1,16", 0x8001}, Case{"01", 1}}) {
        uint16_t mask = 0x5555;
        std::string problem;
        EXPECT_TRUE(parseChannelList(c.text, mask, problem)) << c.text << ": " << problem;
        EXPECT_EQ(mask, c.mask) << c.text;
    }
    struct Bad {
        const char* text;
        const char* problem;
    };
    for (const Bad& b :
         {Bad{"", "no channels given"}, Bad{"0", "there is no channel 0"},
          Bad{"1,99999999999", "there is no channel 99999999999"}, Bad{"1,", "empty place"}, Bad{",1", "empty place"},
          Bad{"1;4", "\"1;4\" is not a channel number"}, Bad{"-1", "\"-1\" is not a channel number"}}) {
        uint16_t mask = 0x5555;
        std::string problem;
        EXPECT_FALSE(parseChannelList(b.text, mask, problem)) << b.text;
        EXPECT_NE(problem.find(b.problem), std::string::npos) << b.text << ": " << problem;
        EXPECT_EQ(mask, 0x5555) << b.text;
    }
}

class ProgramOptions : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bank_ = writeToneBank("tone.map");
        song_ = writeBeatSong("beats.mid", 6);
    }
    static std::string bank_;
    static std::string song_;
};

std::string ProgramOptions::bank_;
std::string ProgramOptions::song_;

struct Refusal {
    std::vector<std::string> arguments;
    const char* says;  // on stderr
};

TEST_F(ProgramOptions, PlayRefusesWrongTransportOptions) {
    const std::vector<Refusal> cases = {
        {{"--volume", "101"}, "--volume takes a whole number from 0 to 100, not \"101\""},
        {{"--mute", "0"}, "--mute 0: there is no channel 0"},
        {{"--solo", "1,,4"}, "--solo 1,,4: \"1,,4\" has an empty place"},
        {{"--mute", "drums"}, "--mute drums: \"drums\" is not a channel number"},
        {{"--start", "1:75"}, "--start takes a song time such as 83, 83.5, 1:23 or 1:02:03, not \"1:75\""},
        {{"--start", "0:07"}, "--start 0:07 is past the end of the song, which lasts 0:06"},
    };
    for (const Refusal& c : cases) {
        std::vector<std::string> args{song_, "--audio", "null", "--patchmap", bank_};
        args.insert(args.end(), c.arguments.begin(), c.arguments.end());
        const ProgramRun run = runProgram(TONVERO_PLAY_PROGRAM, args);
        EXPECT_EQ(run.code, 2) << c.arguments[0] << ": " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "") << c.arguments[0];
    }
}

TEST_F(ProgramOptions, RenderRefusesWrongTransportOptions) {
    const std::vector<Refusal> cases = {
        {{"--start", "3", "--end", "2"}, "--end 0:02 must come after the start (0:03)"},
        {{"--end", "0"}, "--end 0:00 must come after the start (0:00)"},
        {{"--start", "7"}, "--start 7 is past the end of the song, which lasts 0:06"},
        {{"--loops", "3"}, "--loops goes with --loop"},
        {{"--loop", "--loops", "0"}, "--loops takes a whole number from 1 to 10000, not \"0\""},
        {{"--solo", "17"}, "--solo 17: there is no channel 17"},
        {{"--mute", ""}, "--mute : no channels given"},
    };
    const std::string out = tempPath("refused.wav");
    for (const Refusal& c : cases) {
        std::vector<std::string> args{song_, "--patchmap", bank_, "-o", out};
        args.insert(args.end(), c.arguments.begin(), c.arguments.end());
        const ProgramRun run = runProgram(TONVERO_RENDER_PROGRAM, args);
        EXPECT_EQ(run.code, 2) << c.arguments[0] << ": " << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << c.arguments[0];
    }
}

struct Sound {
    sf_count_t frames = -1;
    std::vector<int16_t> samples;  // interleaved stereo
    int peak() const {
        int p = 0;
        for (int16_t s : samples) p = std::max(p, std::abs(int{s}));
        return p;
    }
};

Sound readSound(const std::string& path) {
    Sound sound;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return sound;
    sound.frames = info.frames;
    sound.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    sf_readf_short(f, sound.samples.data(), info.frames);
    sf_close(f);
    return sound;
}

// Renders the test song with `more` options; the file's sound, or frames -1
// when the program failed.
Sound render(const std::string& song, const std::string& bank, const std::string& name,
             const std::vector<std::string>& more, ProgramRun* ran = nullptr) {
    const std::string out = tempPath(name);
    std::vector<std::string> args{song, "--patchmap", bank, "-o", out};
    args.insert(args.end(), more.begin(), more.end());
    const ProgramRun run = runProgram(TONVERO_RENDER_PROGRAM, args);
    EXPECT_EQ(run.code, 0) << run.err;
    if (ran) *ran = run;
    return run.code == 0 ? readSound(out) : Sound{};
}

TEST_F(ProgramOptions, RenderSpanHoldsExactlyItsFrames) {
    EXPECT_EQ(render(song_, bank_, "span.wav", {"--start", "2", "--end", "4"}).frames, 2 * 44100);
    EXPECT_EQ(render(song_, bank_, "span22.wav", {"--rate", "22050", "--start", "0:01.5", "--end", "2.25"}).frames,
              std::llround(2.25 * 22050) - std::llround(1.5 * 22050));
    // Past the song's end (and its last sounds) the span is made up with silence.
    const Sound past =
        render(song_, bank_, "past.wav", {"--start", "5", "--end", "0:09", "--reverb", "off", "--chorus", "off"});
    ASSERT_EQ(past.frames, 4 * 44100);
    Sound last;
    last.samples.assign(past.samples.end() - 44100, past.samples.end());
    EXPECT_EQ(last.peak(), 0);
}

TEST_F(ProgramOptions, RenderMuteAndSolo) {
    // Everything plays on channel 1.
    EXPECT_GT(render(song_, bank_, "all.wav", {}).peak(), 1000);
    EXPECT_GT(render(song_, bank_, "mute2.wav", {"--mute", "2"}).peak(), 1000);
    EXPECT_GT(render(song_, bank_, "solo1.wav", {"--solo", "1"}).peak(), 1000);
    const Sound muted = render(song_, bank_, "mute1.wav", {"--mute", "1"});
    EXPECT_GT(muted.frames, 6 * 44100);
    EXPECT_EQ(muted.peak(), 0);
    EXPECT_EQ(render(song_, bank_, "solo2.wav", {"--solo", "2,3"}).peak(), 0);
}

// A song whose track stops short (no end-of-track, the file cut) still
// renders, and the program says where it is damaged.
TEST_F(ProgramOptions, RenderSaysWhereTheSongIsDamaged) {
    MidiWriter w(0, 480);
    MidiWriter::Track& t = w.track();
    for (int beat = 0; beat < 8; ++beat) t.noteOn(0, 0, 60, 100).noteOff(480, 0, 60);
    Bytes bytes = w.bytes();
    bytes.resize(bytes.size() - 6);  // the end-of-track and the last note-off's key and velocity
    const std::string song = tempPath("cut.mid");
    ASSERT_TRUE(writeBytes(song, bytes));
    ProgramRun run;
    const Sound sound = render(song, bank_, "cut.wav", {}, &run);
    EXPECT_GT(sound.peak(), 1000);
    EXPECT_NE(run.err.find("tonvero-render: the song is damaged after 0:03; playing what is there"), std::string::npos)
        << run.err;
}

TEST_F(ProgramOptions, RenderLoopsTheWholeSongNTimes) {
    ProgramRun run;
    const Sound once = render(song_, bank_, "once.wav", {});
    const Sound looped = render(song_, bank_, "looped.wav", {"--loop", "--loops", "3"}, &run);
    // The song has no loop of its own: all 6 s are heard three times, then the tail once.
    EXPECT_GE(looped.frames, 18 * 44100);
    EXPECT_NEAR(static_cast<double>(looped.frames), static_cast<double>(once.frames + 12 * 44100), 44100.0);
    EXPECT_NE(run.out.find("2 loop turns"), std::string::npos) << run.out;
}

}  // namespace
}  // namespace tonvero::test
