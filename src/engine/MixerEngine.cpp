#include "engine/MixerEngine.h"

#include "platform/AudioBackend.h"

namespace tonvero {

thread_local MixerEngine* theEngine = nullptr;
thread_local std::atomic<int32_t> sequencerBusy{0};
thread_local std::atomic<int32_t> mixerBusy{0};

MixerEngine::MixerEngine(MixerMode mode, int32_t rate, SoundDeviceFactory factory, TimerService* timers,
                         const StudioSettings& settings)
    : deviceFactory(factory ? std::move(factory) : backendDeviceFactory(chooseBackendName(""))),
      timerService(timers ? timers : &realTimerService()),
      mixerMode(mode) {
    studioSettings = settings;
    if (mode == MixerMode::Studio) studio = std::make_unique<StudioMixer>(rate, settings, bank);
    // Every Voice free, with no MixerVoice.
    for (Voice& v : voices) v = Voice{};
    // Every channel zeroed, bend range 2 (the preview channel keeps these values).
    for (ChannelState& c : channels) c = ChannelState{};
    // No song yet (`song.tracks` starts empty with capacity 1), no device,
    // no buffers, no Instruments.
    primaryBuffer.reset();
    mixBuffer.reset();
    soundDevice.reset();
    bank.clearBank();
    // Rewinding with no song only sets the MIDI channels.
    resetChannels();
    // The ProgramMap all 0.
    bank.programMap.fill(0);
    bank.instrumentCount = 0;
    // Mode and rate.
    outputRate = rate;
    softwareMixer = mode == MixerMode::Hardware ? 0 : 1;
    writePrimary = mode == MixerMode::Primary ? 1 : 0;
    // Everything idle.
    playing = 0;
    outputRunning = 0;
    sequencerTimer = 0;
    mixerTimer = 0;
    lastNoteId = 0;
    // The Custom and hardware mixers' fields start as their structs give
    // them: no MixerVoice active, 0.3 s written ahead, no buffer slot held.

    // The engine the timers' callbacks and the editors reach.
    theEngine = this;
    buildSemitoneTable();
}

// Runs on the user-interface thread without holding the mutex: the timers'
// callbacks take it, and killing a timer waits for a running callback.
MixerEngine::~MixerEngine() {
    // Stop the mixing buffer.
    {
        EngineLock lock(mutex);
        if (softwareMixer && mixBuffer) mixBuffer->stop();
    }
    // Kill the sequencer timer, the mixer timer and the end-of-song watch. A callback running
    // meanwhile may start a new timer (a tempo change re-times the sequencer),
    // so take the ids under the lock and repeat until none is left.
    for (;;) {
        TimerIds taken;
        {
            EngineLock lock(mutex);
            taken = takeTimers(kEveryTimer);
            outputRunning = 0;
            playing = 0;
        }
        if (!taken.any()) break;
        killTimers(taken);
    }

    // No callback runs any more; the device's leaves the Studio mixer now.
    if (soundDevice) soundDevice->setDirectRender(nullptr);
    EngineLock lock(mutex);
    for (MixerVoice& m : custom.mixerVoices) m.active = 0;
    if (studio) studio->cutAll();
    // Destroy the Instruments (their Waves release the buffers they still own).
    bank.clearBank();
    // Free the song image.
    song.songData.clear();
    song.songData.shrink_to_fit();
    // Release every duplicate, every Wave buffer, the mixing buffer, the
    // primary buffer and the device; each handle is null afterwards.
    for (auto& b : hardware.voiceBuffers) b.reset();
    for (auto& b : hardware.waveBuffers) b.reset();
    hardware.bufferSerials.fill(0);
    hardware.bufferWaves.fill(nullptr);
    mixBuffer.reset();
    primaryBuffer.reset();
    soundDevice.reset();
    // Free the tracks.
    song.tracks.clear();
    if (theEngine == this) theEngine = nullptr;
}

uint64_t MixerEngine::studioFeedFrame() const {
    if (!studio) return 0;
    if (!studio->inCallback()) return studio->nextFrame();
    return studio->nextSongFrame() + static_cast<uint64_t>(kSongFeedAheadSeconds * studio->rate());
}

void MixerEngine::resetChannels() {
    if (studio) studio->resetSongChannels();
    for (int32_t c = 0; c < 16; ++c) channels[static_cast<size_t>(c)] = rewoundChannel();
}

void MixerEngine::mixerTimerProc() {
    // Test and set: an event arriving while the previous one still runs is lost.
    if (mixerBusy.exchange(1) != 0) return;
    if (MixerEngine* engine = theEngine) {
        EngineLock lock(engine->mutex);
        engine->mixerTick();
    }
    mixerBusy.store(0);
}

uint32_t MixerEngine::takeSoundSerial() {
    const uint32_t serial = hardware.nextSoundSerial++;
    if (hardware.nextSoundSerial == 0) hardware.nextSoundSerial = 1;  // 0 stays "none"
    return serial;
}

void MixerEngine::cutVoicesOf(const Instrument& instrument) {
    if (studio) studio->dropAuditionsOf(instrument);
    for (int32_t z = 0; z < instrument.zones.count(); ++z)
        if (const Zone* zone = instrument.zones[z])
            if (zone->wave) cutVoicesOf(*zone->wave);
}

void MixerEngine::replaceBank(Bank&& newBank) {
    for (int32_t slot = 0; slot < bank.instrumentCount; ++slot)
        if (const Instrument* instrument = bank.instruments[static_cast<size_t>(slot)].get()) cutVoicesOf(*instrument);
    bank = std::move(newBank);
}

const char* MixerEngine::mixerModeText() const {
    if (mixerMode == MixerMode::Studio) return "Studio Mixer - Secondary Buffer Mode\n";
    if (!softwareMixer) return "DirectX Hardware Mixer\n";
    return writePrimary ? "Software Custom Mixer - WritePrimary Mode\n"
                        : "Software Custom Mixer - Secondary Buffer Mode\n";
}

void MixerEngine::cutVoicesOf(const Wave& wave) {
    if (studio) studio->cutWave(wave);
    for (Voice& v : voices) {
        if (v.wave != &wave) continue;
        v.active = 0;
        v.wave = nullptr;
        v.mixerVoice = -1;
        v.bufferRef = -1;
        v.soundSerial = 0;
    }
    for (MixerVoice& m : custom.mixerVoices) {
        if (m.wave != &wave) continue;
        m.active = 0;
        m.wave = nullptr;
        m.samples = nullptr;
        m.sampleCount = 0;
        m.soundSerial = 0;
    }
    // Every hardware buffer holding this Wave's samples, the Wave's own slot included.
    for (int32_t ref = 0; ref < 2 * kBufferSlots; ++ref)
        if (hardware.bufferWaves[static_cast<size_t>(ref)] == &wave) releaseBufferSlot(ref);
    // The Wave's bufferSlot may still name the freed slot; acquireVoiceBuffer
    // trusts a slot only while it holds this Wave's buffer.
}

}  // namespace tonvero
