#pragma once
// JACK clients of a test's own, for a server such as test::JackServer runs:
// a MIDI sender that puts messages out at chosen frame times, and a recorder
// that keeps every period it hears with the frame time it started at. They
// are separate clients on purpose: one client both feeding and hearing the
// client under test would form a cycle, which costs a period.
//
// Everything is measured in JACK frame time (jack_last_frame_time of a
// period, extended to 64 bits), never in wall time; the only wall-clock
// bounds are generous timeouts so a broken server fails a test instead of
// hanging it.

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace test {

// Frame time of a period as one client's process callback sees it, extended
// past the 32-bit wrap.
class FrameClock {
public:
    uint64_t extend(jack_nframes_t frameTime);

private:
    uint64_t high_ = 0;
    jack_nframes_t last_ = 0;
    bool started_ = false;
};

class JackMidiSender {
public:
    static constexpr size_t kMaxBytes = 512;  // one queued packet
    static constexpr size_t kQueue = 512;     // packets queued and not yet out

    explicit JackMidiSender(const std::string& name = "test-midi-sender");
    ~JackMidiSender();
    JackMidiSender(const JackMidiSender&) = delete;
    JackMidiSender& operator=(const JackMidiSender&) = delete;

    bool ok() const { return client_ != nullptr && error_.empty(); }
    const std::string& error() const { return error_; }
    std::string portName() const;  // "CLIENT:midi_out"
    bool connect(const std::string& destinationPort);

    // Queues one complete MIDI message (a status byte, then as many data
    // bytes as it takes; sysex from F0 to F7) to go out at `frameTime`; a
    // time already past goes at the start of the next period. False for a
    // malformed message or a full queue.
    bool send(uint64_t frameTime, const std::vector<uint8_t>& message);
    // The same for any packet of bytes (a sysex in pieces, a lone realtime byte...).
    bool sendRaw(uint64_t frameTime, const std::vector<uint8_t>& bytes);

    // The first frame of the period the process callback last ran (0 before it ran).
    uint64_t now() const { return now_.load(std::memory_order_acquire); }
    // Waits (bounded) until the process callback has run at least once.
    bool waitRunning(double timeoutSeconds = 30) const;
    // Packets queued and not yet written; waitSent waits (bounded) until none.
    size_t pending() const;
    bool waitSent(double timeoutSeconds = 30) const;
    uint32_t period() const;

private:
    struct Packet {
        uint64_t time = 0;
        uint64_t order = 0;
        uint32_t size = 0;
        std::array<uint8_t, kMaxBytes> bytes{};
    };
    static int process(jack_nframes_t frames, void* self);
    static void shutdown(jack_status_t, const char*, void* self);

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::string error_;
    std::atomic<bool> gone_{false};
    std::atomic<uint64_t> now_{0};
    FrameClock clock_;

    // Producers (under queueMutex_) fill the ring; the process callback
    // alone empties it into held_, so it never waits for a lock.
    std::mutex queueMutex_;
    uint64_t nextOrder_ = 0;
    std::vector<Packet> ring_;
    std::atomic<size_t> ringWrite_{0};
    std::atomic<size_t> ringRead_{0};
    std::vector<Packet> held_;  // process thread only
    size_t heldCount_ = 0;
    std::vector<size_t> due_;  // process thread only
    std::atomic<size_t> heldPublished_{0};
};

class JackRecorder {
public:
    struct Frame {
        float left = 0;
        float right = 0;
    };
    struct Period {
        uint64_t start = 0;  // frame time of its first frame
        uint32_t frames = 0;
        size_t index = 0;  // of its first frame in the recording
    };

    // Records up to `capacityFrames` frames from activation on, then stops.
    explicit JackRecorder(const std::string& name = "test-recorder", size_t capacityFrames = 48000 * 40);
    ~JackRecorder();
    JackRecorder(const JackRecorder&) = delete;
    JackRecorder& operator=(const JackRecorder&) = delete;

    bool ok() const { return client_ != nullptr && error_.empty(); }
    const std::string& error() const { return error_; }
    std::string leftPort() const;  // "CLIENT:in_left"
    std::string rightPort() const;
    bool connect(const std::string& sourceLeft, const std::string& sourceRight);

    // The frame heard at `frameTime`, if it was recorded.
    std::optional<Frame> sampleAt(uint64_t frameTime) const;
    // The frame time of the first recorded frame at or after `frameTime` with either side non-zero.
    std::optional<uint64_t> firstNonZeroAfter(uint64_t frameTime) const;
    // Waits (bounded by a wall timeout; false then, or when the recording
    // is full or the server gone) until the frame at `frameTime` is recorded.
    bool waitUntil(uint64_t frameTime, double timeoutSeconds = 30) const;
    // The frame time just past the last recorded period (0 before any).
    uint64_t recordedUntil() const;
    // Every period recorded so far, in order, and the frames of one of them.
    std::vector<Period> periods() const;
    std::vector<Frame> framesOf(const Period& period) const;

private:
    static int process(jack_nframes_t frames, void* self);
    static void shutdown(jack_status_t, const char*, void* self);
    const Period* periodHolding(uint64_t frameTime, size_t count) const;

    jack_client_t* client_ = nullptr;
    jack_port_t* left_ = nullptr;
    jack_port_t* right_ = nullptr;
    std::string error_;
    std::atomic<bool> gone_{false};
    FrameClock clock_;
    std::vector<Frame> samples_;
    std::vector<Period> periods_;
    size_t used_ = 0;                     // process thread only
    std::atomic<size_t> periodCount_{0};  // published after the period's frames
    std::atomic<bool> full_{false};
};

// Asks the running server for a new period (a power of two); false when it refuses.
bool setBufferSize(uint32_t frames);
// The ports connected to `port` (full names), or empty when it has none or does not exist.
std::vector<std::string> jackConnections(const std::string& port);
// Whether a port of that full name exists on the running server.
bool jackPortExists(const std::string& port);

}  // namespace test
