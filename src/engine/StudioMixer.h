#pragma once
// The Studio mixer's renderer: 17 channels (16 MIDI channels and the preview
// channel), a pool of voices, and a queue of events stamped with the output
// frame at which each applies. render() writes N frames from that state and
// nothing else, so it does not care who calls it: today the engine's mixer
// tick, to fill the looping mixing buffer.
//
// What it does beside the Custom Mixer: every event on its own frame;
// resampling that keeps the position's fraction (nearest, linear, cubic or
// sinc); velocity, volume and expression as 40 log10(v / 127) dB;
// constant-power pan that follows the channel during a note; vibrato from
// modulation and channel pressure; bend range and tuning through registered
// parameters; sustain, sostenuto and the channel mode messages; the General
// MIDI, GS and XG resets; a voice limit set at construction, with taken and
// cut voices ramped to silence; float mixing, the voices of a channel summed
// by their Zones' sends and sent from there to a reverb and a chorus (the
// channel's controllers 91 and 93 with the Zone's own sends added), one
// master gain, a look-ahead limiter that holds peaks at -1 dBFS, and 16-bit
// output that saturates. The Instrument's three fadings keep their meaning,
// turned from steps per 20 ms pass into the same fades per second.
//
// Threads. Producers (the engine's operations and the song's sequencer)
// call post(); the renderer calls render(). Every other operation is for a
// moment when render() is not running: the engine calls it, and render(),
// with the engine mutex held. render() and post() allocate nothing, lock
// nothing and never wait.

#include "engine/Chorus.h"
#include "engine/EventQueue.h"
#include "engine/MixerMode.h"
#include "engine/PeakLimiter.h"
#include "engine/Reverb.h"
#include "engine/StudioChannel.h"
#include "engine/StudioEvent.h"
#include "engine/StudioVoice.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

namespace tonvero {

class Bank;
struct Instrument;
struct Wave;
struct ZoneArticulation;

class StudioMixer {
public:
    static constexpr int32_t kChannels = 17;
    static constexpr int32_t kPreviewChannel = 16;
    static constexpr uint32_t kQueueCapacity = 8192;
    // Gains and pitch are set for chunks of at most this many frames (and
    // ramp linearly inside each), so no change clicks.
    static constexpr uint32_t kChunkFrames = 64;
    // Frames mixed at a time into the float accumulator.
    static constexpr uint32_t kBlockFrames = 1024;
    // Audition notes, as in the Custom Mixer: full level, and the life of its loudest note.
    static constexpr int32_t kPreviewVelocity = 128;
    // The most Zones one note sounds (velocity layers and stereo sides).
    static constexpr int32_t kMaxLayers = 16;

    // Told every block of the float mix (interleaved stereo, full scale 1.0,
    // before saturation), in the order it is written. Renderer's thread.
    using FloatTap = void (*)(void* context, const float* stereoFrames, uint32_t frames);

    // What a song channel does, as of the last block rendered.
    struct ChannelMeter {
        float level = 0;            // the channel's peak in the block, full scale 1.0
        uint64_t keys[2] = {0, 0};  // bit k of keys[k / 64]: a voice of key k sounds
    };

    struct Counters {
        uint64_t lateEvents = 0;     // events whose frame had been written when they arrived
        uint64_t droppedEvents = 0;  // events refused because the queue was full
        uint64_t stolenVoices = 0;   // sounding voices taken for a new note
    };

    // `rate` in Hz; `bank` is read at each note-on (the engine's own bank).
    StudioMixer(int32_t rate, const StudioSettings& settings, const Bank& bank);
    StudioMixer(const StudioMixer&) = delete;
    StudioMixer& operator=(const StudioMixer&) = delete;

    // --- producers ---
    // Queues `event`; false, and counted, when the queue is full.
    bool post(const StudioEvent& event) noexcept;

    // --- the renderer ---
    // Writes `frames` interleaved 16-bit stereo frames, applying every queued
    // event on its frame. Real-time safe.
    void render(int16_t* stereo, uint32_t frames) noexcept;
    // The frame the next render() starts with, in the count that events are
    // stamped with: frames rendered so far.
    uint64_t nextFrame() const { return frame_; }
    // What comes out lags that count by the output limiter's look-ahead:
    // an event stamped with frame f is heard at output frame f + this.
    static constexpr uint32_t kOutputDelay = PeakLimiter::kDelay;

    // --- any thread ---
    // Turns the reverb's or the chorus's send on or off from the next block
    // on; what is already in the effect dies away as it would.
    void setReverbOn(bool on) { reverbOn_.store(on, std::memory_order_relaxed); }
    void setChorusOn(bool on) { chorusOn_.store(on, std::memory_order_relaxed); }
    bool reverbOn() const { return reverbOn_.load(std::memory_order_relaxed); }
    bool chorusOn() const { return chorusOn_.load(std::memory_order_relaxed); }
    // The song channels (bit c: channel c) that are silent (muted, or not
    // soloed while another is): their voices play on at no level, so they
    // sound again at once when let through. From the next chunk on.
    void setSilentChannels(uint16_t mask) { silentChannels_.store(mask, std::memory_order_relaxed); }

    // --- while render() is not running ---
    // Every voice and both effects silent at once and every queued event dropped.
    void cutAll();
    // The 16 MIDI channels to their power-on values (voices keep sounding).
    void resetSongChannels();
    // Cuts every voice of `wave` and drops the audition notes queued for it,
    // so the Wave can be destroyed.
    void cutWave(const Wave& wave);
    // Drops the auditions of `instrument` still queued (its Waves are cut with cutWave).
    void dropAuditionsOf(const Instrument& instrument);
    void setFloatTap(FloatTap tap, void* context);

    // No voice sounds, no event waits and the effects have died away.
    bool idle() const;
    // Voices counting against the limit (not those ramping out).
    int32_t playingVoices() const { return playingCount_; }
    template <class F>
    void forEachSoundingVoice(F&& visit) const {
        for (size_t k = 0; k < activeCount_; ++k) visit(voices_[active_[k]]);
    }
    Counters counters() const;
    const StudioChannel& channel(int32_t index) const { return channels_[static_cast<size_t>(index)]; }
    // Channel 0..15's meter as the last block left it.
    const ChannelMeter& meter(int32_t index) const { return meters_[static_cast<size_t>(index)]; }
    const StudioSettings& settings() const { return settings_; }
    int32_t rate() const { return rate_; }

private:
    void applyDueEvents() noexcept;
    void apply(const StudioEvent& event) noexcept;
    void channelMessage(const StudioEvent& event) noexcept;
    void controller(int32_t channel, int32_t number, int32_t value) noexcept;
    void noteOn(int32_t channel, int32_t key, int32_t velocity) noexcept;
    // Starts a voice for every layer of `instrument` that the note sounds.
    void startNote(const Instrument* instrument, int32_t channel, int32_t key, int32_t velocity,
                   int32_t noteId) noexcept;
    void noteOff(int32_t channel, int32_t key) noexcept;
    // Starts one voice of note `noteSerial`; with `articulation` (may be null) shaping it.
    void startVoice(int32_t channel, int32_t key, int32_t velocity, const Wave& wave, int32_t basicNote,
                    const uint32_t fadings[3], int32_t noteId, uint64_t noteSerial,
                    const ZoneArticulation* articulation) noexcept;
    // Takes the Zone's articulation into the voice, in the renderer's units.
    void shapeVoice(StudioVoice& voice, const ZoneArticulation& articulation, int32_t key, int32_t velocity,
                    int32_t basicNote) noexcept;
    // The constant-power gains of a shaped voice: its Zone's pan moved by the channel's.
    void panGains(StudioVoice& voice, const StudioChannel& channel, float& left, float& right) noexcept;
    StudioVoice* takeVoice() noexcept;
    void cutToSilence(StudioVoice& voice) noexcept;
    // Mixes the chunk of `frames` frames at `offset` in the block.
    void renderChunk(uint32_t offset, uint32_t frames) noexcept;
    // Adds the chunk's groups to the mix and to the effects' sends.
    void mixGroups(uint32_t frames) noexcept;
    // The send gains of the voices of `key` now.
    void sendGains(uint32_t key, float& reverb, float& chorus) const noexcept;
    // The buffers of the group summing `voice`'s key in this chunk; false when every group is taken.
    bool groupBuffers(StudioVoice& voice, float*& left, float*& right) noexcept;
    // Adds a voice with no group straight into the mix and the sends.
    void addAlone(StudioVoice& voice, const float* mono, float targetLeft, float targetRight,
                  uint32_t produced) noexcept;
    // The reverb's send (both sides) is cleared for the block the first time
    // it is fed; the chorus's likewise, and its part for the chunk returned.
    void feedReverb() noexcept;
    float* chorusSend() noexcept;
    // Adds one chunk of `voice`; false once it has finished.
    bool renderVoice(StudioVoice& voice, uint32_t frames) noexcept;
    // A chunk of a shaped voice between its two halves: resampled into
    // `mono`, waiting for its filter, then mixed in.
    struct ShapedChunk {
        StudioVoice* voice = nullptr;
        float* mono = nullptr;
        uint32_t produced = 0;
        float level = 0;     // at the chunk's end, before pan
        bool ended = false;  // the voice finishes with this chunk
    };
    // Steps a shaped voice's envelopes, LFOs and pitch and resamples its
    // chunk into `mono`; true when its filter must run over it.
    bool prepareShapedChunk(StudioVoice& voice, uint32_t frames, float* mono, ShapedChunk& chunk) noexcept;
    // Mixes a prepared (and filtered) chunk in.
    void finishShapedChunk(const ShapedChunk& chunk) noexcept;
    // Filters batch_[0..count) (chunks of `frames` frames) together, then mixes them in.
    void filterBatch(uint32_t count, uint32_t frames) noexcept;
    // Adds `produced` frames of `mono` to both sides of the voice's channel,
    // the gains ramping from the voice's last ones to these.
    void addWithGains(StudioVoice& voice, const float* mono, float targetLeft, float targetRight,
                      uint32_t produced) noexcept;
    void updateStep(StudioVoice& voice, const StudioChannel& channel, uint32_t frames) noexcept;
    float endFade(const StudioVoice& voice) const noexcept;
    // An Instrument fading (16.16 per 20 ms pass) as the envelope's fall per
    // frame for a note of `velocity`.
    float fadePerFrame(uint32_t fading, int32_t velocity) const;

    const int32_t rate_;
    const StudioSettings settings_;
    const Bank& bank_;
    const float masterGain_;     // the master gain as an amplitude, over 32768 (sample units to full scale)
    const float dyingStep_;      // per frame: a taken voice falls silent in kDyingSeconds
    const float endRampFrames_;  // an unlooped sound's last frames ramp to silence over this many
    const float lfoStep_;        // vibrato cycles per frame

    template <class F>
    void forEachActive(F&& visit) noexcept {
        for (size_t k = 0; k < activeCount_; ++k) visit(voices_[active_[k]]);
    }
    // Removes active_[k] (its voice has become Free): the last one takes its place.
    void dropActive(size_t k) noexcept;

    const int32_t voiceLimit_;         // voices that may play at once
    std::vector<StudioVoice> voices_;  // the pool, made once: the limit plus room for voices ramping out
    // The voices that are not Free, by index: the first activeCount_ entries.
    std::vector<uint16_t> active_;
    size_t activeCount_ = 0;
    int32_t playingCount_ = 0;
    uint64_t nextNoteSerial_ = 1;
    std::array<StudioChannel, kChannels> channels_;
    EventQueue<StudioEvent> queue_;
    uint64_t frame_ = 0;
    PeakLimiter limiter_;

    Reverb reverb_;
    Chorus chorus_;
    std::atomic<bool> reverbOn_;
    std::atomic<bool> chorusOn_;
    std::atomic<uint32_t> silentChannels_{0};
    // Per channel: 1, or 0 while silent (taken from silentChannels_ each chunk).
    float audible_[kChannels];
    // Each channel's peak so far in the block, and the meters published at its end.
    float peaks_[kChannels] = {};
    std::array<ChannelMeter, kPreviewChannel> meters_{};
    void publishMeters() noexcept;

    FloatTap tap_ = nullptr;
    void* tapContext_ = nullptr;

    std::atomic<uint64_t> lateEvents_{0};
    std::atomic<uint64_t> droppedEvents_{0};
    std::atomic<uint64_t> stolenVoices_{0};

    static constexpr uint32_t kFilterBatch = 16;
    ShapedChunk batch_[kFilterBatch];
    alignas(64) float batchMono_[kFilterBatch][kChunkFrames];
    alignas(64) float mono_[kChunkFrames];
    alignas(64) float left_[kBlockFrames];  // the block being mixed, one side each
    alignas(64) float right_[kBlockFrames];
    // Voices of one channel and the same Zone sends, summed for the chunk
    // being mixed: the groups with their bit in touched_ have been written
    // this chunk, those in touchedBefore_ the last one (their send gains then
    // ramp on from where they were).
    static constexpr int32_t kSendGroups = 64;
    struct SendGroup {
        uint32_t key = 0;  // StudioVoice::sendKey
        float reverb = 0;  // send gains as the last chunk ended
        float chorus = 0;
    };
    SendGroup groups_[kSendGroups];
    alignas(64) float groupLeft_[kSendGroups][kChunkFrames];
    alignas(64) float groupRight_[kSendGroups][kChunkFrames];
    uint64_t touched_ = 0;
    uint64_t touchedBefore_ = 0;
    uint32_t chunkOffset_ = 0;  // of the chunk being mixed, in the block
    // The block's sends: the reverb's in stereo, the chorus's in mono; valid
    // when fed (a channel with its send up sounded in the block).
    alignas(64) float reverbLeft_[kBlockFrames];
    alignas(64) float reverbRight_[kBlockFrames];
    alignas(64) float chorusIn_[kBlockFrames];
    bool reverbFed_ = false;
    bool chorusFed_ = false;
    alignas(64) float stereo_[2 * kBlockFrames];  // the mixed block, interleaved
};

}  // namespace tonvero
