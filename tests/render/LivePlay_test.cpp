// tonvero-play as a JACK client playing live: a dummy-driver server of the
// test's own, a sending client and a recording client of its own (kept apart:
// one client doing both would form a cycle and add a period). Everything is
// measured in JACK frame time.

#include "ProgramRun.h"
#include "support/JackClients.h"
#include "support/JackServer.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace tonvero::test {
namespace {

constexpr uint32_t kPeriod = 1024;  // under the sanitizers

// tonvero-play in the background, its output to a file; stopped with SIGTERM.
class Player {
public:
    explicit Player(const std::vector<std::string>& arguments) : log_(tempPath("live-play.log")) {
        std::vector<std::string> words{TONVERO_PLAY_PROGRAM};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        pid_ = ::fork();
        if (pid_ == 0) {
            if (std::freopen(log_.c_str(), "w", stdout) == nullptr || ::dup2(STDOUT_FILENO, STDERR_FILENO) < 0)
                ::_exit(126);
            ::execv(TONVERO_PLAY_PROGRAM, argv.data());
            ::_exit(127);
        }
    }
    ~Player() {
        if (pid_ > 0) stop();
    }
    // SIGTERM, then the exit code (-1 when it had to be killed).
    int stop() {
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return -1;
    }
    std::string output() const {
        std::ifstream in(log_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string log_;
    pid_t pid_ = -1;
};

bool waitForPort(const std::string& port) {
    for (int i = 0; i < 600; ++i) {
        if (::test::jackPortExists(port)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The first frame time at or after `from` from which `frames` frames in a row are silent.
std::optional<uint64_t> silentFrom(const ::test::JackRecorder& recorder, uint64_t from, uint64_t until,
                                   uint64_t frames) {
    uint64_t run = 0;
    for (uint64_t t = from; t < until; ++t) {
        const auto frame = recorder.sampleAt(t);
        if (!frame) return std::nullopt;
        run = frame->left == 0 && frame->right == 0 ? run + 1 : 0;
        if (run == frames) return t + 1 - frames;
    }
    return std::nullopt;
}

// The ticks of the note-ons (velocity above 0) of a format 0 file's track.
std::vector<uint64_t> noteOnTicks(const std::vector<uint8_t>& file) {
    std::vector<uint64_t> ticks;
    size_t at = 14 + 8;  // the header chunk, then the track chunk's header
    uint64_t tick = 0;
    auto number = [&]() {
        uint64_t value = 0;
        while (at < file.size()) {
            const uint8_t b = file[at++];
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80)) break;
        }
        return value;
    };
    while (at < file.size()) {
        tick += number();
        if (at >= file.size()) break;
        const uint8_t status = file[at++];
        if (status == 0xFF) {
            ++at;  // the meta type
            at += number();
        } else if (status == 0xF0 || status == 0xF7) {
            at += number();
        } else {
            const bool one = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0;
            if ((status & 0xF0) == 0x90 && at + 1 < file.size() && file[at + 1] > 0) ticks.push_back(tick);
            at += one ? 1 : 2;
        }
    }
    return ticks;
}

// Notes sent at chosen frames of a period sound from exactly those frames;
// running status with a clock byte inside, and a note-on of velocity 0 as
// the note-off, come through; a sender that goes away has its held note let
// go; and the take recorded meanwhile holds the same notes the same frames apart.
TEST(LivePlay, NotesSoundOnTheirFramesAndAGoneSenderLetsGo) {
    ::test::JackServer server(48000, kPeriod);
    if (!server.running()) GTEST_SKIP() << "no JACK server: " << server.error();
    const std::string bank = writeToneBank("live-tone.map");
    const std::string take = tempPath("live-take.mid");
    Player player({"--audio", "jack", "--jack-name", "tvlive", "--no-connect", "--patchmap", bank, "--record", take,
                   "--reverb", "off", "--chorus", "off"});
    ASSERT_TRUE(waitForPort("tvlive:midi_in")) << player.output();

    ::test::JackRecorder recorder("tvlive-recorder");
    ASSERT_TRUE(recorder.ok()) << recorder.error();
    ASSERT_TRUE(recorder.connect("tvlive:out_left", "tvlive:out_right"));
    std::optional<uint64_t> gone;
    std::vector<uint64_t> sent;
    {
        ::test::JackMidiSender sender("tvlive-sender");
        ASSERT_TRUE(sender.ok()) << sender.error();
        ASSERT_TRUE(sender.connect("tvlive:midi_in"));
        ASSERT_TRUE(sender.waitRunning());
        // Well after the connections have settled, on a period's boundary.
        const uint64_t base = (sender.now() / kPeriod + 8) * kPeriod;
        sent = {base + 100, base + 30 * kPeriod + kPeriod - 1, base + 60 * kPeriod + 517};
        ASSERT_TRUE(sender.send(sent[0], {0x90, 60, 127}));
        ASSERT_TRUE(sender.send(sent[0] + 4000, {0x90, 60, 0}));  // velocity 0: the note-off
        // Running status, a clock byte between the key and the velocity.
        ASSERT_TRUE(sender.sendRaw(sent[1], {64, 0xF8, 127}));
        ASSERT_TRUE(sender.sendRaw(sent[1] + 4000, {64, 0}));
        // Held when the sender goes.
        ASSERT_TRUE(sender.send(sent[2], {0x90, 67, 127}));
        ASSERT_TRUE(sender.waitSent());
        ASSERT_TRUE(recorder.waitUntil(sent[2] + 8 * kPeriod)) << player.output();
        gone = recorder.recordedUntil();
    }
    ASSERT_TRUE(recorder.waitUntil(*gone + 48000)) << player.output();

    for (size_t k = 0; k < sent.size(); ++k) {
        // Silence up to the note, sound from its frame on.
        const auto before = silentFrom(recorder, sent[k] - 2000, sent[k], 1000);
        ASSERT_TRUE(before) << "no silence before note " << k;
        EXPECT_EQ(recorder.firstNonZeroAfter(*before), sent[k]) << "note " << k;
    }
    // The held note is let go once its sender has gone: silence within half a second.
    EXPECT_TRUE(silentFrom(recorder, *gone, *gone + 48000, 4800)) << player.output();

    EXPECT_EQ(player.stop(), 130) << player.output();
    // The take: the same notes, one tick a frame, the same frames apart.
    std::ifstream in(take, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<uint64_t> onsets = noteOnTicks(bytes);
    ASSERT_EQ(onsets.size(), 3u) << player.output();
    EXPECT_EQ(onsets[1] - onsets[0], sent[1] - sent[0]);
    EXPECT_EQ(onsets[2] - onsets[0], sent[2] - sent[0]);
}

// The Custom Mixer writes ahead of the speaker: a live note reaches it at its
// next pass and sounds one write-ahead later (about 0.3 s), not before it was
// sent; a sender that goes away has its held note let go there too.
TEST(LivePlay, TheCustomMixerPlaysLiveInputAtItsNextPass) {
    ::test::JackServer server(48000, kPeriod);
    if (!server.running()) GTEST_SKIP() << "no JACK server: " << server.error();
    const std::string bank = writeToneBank("live-custom.map");
    Player player(
        {"--audio", "jack", "--jack-name", "tvcustom", "--no-connect", "--patchmap", bank, "--mixer", "software"});
    ASSERT_TRUE(waitForPort("tvcustom:midi_in")) << player.output();
    ::test::JackRecorder recorder("tvcustom-recorder");
    ASSERT_TRUE(recorder.ok()) << recorder.error();
    ASSERT_TRUE(recorder.connect("tvcustom:out_left", "tvcustom:out_right"));
    uint64_t sent = 0;
    uint64_t gone = 0;
    {
        ::test::JackMidiSender sender("tvcustom-sender");
        ASSERT_TRUE(sender.ok()) << sender.error();
        ASSERT_TRUE(sender.connect("tvcustom:midi_in"));
        ASSERT_TRUE(sender.waitRunning());
        sent = (sender.now() / kPeriod + 8) * kPeriod;
        ASSERT_TRUE(sender.send(sent, {0x90, 60, 127}));
        ASSERT_TRUE(sender.waitSent());
        ASSERT_TRUE(recorder.waitUntil(sent + 96000)) << player.output();
        gone = recorder.recordedUntil();
    }
    ASSERT_TRUE(recorder.waitUntil(gone + 96000)) << player.output();
    const auto before = silentFrom(recorder, sent - 2000, sent, 1000);
    ASSERT_TRUE(before) << "sound before the note was sent";
    const auto onset = recorder.firstNonZeroAfter(*before);
    ASSERT_TRUE(onset) << player.output();
    EXPECT_GE(*onset, sent);
    EXPECT_LT(*onset, sent + 96000) << "not heard within two seconds";
    EXPECT_TRUE(silentFrom(recorder, gone, gone + 96000, 4800)) << "the held note sounds on: " << player.output();
    EXPECT_EQ(player.stop(), 130) << player.output();
}

// With no server the program says so and exits with the no-audio code.
TEST(LivePlay, NoServerIsAClearMessage) {
    setenv("JACK_DEFAULT_SERVER", "tonvero-no-such-server", 1);
    const ProgramRun run = runProgram(TONVERO_PLAY_PROGRAM, {"--audio", "jack", "--seconds", "1"}, 60);
    EXPECT_EQ(run.code, 1) << run.err;
    EXPECT_NE(run.err.find("no JACK server is running"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace tonvero::test
