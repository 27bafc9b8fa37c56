#pragma once
// The "jack" backend: a client of a running JACK server (jackd, or
// PipeWire's JACK), with two audio outputs (out_left, out_right) and a MIDI
// input (midi_in). The server sets the rate and the period; each period the
// process callback first tells the MIDI input's messages, then pulls the
// period's sound from the device's mixer, in chunks of at most kMaxChunk
// frames (so a larger period needs no allocation on the audio thread).

#include "platform/AudioBackend.h"

#include <jack/jack.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace tonvero {

class JackBackend final : public AudioBackend {
public:
    // The most frames one render call fills; a longer period takes several.
    static constexpr uint32_t kMaxChunk = 4096;

    // Connects to the server named by JACK_DEFAULT_SERVER (else the default
    // one), never starting one, and registers the ports. Null with `error`
    // saying why (no server running, the name refused...).
    static std::unique_ptr<JackBackend> open(const BackendOptions& options, std::string& error);
    ~JackBackend() override;
    JackBackend(const JackBackend&) = delete;
    JackBackend& operator=(const JackBackend&) = delete;

    const char* name() const override { return "jack"; }
    // `rate` must be the server's. Activates the client and, when the options
    // ask, connects the outputs to the first two physical playback ports.
    std::string start(uint32_t rate, RenderFunction render) override;
    void stop() override;
    uint32_t fixedRate() const override { return rate_.load(std::memory_order_relaxed); }
    uint32_t periodFrames() const override { return period_.load(std::memory_order_relaxed); }
    bool hasMidiInput() const override { return true; }
    void setMidiInput(MidiInputFunction function, void* context) override;
    std::string failure() const override;
    uint64_t xruns() const override { return xruns_.load(std::memory_order_relaxed); }

    // The client's name as the server knows it (the ports are "NAME:out_left"...).
    const std::string& clientName() const { return clientName_; }

private:
    JackBackend() = default;
    static int process(jack_nframes_t frames, void* self);
    static int bufferSizeChanged(jack_nframes_t frames, void* self);
    static int rateChanged(jack_nframes_t rate, void* self);
    static int xrun(void* self);
    static void shutdown(jack_status_t code, const char* reason, void* self);
    void closeClient();

    jack_client_t* client_ = nullptr;
    jack_port_t* outLeft_ = nullptr;
    jack_port_t* outRight_ = nullptr;
    jack_port_t* midiIn_ = nullptr;
    std::string clientName_;
    bool connect_ = true;
    bool active_ = false;

    RenderFunction render_;
    MidiInputFunction midi_ = nullptr;
    bool midiConnected_ = false;  // the process thread's: midi_in had a connection last period
    void* midiContext_ = nullptr;
    std::vector<int16_t> scratch_;  // kMaxChunk interleaved stereo frames, made at open()

    std::atomic<uint32_t> rate_{0};
    std::atomic<uint32_t> period_{0};
    std::atomic<uint64_t> xruns_{0};
    // Written once by the shutdown callback (which may run like a signal
    // handler), then published by the flag.
    char failureText_[256] = {};
    std::atomic<bool> failed_{false};
};

}  // namespace tonvero
