#pragma once
// The "portaudio" backend: the default output device through PortAudio,
// 16-bit stereo interleaved, pulling each block from the device's mixer on
// PortAudio's callback thread.

#include "platform/AudioBackend.h"

#include <portaudio.h>

#include <atomic>
#include <memory>
#include <string>

namespace tonvero {

class PortAudioBackend final : public AudioBackend {
public:
    // Initialises PortAudio and checks that there is a default output device;
    // null with `error` saying why ("no output device", or PortAudio's own
    // reason) when there is none.
    static std::unique_ptr<PortAudioBackend> open(std::string& error);
    ~PortAudioBackend() override;
    PortAudioBackend(const PortAudioBackend&) = delete;
    PortAudioBackend& operator=(const PortAudioBackend&) = delete;

    const char* name() const override { return "portaudio"; }
    std::string start(uint32_t rate, RenderFunction render) override;
    void stop() override;
    // The frames of the last callback (PortAudio chooses them; 0 before the first).
    uint32_t periodFrames() const override { return periodFrames_.load(std::memory_order_relaxed); }

private:
    PortAudioBackend() = default;
    static int callback(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* timeInfo,
                        PaStreamCallbackFlags statusFlags, void* self);

    PaStream* stream_ = nullptr;
    RenderFunction render_;
    std::atomic<uint32_t> periodFrames_{0};
};

}  // namespace tonvero
