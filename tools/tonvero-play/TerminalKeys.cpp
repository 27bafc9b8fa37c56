#include "TerminalKeys.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

namespace tonvero {

void PlayKeyDecoder::feed(const char* bytes, size_t count, std::vector<PlayKey>& keys) {
    for (size_t i = 0; i < count; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        switch (state_) {
        case State::Plain:
            if (c == 0x1B)
                state_ = State::Escape;
            else if (c == ' ')
                keys.push_back(PlayKey::Space);
            else if (c == 'q' || c == 'Q')
                keys.push_back(PlayKey::Quit);
            break;
        case State::Escape:
            // ESC [ starts a control sequence, ESC O a cursor key in the
            // terminal's application mode; ESC and anything else (Alt+key) is no key.
            if (c == '[' || c == 'O')
                state_ = State::Sequence;
            else if (c != 0x1B)
                state_ = State::Plain;
            break;
        case State::Sequence:
        case State::Parameters:
            if (c >= 0x20 && c <= 0x3F) {
                state_ = State::Parameters;  // parameters such as "1;5" (Ctrl+arrow): still the arrow
            } else {
                if (c == 'C') keys.push_back(PlayKey::Right);
                if (c == 'D') keys.push_back(PlayKey::Left);
                state_ = c == 0x1B ? State::Escape : State::Plain;
            }
            break;
        }
    }
}

namespace {

// The terminal's settings as they were, and as keys are read, for the
// signal handler that puts them back around a stop (Ctrl+Z).
termios gCooked{};
termios gKeys{};
volatile sig_atomic_t gChanged = 0;
struct sigaction gPreviousStop {};

void onTerminalStop(int) {
    const int savedErrno = errno;
    if (gChanged) tcsetattr(STDIN_FILENO, TCSANOW, &gCooked);
    // Stop as the default action would, with SIGTSTP let through while this handler runs.
    struct sigaction ours {};
    struct sigaction stopNow {};
    stopNow.sa_handler = SIG_DFL;
    sigemptyset(&stopNow.sa_mask);
    sigaction(SIGTSTP, &stopNow, &ours);
    sigset_t tstp;
    sigemptyset(&tstp);
    sigaddset(&tstp, SIGTSTP);
    sigprocmask(SIG_UNBLOCK, &tstp, nullptr);
    raise(SIGTSTP);
    // Continued (in the foreground, or stopped again by SIGTTOU until then).
    sigaction(SIGTSTP, &ours, nullptr);
    if (gChanged) tcsetattr(STDIN_FILENO, TCSANOW, &gKeys);
    errno = savedErrno;
}

}  // namespace

TerminalKeys::TerminalKeys() {
    if (isatty(STDIN_FILENO) == 0) return;
    // In the background, changing the terminal would stop the program.
    if (tcgetpgrp(STDIN_FILENO) != getpgrp()) return;
    if (tcgetattr(STDIN_FILENO, &gCooked) != 0) return;
    gKeys = gCooked;
    gKeys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHONL));
    gKeys.c_cc[VMIN] = 1;
    gKeys.c_cc[VTIME] = 0;
    struct sigaction stop {};
    stop.sa_handler = onTerminalStop;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = SA_RESTART;
    sigaction(SIGTSTP, &stop, &gPreviousStop);
    gChanged = 1;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &gKeys) != 0) {
        restore();
        return;
    }
    active_ = true;
}

TerminalKeys::~TerminalKeys() { restore(); }

void TerminalKeys::restore() {
    if (!gChanged) return;
    gChanged = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &gCooked);
    sigaction(SIGTSTP, &gPreviousStop, nullptr);
    active_ = false;
}

void TerminalKeys::wait(int timeoutMillis, std::vector<PlayKey>& keys) {
    if (timeoutMillis < 0) timeoutMillis = 0;
    if (!active_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMillis));
        return;
    }
    pollfd in{};
    in.fd = STDIN_FILENO;
    in.events = POLLIN;
    const int ready = ::poll(&in, 1, timeoutMillis);
    if (ready <= 0) return;  // time up, or a signal (EINTR): the caller looks again
    if ((in.revents & POLLIN) == 0) {
        // The terminal has gone (hung up): no more keys, and no busy loop on it.
        if (in.revents & (POLLHUP | POLLERR | POLLNVAL)) active_ = false;
        return;
    }
    char bytes[64];
    const ssize_t got = ::read(STDIN_FILENO, bytes, sizeof bytes);
    if (got > 0)
        decoder_.feed(bytes, static_cast<size_t>(got), keys);
    else if (got == 0 || (errno != EINTR && errno != EAGAIN))
        active_ = false;
}

}  // namespace tonvero
