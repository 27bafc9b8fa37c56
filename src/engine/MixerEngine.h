#pragma once
// The MixerEngine: the one object that makes sound. It owns the bank, the
// loaded song, the channel states, the 32 Voices and 32 MixerVoices, the
// sound device with its buffers, and the ids of the sequencer and mixer
// timers.
//
// Threads and locking: the user-interface thread and the one timer thread
// both call into the engine. `mutex` orders them: each timer callback takes
// it for its whole run, and user-interface code takes it (EngineLock) around
// every engine call. Engine operations themselves do not lock; they expect
// the caller to hold `mutex` unless their comment says otherwise. Nobody
// kills a timer while holding `mutex` from a thread other than the timer
// thread (the kill waits for the callback, which may be waiting for the lock).
// The audio thread never takes `mutex`: it reads the device's buffers under
// the device's own short critical sections.

#include "bank/Bank.h"
#include "engine/ChannelState.h"
#include "engine/MixerVoice.h"
#include "engine/Song.h"
#include "engine/Voice.h"
#include "platform/SoundDevice.h"
#include "platform/TimerService.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tonvero {

constexpr int32_t kVoiceCount = 32;
constexpr int32_t kMixerVoiceCount = 32;
constexpr int32_t kChannelCount = 17;      // 16 MIDI channels and the preview channel
constexpr int32_t kPreviewChannel = 16;
constexpr int32_t kBufferSlots = 32;       // each of waveBuffers and voiceBuffers
constexpr uint32_t kWritePosUnset = 0xFFFFFF;
constexpr uint64_t kMixerPeriodMicros = 20000;

// 2^(d/12) for d = -60..60 at index 60 + d, in single precision.
extern float semitoneRatio[121];
void buildSemitoneTable();

class MixerEngine;
// The one engine of the program, set by its constructor (null after its destructor).
extern MixerEngine* theEngine;
// Set while a timer callback runs: a callback that finds its flag set returns at once.
extern std::atomic<int32_t> sequencerBusy;
extern std::atomic<int32_t> mixerBusy;

class MixerEngine {
public:
    // softwareMixer 1: the engine mixes itself (writePrimary 1 writes the
    // primary buffer, 0 a looping secondary buffer of its own); 0: one device
    // buffer per voice. outputRate in Hz. `deviceFactory` opens the output in
    // initOutput (default: the backend chosen by TONVERO_AUDIO, else
    // portaudio); `timers` runs the sequencer and mixer timers (default: the
    // real timer service). The constructor does not touch the device.
    MixerEngine(int32_t softwareMixer, int32_t writePrimary, int32_t outputRate,
                SoundDeviceFactory deviceFactory = {}, TimerService* timers = nullptr);
    ~MixerEngine();
    MixerEngine(const MixerEngine&) = delete;
    MixerEngine& operator=(const MixerEngine&) = delete;

    // --- output set-up (user-interface thread) ---
    // Opens the device for the mode; 1 when ready, 0 when not (`error` says why).
    int32_t initOutput(std::string* error = nullptr);
    // Starts the output: software mixer silenced, mixing buffer looping, mixer timer running.
    void startOutput();

    // --- notes (timer thread for the song's, user-interface thread for previews) ---
    void noteOn(int32_t key, int32_t velocity, int32_t channel);
    void noteOff(int32_t key, int32_t channel);
    void setSustain(int32_t on, int32_t channel);
    // Plays a Zone's Wave at its own frequency on the preview channel; the note id, or -1.
    int32_t previewNote(Instrument* instrument, Zone* zone);
    void stopPreview(int32_t noteId);
    // Hz for a Wave of `waveFrequency` Hz played `pitchOffset` semitones away, bent by `bend` semitones.
    static uint32_t noteFrequency(uint32_t waveFrequency, int32_t pitchOffset, float bend);

    // --- software mixer ---
    // frequency x 65536 / rate, the 16.16 step.
    static uint32_t frequencyStep(uint32_t frequency, uint32_t rate);
    int32_t allocMixerVoice();
    int32_t startMixerVoice(Voice& voice, uint32_t frequency, int32_t pan, const Instrument* instrument);
    void silenceAll();
    void mixerTick();
    void mixBlock(uint8_t* destination, uint32_t bytes);

    // --- hardware mixer ---
    void startBufferVoice(Voice& voice, uint32_t frequency, int32_t pan);
    int32_t acquireVoiceBuffer(Voice& voice);
    void createWaveBuffer(Wave& wave);
    static int32_t fillBuffer(SoundBuffer* buffer, const void* source, uint32_t bytes);
    void releaseIdleVoiceBuffers();
    void reclaimBuffers();

    // Channels 0..15 to their rewind values (the channel part of rewinding a song).
    void resetChannels();
    // Cuts every Voice and MixerVoice that plays a Wave of `instrument` (or
    // this Wave), so it can be destroyed. Caller holds the mutex.
    void cutVoicesOf(const Instrument& instrument);
    void cutVoicesOf(const Wave& wave);

    // The mixer timer's callback: runs mixerTick on theEngine under mixerBusy and the mutex.
    static void mixerTimerProc();

    TimerService& timers() { return *timerService; }

    // ---- members, in the engine's declared order ----
    SoundBufferPtr primaryBuffer;
    SoundBufferPtr mixBuffer;  // the software mixer's target; the primary in write-primary mode
    std::vector<uint8_t> songData;  // the whole Standard MIDI File image; empty when none
    std::array<SoundBufferPtr, kBufferSlots> waveBuffers;
    Bank bank;  // instruments, programMap, instrumentCount
    int32_t lastNoteId = 0;
    std::array<Voice, kVoiceCount> voices;
    std::array<ChannelState, kChannelCount> channels;
    int32_t outputRate = 0;
    std::array<SoundBufferPtr, kBufferSlots> voiceBuffers;
    int32_t playing = 0;
    int32_t softwareMixer = 0;
    int32_t outputRunning = 0;
    int32_t writePrimary = 0;
    uint32_t currentTick = 0;
    int32_t ticksPerTimerEvent = 0;
    int32_t format = 0;
    int32_t trackCount = 0;
    int32_t tempo = 0;
    int32_t division = 0;
    TrackList tracks;
    float secondsPerTick = 0;
    float ticksPerSecond = 0;
    TimerId sequencerTimer = 0;
    TimerId mixerTimer = 0;
    std::array<MixerVoice, kMixerVoiceCount> mixerVoices;
    float writeAheadSeconds = 0.3f;
    uint32_t mixBufferBytes = 0;
    uint32_t writeAheadBytes = 0;
    uint32_t writePos = kWritePosUnset;

    std::unique_ptr<SoundDevice> soundDevice;
    SoundDeviceFactory deviceFactory;
    TimerService* timerService = nullptr;
    std::mutex mutex;
};

// Holds the engine mutex for a scope (user-interface side).
using EngineLock = std::lock_guard<std::mutex>;

}  // namespace tonvero
