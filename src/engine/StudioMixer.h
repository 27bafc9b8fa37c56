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
// turned from steps per 20 ms pass into the same fades per second. For
// offline rendering, taps hand out the float mix and, beside it, stems: the
// same sound parted by channel or by program (setStemTap).
//
// Threads. Producers (the engine's operations and the song's sequencer)
// call post() and postSong(); live input calls postLive(); the renderer
// calls render(). Who the renderer is depends on the caller chosen at
// construction:
//  - MixerTick: the engine's mixer tick, with the engine mutex held, writing
//    the looping buffer ahead of the speaker. Every other operation is for a
//    moment when render() is not running, which the mutex ensures.
//  - DeviceCallback: the audio device's own callback, one period at a time,
//    holding no lock. The operations that change the renderer's state
//    outside render() (cutAll, cutSong, resetSongChannels, cutWave,
//    dropAuditionsOf) then hold it for the moment they need: a period whose
//    callback comes meanwhile is written as silence, never waited for. The
//    song's events come in a queue of their own, fed ahead of the renderer,
//    so a command posted later (an audition, a live note) is not held behind
//    them; the output limiter looks no frames ahead, so what is rendered is
//    heard on the frame it was stamped with. Readers take view(), which the
//    renderer publishes after every call.
// render(), post(), postSong() and postLive() allocate nothing, lock nothing
// and never wait.

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
#include <memory>
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

    // Stems, for offline rendering: beside the mix, every voice is summed
    // into the stem of its channel (0..16), or of the program its channel
    // had when it started (0..127; the drum channel's voices, whatever their
    // kit, into kDrumStem). Each stem has reverb and chorus of its own, fed
    // as the mix's are and kept in step with them, and the output limiter's
    // gain, computed from the mix, over the same delay: all of it linear, so
    // the stems add up to the mix within float rounding.
    enum class StemMode : uint8_t { Channel, Program };
    static constexpr int32_t kDrumStem = 128;
    static constexpr int32_t kStemKeys = 129;  // keys 0..128
    struct StemBlock {
        int32_t key = 0;
        const float* stereo = nullptr;  // the block's frames, interleaved, as the mix's
    };
    // Told every block right after the float tap, with the same mix frames:
    // the stems that have sounded so far, in the order they first did (a
    // stem keeps its index; one that comes in later was silent before).
    using StemTap = void (*)(void* context, const float* mixFrames, uint32_t frames, const StemBlock* stems,
                             uint32_t count);

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
    enum class Caller : uint8_t { MixerTick, DeviceCallback };
    StudioMixer(int32_t rate, const StudioSettings& settings, const Bank& bank, Caller caller = Caller::MixerTick);
    StudioMixer(const StudioMixer&) = delete;
    StudioMixer& operator=(const StudioMixer&) = delete;

    // --- producers ---
    // Queues `event`; false, and counted, when the queue is full.
    bool post(const StudioEvent& event) noexcept;
    // Queues one of the song's events: in the song's own queue when the
    // device's callback renders, else as post() does.
    bool postSong(const StudioEvent& event) noexcept;
    // Queues an event played live (one producer thread at a time: the MIDI
    // input's, or the renderer's own for the device's MIDI input). Its notes
    // are live notes, which the song's stops, seeks and loop turns leave alone.
    bool postLive(const StudioEvent& event) noexcept;

    // --- the renderer ---
    // Writes `frames` interleaved 16-bit stereo frames, applying every queued
    // event on its frame. Real-time safe.
    void render(int16_t* stereo, uint32_t frames) noexcept;
    // The device's callback: render(), unless another thread holds the
    // renderer's state, in which case the period is silence (and counted).
    void renderInCallback(int16_t* stereo, uint32_t frames) noexcept;
    // The frame the next render() starts with, in the count that events are
    // stamped with: frames rendered so far. Any thread.
    uint64_t nextFrame() const { return publishedFrame_.load(std::memory_order_acquire); }
    // What comes out lags that count by the output limiter's look-ahead:
    // an event stamped with frame f is heard at output frame f + this (0
    // when the device's callback renders).
    uint32_t outputDelay() const { return limiter_.delay(); }
    Caller caller() const { return caller_; }
    // The song's frame count: nextFrame() less the frames it stood paused
    // (setSongPaused), the count its events are stamped in. Any thread.
    uint64_t nextSongFrame() const { return publishedSongFrame_.load(std::memory_order_acquire); }
    // DeviceCallback: the song's voices wait where they are, silent, and its
    // events with them, until let go; live notes and the effects play on. Any thread.
    void setSongPaused(bool paused) { songFrozen_.store(paused, std::memory_order_relaxed); }
    bool inCallback() const { return caller_ == Caller::DeviceCallback; }

    // Keeps render() out while it lives (DeviceCallback; nothing to do for
    // MixerTick, where the engine mutex does it). Waits at most for the
    // render call under way.
    class Hold {
    public:
        explicit Hold(StudioMixer& mixer);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        StudioMixer& mixer_;
    };

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
    // Everything but live notes ramped to silence (the song's voices and the
    // auditions), the operations queued before applied first and the song's
    // queued events dropped; live notes sound on.
    void cutSong();
    // The 16 MIDI channels to their power-on values (voices keep sounding).
    void resetSongChannels();
    // Cuts every voice of `wave` and drops the audition notes queued for it,
    // so the Wave can be destroyed.
    void cutWave(const Wave& wave);
    // Drops the auditions of `instrument` still queued (its Waves are cut with cutWave).
    void dropAuditionsOf(const Instrument& instrument);
    void setFloatTap(FloatTap tap, void* context);
    // Starts the stems afresh (null `tap`: none, and their memory goes).
    // Allocates the stems' buffers and effects for every key of `mode`. Set
    // while the mixer is idle (its effects quiet), for the stems to hold
    // every part of what the mix then holds. Leaves the mix as it is.
    void setStemTap(StemMode mode, StemTap tap, void* context);
    // The stem a voice on `channel` started with `program` goes to.
    static int32_t stemKey(StemMode mode, int32_t channel, int32_t program);

    // No voice sounds, no event waits and the effects have died away.
    bool idle() const;
    // The song's part has ended: none of its events waits and none of its
    // voices sounds (live notes and the effects' tails aside when the
    // device's callback renders, as the output plays on). Any thread.
    bool songIdle() const;

    // What the status and channel views show, as of the last render.
    static constexpr uint32_t kViewWaves = 256;
    struct View {
        struct Channel {
            int32_t program = 0;
            int32_t bankMsb = 0;
            int32_t bankLsb = 0;
            int32_t volume = 100;
            int32_t expression = 127;
            int32_t pan = 64;
        };
        std::array<Channel, kPreviewChannel> channels{};
        std::array<ChannelMeter, kPreviewChannel> meters{};
        uint32_t waveCount = 0;  // the sounding voices' Waves (taken voices ramping out too), the first kViewWaves
        std::array<const Wave*, kViewWaves> waves{};
    };
    // One reader thread at a time (the engine mutex's holder).
    const View& view();
    // When the last callback began (steady clock, ns), the frame it began
    // with and its length; false before the first. Any thread.
    bool lastCallback(uint64_t& frame, int64_t& nanos, uint32_t& frames) const;
    // Periods written as silence because another thread held the state.
    uint64_t heldPeriods() const { return heldPeriods_.load(std::memory_order_relaxed); }
    // Voices counting against the limit (not those ramping out).
    int32_t playingVoices() const { return playingCount_; }
    template <class F>
    void forEachSoundingVoice(F&& visit) const {
        for (size_t k = 0; k < activeCount_; ++k) visit(voices_[active_[k]]);
    }
    Counters counters() const;
    const StudioChannel& channel(int32_t index) const { return channels_[static_cast<size_t>(index)]; }
    // Channel 0..15's meter as the last block left it (MixerTick).
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
    const Caller caller_;
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
    EventQueue<StudioEvent> songQueue_;  // DeviceCallback: the song's events
    EventQueue<StudioEvent> liveQueue_;
    // Applies the due events of `queue` (stopping at the first not due); its
    // notes are live ones when `live`.
    void applyDue(EventQueue<StudioEvent>& queue, bool live, uint64_t now) noexcept;
    // DeviceCallback: the song's events are stamped in song frames, which
    // stand still while it is paused: the renderer's count less songLag_.
    uint64_t songLag_ = 0;
    bool chunkFrozen_ = false;  // the song is paused for the chunk being rendered
    std::atomic<bool> songFrozen_{false};
    std::atomic<uint64_t> publishedSongFrame_{0};
    bool applyingLive_ = false;
    uint64_t frame_ = 0;
    std::atomic<uint64_t> publishedFrame_{0};
    // 0 free, 1 render() runs in the callback, 2 held by another thread.
    std::atomic<uint32_t> gate_{0};
    std::atomic<uint64_t> heldPeriods_{0};
    // lastCallback(): written by the callback under an odd sequence number.
    std::atomic<uint32_t> clockSeq_{0};
    std::atomic<uint64_t> clockFrame_{0};
    std::atomic<int64_t> clockNanos_{0};
    std::atomic<uint32_t> clockFrames_{0};
    std::atomic<bool> songSounding_{false};
    void fillView(View& view) const noexcept;
    // The views: the renderer writes back_, publishes it into middle_; the
    // reader takes middle_ when it is fresh (bit 4) and reads front_.
    std::array<View, 3> views_{};
    uint32_t backView_ = 0;
    uint32_t frontView_ = 1;
    std::atomic<uint32_t> middleView_{2};
    View tickView_;  // MixerTick: filled on demand
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

    // A stem: its block's dry sum and sends, its effects, and the frames the
    // limiter's delay holds back.
    struct Stem {
        Stem(int32_t rate, const StudioSettings& settings)
            : reverb(rate, settings.reverb), chorus(rate, settings.chorus) {}
        Reverb reverb;
        Chorus chorus;
        bool listed = false;  // has sounded: in stemList_
        bool dryFed = false;  // this block's buffers are valid (cleared when first fed)
        bool reverbFed = false;
        bool chorusFed = false;
        alignas(64) float left[kBlockFrames];
        alignas(64) float right[kBlockFrames];
        alignas(64) float reverbLeft[kBlockFrames];
        alignas(64) float reverbRight[kBlockFrames];
        alignas(64) float chorusIn[kBlockFrames];
        float held[2 * PeakLimiter::kLookAhead] = {};  // the last delay() frames before the limiter, interleaved
        alignas(64) float out[2 * kBlockFrames];       // the block handed out
    };
    // Voices of one send group and one stem, summed for the chunk: the
    // group's send ramp is known once every voice is in.
    struct StemPart {
        int32_t group = 0;
        int32_t stem = 0;
        alignas(64) float left[kChunkFrames];
        alignas(64) float right[kChunkFrames];
    };
    // The send ramps of the groups mixed in the chunk.
    struct GroupRamp {
        float reverbFrom = 0, reverbTo = 0, chorusFrom = 0, chorusTo = 0;
    };
    StemMode stemMode_ = StemMode::Channel;
    StemTap stemTap_ = nullptr;
    void* stemContext_ = nullptr;
    std::vector<std::unique_ptr<Stem>> stems_;  // by key
    std::vector<StemBlock> stemList_;           // the stems that have sounded, in that order
    std::vector<int32_t> stemOrder_;            // their keys, in the same order
    std::vector<StemPart> stemParts_;           // room for one a voice
    uint32_t partCount_ = 0;
    float limiterGains_[kBlockFrames];
    int32_t stemOf(const StudioVoice& voice) const noexcept { return stemKey(stemMode_, voice.channel, voice.program); }
    // The stem, listed, its dry buffers valid for the block.
    Stem& feedStem(int32_t key) noexcept;
    // Adds `produced` frames of `mono` under the gains ramp to the stem part of group `group`.
    void addToStemPart(const StudioVoice& voice, int32_t group, const float* mono, float fromLeft, float fromRight,
                       float stepLeft, float stepRight, uint32_t produced) noexcept;
    // The chunk's stem parts into their stems' dry sums and sends, under their groups' ramps.
    void mixStemParts(uint32_t frames) noexcept;
    // The block's stems through their effects (around the mix's chorus, so as to follow it).
    void stemReverbs(uint32_t frames) noexcept;
    void stemChoruses(uint32_t frames) noexcept;
    // The stems through the limiter's delay and gains, and out to the tap.
    void finishStems(uint32_t frames) noexcept;

    std::atomic<uint64_t> lateEvents_{0};
    std::atomic<uint64_t> droppedEvents_{0};
    std::atomic<uint64_t> stolenVoices_{0};

    static constexpr uint32_t kFilterBatch = 16;
    ShapedChunk batch_[kFilterBatch];
    alignas(64) float batchMono_[kFilterBatch][kChunkFrames];
    // Filters and chunks that only fill a batch's last vector: each filter
    // lane gives the same bits as filtering alone, so a short batch runs
    // side by side too, its spare lanes on these.
    static constexpr uint32_t kSpareLanes = 3;
    LowPassFilter spareFilters_[kSpareLanes];
    alignas(64) float spareMono_[kSpareLanes][kChunkFrames] = {};
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
    GroupRamp groupRamps_[kSendGroups];  // with stems: this chunk's
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
