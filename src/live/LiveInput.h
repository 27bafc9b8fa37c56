#pragma once
// What is played live, on its way to the Studio mixer: bytes from one source
// at a time (the JACK client's own midi_in, or a MIDI port read through
// RtMidi) are read as messages, stamped with the output frame they sound on
// and queued to the renderer; the notes and pedals the source holds are
// kept, so that they can be let go when it disappears; and every message
// goes to a take's queue for the recorder.
//
// Frames. From the device's own input, a message `offset` frames into the
// period sounds on that frame of the period: exact, nothing added. From a
// port, the arrival time becomes a frame one period after the frame the
// clock says was playing then, so every message has the same latency
// (one period) whatever moment of the period it came in.
//
// The Custom and hardware mixers have no queue of their own: for them the
// messages wait here until the thread that polls them (the program's main
// loop, the application's input timer) plays them under the engine mutex,
// heard at the mixer's next pass after that.
//
// Threads: receive paths run on the source's own thread (the audio thread
// for the device's input) and allocate, lock and wait for nothing; one
// source at a time. takeMessages() is for one other thread (the recorder's).

#include "engine/EventQueue.h"
#include "engine/MixerEngine.h"
#include "live/MidiStream.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace tonvero {

class StudioMixer;

class LiveInput {
public:
    static constexpr uint32_t kTakeCapacity = 16384;

    explicit LiveInput(int32_t outputRate);
    LiveInput(const LiveInput&) = delete;
    LiveInput& operator=(const LiveInput&) = delete;

    // The output rate, for a port's arrival times. Before a port opens.
    void setRate(int32_t outputRate) { rate_ = outputRate > 0 ? outputRate : rate_; }
    // Where messages go from now on (null: nowhere). Set while no source sends.
    void attach(StudioMixer* mixer) {
        polled_.store(false, std::memory_order_release);
        mixer_.store(mixer, std::memory_order_release);
    }
    // From now on messages wait in a queue of their own for playPending():
    // for the Custom and hardware mixers, which take them at their next pass.
    // Their frames are then counted from the moment it is called, at the output rate.
    void attachPolled();
    // Plays what waits (after attachPolled) through `engine`. One thread at a
    // time, not the source's; the engine mutex held.
    void playPending(MixerEngine& engine) REQUIRES(engine.mutex);
    // The frame a message arriving now is stamped with (a take starts there).
    uint64_t nowFrame() const;

    // A MidiInputFunction for the device's own input (empty: its last connection went).
    static void fromDevice(void* self, uint32_t offset, const uint8_t* bytes, size_t size);
    // A MidiInput receiver for a port.
    static void fromPort(void* self, const uint8_t* bytes, size_t size, std::chrono::steady_clock::time_point arrival);

    // The source is gone: every note it holds gets its note-off and every
    // pedal it holds down goes up, now; the reader forgets any message half
    // read. On the source's thread, or once the source can send no more.
    void releaseHeld();

    // Messages read, and those the renderer's queue or the take's refused.
    uint64_t messages() const { return messages_.load(std::memory_order_relaxed); }
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }
    uint64_t takeDropped() const { return takeDropped_.load(std::memory_order_relaxed); }
    // Notes held now (any thread; a moment's count).
    int32_t heldNotes() const { return heldCount_.load(std::memory_order_relaxed); }

    struct Stamped {
        uint64_t frame = 0;
        LiveMessage message;
    };
    // Hands every message queued for the take since the last call to `visit(const Stamped&)`.
    template <class F>
    void takeMessages(F&& visit) {
        while (const Stamped* s = take_.front()) {
            visit(*s);
            take_.pop();
        }
    }

private:
    void receive(const uint8_t* bytes, size_t size, uint64_t frame);
    void deliver(const LiveMessage& message, uint64_t frame);
    // The frame a port's message that arrived at `arrival` sounds on.
    uint64_t frameFor(std::chrono::steady_clock::time_point arrival) const;

    int32_t rate_;
    std::atomic<StudioMixer*> mixer_{nullptr};
    std::atomic<bool> polled_{false};
    std::atomic<int64_t> polledSince_{0};  // steady clock (ns) of the polled frames' zero
    EventQueue<LiveMessage> pending_;      // for playPending
    MidiStreamReader reader_;
    // Bit k of held_[channel][k / 64]: the source holds key k down there.
    uint64_t held_[16][2] = {};
    uint16_t sustained_ = 0;  // channels whose sustain pedal it holds down
    uint16_t sostenuto_ = 0;
    std::atomic<int32_t> heldCount_{0};
    std::atomic<uint64_t> messages_{0};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> takeDropped_{0};
    EventQueue<Stamped> take_;
};

}  // namespace tonvero
