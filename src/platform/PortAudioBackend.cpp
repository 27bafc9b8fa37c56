#include "platform/PortAudioBackend.h"

#include "platform/StderrSilencer.h"

#include <algorithm>
#include <cstring>

namespace tonvero {

namespace {

std::string paText(const char* what, PaError error) { return std::string(what) + ": " + Pa_GetErrorText(error); }

}  // namespace

std::unique_ptr<PortAudioBackend> PortAudioBackend::open(std::string& error) {
    StderrSilencer quiet;
    const PaError initError = Pa_Initialize();
    if (initError != paNoError) {
        error = paText("cannot start the PortAudio sound system", initError);
        return nullptr;
    }
    if (Pa_GetDefaultOutputDevice() == paNoDevice) {
        Pa_Terminate();
        error = "no output device: PortAudio found no default sound output";
        return nullptr;
    }
    return std::unique_ptr<PortAudioBackend>(new PortAudioBackend());
}

PortAudioBackend::~PortAudioBackend() {
    stop();
    StderrSilencer quiet;
    Pa_Terminate();
}

std::string PortAudioBackend::start(uint32_t rate, RenderFunction render) {
    stop();
    if (rate == 0 || !render) return "the sound output needs a rate and a source";
    StderrSilencer quiet;
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (info == nullptr) return "no output device: PortAudio found no default sound output";

    PaStreamParameters output;
    std::memset(&output, 0, sizeof output);
    output.device = device;
    output.channelCount = 2;
    output.sampleFormat = paInt16;
    // The mixer writes 0.3 s ahead of the play cursor, so a modest device
    // latency costs nothing and saves underruns on busy machines.
    output.suggestedLatency = std::max(info->defaultLowOutputLatency, 0.04);
    output.hostApiSpecificStreamInfo = nullptr;

    render_ = std::move(render);
    PaStream* stream = nullptr;
    PaError err = Pa_OpenStream(&stream, nullptr, &output, rate, paFramesPerBufferUnspecified, paNoFlag,
                                &PortAudioBackend::callback, this);
    if (err != paNoError) {
        render_ = nullptr;
        return paText(
            ("cannot open the sound output \"" + std::string(info->name) + "\" at " + std::to_string(rate) + " Hz")
                .c_str(),
            err);
    }
    err = Pa_StartStream(stream);
    if (err != paNoError) {
        Pa_CloseStream(stream);
        render_ = nullptr;
        return paText("cannot start the sound output", err);
    }
    stream_ = stream;
    return {};
}

void PortAudioBackend::stop() {
    if (stream_ == nullptr) return;
    StderrSilencer quiet;
    Pa_StopStream(stream_);
    Pa_CloseStream(stream_);
    stream_ = nullptr;
    render_ = nullptr;
}

int PortAudioBackend::callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                               PaStreamCallbackFlags, void* self) {
    auto* backend = static_cast<PortAudioBackend*>(self);
    backend->periodFrames_.store(static_cast<uint32_t>(frames), std::memory_order_relaxed);
    backend->render_(static_cast<int16_t*>(output), static_cast<uint32_t>(frames));
    return paContinue;
}

}  // namespace tonvero
