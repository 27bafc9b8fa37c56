#pragma once
// Running the command-line programs from tests: a program started with its
// arguments (no shell), its output and exit status collected; and the small
// songs and banks those runs play, written to files by code.

#include "support/EngineRig.h"
#include "support/MidiWriter.h"
#include "support/WavWriter.h"
#include "bank/Patchmap.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace tonvero::test {

struct ProgramRun {
    int code = -1;    // exit status; -1 when killed by a signal or not run
    std::string out;  // stdout
    std::string err;  // stderr
};

// Runs `program` with `arguments`, stdin closed; a run that has not ended
// after `timeoutSeconds` is killed (code -1), so a hang fails instead of
// holding up the suite.
inline ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                             int timeoutSeconds = 300) {
    ProgramRun run;
    int outPipe[2];
    int errPipe[2];
    if (::pipe(outPipe) != 0) return run;
    if (::pipe(errPipe) != 0) {
        ::close(outPipe[0]);
        ::close(outPipe[1]);
        return run;
    }
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        ::close(STDIN_FILENO);
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    if (pid < 0) {
        ::close(outPipe[0]);
        ::close(errPipe[0]);
        return run;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        if (!killed && std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            killed = true;
        }
        if (::poll(fds, 2, 200) < 0) continue;
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || fds[k].revents == 0) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[k]->append(buf, static_cast<size_t>(n));
            } else {
                ::close(fds[k].fd);
                fds[k].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.code = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A Patchmap file with one Instrument for every program and the drums: a
// looped tone (a square wave of 441 Hz at 44100 Hz) that sounds for as long
// as a key is held.
inline std::string writeToneBank(const std::string& name) {
    Bank bank;
    WaveShape tone;
    tone.samples.assign(4410, 0);
    for (size_t i = 0; i < tone.samples.size(); ++i) tone.samples[i] = (i / 50) % 2 ? 8000 : -8000;
    tone.looped = 1;
    tone.loopBegin = 0;
    tone.loopEnd = 4400;
    const int32_t slot = addTone(bank, "tone", tone);
    for (int32_t& entry : bank.programMap) entry = slot;
    const std::string path = tempPath(name);
    EXPECT_TRUE(savePatchmap(bank, path));
    return path;
}

// A song of `seconds` whole seconds (120 beats a minute, 480 ticks a beat) on
// channel 1 (MIDI channel 0): a note on every half second, held until the next.
inline std::string writeBeatSong(const std::string& name, int seconds) {
    MidiWriter w(0, 480);
    MidiWriter::Track& t = w.track();
    t.program(0, 0, 0);
    for (int beat = 0; beat < 2 * seconds; ++beat) t.noteOn(0, 0, 60 + beat % 12, 100).noteOff(480, 0, 60 + beat % 12);
    t.endOfTrack(0);
    const std::string path = tempPath(name);
    EXPECT_TRUE(w.write(path));
    return path;
}

}  // namespace tonvero::test
