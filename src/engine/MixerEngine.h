#pragma once
// The MixerEngine: the one object that makes sound. It owns the bank, the
// loaded song, the channel states, the 32 Voices and 32 MixerVoices, the
// Studio mixer (in that mode), the sound device with its buffers, and the ids
// of the sequencer and mixer timers.
//
// Three ways of mixing, chosen at construction (MixerMode): the Studio mixer
// and the Software Custom Mixer both write a looping mixing buffer through
// mixerTick on the 20 ms mixer timer; the hardware mixer plays each voice on a
// device buffer of its own. With the Studio mixer the song's events, the
// engine's note operations and audition notes go to the StudioMixer as
// events on their output frames, and the Voices and MixerVoices stay unused.
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
#include "engine/MixerMode.h"
#include "engine/MixerParts.h"
#include "engine/StudioMixer.h"
#include "engine/Song.h"
#include "engine/Voice.h"
#include "platform/Mutex.h"
#include "platform/AudioBackend.h"
#include "platform/SoundDevice.h"
#include "platform/TimerService.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tonvero {

constexpr int32_t kVoiceCount = 32;
constexpr int32_t kChannelCount = 17;  // 16 MIDI channels and the preview channel
constexpr int32_t kPreviewChannel = 16;
constexpr uint64_t kMixerPeriodMicros = 20000;

// 2^(d/12) for d = -60..60 at index 60 + d, in single precision.
// Filled by buildSemitoneTable, once per process (every engine's constructor
// calls it; later calls change nothing). Read-only after.
extern float semitoneRatio[121];
void buildSemitoneTable();

// 2^((pitchOffset + bend) / 12) x waveFrequency in Hz, computed in double
// precision and truncated (0 .. 4294967295). Pure.
uint32_t bentFrequency(uint32_t waveFrequency, int32_t pitchOffset, float bend);

class MixerEngine;
// The engine of this thread: set by an engine's constructor on the thread that
// makes it (null after its destructor), and by each of an engine's timer
// callbacks for as long as it runs. The program has one engine, reached from
// the user-interface thread and the timer thread; a process that renders
// several songs at once gives each of its threads an engine of its own, and
// no engine sees another's.
extern thread_local MixerEngine* theEngine;
// Set while a timer callback runs: a callback that finds its flag set returns
// at once. Per thread, as the callbacks of one timer service all run on one
// thread: one thread's engine never makes another's callbacks return.
extern thread_local std::atomic<int32_t> sequencerBusy;
extern thread_local std::atomic<int32_t> mixerBusy;

// Asked by the Studio mixer's tick, before it renders up to output frame
// `endFrame` (exclusive), to queue every song event that falls before it.
// Set by the transport when a song plays. Timer thread, mutex held.
using SongFeed = void (*)(MixerEngine& engine, uint64_t endFrame);

class MixerEngine {
public:
    // `mode`: how the engine mixes (Software and Primary are the Software
    // Custom Mixer on a secondary buffer of its own or on the primary buffer;
    // Hardware one device buffer per voice; Studio the Studio mixer, set up
    // by `studioSettings`). outputRate in Hz. `deviceFactory` opens the
    // output in initOutput (default: the backend chosen by TONVERO_AUDIO,
    // else portaudio); `timers` runs the sequencer and mixer timers (default:
    // the real timer service). The constructor does not touch the device.
    MixerEngine(MixerMode mode, int32_t outputRate, SoundDeviceFactory deviceFactory = {},
                TimerService* timers = nullptr, const StudioSettings& studioSettings = {});
    ~MixerEngine();
    MixerEngine(const MixerEngine&) = delete;
    MixerEngine& operator=(const MixerEngine&) = delete;

    // --- output set-up ---
    // Opens the device for the mode; 1 when ready, 0 when not (`error`, if
    // given, says why in words for the user). Called once, right after
    // construction. User-interface thread, before any timer runs, mutex held.
    int32_t initOutput(std::string* error = nullptr) REQUIRES(mutex);
    // Starts the output if it is not running: with a mixing buffer, cuts
    // every voice, silences and loops the mixing buffer, writes its first
    // write-ahead of silence at once (so the first notes keep the same
    // latency as all later ones) and runs the 20 ms mixer timer.
    // Caller holds the mutex; user-interface thread (play, previewNote) or
    // timer thread.
    void startOutput() REQUIRES(mutex);

    // --- notes ---
    // With the Studio mixer these send their event to it, to apply at the
    // next frame it renders.
    // key 0..127, velocity 1..127, channel 0..15. Timer thread (sequencer), mutex held.
    void noteOn(int32_t key, int32_t velocity, int32_t channel) REQUIRES(mutex);
    // Releases the lowest active Voice with this key and channel. Timer thread, mutex held.
    void noteOff(int32_t key, int32_t channel) REQUIRES(mutex);
    // Hold pedal of `channel` (0..16) down (1) or up (0). Timer thread, mutex held.
    void setSustain(int32_t on, int32_t channel) REQUIRES(mutex);
    // Plays a Zone's Wave at its own frequency on the preview channel; the
    // note id (1, 2, ...), or -1 when `instrument` or `zone` is null.
    // User-interface thread, mutex held.
    int32_t previewNote(Instrument* instrument, Zone* zone) REQUIRES(mutex);
    // Plays `instrument` at `key` (0..127) and `velocity` (1..127) on the
    // preview channel, as a song note of that key would sound (the Zone that
    // holds the key, at the key's pitch); the note id, or -1 when there is no
    // Instrument or no Zone for the key. User-interface thread, mutex held.
    int32_t previewKey(Instrument* instrument, int32_t key, int32_t velocity) REQUIRES(mutex);
    // Releases the audition note with this id (ids below 1 name no note).
    // User-interface thread, mutex held.
    void stopPreview(int32_t noteId) REQUIRES(mutex);
    // Hz for a Wave of `waveFrequency` Hz played `pitchOffset` semitones
    // away, bent by `bend` semitones. Any thread (pure).
    static uint32_t noteFrequency(uint32_t waveFrequency, int32_t pitchOffset, float bend);

    // The Instrument a song note on `channel` (0..15) plays, the one lookup
    // both the note start and the song's note counts use: the channel's
    // program through the ProgramMap, the drum set on MIDI channel 10 (with
    // the Studio mixer, the kit the drum channel's program chooses). Null
    // when the bank has none. Mutex held.
    Instrument* songInstrument(int32_t channel) const REQUIRES(mutex);
    // The Custom and hardware mixers after a batch of song events: every
    // sounding voice of a channel whose pitch changed (bend, bend range) is
    // retuned (its MixerVoice's step, or its own buffer's frequency) by
    // bentFrequency. Mutex held.
    void retuneBentVoices() REQUIRES(mutex);
    // Picks the Voice for a new note: the lowest free one, else the oldest
    // (lowest slot among equals), released first. Mutex held.
    int32_t chooseVoice() REQUIRES(mutex);
    // Releases a Voice's note in either mixer (note-off, stopPreview, stealing). Mutex held.
    void releaseVoice(Voice& voice) REQUIRES(mutex);
    // The MixerVoice that still plays `voice`'s note, or null once that sound
    // has ended or its MixerVoice has gone to a later note. Mutex held.
    MixerVoice* mixerVoiceOf(const Voice& voice) REQUIRES(mutex);
    // Hardware mixer: the buffer that still plays `voice`'s note, or null. Mutex held.
    SoundBuffer* bufferOf(const Voice& voice) REQUIRES(mutex);

    // --- software mixer ---
    // frequency (Hz) x 65536 / rate (Hz), truncated: the 16.16 step. Any thread (pure).
    static uint32_t frequencyStep(uint32_t frequency, uint32_t rate);
    // Index of a MixerVoice free for a new note (cutting one if all sound), or -1. Mutex held.
    int32_t allocMixerVoice() REQUIRES(mutex);
    // Starts a MixerVoice for a Voice already filled in: frequency in Hz, pan
    // 0..127; returns its index or -1. Mutex held.
    int32_t startMixerVoice(Voice& voice, uint32_t frequency, int32_t pan, const Instrument* instrument)
        REQUIRES(mutex);
    // Cuts every MixerVoice and fills the mixing buffer with silence.
    // Either thread, mutex held.
    void silenceAll() REQUIRES(mutex);
    // Keeps the mixing buffer written writeAheadBytes past the play cursor;
    // counts an underrun when the cursor has overtaken the written sound.
    // Timer thread (mixerTimerProc) or startOutput; mutex held.
    void mixerTick() REQUIRES(mutex);
    // Mixes every active MixerVoice into `bytes` bytes (whole 4-byte stereo
    // frames) at `destination`, saturating each sample. Mutex held; no
    // allocation, division or floating point inside.
    void mixBlock(uint8_t* destination, uint32_t bytes) REQUIRES(mutex);
    // Writes `bytes` bytes of the mixing buffer through this mode's mixer:
    // mixBlock, or the Studio mixer. Mutex held.
    void mixRegion(uint8_t* destination, uint32_t bytes) REQUIRES(mutex);

    // --- hardware mixer (all: mutex held, whichever thread starts the note) ---
    // Plays `voice` on a device buffer of its own at `frequency` Hz, pan 0..127.
    void startBufferVoice(Voice& voice, uint32_t frequency, int32_t pan) REQUIRES(mutex);
    // The buffer slot for `voice` (0..31 waveBuffers, 32..63 voiceBuffers), or
    // kNoBuffer, or kNoBufferGiveUp when the note start ends there.
    int32_t acquireVoiceBuffer(Voice& voice) REQUIRES(mutex);
    // Makes wave.deviceBuffer from the Wave's samples unless it has one.
    void createWaveBuffer(Wave& wave) REQUIRES(mutex);
    // Copies `bytes` bytes from `source` into the start of `buffer`; 1 or 0.
    static int32_t fillBuffer(SoundBuffer* buffer, const void* source, uint32_t bytes);
    // Releases every duplicate that has stopped playing.
    void releaseIdleVoiceBuffers() REQUIRES(mutex);
    // The slot a bufferRef names (0..63), or null.
    SoundBufferPtr* bufferSlot(int32_t ref) REQUIRES(mutex);
    static constexpr int32_t kNoBuffer = -1;
    static constexpr int32_t kNoBufferGiveUp = -2;

    // Channels 0..15 to their rewind values (the channel part of rewinding a
    // song). Mutex held, or during construction.
    void resetChannels() REQUIRES(mutex);
    // Cuts every Voice, MixerVoice and hardware buffer that plays a Wave of
    // `instrument` (or this Wave) and frees the Wave's buffer slot, so the
    // Wave can be destroyed. User-interface thread, mutex held.
    void cutVoicesOf(const Instrument& instrument) REQUIRES(mutex);
    void cutVoicesOf(const Wave& wave) REQUIRES(mutex);
    // Makes `newBank` the engine's bank, cutting first every voice that plays
    // a Wave of the bank that goes. User-interface thread, mutex held.
    void replaceBank(Bank&& newBank) REQUIRES(mutex);

    // The mixer timer's callback: runs mixerTick on theEngine under mixerBusy
    // and the mutex; an event that finds mixerBusy set does nothing. Timer thread.
    static void mixerTimerProc();

    TimerService& timers() { return *timerService; }

    // --- timers: every start and kill of the engine's timers goes through these ---
    // The timers, as bits of `which`: the sequencer's (songs on the Custom and
    // hardware mixers), the mixer's (the looping buffer's writer) and the
    // end-of-song watch.
    static constexpr unsigned kSequencerTimer = 1;
    static constexpr unsigned kMixerTimer = 2;
    static constexpr unsigned kSongEndTimer = 4;
    static constexpr unsigned kEveryTimer = kSequencerTimer | kMixerTimer | kSongEndTimer;
    // Runs `proc` every `periodMicros` on the timer kept in `id` (one of
    // sequencerTimer, mixerTimer, songEndTimer) unless one runs there already.
    // Mutex held.
    void startTimer(TimerId& id, uint64_t periodMicros, void (*proc)()) REQUIRES(mutex);
    // Kills the timer kept in `id` at once; `id` is 0 after. Only where the
    // kill cannot wait for a callback that needs the mutex: inside a timer
    // callback (the timer thread), or while no timer runs. Mutex held.
    void killTimerHere(TimerId& id) REQUIRES(mutex);
    // The ids of the timers `which` names, each left 0 in the engine, for
    // killTimers once the mutex is let go (that kill waits for a running
    // callback, which may be waiting for the mutex).
    struct TimerIds {
        TimerId sequencer = 0;
        TimerId mixer = 0;
        TimerId songEnd = 0;
        bool any() const { return sequencer != 0 || mixer != 0 || songEnd != 0; }
    };
    TimerIds takeTimers(unsigned which) REQUIRES(mutex);
    // Kills what takeTimers took; when it returns none of their callbacks runs.
    void killTimers(const TimerIds& ids) EXCLUDES(mutex);

    // The text the status view shows for the mode, with its newline.
    const char* mixerModeText() const;

    // ---- members, in the engine's declared order ----
    SoundBufferPtr primaryBuffer;
    SoundBufferPtr mixBuffer;  // the software mixer's target; the primary in write-primary mode
    Bank bank;                 // instruments, programMap, instrumentCount
    int32_t lastNoteId GUARDED_BY(mutex) = 0;
    std::array<Voice, kVoiceCount> voices GUARDED_BY(mutex);
    std::array<ChannelState, kChannelCount> channels GUARDED_BY(mutex);
    int32_t outputRate = 0;
    int32_t playing GUARDED_BY(mutex) = 0;
    int32_t softwareMixer = 0;
    int32_t outputRunning = 0;
    int32_t writePrimary = 0;
    TimerId sequencerTimer = 0;
    TimerId mixerTimer = 0;
    // The 20 ms watch that stops everything once an ended song has played out.
    TimerId songEndTimer = 0;

    std::unique_ptr<SoundDevice> soundDevice;
    SoundDeviceFactory deviceFactory;
    TimerService* timerService = nullptr;
    mutable Mutex mutex;

    // The loaded song and where it plays: written by song/ only (the loader,
    // the sequencer, the transport); the engine reads the clock to stamp its
    // notes. Mutex held.
    SongState song GUARDED_BY(mutex);
    // What the Software Custom Mixer and the hardware mixer each keep: their
    // voices, write position and device buffers. Mutex held.
    CustomMixer custom GUARDED_BY(mutex);
    HardwareMixer hardware GUARDED_BY(mutex);
    // Looping, mute and solo, master volume, as the listener set them.
    ListenerSettings listener;

    // The mode given at construction; softwareMixer and writePrimary follow
    // from it (the Studio mixer has a mixing buffer of its own: 1 and 0).
    MixerMode mixerMode = MixerMode::Studio;
    // The Studio mixer; null in the other modes. The pointer is set at
    // construction, and again by initOutput when the device's callback is to
    // render it; then it does not change. With the mixer tick rendering, what
    // it points to needs the mutex (its effect switches excepted, which any
    // thread may set); with the callback, see StudioMixer.h.
    std::unique_ptr<StudioMixer> studio;
    StudioSettings studioSettings;
    // Who renders the Studio mixer: Auto, the device's callback on a
    // real-time output and the mixer tick on the offline one. Set before initOutput.
    enum class StudioRendering : uint8_t { Auto, MixerTick, DeviceCallback };
    StudioRendering studioRendering = StudioRendering::Auto;
    // With the callback rendering, the song is queued this far ahead of the
    // frame being rendered: the mixer tick that feeds it runs every 20 ms,
    // and may be late.
    static constexpr double kSongFeedAheadSeconds = 0.15;
    // The first frame the song may still be given: the next frame the mixer
    // tick writes, or with the callback rendering the feed's lead past the
    // one being rendered.
    uint64_t studioFeedFrame() const;
    // The Studio mixer's output straight into each device period.
    DirectRender studioDirect;
    // Queues the song's events for the Studio mixer; null when no song plays there.
    SongFeed songFeed = nullptr;

private:
    // The Custom and hardware mixers' audition: fills `voice` for `wave` of
    // `instrument` on the preview channel and starts it; the note id.
    int32_t startAudition(Voice& voice, Instrument& instrument, Wave* wave, int32_t key, int32_t velocity,
                          int32_t pitchOffset) REQUIRES(mutex);
    // A note as a Voice takes it: the Wave, the key, channel and velocity,
    // the semitones from the Zone's basic note, the bend in semitones, the
    // pan 0..127 and the audition id (0 for a song note).
    struct VoiceNote {
        Wave* wave;
        int32_t key;
        int32_t channel;
        int32_t velocity;
        int32_t pitchOffset;
        float bend;
        int32_t pan;
        int32_t noteId;
    };
    // Fills `voice` for `note` of `instrument` and starts it on the mode's
    // mixer: the one place a Voice takes a note, song notes and auditions alike.
    void startVoice(Voice& voice, const Instrument& instrument, const VoiceNote& note) REQUIRES(mutex);
    uint32_t takeSoundSerial() REQUIRES(mutex);
    void releaseBufferSlot(int32_t ref) REQUIRES(mutex);
};

// Holds the engine mutex for a scope (user-interface side).
using EngineLock = MutexLock;

}  // namespace tonvero
