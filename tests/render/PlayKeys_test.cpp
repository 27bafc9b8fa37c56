// tonvero-play on a terminal: the program runs on a pseudo-terminal, as it
// would in a terminal window, with no sound (--audio null); the test presses
// keys and reads the position line it draws. Nothing here depends on how
// fast the machine is: the test waits, with generous limits, for what the
// line shows.

#include "render/ProgramRun.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tonvero::test {
namespace {

constexpr int kWaitSeconds = 45;  // for a line to show; only reached when something is broken

// What the position line says: "0:42 / 1:00 (paused) (loop ...)".
struct Shown {
    std::string line;
    int position = -1;  // whole seconds
    bool paused() const { return line.find("(paused)") != std::string::npos; }
};

std::optional<Shown> parseLine(const std::string& line) {
    int minutes = 0;
    int seconds = 0;
    if (std::sscanf(line.c_str(), "%d:%d /", &minutes, &seconds) != 2) return std::nullopt;
    return Shown{line, minutes * 60 + seconds};
}

// tonvero-play on the master side of a pseudo-terminal. The test keeps the
// slave side open too, to read the terminal's settings while the program
// runs and after it has gone.
class TerminalPlayer {
public:
    explicit TerminalPlayer(std::vector<std::string> arguments) {
        std::vector<std::string> words{TONVERO_PLAY_PROGRAM};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 120;
        pid_ = ::forkpty(&master_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        if (pid_ > 0) {
            slave_ = ::open(::ptsname(master_), O_RDWR | O_NOCTTY);
            if (slave_ >= 0) ::tcgetattr(slave_, &initial_);
        }
    }
    ~TerminalPlayer() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (slave_ >= 0) ::close(slave_);
        if (master_ >= 0) ::close(master_);
    }

    bool started() const { return pid_ > 0 && slave_ >= 0; }

    void press(const std::string& keys) {
        ASSERT_EQ(::write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    void signal(int number) { ::kill(pid_, number); }

    // Reads until the latest position line satisfies `wanted`; nullopt when
    // it never does (the program ended, or the wait ran out).
    std::optional<Shown> waitFor(const std::function<bool(const Shown&)>& wanted) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kWaitSeconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (std::optional<Shown> shown = latest(); shown && wanted(*shown)) return shown;
            if (readSome() < 0) break;
        }
        if (std::optional<Shown> shown = latest(); shown && wanted(*shown)) return shown;
        return std::nullopt;
    }

    // Waits for the program to end; its exit status, or -1 (killed by a
    // signal, or still running after the wait).
    int exitCode() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kWaitSeconds);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                exited_ = true;
                while (readSome(50) > 0) {}
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            readSome();
        }
        return -1;
    }

    // The terminal's local modes now, and as they were before the program ran.
    tcflag_t localModes() const {
        termios now{};
        ::tcgetattr(slave_, &now);
        return now.c_lflag;
    }
    tcflag_t initialLocalModes() const { return initial_.c_lflag; }

    const std::string& output() const { return output_; }

private:
    // Reads what the program writes within `millis`: 1 when it wrote
    // something, 0 when it did not, -1 when the terminal can no longer be read.
    int readSome(int millis = 100) {
        pollfd in{master_, POLLIN, 0};
        if (::poll(&in, 1, millis) <= 0) return 0;
        char buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) return -1;
        output_.append(buf, static_cast<size_t>(n));
        return 1;
    }

    // The last whole line drawn: each is "\r", the line, then "ESC [K".
    std::optional<Shown> latest() const {
        const size_t end = output_.rfind("\033[K");
        if (end == std::string::npos) return std::nullopt;
        const size_t start = output_.rfind('\r', end);
        if (start == std::string::npos) return std::nullopt;
        return parseLine(output_.substr(start + 1, end - start - 1));
    }

    pid_t pid_ = -1;
    int master_ = -1;
    int slave_ = -1;
    bool exited_ = false;
    termios initial_{};
    std::string output_;
};

class PlayKeys : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bank_ = writeToneBank("tone.map");
        song_ = writeBeatSong("beats.mid", 60);
    }
    static std::vector<std::string> arguments(std::vector<std::string> more = {}) {
        // The --seconds limit only ends a run the test has lost control of.
        std::vector<std::string> args{song_, "--audio", "null", "--patchmap", bank_, "--seconds", "600"};
        args.insert(args.end(), more.begin(), more.end());
        return args;
    }
    static std::string bank_;
    static std::string song_;
};

std::string PlayKeys::bank_;
std::string PlayKeys::song_;

constexpr tcflag_t kCookedModes = ICANON | ECHO;

TEST_F(PlayKeys, SpacePausesArrowsSeekAndQQuits) {
    TerminalPlayer player(arguments());
    ASSERT_TRUE(player.started());
    ASSERT_EQ(player.initialLocalModes() & kCookedModes, kCookedModes);
    ASSERT_TRUE(player.waitFor([](const Shown& s) { return s.position >= 1; })) << player.output();
    // Keys act at once: the terminal neither waits for Enter nor echoes.
    EXPECT_EQ(player.localModes() & kCookedModes, 0u);

    player.press(" ");
    const std::optional<Shown> paused = player.waitFor([](const Shown& s) { return s.paused(); });
    ASSERT_TRUE(paused) << player.output();
    const int held = paused->position;

    player.press("\033[C");
    const std::optional<Shown> on =
        player.waitFor([&](const Shown& s) { return s.paused() && s.position >= held + 4; });
    ASSERT_TRUE(on) << player.output();
    EXPECT_LE(on->position, held + 6) << on->line;

    player.press("\033[D");
    const std::optional<Shown> back =
        player.waitFor([&](const Shown& s) { return s.paused() && s.position <= on->position - 4; });
    ASSERT_TRUE(back) << player.output();
    EXPECT_GE(back->position, on->position - 6) << back->line;
    EXPECT_LE(back->position, held + 1) << back->line;

    player.press(" ");
    const std::optional<Shown> playing = player.waitFor([](const Shown& s) { return !s.paused(); });
    ASSERT_TRUE(playing) << player.output();
    EXPECT_GE(playing->position, back->position);

    player.press("q");
    EXPECT_EQ(player.exitCode(), 0) << player.output();
    EXPECT_NE(player.output().find("stopped at"), std::string::npos) << player.output();
    EXPECT_EQ(player.localModes(), player.initialLocalModes());
}

// However the program is stopped, the terminal is left as it was.
struct StopWay {
    const char* name;
    const char* keys;  // pressed; none: a SIGTERM instead
    int exitCode;
};

class PlayStops : public PlayKeys, public ::testing::WithParamInterface<StopWay> {};

TEST_P(PlayStops, LeaveTheTerminalAsItWas) {
    TerminalPlayer player(arguments());
    ASSERT_TRUE(player.started());
    ASSERT_TRUE(player.waitFor([](const Shown& s) { return s.position >= 0; })) << player.output();
    EXPECT_EQ(player.localModes() & kCookedModes, 0u);
    if (GetParam().keys)
        player.press(GetParam().keys);
    else
        player.signal(SIGTERM);
    EXPECT_EQ(player.exitCode(), GetParam().exitCode) << player.output();
    EXPECT_EQ(player.localModes(), player.initialLocalModes());
}

INSTANTIATE_TEST_SUITE_P(Ways, PlayStops,
                         ::testing::Values(StopWay{"CtrlC", "\x03", 130}, StopWay{"Sigterm", nullptr, 130}),
                         [](const ::testing::TestParamInfo<StopWay>& info) { return std::string(info.param.name); });

// --start begins there, and --loop plays the whole song again without
// stopping: the line shows the loop and counts its turns.
TEST_F(PlayKeys, StartNearTheEndAndLoop) {
    TerminalPlayer player(arguments({"--start", "0:57", "--loop"}));
    ASSERT_TRUE(player.started());
    const std::optional<Shown> first = player.waitFor([](const Shown&) { return true; });
    ASSERT_TRUE(first) << player.output();
    EXPECT_GE(first->position, 57) << first->line;
    EXPECT_NE(first->line.find("(loop 0:00-1:00, turn 1)"), std::string::npos) << first->line;
    const std::optional<Shown> turned =
        player.waitFor([](const Shown& s) { return s.line.find("turn 2)") != std::string::npos; });
    ASSERT_TRUE(turned) << player.output();
    EXPECT_LT(turned->position, 57) << turned->line;
    player.press("q");
    EXPECT_EQ(player.exitCode(), 0) << player.output();
}

}  // namespace
}  // namespace tonvero::test
