// Opening and starting the output: the device, its primary buffer, the
// software mixer's looping buffer and the mixer timer.

#include "engine/ChannelMonitor.h"
#include "engine/MixerEngine.h"

namespace tonvero {

namespace {

// Buffer description flags of the primary buffer and of the mixing buffer.
constexpr uint32_t kPrimaryFlags = BufferFlags::PrimaryBuffer | BufferFlags::GetCurrentPosition2;  // 0x10001
constexpr uint32_t kMixBufferFlags =
    BufferFlags::GetCurrentPosition2 | BufferFlags::GlobalFocus | BufferFlags::StickyFocus;  // 0x1C000

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

}  // namespace

int32_t MixerEngine::initOutput(std::string* error) {
    if (soundDevice) return 1;  // already open

    auto fail = [&](std::string why) {
        mixBuffer.reset();
        primaryBuffer.reset();
        soundDevice.reset();
        setError(error, std::move(why));
        return 0;
    };

    // The device.
    if (!deviceFactory) return fail("No sound output is available.");
    DeviceOpenResult opened = deviceFactory();
    if (!opened.device)
        return fail(opened.error.empty() ? std::string("The sound device could not be opened.") : opened.error);
    soundDevice = std::move(opened.device);
    applyMasterVolume(*this);

    // Cooperative level; its result does not matter.
    soundDevice->setCooperativeLevel(softwareMixer && writePrimary ? CooperativeLevel::WritePrimary
                                                                   : CooperativeLevel::Priority);

    // The primary buffer.
    BufferDesc primaryDesc;
    primaryDesc.flags = kPrimaryFlags;
    primaryDesc.bufferBytes = 0;
    primaryDesc.format = nullptr;
    SoundResult r = soundDevice->createSoundBuffer(primaryDesc, primaryBuffer);
    if (!succeeded(r) || !primaryBuffer)
        return fail(std::string("The sound device has no output buffer (") + soundResultText(r) + ").");

    // 16-bit stereo at the output rate.
    const WaveFormat outputFormat = WaveFormat::pcm16(2, static_cast<uint32_t>(outputRate));
    r = primaryBuffer->setFormat(outputFormat);
    if (!succeeded(r))
        return fail("The sound device cannot play 16-bit stereo at " + std::to_string(outputRate) + " Hz (" +
                    soundResultText(r) + ").");

    // The Studio mixer in the device's own callback: built for the rate the
    // device plays at, and no mixing buffer.
    const bool callback = studio && (studioRendering == StudioRendering::DeviceCallback ||
                                     (studioRendering == StudioRendering::Auto && soundDevice->realTime()));
    if (callback) {
        const auto deviceRate = static_cast<int32_t>(soundDevice->outputRate());
        if (deviceRate > 0) outputRate = deviceRate;
        const bool reverbOn = studio->reverbOn();
        const bool chorusOn = studio->chorusOn();
        studio = std::make_unique<StudioMixer>(outputRate, studioSettings, bank, StudioMixer::Caller::DeviceCallback);
        studio->setReverbOn(reverbOn);
        studio->setChorusOn(chorusOn);
        studioDirect.render = [](void* context, int16_t* out, uint32_t frames) {
            static_cast<StudioMixer*>(context)->renderInCallback(out, frames);
        };
        studioDirect.context = studio.get();
        soundDevice->setDirectRender(&studioDirect);
        custom.mixBufferBytes = 0;
        custom.writeAheadBytes = 0;
        setError(error, std::string());
        return 1;
    }

    // The primary buffer's size.
    uint32_t primaryBytes = 0;
    primaryBuffer->getCaps(primaryBytes);
    custom.mixBufferBytes = primaryBytes;

    // The mixing buffer for the mode.
    if (softwareMixer) {
        if (writePrimary) {
            mixBuffer = primaryBuffer;
        } else {
            custom.mixBufferBytes = static_cast<uint32_t>(outputRate) * 2;  // half a second
            BufferDesc mixDesc;
            mixDesc.flags = kMixBufferFlags;
            mixDesc.bufferBytes = custom.mixBufferBytes;
            mixDesc.format = &outputFormat;
            r = soundDevice->createSoundBuffer(mixDesc, mixBuffer);
            if (!succeeded(r) || !mixBuffer)
                return fail(std::string("The sound device could not make the mixing buffer (") + soundResultText(r) +
                            ").");
        }
    }

    // Nothing written yet; 0.3 s ahead in bytes (the float 0.3 times the
    // rate in double precision, truncated: 52920 at 44100 Hz).
    custom.writePos = kWritePosUnset;
    custom.writeAheadBytes = static_cast<uint32_t>(static_cast<double>(custom.writeAheadSeconds) * outputRate * 4);
    setError(error, std::string());
    return 1;
}

void MixerEngine::startOutput() {
    if (outputRunning) return;
    // Set first: the tick below plays a lost buffer again only while the output runs.
    outputRunning = 1;
    if (studio && studio->inCallback()) {
        // The device's callback renders all the time; the mixer timer only
        // feeds it the song.
        startTimer(mixerTimer, kMixerPeriodMicros, &MixerEngine::mixerTimerProc);
        return;
    }
    if (softwareMixer && mixBuffer) {
        silenceAll();
        if (!writePrimary) mixBuffer->setVolume(0);
        mixBuffer->play(PlayFlags::Looping);
        // A mixer timer still set is kept: killing it here, under the engine
        // mutex, could wait for its callback, which waits for the mutex.
        startTimer(mixerTimer, kMixerPeriodMicros, &MixerEngine::mixerTimerProc);
        // Write the first write-ahead (silence) now, so a note started before
        // the timer's first event is heard as late as every later note.
        mixerTick();
    }
}

}  // namespace tonvero
