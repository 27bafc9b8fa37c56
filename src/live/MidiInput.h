#pragma once
// MIDI input ports through RtMidi: the ALSA sequencer's ports (keyboards on
// USB, other programs) or JACK's MIDI ports. A thin wrapper that hands every
// message on exactly as it came, with the moment it arrived, and keeps
// RtMidi's ways out of the rest of the program: none of its exceptions
// escape, it prints nothing, and a missing API is a message, not a crash.
//
// Nothing is filtered here: system exclusive, timing clock and active
// sensing all come through (MidiStreamReader decides what counts), and
// system exclusive blocks of any length arrive whole.
//
// Threads: open, close, description and portStillThere from the thread that
// owns the input (not the audio thread: they talk to the MIDI system); the
// receiver runs on RtMidi's thread (ALSA: RtMidi's own input thread; JACK:
// JACK's process thread, so it must not block or allocate).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class RtMidiIn;

namespace tonvero {

// Default: the ALSA sequencer when RtMidi has it and the system offers it
// (/dev/snd/seq), else JACK.
enum class MidiApi { Default, Alsa, Jack };

struct MidiPort {
    int number;        // what open() takes
    std::string name;  // RtMidi's name: JACK "client:port"; ALSA "client:port 20:0"
};

// The input ports other programs and devices offer (the ports one can read
// from); `error` says why none could be listed, and is empty when the API
// works (the list may then still be empty).
std::vector<MidiPort> listMidiInputs(MidiApi api, std::string& error);

class MidiInput {
public:
    // Called on RtMidi's thread for every message (or raw packet) it
    // receives, `bytes` as they came. `arrival` is taken at the start of the
    // call; RtMidi's own time stamps (deltas) are not used.
    using Receiver = void (*)(void* context, const uint8_t* bytes, size_t size,
                              std::chrono::steady_clock::time_point arrival);

    // The name of our own port when `port` is empty (ALSA and JACK show it
    // under the client name).
    static constexpr const char* kOwnPortName = "MIDI In";

    // Opens `port`: a number from listMidiInputs, or a name (exact, else the
    // only port whose name contains it, case-insensitive); empty: an input
    // port of our own named `portName` under client `clientName` that other
    // programs connect to. Null when that failed, with `error` saying why.
    static std::unique_ptr<MidiInput> open(MidiApi api, const std::string& port, const std::string& clientName,
                                           Receiver receiver, void* context, std::string& error,
                                           const std::string& portName = kOwnPortName);
    ~MidiInput();
    MidiInput(const MidiInput&) = delete;
    MidiInput& operator=(const MidiInput&) = delete;

    // What is connected, for a status bar: "MIDI input: <port name>" or
    // "MIDI input: own port <client>:<port>".
    std::string description() const;

    // Whether the port it opened still exists; for polling from a thread
    // that is not the audio thread (every half second, say). False once the
    // device was unplugged or the program offering the port has gone, and
    // false from then on (a port that comes back under the same name is not
    // connected to us again). Always true for our own port while it is open;
    // false after close().
    bool portStillThere();

    // Closes the port; no call of the receiver is under way or follows once
    // it returns. Also done by the destructor.
    void close();

    // Which API it runs on (Default resolved).
    MidiApi api() const { return api_; }

    // What RtMidi reported (MidiInput.cpp).
    struct Errors;

private:
    MidiInput();
    static void onMessage(double delta, std::vector<unsigned char>* message, void* self);

    mutable std::mutex mutex_;  // open/close against portStillThere
    std::unique_ptr<Errors> errors_;
    std::unique_ptr<RtMidiIn> in_;
    MidiApi api_ = MidiApi::Default;
    Receiver receiver_ = nullptr;
    void* context_ = nullptr;
    bool own_ = false;         // our own port, not a connection to another
    std::string portName_;     // the port connected to, or our own port's name
    std::string clientName_;
    bool gone_ = false;        // the port was seen missing
};

}  // namespace tonvero
