#pragma once
// The keys tonvero-play acts on while a song plays, read from the terminal
// as they are pressed: the terminal is put into non-canonical mode without
// echo (signals stay on, so Ctrl+C and Ctrl+Z keep their meaning), and put
// back as it was when the TerminalKeys object goes, and around a stop by
// Ctrl+Z. When stdin is not a terminal, or the program runs in the
// background, nothing is changed and no keys are read.
//
// One TerminalKeys at a time; main thread.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonvero {

enum class PlayKey {
    Left,   // ESC [ D (or ESC O D): back 5 s
    Right,  // ESC [ C (or ESC O C): on 5 s
    Space,  // pause / resume
    Quit,   // q or Q
};

// Turns the bytes a terminal sends into keys. An escape sequence may arrive
// split across reads; bytes of no key (and sequences of other keys) are
// skipped.
class PlayKeyDecoder {
public:
    void feed(const char* bytes, size_t count, std::vector<PlayKey>& keys);

private:
    enum class State { Plain, Escape, Sequence, Parameters };
    State state_ = State::Plain;
};

class TerminalKeys {
public:
    TerminalKeys();
    ~TerminalKeys();
    TerminalKeys(const TerminalKeys&) = delete;
    TerminalKeys& operator=(const TerminalKeys&) = delete;

    // True while keys are read (stdin is this process's terminal in the foreground).
    bool active() const { return active_; }
    // Waits up to `timeoutMillis` for keys, appending those pressed to `keys`;
    // returns early when a key comes or a signal arrives. Without a terminal
    // it only waits.
    void wait(int timeoutMillis, std::vector<PlayKey>& keys);
    // Puts the terminal back as it was (also done by the destructor).
    void restore();

private:
    bool active_ = false;
    PlayKeyDecoder decoder_;
};

}  // namespace tonvero
