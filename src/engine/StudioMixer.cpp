#include "engine/StudioMixer.h"

#include "bank/Bank.h"
#include "engine/Midi.h"
#include "engine/MixKernels.h"
#include "engine/Resampler.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <chrono>
#include <thread>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tonvero {

namespace {

// The Custom Mixer's fadings are steps of a 0..128 gain per 20 ms pass, and
// a note starts there at the gain its velocity gives a centred note
// (velocity / 2: 63.5 at 127), so a soft note falls silent sooner. Each
// voice's envelope here falls at the rate that gives the note the same life.
constexpr double kPassSeconds = 0.02;
// A taken or cut voice falls silent over this long.
constexpr double kDyingSeconds = 0.005;
// An unlooped sound's end ramps down over this long.
constexpr double kEndRampSeconds = 0.002;
constexpr double kVibratoHz = 5.0;
// The fastest a voice may step through its Wave: 2^20 samples per frame.
constexpr double kMaxRatio = 1048576.0;
constexpr float kTwoPi = 6.28318530717958648f;
// A voice falling away is over once the loudest it could still sound is
// below this output level: 2^-17 of full scale (-102 dBFS), a quarter of a
// 16-bit step, far under anything a listener hears beside the music.
constexpr float kSilentLevel = 1.0f / 131072.0f;
// How far the interpolation (Catmull-Rom or sinc) can overshoot the samples it reads.
constexpr float kCubicOvershoot = 1.25f;
// The output limiter holds peaks at -1 dBFS and lets go over about 100 ms.
constexpr float kLimiterThreshold = 0.8912509f;
constexpr double kLimiterReleaseSeconds = 0.1;

// The pool: the limit and room for voices ramping out beside it.
size_t poolSize(int32_t limit) { return static_cast<size_t>(limit + std::max(16, limit / 2)); }

// Flushes denormals to zero for the scope (the mixer's decaying gains would
// otherwise cost more time than their sound is worth).
class FlushDenormals {
public:
    FlushDenormals() {
#if defined(__SSE__)
        saved_ = _mm_getcsr();
        _mm_setcsr(saved_ | 0x8040);  // flush to zero, denormals are zero
#endif
    }
    ~FlushDenormals() {
#if defined(__SSE__)
        _mm_setcsr(saved_);
#endif
    }
    FlushDenormals(const FlushDenormals&) = delete;
    FlushDenormals& operator=(const FlushDenormals&) = delete;

private:
    unsigned saved_ = 0;
};

int16_t toSample(float value) {
    const float scaled = value * 32768.0f;
    if (scaled >= 32767.0f) return 32767;
    if (scaled <= -32768.0f) return -32768;
    return static_cast<int16_t>(std::lrint(scaled));
}

// Full-scale floats to 16-bit samples, rounded to nearest and saturating.
void toSamples(const float* in, int16_t* out, uint32_t count) {
    uint32_t k = 0;
#if defined(__SSE2__)
    const __m128 scale = _mm_set1_ps(32768.0f);
    for (; k + 8 <= count; k += 8) {
        const __m128i a = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(in + k), scale));
        const __m128i b = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(in + k + 4), scale));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm_packs_epi32(a, b));
    }
#endif
    for (; k < count; ++k) out[k] = toSample(in[k]);
}

}  // namespace

StudioMixer::StudioMixer(int32_t rate, const StudioSettings& settings, const Bank& bank, Caller caller)
    : rate_(rate > 0 ? rate : 44100),
      caller_(caller),
      settings_(settings),
      bank_(bank),
      masterGain_(static_cast<float>(
          std::pow(10.0, std::clamp(settings.gainDb, kMinStudioGainDb, kMaxStudioGainDb) / 20.0) / 32768.0)),
      dyingStep_(static_cast<float>(1.0 / (kDyingSeconds * rate_))),
      endRampFrames_(static_cast<float>(kEndRampSeconds * rate_)),
      lfoStep_(static_cast<float>(kVibratoHz / rate_)),
      voiceLimit_(std::clamp(settings.voices, kMinStudioVoices, kMaxStudioVoices)),
      voices_(poolSize(voiceLimit_)),
      active_(voices_.size()),
      queue_(kQueueCapacity),
      songQueue_(caller == Caller::DeviceCallback ? kQueueCapacity : 2),
      liveQueue_(kQueueCapacity),
      limiter_(kLimiterThreshold, kLimiterReleaseSeconds, rate_,
               caller == Caller::DeviceCallback ? 1 : PeakLimiter::kLookAhead),
      reverb_(rate_, settings.reverb),
      chorus_(rate_, settings.chorus),
      reverbOn_(settings.reverb.on),
      chorusOn_(settings.chorus.on) {
    prepareResampler();
    for (StudioChannel& c : channels_) c.resetAll();
    for (float& a : audible_) a = 1.0f;
}

bool StudioMixer::post(const StudioEvent& event) noexcept {
    if (queue_.push(event)) return true;
    droppedEvents_.fetch_add(1, std::memory_order_relaxed);
    return false;
}

bool StudioMixer::postSong(const StudioEvent& event) noexcept {
    if (!inCallback()) return post(event);
    if (songQueue_.push(event)) return true;
    droppedEvents_.fetch_add(1, std::memory_order_relaxed);
    return false;
}

bool StudioMixer::postLive(const StudioEvent& event) noexcept {
    if (liveQueue_.push(event)) return true;
    droppedEvents_.fetch_add(1, std::memory_order_relaxed);
    return false;
}

StudioMixer::Hold::Hold(StudioMixer& mixer) : mixer_(mixer) {
    if (!mixer_.inCallback()) return;
    for (;;) {
        uint32_t expected = 0;
        if (mixer_.gate_.compare_exchange_weak(expected, 2, std::memory_order_acquire)) return;
        // A render call is under way (or another holder): it ends within a period.
        std::this_thread::yield();
    }
}

StudioMixer::Hold::~Hold() {
    if (mixer_.inCallback()) mixer_.gate_.store(0, std::memory_order_release);
}

bool StudioMixer::lastCallback(uint64_t& frame, int64_t& nanos, uint32_t& frames) const {
    for (;;) {
        const uint32_t before = clockSeq_.load(std::memory_order_acquire);
        if (before == 0) return false;
        frame = clockFrame_.load(std::memory_order_acquire);
        nanos = clockNanos_.load(std::memory_order_acquire);
        frames = clockFrames_.load(std::memory_order_acquire);
        if ((before & 1) == 0 && clockSeq_.load(std::memory_order_acquire) == before) return true;
        std::this_thread::yield();
    }
}

void StudioMixer::renderInCallback(int16_t* stereo, uint32_t frames) noexcept {
    // When this period began, for live input stamped by the clock.
    const uint32_t seq = clockSeq_.load(std::memory_order_relaxed);
    clockSeq_.store(seq + 1, std::memory_order_release);
    clockFrame_.store(nextFrame(), std::memory_order_release);
    clockNanos_.store(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count(),
        std::memory_order_release);
    clockFrames_.store(frames, std::memory_order_release);
    clockSeq_.store(seq + 2, std::memory_order_release);
    uint32_t expected = 0;
    if (!gate_.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
        std::memset(stereo, 0, static_cast<size_t>(frames) * 4);
        heldPeriods_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    render(stereo, frames);
    gate_.store(0, std::memory_order_release);
}

void StudioMixer::fillView(View& view) const noexcept {
    for (int32_t c = 0; c < kPreviewChannel; ++c) {
        const StudioChannel& ch = channels_[static_cast<size_t>(c)];
        view.channels[static_cast<size_t>(c)] = {ch.program, ch.bankMsb, ch.bankLsb, ch.volume, ch.expression, ch.pan};
    }
    view.meters = meters_;
    view.waveCount = 0;
    for (size_t k = 0; k < activeCount_ && view.waveCount < kViewWaves; ++k)
        view.waves[view.waveCount++] = voices_[active_[k]].wave;
}

const StudioMixer::View& StudioMixer::view() {
    if (!inCallback()) {
        fillView(tickView_);
        return tickView_;
    }
    if (middleView_.load(std::memory_order_acquire) & 4)
        frontView_ = middleView_.exchange(frontView_, std::memory_order_acq_rel) & 3;
    return views_[frontView_];
}

StudioMixer::Counters StudioMixer::counters() const {
    Counters c;
    c.lateEvents = lateEvents_.load(std::memory_order_relaxed);
    c.droppedEvents = droppedEvents_.load(std::memory_order_relaxed);
    c.stolenVoices = stolenVoices_.load(std::memory_order_relaxed);
    return c;
}

void StudioMixer::setFloatTap(FloatTap tap, void* context) {
    tap_ = tap;
    tapContext_ = context;
}

int32_t StudioMixer::stemKey(StemMode mode, int32_t channel, int32_t program) {
    if (mode == StemMode::Channel) return std::clamp(channel, 0, kChannels - 1);
    return channel == Bank::kDrumChannel ? kDrumStem : std::clamp(program, 0, 127);
}

void StudioMixer::setStemTap(StemMode mode, StemTap tap, void* context) {
    Hold hold(*this);
    stemTap_ = nullptr;
    stems_.clear();
    stemList_.clear();
    stemOrder_.clear();
    stemParts_.clear();
    partCount_ = 0;
    if (!tap) {
        stems_.shrink_to_fit();
        stemParts_.shrink_to_fit();
        return;
    }
    stemMode_ = mode;
    const int32_t keys = mode == StemMode::Channel ? kChannels : kStemKeys;
    for (int32_t k = 0; k < keys; ++k) stems_.push_back(std::make_unique<Stem>(rate_, settings_));
    stemList_.reserve(static_cast<size_t>(keys));
    stemOrder_.reserve(static_cast<size_t>(keys));
    // A chunk's voices are each in one part at most.
    stemParts_.resize(voices_.size());
    stemTap_ = tap;
    stemContext_ = context;
}

StudioMixer::Stem& StudioMixer::feedStem(int32_t key) noexcept {
    Stem& stem = *stems_[static_cast<size_t>(key)];
    if (!stem.listed) {
        stem.listed = true;
        stemList_.push_back({key, stem.out});
        stemOrder_.push_back(key);
    }
    if (!stem.dryFed) {
        std::memset(stem.left, 0, sizeof stem.left);
        std::memset(stem.right, 0, sizeof stem.right);
        stem.dryFed = true;
    }
    return stem;
}

void StudioMixer::addToStemPart(const StudioVoice& v, int32_t group, const float* mono, float fromLeft, float fromRight,
                                float stepLeft, float stepRight, uint32_t produced) noexcept {
    const int32_t key = stemOf(v);
    StemPart* part = nullptr;
    for (uint32_t k = 0; k < partCount_ && !part; ++k)
        if (stemParts_[k].group == group && stemParts_[k].stem == key) part = &stemParts_[k];
    if (!part) {
        if (partCount_ == stemParts_.size()) return;  // never: one part a voice at most
        part = &stemParts_[partCount_++];
        part->group = group;
        part->stem = key;
        std::memset(part->left, 0, sizeof part->left);
        std::memset(part->right, 0, sizeof part->right);
    }
    addRampedStereo(mono, static_cast<int32_t>(produced), fromLeft, stepLeft, fromRight, stepRight, part->left,
                    part->right);
}

void StudioMixer::mixStemParts(uint32_t frames) noexcept {
    const float ramp = 1.0f / static_cast<float>(frames);
    for (uint32_t p = 0; p < partCount_; ++p) {
        const StemPart& part = stemParts_[p];
        const GroupRamp& r = groupRamps_[part.group];
        Stem& stem = feedStem(part.stem);
        float* left = stem.left + chunkOffset_;
        float* right = stem.right + chunkOffset_;
        (void)addPairWithPeak(part.left, part.right, static_cast<int32_t>(frames), left, right);
        if (r.reverbFrom > 0 || r.reverbTo > 0) {
            if (!stem.reverbFed) {
                std::memset(stem.reverbLeft, 0, sizeof stem.reverbLeft);
                std::memset(stem.reverbRight, 0, sizeof stem.reverbRight);
                stem.reverbFed = true;
            }
            const float step = (r.reverbTo - r.reverbFrom) * ramp;
            addPairRamped(part.left, part.right, static_cast<int32_t>(frames), r.reverbFrom, step,
                          stem.reverbLeft + chunkOffset_, stem.reverbRight + chunkOffset_);
        }
        if (r.chorusFrom > 0 || r.chorusTo > 0) {
            if (!stem.chorusFed) {
                std::memset(stem.chorusIn, 0, sizeof stem.chorusIn);
                stem.chorusFed = true;
            }
            const float step = (r.chorusTo - r.chorusFrom) * ramp * 0.70710678f;
            const float from = r.chorusFrom * 0.70710678f;
            addSumRamped(part.left, part.right, static_cast<int32_t>(frames), from, step, stem.chorusIn + chunkOffset_);
        }
    }
    partCount_ = 0;
}

void StudioMixer::stemReverbs(uint32_t frames) noexcept {
    for (const int32_t key : stemOrder_) {
        Stem& stem = *stems_[static_cast<size_t>(key)];
        if (!stem.dryFed) {
            std::memset(stem.left, 0, sizeof(float) * frames);
            std::memset(stem.right, 0, sizeof(float) * frames);
            stem.dryFed = true;
        }
        stem.reverb.follow(reverb_, stem.reverbFed ? stem.reverbLeft : nullptr,
                           stem.reverbFed ? stem.reverbRight : nullptr, stem.left, stem.right);
    }
}

void StudioMixer::stemChoruses(uint32_t frames) noexcept {
    for (const int32_t key : stemOrder_) {
        Stem& stem = *stems_[static_cast<size_t>(key)];
        stem.chorus.follow(chorus_);
        stem.chorus.process(stem.chorusFed ? stem.chorusIn : nullptr, stem.left, stem.right, frames);
    }
}

void StudioMixer::finishStems(uint32_t frames) noexcept {
    // Frame k goes out as the frame delay() before it, times the mix's gain
    // for frame k: what the limiter does to the mix.
    const uint32_t delay = limiter_.delay();
    for (const int32_t key : stemOrder_) {
        Stem& stem = *stems_[static_cast<size_t>(key)];
        for (uint32_t k = 0; k < frames; ++k) {
            const float g = limiterGains_[k];
            if (k < delay) {
                stem.out[2 * k] = stem.held[2 * k] * g;
                stem.out[2 * k + 1] = stem.held[2 * k + 1] * g;
            } else {
                stem.out[2 * k] = stem.left[k - delay] * g;
                stem.out[2 * k + 1] = stem.right[k - delay] * g;
            }
        }
        // The last `delay` frames of what came in, the held ones first.
        if (frames < delay) std::memmove(stem.held, stem.held + 2 * frames, sizeof(float) * 2 * (delay - frames));
        for (uint32_t k = frames < delay ? delay - frames : 0; k < delay; ++k) {
            const uint32_t from = k + frames - delay;
            stem.held[2 * k] = stem.left[from];
            stem.held[2 * k + 1] = stem.right[from];
        }
        stem.dryFed = false;
        stem.reverbFed = false;
        stem.chorusFed = false;
    }
    stemTap_(stemContext_, stereo_, frames, stemList_.data(), static_cast<uint32_t>(stemList_.size()));
}

bool StudioMixer::idle() const { return activeCount_ == 0 && queue_.empty() && reverb_.quiet() && chorus_.quiet(); }

bool StudioMixer::songIdle() const {
    if (!inCallback()) return idle();
    return songQueue_.empty() && !songSounding_.load(std::memory_order_acquire);
}

void StudioMixer::dropActive(size_t k) noexcept { active_[k] = active_[--activeCount_]; }

void StudioMixer::cutAll() {
    Hold hold(*this);
    for (StudioVoice& v : voices_) v = StudioVoice{};
    activeCount_ = 0;
    playingCount_ = 0;
    queue_.clear();
    songQueue_.clear();
    liveQueue_.clear();
    reverb_.clear();
    chorus_.clear();
    for (const std::unique_ptr<Stem>& stem : stems_) {
        stem->reverb.clear();
        stem->chorus.clear();
    }
    touchedBefore_ = 0;
    songSounding_.store(false, std::memory_order_release);
    for (View& v : views_) v.waveCount = 0;
}

void StudioMixer::cutSong() {
    Hold hold(*this);
    // What was asked before the cut happens first (an audition started just
    // before, a controller), so nothing it starts outlives the cut.
    applyDue(queue_, false, frame_);
    forEachActive([this](StudioVoice& v) {
        if (!v.live) cutToSilence(v);
    });
    songQueue_.clear();
    songSounding_.store(false, std::memory_order_release);
}

void StudioMixer::resetSongChannels() {
    Hold hold(*this);
    for (int32_t c = 0; c < kPreviewChannel; ++c) channels_[static_cast<size_t>(c)].resetAll();
}

void StudioMixer::cutWave(const Wave& wave) {
    Hold hold(*this);
    for (size_t k = 0; k < activeCount_;) {
        StudioVoice& v = voices_[active_[k]];
        if (v.wave != &wave) {
            ++k;
            continue;
        }
        if (v.state == StudioVoice::State::Playing) --playingCount_;
        v = StudioVoice{};
        dropActive(k);
    }
    queue_.forEach([&wave](StudioEvent& e) {
        if (e.kind == StudioEvent::Kind::PreviewOn && e.wave == &wave) e.wave = nullptr;
    });
    // The views name no Wave about to go.
    for (View& v : views_)
        for (uint32_t k = 0; k < v.waveCount; ++k)
            if (v.waves[k] == &wave) v.waves[k] = nullptr;
}

void StudioMixer::dropAuditionsOf(const Instrument& instrument) {
    Hold hold(*this);
    queue_.forEach([&instrument](StudioEvent& e) {
        if (e.kind == StudioEvent::Kind::PreviewKey && e.instrument == &instrument) e.instrument = nullptr;
    });
}

// ---- events ----

void StudioMixer::applyDueEvents() noexcept {
    applyDue(queue_, false, frame_);
    if (inCallback() && !chunkFrozen_) applyDue(songQueue_, false, frame_ - songLag_);
    applyDue(liveQueue_, true, frame_);
}

void StudioMixer::applyDue(EventQueue<StudioEvent>& queue, bool live, uint64_t now) noexcept {
    applyingLive_ = live;
    while (const StudioEvent* e = queue.front()) {
        if (!e->immediate) {
            if (e->frame > now) break;
            // A live event is stamped with the frame it should have had;
            // when that has gone by, it sounds now, and only the song's are late.
            if (e->frame < now && !live) lateEvents_.fetch_add(1, std::memory_order_relaxed);
        }
        apply(*e);
        queue.pop();
    }
    applyingLive_ = false;
}

namespace {

// The frames until `queue`'s next event applies, at most `limit`.
uint32_t untilNext(const EventQueue<StudioEvent>& queue, uint64_t frame, uint32_t limit) {
    const StudioEvent* next = queue.front();
    if (!next || next->immediate || next->frame <= frame) return limit;
    return static_cast<uint32_t>(std::min<uint64_t>(limit, next->frame - frame));
}

}  // namespace

void StudioMixer::apply(const StudioEvent& e) noexcept {
    switch (e.kind) {
    case StudioEvent::Kind::Midi:
        if (e.channel < kChannels) channelMessage(e);
        break;
    case StudioEvent::Kind::SystemReset:
        forEachActive([this](StudioVoice& v) {
            if (v.channel < kPreviewChannel) cutToSilence(v);
        });
        resetSongChannels();
        break;
    case StudioEvent::Kind::PreviewOn:
        if (e.wave && e.channel < kChannels)
            startVoice(e.channel, std::clamp<int32_t>(e.data1, 0, 127), kPreviewVelocity, *e.wave, e.data1, e.fadings,
                       e.noteId, nextNoteSerial_++, e.zone ? e.zone->articulation.get() : nullptr);
        break;
    case StudioEvent::Kind::PreviewKey:
        if (e.instrument && e.channel < kChannels) startNote(e.instrument, e.channel, e.data1, e.data2, e.noteId);
        break;
    case StudioEvent::Kind::RestoreChannels:
        forEachActive([this, &e](StudioVoice& v) {
            if (v.channel >= kPreviewChannel || v.live) return;
            if (e.data1 == StudioEvent::kCutNotes) {
                cutToSilence(v);
            } else if (v.state == StudioVoice::State::Playing) {
                v.released = true;
                v.sostenutoHeld = false;
            }
        });
        if (e.restore) {
            for (int32_t c = 0; c < kPreviewChannel; ++c) {
                StudioChannel& ch = channels_[static_cast<size_t>(c)];
                const uint32_t serial = ch.pitchSerial;
                ch = e.restore[c];
                ch.pitchSerial = serial + 1;  // every voice of the channel takes the pitch anew
            }
        }
        break;
    case StudioEvent::Kind::PreviewOff:
        if (e.noteId < 1) break;
        forEachActive([&e](StudioVoice& v) {
            if (v.state == StudioVoice::State::Playing && v.noteId == e.noteId) v.released = true;
        });
        break;
    }
}

void StudioMixer::channelMessage(const StudioEvent& e) noexcept {
    StudioChannel& ch = channels_[e.channel];
    switch (e.type) {
    case midi::kNoteOff: noteOff(e.channel, e.data1); break;
    case midi::kNoteOn:
        if (e.data2 == 0)
            noteOff(e.channel, e.data1);
        else
            noteOn(e.channel, e.data1, e.data2);
        break;
    case midi::kControlChange: controller(e.channel, e.data1, e.data2); break;
    case midi::kProgramChange: ch.program = e.data1; break;
    case midi::kChannelPressure: ch.setPressure(e.data1); break;
    case midi::kPitchBend: ch.setBend((e.data2 << 7) | e.data1); break;
    default: break;  // key pressure changes nothing
    }
}

void StudioMixer::controller(int32_t channel, int32_t number, int32_t value) noexcept {
    StudioChannel& ch = channels_[static_cast<size_t>(channel)];
    const StudioChannel::VoiceAction action = ch.controller(number, value);
    if (action == StudioChannel::VoiceAction::None) return;
    forEachActive([&](StudioVoice& v) {
        if (v.state != StudioVoice::State::Playing || v.channel != channel) return;
        switch (action) {
        case StudioChannel::VoiceAction::None: break;
        case StudioChannel::VoiceAction::SostenutoDown:
            if (!v.released) v.sostenutoHeld = true;
            break;
        case StudioChannel::VoiceAction::PedalsChanged:
            if (!ch.sostenuto) v.sostenutoHeld = false;
            break;
        case StudioChannel::VoiceAction::AllSoundOff: cutToSilence(v); break;
        case StudioChannel::VoiceAction::AllNotesOff: v.released = true; break;
        }
    });
}

void StudioMixer::noteOn(int32_t channel, int32_t key, int32_t velocity) noexcept {
    const StudioChannel& ch = channels_[static_cast<size_t>(channel)];
    // The drum channel plays the kit its program chooses.
    const Instrument* instrument =
        channel == Bank::kDrumChannel ? bank_.kitForProgram(ch.program) : bank_.instrumentForProgram(ch.program);
    startNote(instrument, channel, key, velocity, 0);
}

void StudioMixer::startNote(const Instrument* instrument, int32_t channel, int32_t key, int32_t velocity,
                            int32_t noteId) noexcept {
    const Zone* layers[kMaxLayers];
    const int32_t count = Bank::findLayers(instrument, key, std::min(velocity, 127), layers, kMaxLayers);
    if (count == 0) return;
    const uint32_t fadings[3] = {instrument->loopFading, instrument->sustainFading, instrument->cutoffFading};
    const uint64_t serial = nextNoteSerial_++;
    for (int32_t k = 0; k < count; ++k)
        if (layers[k]->wave)
            startVoice(channel, key, velocity, *layers[k]->wave, layers[k]->basicNote, fadings, noteId, serial,
                       layers[k]->articulation.get());
}

void StudioMixer::noteOff(int32_t channel, int32_t key) noexcept {
    // The oldest held note of this key: all of its voices are released.
    uint64_t serial = 0;
    forEachActive([&](const StudioVoice& v) {
        // A live note-off ends a live note, the song's one of the song's.
        if (v.state == StudioVoice::State::Playing && !v.released && v.noteId == 0 && v.channel == channel &&
            v.key == key && v.live == applyingLive_ && (serial == 0 || v.noteSerial < serial))
            serial = v.noteSerial;
    });
    if (serial == 0) return;
    forEachActive([serial](StudioVoice& v) {
        if (v.state == StudioVoice::State::Playing && v.noteSerial == serial) v.released = true;
    });
}

float StudioMixer::fadePerFrame(uint32_t fading, int32_t velocity) const {
    const double startGain = std::clamp(velocity, 1, 128) / 2.0;
    return static_cast<float>(fading / 65536.0 / startGain / (kPassSeconds * rate_));
}

void StudioMixer::startVoice(int32_t channel, int32_t key, int32_t velocity, const Wave& wave, int32_t basicNote,
                             const uint32_t fadings[3], int32_t noteId, uint64_t noteSerial,
                             const ZoneArticulation* articulation) noexcept {
    const int64_t count = std::min<int64_t>(wave.sampleCount, static_cast<int64_t>(wave.samples.size()));
    if (count <= 0) return;
    StudioVoice* slot = takeVoice();
    if (!slot) return;
    StudioVoice& v = *slot;
    // A slot that was ramping out is in the active list already.
    if (v.state == StudioVoice::State::Free) active_[activeCount_++] = static_cast<uint16_t>(slot - voices_.data());
    v = StudioVoice{};
    v.state = StudioVoice::State::Playing;
    v.live = applyingLive_;
    ++playingCount_;
    v.channel = static_cast<uint8_t>(channel);
    v.program = static_cast<uint8_t>(std::clamp(channels_[static_cast<size_t>(channel)].program, 0, 127));
    v.sendKey = static_cast<uint32_t>(channel);
    if (articulation)
        v.sendKey |= static_cast<uint32_t>(std::clamp(articulation->reverbSend, 0, 1000)) << 5 |
                     static_cast<uint32_t>(std::clamp(articulation->chorusSend, 0, 1000)) << 15;
    v.key = static_cast<uint8_t>(std::clamp(key, 0, 127));
    v.noteId = noteId;
    v.noteSerial = noteSerial;
    v.startFrame = frame_;

    v.wave = &wave;
    v.samples = wave.samples.data();
    v.sampleCount = count;
    v.peak = static_cast<float>(wave.samples.peak()) * kCubicOvershoot;
    v.loopBegin = wave.loopBegin;
    v.loopEnd = std::min<int64_t>(wave.loopEnd, count - 1);
    v.looped = wave.looped && v.loopBegin >= 0 && v.loopBegin <= v.loopEnd;
    v.holdPos = wave.holdPos;
    prepareLoopEdge(v);

    v.baseRatio = static_cast<double>(wave.frequency) / rate_;
    // A basic note from a damaged bank may lie anywhere in 32 bits.
    v.keyOffset = static_cast<float>(std::clamp<int64_t>(int64_t{key} - basicNote, -1000, 1000));
    v.velocityGain = midiLevel(std::min(velocity, 127)) * masterGain_;
    v.loopFade = fadePerFrame(fadings[0], velocity);
    v.sustainFade = fadePerFrame(fadings[1], velocity);
    v.cutoffFade = fadePerFrame(fadings[2], velocity);

    const StudioChannel& ch = channels_[static_cast<size_t>(channel)];
    float level = v.velocityGain * ch.gain * audible_[channel] * endFade(v);
    float left = ch.panLeft, right = ch.panRight;
    if (articulation) {
        shapeVoice(v, *articulation, key, velocity, basicNote);
        // A new note cuts the others of its exclusive class on the channel
        // (a closed hi-hat the open one), with the short ramp of a taken voice.
        if (v.shape.exclusiveClass != 0)
            forEachActive([this, &v](StudioVoice& other) {
                if (&other != &v && other.state == StudioVoice::State::Playing && other.articulated &&
                    other.channel == v.channel && other.shape.exclusiveClass == v.shape.exclusiveClass &&
                    other.noteSerial != v.noteSerial)
                    cutToSilence(other);
            });
        // An attack starts from silence.
        level *= v.shape.volumeEnvelope.amplitude() * v.shape.attenuation;
        panGains(v, ch, left, right);
    } else {
        updateStep(v, ch, 0);
    }
    // The note starts at its level on its own frame.
    v.gainLeft = level * left;
    v.gainRight = level * right;
}

void StudioMixer::shapeVoice(StudioVoice& v, const ZoneArticulation& a, int32_t key, int32_t velocity,
                             int32_t basicNote) noexcept {
    v.articulated = true;
    VoiceShape& s = v.shape;
    s = VoiceShape{};
    s.volumeEnvelope = VoiceEnvelope(a.volumeEnvelope, key, rate_, true);
    s.modulationEnvelope = VoiceEnvelope(a.modulationEnvelope, key, rate_, false);
    s.modulationLfo = VoiceLfo(a.modulationLfo, rate_);
    s.vibratoLfo = VoiceLfo(a.vibratoLfo, rate_);
    s.pitchCents = static_cast<double>(std::clamp<int64_t>(int64_t{key} - basicNote, -1000, 1000)) *
                       std::clamp(a.scaleTuning, 0, 1200) +
                   std::clamp(a.coarseTune, -120, 120) * 100.0 + std::clamp(a.fineTune, -99, 99);
    v.keyOffset = 0;  // the shape's pitch says it all
    // Soft notes move the cutoff, as a SoundFont's standard link from
    // velocity does: in proportion to 127 - velocity, from velocity 64 on.
    const int32_t velocityShift =
        velocity >= 64 ? std::clamp(a.velocityToFilter, -12000, 12000) * (127 - std::min(velocity, 127)) / 127 : 0;
    s.cutoffCents = std::clamp(a.filterCutoff, 1500, kOpenFilterCents) + velocityShift;
    s.resonanceCentibels = std::clamp(a.filterResonance, 0, 960);
    // The resonance can lift the samples by as much as its peak.
    v.peak *= static_cast<float>(std::pow(10.0, s.resonanceCentibels / 200.0));
    s.modulationEnvelopeToPitch = std::clamp(a.modulationEnvelopeToPitch, -12000, 12000);
    s.modulationEnvelopeToFilter = std::clamp(a.modulationEnvelopeToFilter, -12000, 12000);
    s.modulationLfoToPitch = std::clamp(a.modulationLfo.toPitch, -12000, 12000);
    s.modulationLfoToFilter = std::clamp(a.modulationLfo.toFilter, -12000, 12000);
    s.modulationLfoToVolume = std::clamp(a.modulationLfo.toVolume, -960, 960);
    s.vibratoLfoToPitch = std::clamp(a.vibratoLfo.toPitch, -12000, 12000);
    s.modulationToVibrato = std::clamp(a.modulationToVibrato, -12000, 12000);
    s.pressureToVibrato = std::clamp(a.pressureToVibrato, -12000, 12000);
    s.attenuation = static_cast<float>(centibelsToGain(std::clamp(a.attenuation, 0, 1440)));
    s.pan = static_cast<float>(std::clamp(a.pan, -500, 500)) / 1000.0f;
    s.exclusiveClass = std::clamp(a.exclusiveClass, 0, 127);
    s.tailOnRelease = a.tailOnRelease;
    s.modulatesFilter = s.modulationEnvelopeToFilter != 0 || s.modulationLfoToFilter != 0;
    s.usesModulationEnvelope = s.modulationEnvelopeToPitch != 0 || s.modulationEnvelopeToFilter != 0;
    s.usesModulationLfo = s.modulationLfoToPitch != 0 || s.modulationLfoToFilter != 0 || s.modulationLfoToVolume != 0;
    s.usesVibratoLfo = s.vibratoLfoToPitch != 0 || s.modulationToVibrato != 0 || s.pressureToVibrato != 0;
    s.modulatesPitch = s.modulationEnvelopeToPitch != 0 || s.modulationLfoToPitch != 0 || s.vibratoLfoToPitch != 0;
    s.filter.set(absoluteCentsToHz(s.cutoffCents), s.resonanceCentibels / 10.0, rate_);
    s.filterCents = static_cast<float>(s.cutoffCents);
}

void StudioMixer::panGains(StudioVoice& v, const StudioChannel& ch, float& left, float& right) noexcept {
    VoiceShape& s = v.shape;
    if (s.panFor != ch.pan) {
        // The channel's pan moves the Zone's own across the same range.
        const float channel = static_cast<float>(std::clamp(ch.pan - 1, 0, 126)) / 126.0f;
        const float position = std::clamp(channel + s.pan, 0.0f, 1.0f);
        s.panLeft = std::cos(position * kTwoPi / 4);
        s.panRight = std::sin(position * kTwoPi / 4);
        s.panFor = ch.pan;
    }
    left = s.panLeft;
    right = s.panRight;
}

StudioVoice* StudioMixer::takeVoice() noexcept {
    if (playingCount_ >= voiceLimit_) {
        // The quietest released voice, else the quietest held one, ramps out.
        StudioVoice* victim = nullptr;
        forEachActive([&victim](StudioVoice& v) {
            if (v.state != StudioVoice::State::Playing) return;
            if (!victim || (v.released && !victim->released) ||
                (v.released == victim->released && v.level() < victim->level()))
                victim = &v;
        });
        if (victim) {
            cutToSilence(*victim);
            stolenVoices_.fetch_add(1, std::memory_order_relaxed);
        }
    }
    if (activeCount_ < voices_.size())
        for (StudioVoice& v : voices_)
            if (v.state == StudioVoice::State::Free) return &v;
    StudioVoice* quietestDying = nullptr;
    forEachActive([&quietestDying](StudioVoice& v) {
        if (v.state == StudioVoice::State::Dying &&
            (!quietestDying || v.dying * v.level() < quietestDying->dying * quietestDying->level()))
            quietestDying = &v;
    });
    // Every slot is ramping out: the quietest of them ends now.
    return quietestDying;
}

void StudioMixer::cutToSilence(StudioVoice& v) noexcept {
    if (v.state == StudioVoice::State::Playing) --playingCount_;
    if (v.state != StudioVoice::State::Free) v.state = StudioVoice::State::Dying;
}

// ---- rendering ----

void StudioMixer::render(int16_t* stereo, uint32_t frames) noexcept {
    FlushDenormals flush;
    while (frames > 0) {
        const uint32_t block = std::min(frames, kBlockFrames);
        std::memset(left_, 0, sizeof(float) * block);
        std::memset(right_, 0, sizeof(float) * block);
        reverbFed_ = false;
        chorusFed_ = false;
        uint32_t done = 0;
        while (done < block) {
            const uint32_t silent = silentChannels_.load(std::memory_order_relaxed);
            for (int32_t c = 0; c < kPreviewChannel; ++c) audible_[c] = (silent >> c) & 1 ? 0.0f : 1.0f;
            chunkFrozen_ = inCallback() && songFrozen_.load(std::memory_order_relaxed);
            applyDueEvents();
            uint32_t count = std::min(block - done, kChunkFrames);
            // A chunk ends where the next event applies.
            count = untilNext(queue_, frame_, count);
            if (inCallback() && !chunkFrozen_) count = untilNext(songQueue_, frame_ - songLag_, count);
            count = untilNext(liveQueue_, frame_, count);
            renderChunk(done, count);
            done += count;
            frame_ += count;
            if (chunkFrozen_) songLag_ += count;
        }
        reverb_.process(reverbFed_ ? reverbLeft_ : nullptr, reverbFed_ ? reverbRight_ : nullptr, left_, right_, block);
        if (stemTap_) {
            stemReverbs(block);
            stemChoruses(block);
        }
        chorus_.process(chorusFed_ ? chorusIn_ : nullptr, left_, right_, block);
        for (uint32_t k = 0; k < block; ++k) {
            stereo_[2 * k] = left_[k];
            stereo_[2 * k + 1] = right_[k];
        }
        publishMeters();
        limiter_.process(stereo_, block, stemTap_ ? limiterGains_ : nullptr);
        if (tap_) tap_(tapContext_, stereo_, block);
        if (stemTap_) finishStems(block);
        toSamples(stereo_, stereo, 2 * block);
        stereo += 2 * block;
        frames -= block;
    }
    publishedFrame_.store(frame_, std::memory_order_release);
    publishedSongFrame_.store(frame_ - songLag_, std::memory_order_release);
    if (inCallback()) {
        bool song = false;
        forEachActive([&song](const StudioVoice& v) { song = song || (!v.live && v.channel < kPreviewChannel); });
        songSounding_.store(song, std::memory_order_release);
        fillView(views_[backView_]);
        backView_ = middleView_.exchange(backView_ | 4, std::memory_order_acq_rel) & 3;
    }
}

void StudioMixer::renderChunk(uint32_t offset, uint32_t frames) noexcept {
    chunkOffset_ = offset;
    // Voices whose filter runs are kept back and filtered kFilterBatch at a
    // time, side by side (the filter's feedback leaves one voice's filter
    // waiting on itself; several together keep the processor busy).
    uint32_t batched = 0;
    for (size_t k = 0; k < activeCount_; ++k) {
        StudioVoice& v = voices_[active_[k]];
        if (chunkFrozen_ && !v.live && v.channel < kPreviewChannel) {
            v.finished = false;  // a paused song's voice waits where it is
            continue;
        }
        if (!v.articulated) {
            v.finished = !renderVoice(v, frames);
            continue;
        }
        ShapedChunk& chunk = batch_[batched];
        if (!prepareShapedChunk(v, frames, batchMono_[batched], chunk)) {
            finishShapedChunk(chunk);
        } else if (++batched == kFilterBatch) {
            filterBatch(batched, frames);
            batched = 0;
        }
    }
    if (batched > 0) filterBatch(batched, frames);
    mixGroups(frames);
    for (size_t k = 0; k < activeCount_;) {
        StudioVoice& v = voices_[active_[k]];
        if (!v.finished) {
            ++k;
            continue;
        }
        if (v.state == StudioVoice::State::Playing) --playingCount_;
        v.state = StudioVoice::State::Free;
        dropActive(k);
    }
}

float StudioMixer::endFade(const StudioVoice& v) const noexcept {
    if (v.looped || v.step == 0) return 1.0f;
    const uint64_t end = static_cast<uint64_t>(v.sampleCount) << 32;
    if (v.position >= end) return 0.0f;
    const double remaining = static_cast<double>(end - v.position) / static_cast<double>(v.step);
    return remaining >= endRampFrames_ ? 1.0f : static_cast<float>(remaining / endRampFrames_);
}

void StudioMixer::updateStep(StudioVoice& v, const StudioChannel& ch, uint32_t frames) noexcept {
    float vibrato = 0;
    if (ch.vibratoCents > 0) {
        vibrato =
            ch.vibratoCents * 0.01f * std::sin(kTwoPi * (v.lfoPhase + 0.5f * lfoStep_ * static_cast<float>(frames)));
        v.lfoPhase += lfoStep_ * static_cast<float>(frames);
        v.lfoPhase -= std::floor(v.lfoPhase);
    } else if (v.pitchSerial == ch.pitchSerial && v.step != 0) {
        return;  // nothing has moved the pitch since the last chunk
    }
    v.pitchSerial = ch.pitchSerial;
    const double semitones = static_cast<double>(v.keyOffset) + ch.pitch + vibrato;
    const double ratio = std::min(v.baseRatio * std::exp2(semitones / 12.0), kMaxRatio);
    v.step = static_cast<uint64_t>(ratio * 4294967296.0);
    // With vibrato off again the next chunk recomputes the plain pitch.
    if (vibrato != 0) v.pitchSerial = ch.pitchSerial - 1;
}

bool StudioMixer::renderVoice(StudioVoice& v, uint32_t frames) noexcept {
    const StudioChannel& ch = channels_[v.channel];
    const bool dying = v.state == StudioVoice::State::Dying;

    // This chunk's fade, chosen as the Custom Mixer chooses it for a pass.
    float fade = 0;
    if (!dying) {
        if (v.released) {
            if (static_cast<int64_t>(v.position >> 32) >= v.holdPos) {
                if (ch.sustain || v.sostenutoHeld)
                    fade = v.sustainFade;
                else if (v.cutoffFade > 0)
                    fade = v.cutoffFade;
                else
                    v.looped = false;  // the loop ends; the rest of the Wave plays out
            }
        } else if (v.looped) {
            fade = v.loopFade;
        }
    }
    v.envelope = std::max(0.0f, v.envelope - fade * static_cast<float>(frames));
    if (dying) v.dying = std::max(0.0f, v.dying - dyingStep_ * static_cast<float>(frames));

    updateStep(v, ch, frames);
    const uint32_t produced = resampleVoice(v, settings_.interpolation, mono_, frames);

    const float level =
        v.velocityGain * ch.gain * audible_[v.channel] * v.envelope * v.dying * (produced < frames ? 0.0f : endFade(v));
    addWithGains(v, mono_, level * ch.panLeft, level * ch.panRight, produced);
    // A voice only muted by its channel keeps its place and goes on.
    return produced == frames && v.envelope > 0.0f && v.dying > 0.0f && v.velocityGain > 0.0f;
}

bool StudioMixer::prepareShapedChunk(StudioVoice& v, uint32_t frames, float* mono, ShapedChunk& chunk) noexcept {
    const StudioChannel& ch = channels_[v.channel];
    VoiceShape& s = v.shape;
    if (v.state == StudioVoice::State::Dying)
        v.dying = std::max(0.0f, v.dying - dyingStep_ * static_cast<float>(frames));

    // Let go once the key is up and no pedal holds it; a Wave that plays its
    // tail on release leaves its loop then.
    if (!s.releasing && v.released && !ch.sustain && !v.sostenutoHeld) {
        s.releasing = true;
        s.volumeEnvelope.release();
        s.modulationEnvelope.release();
        if (s.tailOnRelease) v.looped = false;
    }
    // An envelope or LFO that reaches nothing is not stepped: its value
    // would only be multiplied by zero.
    s.volumeEnvelope.advance(frames);
    const float modulation = s.usesModulationEnvelope ? s.modulationEnvelope.advance(frames) : 0.0f;
    const float modulationLfo = s.usesModulationLfo ? s.modulationLfo.advance(frames) : 0.0f;
    const float vibratoLfo = s.usesVibratoLfo ? s.vibratoLfo.advance(frames) : 0.0f;

    // Pitch: the note's own, the channel's bend and tuning, and what the
    // envelope and the LFOs (the vibrato LFO also from the modulation wheel
    // and pressure) add.
    const float vibratoDepth =
        static_cast<float>(s.vibratoLfoToPitch) +
        static_cast<float>(s.modulationToVibrato * ch.modulation + s.pressureToVibrato * ch.pressure) / 127.0f;
    if (s.modulatesPitch || vibratoDepth != 0 || v.pitchSerial != ch.pitchSerial || v.step == 0) {
        const double cents = s.pitchCents + ch.pitch * 100.0 +
                             modulation * static_cast<float>(s.modulationEnvelopeToPitch) +
                             modulationLfo * static_cast<float>(s.modulationLfoToPitch) + vibratoLfo * vibratoDepth;
        // The whole octaves exactly, the rest in single precision (well under a hundredth of a cent).
        const double octaves = std::floor(cents / 1200.0);
        const double ratio = std::min(
            v.baseRatio * std::ldexp(static_cast<double>(std::exp2(static_cast<float>(cents / 1200.0 - octaves))),
                                     static_cast<int>(std::clamp(octaves, -60.0, 60.0))),
            kMaxRatio);
        v.step = static_cast<uint64_t>(ratio * 4294967296.0);
        v.pitchSerial = ch.pitchSerial;
    }
    chunk.voice = &v;
    chunk.mono = mono;
    chunk.produced = resampleVoice(v, settings_.interpolation, mono, frames);

    float level = v.velocityGain * ch.gain * audible_[v.channel] * s.attenuation * s.volumeEnvelope.amplitude() *
                  v.dying * (chunk.produced < frames ? 0.0f : endFade(v));
    // Centibels of the LFO's swing, as a power of two (10^(-cB / 200)).
    if (s.modulationLfoToVolume != 0)
        level *= std::exp2(-modulationLfo * static_cast<float>(s.modulationLfoToVolume) * 0.0166096405f);
    chunk.level = level;
    // A voice falling away ends once the loudest of its samples, through the
    // interpolation and the filter's resonance, would be below kSilentLevel.
    const bool fallenSilent = (s.releasing || v.state == StudioVoice::State::Dying) && level * v.peak < kSilentLevel;
    chunk.ended = chunk.produced < frames || s.volumeEnvelope.stage() == VoiceEnvelope::Stage::Finished ||
                  v.dying <= 0.0f || v.velocityGain <= 0.0f || fallenSilent;

    // The filter, unless it is open and stays so.
    if (!s.modulatesFilter && s.cutoffCents >= kOpenFilterCents && s.resonanceCentibels <= 0) return false;
    if (s.modulatesFilter) {
        const float cutoff = static_cast<float>(s.cutoffCents) +
                             modulation * static_cast<float>(s.modulationEnvelopeToFilter) +
                             modulationLfo * static_cast<float>(s.modulationLfoToFilter);
        // Once an envelope has settled the cutoff stands still: nothing to recompute.
        if (std::abs(cutoff - s.filterCents) > 0.1f) {
            s.filterCents = cutoff;
            s.filter.setCutoff(8.17579891564f * std::exp2(cutoff * (1.0f / 1200.0f)));
        }
    }
    return true;
}

void StudioMixer::finishShapedChunk(const ShapedChunk& chunk) noexcept {
    StudioVoice& v = *chunk.voice;
    float panLeft = 0, panRight = 0;
    panGains(v, channels_[v.channel], panLeft, panRight);
    addWithGains(v, chunk.mono, chunk.level * panLeft, chunk.level * panRight, chunk.produced);
    v.finished = chunk.ended;
}

void StudioMixer::filterBatch(uint32_t count, uint32_t frames) noexcept {
    // Whole chunks together; one that ended early (its Wave ran out) alone.
    LowPassFilter* filters[kFilterBatch] = {};
    float* buffers[kFilterBatch] = {};
    uint32_t together = 0;
    for (uint32_t k = 0; k < count; ++k) {
        ShapedChunk& chunk = batch_[k];
        if (chunk.produced == frames) {
            filters[together] = &chunk.voice->shape.filter;
            buffers[together++] = chunk.mono;
        } else {
            chunk.voice->shape.filter.process(chunk.mono, chunk.produced);
        }
    }
    for (uint32_t spare = 0; together % 4 != 0 && together < kFilterBatch; ++spare) {
        filters[together] = &spareFilters_[spare];
        buffers[together++] = spareMono_[spare];
    }
    LowPassFilter::processBatch(filters, buffers, frames, together);
    for (uint32_t k = 0; k < count; ++k) finishShapedChunk(batch_[k]);
}

void StudioMixer::addWithGains(StudioVoice& v, const float* mono, float targetLeft, float targetRight,
                               uint32_t produced) noexcept {
    // A straight ramp from where the last chunk left the gains; a Wave that
    // ends inside the chunk reaches 0 on its last frame.
    if (produced > 0) {
        float* left = nullptr;
        float* right = nullptr;
        if (!groupBuffers(v, left, right)) {
            addAlone(v, mono, targetLeft, targetRight, produced);
            return;
        }
        const float ramp = 1.0f / static_cast<float>(produced);
        const float stepLeft = (targetLeft - v.gainLeft) * ramp;
        const float stepRight = (targetRight - v.gainRight) * ramp;
        const float fromLeft = v.gainLeft;
        const float fromRight = v.gainRight;
        addRampedStereo(mono, static_cast<int32_t>(produced), fromLeft, stepLeft, fromRight, stepRight, left, right);
        if (stemTap_) addToStemPart(v, v.sendGroup, mono, fromLeft, fromRight, stepLeft, stepRight, produced);
    }
    v.gainLeft = targetLeft;
    v.gainRight = targetRight;
}

void StudioMixer::sendGains(uint32_t key, float& reverb, float& chorus) const noexcept {
    // The channel's controller (127: 1) and the Zone's own send (200 of its
    // tenths of a per cent: 1) together, at most 5 (the Zone's scale's 1000).
    const StudioChannel& ch = channels_[key & 31];
    reverb = reverbOn_.load(std::memory_order_relaxed)
                 ? std::min(5.0f, static_cast<float>(ch.reverbSend) * (1.0f / 127.0f) +
                                      static_cast<float>((key >> 5) & 1023) * (1.0f / 200.0f))
                 : 0.0f;
    chorus = chorusOn_.load(std::memory_order_relaxed)
                 ? std::min(5.0f, static_cast<float>(ch.chorusSend) * (1.0f / 127.0f) +
                                      static_cast<float>((key >> 15) & 1023) * (1.0f / 200.0f))
                 : 0.0f;
}

bool StudioMixer::groupBuffers(StudioVoice& v, float*& left, float*& right) noexcept {
    const uint64_t live = touched_ | touchedBefore_;
    int32_t g = v.sendGroup;
    if (g < 0 || groups_[g].key != v.sendKey || !((live >> g) & 1)) {
        // A group summing this key now or in the last chunk, else a group
        // neither used: it starts afresh.
        g = -1;
        int32_t unused = -1;
        for (int32_t k = 0; k < kSendGroups; ++k) {
            if ((live >> k) & 1) {
                if (groups_[k].key == v.sendKey) {
                    g = k;
                    break;
                }
            } else if (unused < 0) {
                unused = k;
            }
        }
        if (g < 0) g = unused;
        if (g < 0) return false;
        groups_[g].key = v.sendKey;
        v.sendGroup = static_cast<int16_t>(g);
    }
    const uint64_t bit = uint64_t{1} << g;
    left = groupLeft_[g];
    right = groupRight_[g];
    if (!(touched_ & bit)) {
        touched_ |= bit;
        std::memset(left, 0, sizeof groupLeft_[0]);
        std::memset(right, 0, sizeof groupRight_[0]);
    }
    return true;
}

void StudioMixer::feedReverb() noexcept {
    if (reverbFed_) return;
    std::memset(reverbLeft_, 0, sizeof reverbLeft_);
    std::memset(reverbRight_, 0, sizeof reverbRight_);
    reverbFed_ = true;
}

float* StudioMixer::chorusSend() noexcept {
    if (!chorusFed_) {
        std::memset(chorusIn_, 0, sizeof chorusIn_);
        chorusFed_ = true;
    }
    return chorusIn_ + chunkOffset_;
}

namespace {

// `produced` frames of `mono` under the gains ramp from `gainLeft` and
// `gainRight` by their steps a frame, added to the dry pair and, where given
// (not null), to the reverb pair at `reverb` and the chorus at `chorus`.
inline void addUnderRamp(const float* mono, uint32_t produced, float gainLeft, float stepLeft, float gainRight,
                         float stepRight, float* left, float* right, float reverb, float* reverbLeft,
                         float* reverbRight, float chorus, float* chorusIn) noexcept {
    for (uint32_t k = 0; k < produced; ++k) {
        const float n = static_cast<float>(k + 1);
        const float l = mono[k] * (gainLeft + stepLeft * n);
        const float r = mono[k] * (gainRight + stepRight * n);
        left[k] += l;
        right[k] += r;
        if (reverbLeft) {
            reverbLeft[k] += reverb * l;
            reverbRight[k] += reverb * r;
        }
        if (chorusIn) chorusIn[k] += chorus * 0.70710678f * (l + r);
    }
}

}  // namespace

void StudioMixer::addAlone(StudioVoice& v, const float* mono, float targetLeft, float targetRight,
                           uint32_t produced) noexcept {
    // Every group is taken (more keys sound at once than there are groups):
    // the voice goes straight into the mix and the sends, at their present gains.
    float reverb = 0, chorus = 0;
    sendGains(v.sendKey, reverb, chorus);
    float* left = left_ + chunkOffset_;
    float* right = right_ + chunkOffset_;
    if (reverb > 0) feedReverb();
    float* reverbLeft = reverb > 0 ? reverbLeft_ + chunkOffset_ : nullptr;
    float* reverbRight = reverbRight_ + chunkOffset_;
    float* chorusIn = chorus > 0 ? chorusSend() : nullptr;
    const float ramp = 1.0f / static_cast<float>(produced);
    const float stepLeft = (targetLeft - v.gainLeft) * ramp;
    const float stepRight = (targetRight - v.gainRight) * ramp;
    addUnderRamp(mono, produced, v.gainLeft, stepLeft, v.gainRight, stepRight, left, right, reverb, reverbLeft,
                 reverbRight, chorus, chorusIn);
    if (stemTap_) {
        // The same into the voice's stem.
        Stem& stem = feedStem(stemOf(v));
        float* stemLeft = stem.left + chunkOffset_;
        float* stemRight = stem.right + chunkOffset_;
        if (reverb > 0 && !stem.reverbFed) {
            std::memset(stem.reverbLeft, 0, sizeof stem.reverbLeft);
            std::memset(stem.reverbRight, 0, sizeof stem.reverbRight);
            stem.reverbFed = true;
        }
        if (chorus > 0 && !stem.chorusFed) {
            std::memset(stem.chorusIn, 0, sizeof stem.chorusIn);
            stem.chorusFed = true;
        }
        float* stemReverbLeft = stem.reverbLeft + chunkOffset_;
        float* stemReverbRight = stem.reverbRight + chunkOffset_;
        float* stemChorus = stem.chorusIn + chunkOffset_;
        addUnderRamp(mono, produced, v.gainLeft, stepLeft, v.gainRight, stepRight, stemLeft, stemRight, reverb,
                     reverb > 0 ? stemReverbLeft : nullptr, stemReverbRight, chorus, chorus > 0 ? stemChorus : nullptr);
    }
    v.gainLeft = targetLeft;
    v.gainRight = targetRight;
}

void StudioMixer::publishMeters() noexcept {
    for (ChannelMeter& m : meters_) m = ChannelMeter{};
    forEachActive([this](const StudioVoice& v) {
        if (v.state == StudioVoice::State::Playing && v.channel < kPreviewChannel)
            meters_[v.channel].keys[v.key >> 6] |= uint64_t{1} << (v.key & 63);
    });
    for (int32_t c = 0; c < kPreviewChannel; ++c) {
        meters_[static_cast<size_t>(c)].level = std::min(1.0f, peaks_[c]);
        peaks_[c] = 0;
    }
    peaks_[kPreviewChannel] = 0;
}

void StudioMixer::mixGroups(uint32_t frames) noexcept {
    float* left = left_ + chunkOffset_;
    float* right = right_ + chunkOffset_;
    const float ramp = 1.0f / static_cast<float>(frames);
    for (uint64_t pending = touched_; pending != 0; pending &= pending - 1) {
        const int32_t g = std::countr_zero(pending);
        const uint64_t bit = uint64_t{1} << g;
        SendGroup& group = groups_[g];
        const float* gl = groupLeft_[g];
        const float* gr = groupRight_[g];
        const float peak = addPairWithPeak(gl, gr, static_cast<int32_t>(frames), left, right);
        float& channelPeak = peaks_[group.key & 31];
        channelPeak = std::max(channelPeak, peak);
        // A group that has just begun to sound takes its sends as they are;
        // one that goes on ramps to them over the chunk.
        float reverbTo = 0, chorusTo = 0;
        sendGains(group.key, reverbTo, chorusTo);
        const bool goesOn = (touchedBefore_ & bit) != 0;
        const float reverbFrom = goesOn ? group.reverb : reverbTo;
        const float chorusFrom = goesOn ? group.chorus : chorusTo;
        group.reverb = reverbTo;
        group.chorus = chorusTo;
        if (stemTap_) groupRamps_[g] = {reverbFrom, reverbTo, chorusFrom, chorusTo};
        if (reverbFrom > 0 || reverbTo > 0) {
            const float step = (reverbTo - reverbFrom) * ramp;
            feedReverb();
            addPairRamped(gl, gr, static_cast<int32_t>(frames), reverbFrom, step, reverbLeft_ + chunkOffset_,
                          reverbRight_ + chunkOffset_);
        }
        if (chorusFrom > 0 || chorusTo > 0) {
            // Both sides into one send, a centred voice at its own level.
            const float step = (chorusTo - chorusFrom) * ramp * 0.70710678f;
            const float from = chorusFrom * 0.70710678f;
            addSumRamped(gl, gr, static_cast<int32_t>(frames), from, step, chorusSend());
        }
    }
    if (stemTap_) mixStemParts(frames);
    touchedBefore_ = touched_;
    touched_ = 0;
}

}  // namespace tonvero
