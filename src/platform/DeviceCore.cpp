#include "platform/DeviceCore.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace tonvero {

namespace {

// Frames mixed per pass through the buffers; bounds the scratch sums.
constexpr uint32_t kChunkFrames = 1024;

struct Frame {
    int32_t left;
    int32_t right;
};

Frame readFrame(const uint8_t* data, uint32_t index, const WaveFormat& format) {
    const uint8_t* p = data + static_cast<size_t>(index) * format.blockAlign;
    int32_t left;
    int32_t right;
    if (format.bitsPerSample == 16) {
        int16_t s[2] = {0, 0};
        std::memcpy(s, p, format.channels * sizeof(int16_t));
        left = s[0];
        right = format.channels == 2 ? s[1] : s[0];
    } else {  // 8-bit samples are unsigned, 128 the centre
        left = (static_cast<int32_t>(p[0]) - 128) * 256;
        right = format.channels == 2 ? (static_cast<int32_t>(p[1]) - 128) * 256 : left;
    }
    return {left, right};
}

}  // namespace

// Adds one playing buffer to `acc` (interleaved stereo sums) for `frames`
// output frames at `rate`, advancing its cursor; stops a buffer played once
// when it reaches its end. Resampling interpolates linearly between frames;
// at the output's own rate every frame is copied as it is.
void DeviceCore::mixBuffer(State& s, int32_t* acc, uint32_t frames, uint32_t rate) {
    if (s.frames == 0 || rate == 0) return;
    const uint8_t* data = s.data->data();
    const uint64_t end = static_cast<uint64_t>(s.frames) << 16;
    const uint64_t step = std::max<uint64_t>(1, (static_cast<uint64_t>(s.frequency) << 16) / rate);
    const bool unity = s.leftGain == 1.0f && s.rightGain == 1.0f;
    const bool silent = s.leftGain == 0.0f && s.rightGain == 0.0f;
    uint64_t pos = s.position % end;

    // A 16-bit stereo buffer at the output's rate and full level (the
    // mixers' own looping buffer) adds its frames as they are, run by run.
    if (!silent && unity && step == 0x10000 && (pos & 0xFFFF) == 0 && s.format.bitsPerSample == 16 &&
        s.format.channels == 2 && s.format.blockAlign == 4) {
        for (uint32_t i = 0; i < frames;) {
            const uint32_t index = static_cast<uint32_t>(pos >> 16);
            const uint32_t run = static_cast<uint32_t>(std::min<uint64_t>(frames - i, s.frames - index));
            const uint8_t* from = data + static_cast<size_t>(index) * 4;
            for (uint32_t k = 0; k < run; ++k) {
                int16_t frame[2];
                std::memcpy(frame, from + static_cast<size_t>(k) * 4, sizeof frame);
                acc[2 * (i + k)] += frame[0];
                acc[2 * (i + k) + 1] += frame[1];
            }
            i += run;
            pos += static_cast<uint64_t>(run) << 16;
            if (pos >= end) {
                if (!s.looping) {
                    s.playing = false;
                    s.position = 0;
                    return;
                }
                pos %= end;
            }
        }
        s.position = pos;
        return;
    }

    for (uint32_t i = 0; i < frames; ++i) {
        if (!silent) {
            const uint32_t index = static_cast<uint32_t>(pos >> 16);
            const uint32_t fraction = static_cast<uint32_t>(pos & 0xFFFF);
            const Frame a = readFrame(data, index, s.format);
            if (fraction == 0 && unity) {
                acc[2 * i] += a.left;
                acc[2 * i + 1] += a.right;
            } else {
                float left = static_cast<float>(a.left);
                float right = static_cast<float>(a.right);
                if (fraction != 0) {
                    // The frame after the last is the first when looping; a
                    // buffer played once holds its last frame.
                    const uint32_t nextIndex = index + 1 < s.frames ? index + 1 : (s.looping ? 0 : index);
                    const Frame b = readFrame(data, nextIndex, s.format);
                    const float t = static_cast<float>(fraction) * (1.0f / 65536.0f);
                    left += static_cast<float>(b.left - a.left) * t;
                    right += static_cast<float>(b.right - a.right) * t;
                }
                acc[2 * i] += static_cast<int32_t>(std::lrint(left * s.leftGain));
                acc[2 * i + 1] += static_cast<int32_t>(std::lrint(right * s.rightGain));
            }
        }
        pos += step;
        if (pos >= end) {
            if (s.looping) {
                pos %= end;
            } else {
                s.playing = false;
                s.position = 0;
                return;
            }
        }
    }
    s.position = pos;
}

DeviceCore::DeviceCore(std::unique_ptr<AudioBackend> backend)
    : mix_(static_cast<size_t>(kChunkFrames) * 2),
      backend_(std::move(backend)),
      backendName_(backend_ ? backend_->name() : "none") {
    buffers_.reserve(128);  // the engine's 2 x 32 slots and a few more, without regrowing under the lock
}

DeviceCore::~DeviceCore() { shutdown(); }

void DeviceCore::add(State* state) {
    // makeRoomForOne() made the room; should a caller have skipped it, the
    // registry still grows rather than lose the buffer.
    buffers_.push_back(state);
}

void DeviceCore::makeRoomForOne() {
    std::vector<State*> spare;  // allocated, and the old registry freed, outside the lock
    for (;;) {
        size_t wanted = 0;
        {
            MutexLock lock(mutex_);
            if (buffers_.size() < buffers_.capacity()) return;
            if (spare.capacity() > buffers_.size()) {
                spare.assign(buffers_.begin(), buffers_.end());  // within its capacity: no allocation
                buffers_.swap(spare);
            } else {
                wanted = std::max<size_t>(16, buffers_.capacity() * 2);
            }
        }
        if (wanted == 0) return;
        spare.reserve(wanted);
    }
}

void DeviceCore::remove(State* state) {
    buffers_.erase(std::remove(buffers_.begin(), buffers_.end(), state), buffers_.end());
}

size_t DeviceCore::secondaryBuffers() const {
    return static_cast<size_t>(
        std::count_if(buffers_.begin(), buffers_.end(), [](const State* s) { return !s->primary; }));
}

std::string DeviceCore::lastError() const {
    MutexLock lock(mutex_);
    return lastError_;
}

uint32_t DeviceCore::primaryBytesFor(const WaveFormat& format) {
    uint32_t bytes = format.samplesPerSec * format.blockAlign;
    while (bytes % 4 != 0) bytes += format.blockAlign;
    return bytes;
}

SoundResult DeviceCore::setPrimaryFormat(State& primaryState, const WaveFormat& requested) {
    MutexLock backendLock(backendMutex_);
    if (!backend_) return SoundResult::Failed;
    // A backend that plays at one rate only (a JACK server's) gets that rate;
    // the buffers are resampled to it as to any other.
    WaveFormat format = requested;
    if (const uint32_t fixed = backend_->fixedRate(); fixed != 0 && fixed != format.samplesPerSec) {
        format.samplesPerSec = fixed;
        format.avgBytesPerSec = fixed * format.blockAlign;
    }
    const uint32_t rate = format.samplesPerSec;
    const bool restart = !streaming_ || outputRate_.load() != rate;
    if (streaming_ && restart) {
        backend_->stop();
        streaming_ = false;
        outputRate_.store(0);
    }
    {
        // Allocated before the lock and the old samples freed after it.
        auto data = std::make_shared<std::vector<uint8_t>>(primaryBytesFor(format), uint8_t{0});
        MutexLock lock(mutex_);
        primaryFormat = format;
        primaryState.format = format;
        primaryState.frequency = rate;
        primaryState.data.swap(data);
        primaryState.frames = primaryState.bytes() / format.blockAlign;
        primaryState.position = 0;
    }
    if (!restart) return SoundResult::Ok;
    outputRate_.store(rate);
    RenderFunction pull = [this](int16_t* out, uint32_t frames) { render(out, frames); };
    if (backend_->realTime()) pull = [this](int16_t* out, uint32_t frames) { renderRealTime(out, frames); };
    std::string error = backend_->start(rate, std::move(pull));
    if (!error.empty()) {
        outputRate_.store(0);
        MutexLock lock(mutex_);
        lastError_ = std::move(error);
        return SoundResult::Failed;
    }
    streaming_ = true;
    return SoundResult::Ok;
}

void DeviceCore::shutdown() {
    MutexLock backendLock(backendMutex_);
    if (backend_ && streaming_) backend_->stop();
    streaming_ = false;
    backend_.reset();
    MutexLock lock(mutex_);
    closed = true;
}

void DeviceCore::setDirectRender(const DirectRender* source) {
    direct_.store(source);
    if (source) return;
    // A render that took the old source before the store above counted itself in first.
    while (insideDirect_.load() != 0) std::this_thread::yield();
}

uint32_t DeviceCore::periodFrames() {
    MutexLock backendLock(backendMutex_);
    return backend_ ? backend_->periodFrames() : 0;
}

std::string DeviceCore::failure() {
    MutexLock backendLock(backendMutex_);
    return backend_ ? backend_->failure() : std::string();
}

bool DeviceCore::setMidiInput(MidiInputFunction function, void* context) {
    MutexLock backendLock(backendMutex_);
    if (!backend_ || !backend_->hasMidiInput()) return false;
    backend_->setMidiInput(function, context);
    return true;
}

bool DeviceCore::realTime() {
    MutexLock backendLock(backendMutex_);
    return backend_ && backend_->realTime();
}

bool DeviceCore::renderDirect(int16_t* out, uint32_t frames) {
    insideDirect_.fetch_add(1);
    const DirectRender* source = direct_.load();
    if (source) source->render(source->context, out, frames);
    insideDirect_.fetch_sub(1);
    if (!source) return false;
    // The master gain, ramped as the buffers' is (silence to full in 20 ms).
    const int32_t target = targetGain_.load(std::memory_order_relaxed);
    if (directGain_ == kUnityGain && target == kUnityGain) return true;
    const uint32_t rate = std::max<uint32_t>(1, outputRate_.load());
    const int32_t maxStep = std::max<int32_t>(1, static_cast<int32_t>(kUnityGain / std::max<uint32_t>(1, rate / 50)));
    for (size_t f = 0; f < frames; ++f) {
        directGain_ += std::clamp(target - directGain_, -maxStep, maxStep);
        for (size_t side = 0; side < 2; ++side)
            out[2 * f + side] = static_cast<int16_t>((int32_t{out[2 * f + side]} * directGain_) >> 16);
    }
    return true;
}

void DeviceCore::render(int16_t* out, uint32_t frames) {
    if (!renderDirect(out, frames)) std::fill(out, out + static_cast<size_t>(frames) * 2, int16_t{0});
    MutexLock lock(mutex_);
    renderLocked(out, frames);
}

void DeviceCore::renderRealTime(int16_t* out, uint32_t frames) {
    // The direct source needs no lock: it sounds whatever the buffers do.
    if (!renderDirect(out, frames)) std::fill(out, out + static_cast<size_t>(frames) * 2, int16_t{0});
    // Every holder keeps the lock for a few microseconds: trying again for
    // at most kLockPatience (never waiting on the lock itself) rides over
    // such a moment; a holder that takes longer costs this period's buffers.
    if (!tryLockWithinPatience()) {
        silentPeriods_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    renderLocked(out, frames);
    mutex_.unlock();
}

bool DeviceCore::tryLockWithinPatience() {
    if (mutex_.try_lock()) return true;
    const auto giveUp = std::chrono::steady_clock::now() + kLockPatience;
    do {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
        if (mutex_.try_lock()) return true;
    } while (std::chrono::steady_clock::now() < giveUp);
    return false;
}

void DeviceCore::renderLocked(int16_t* out, uint32_t frames) {
    const uint32_t rate = outputRate_.load();
    while (frames > 0) {
        const uint32_t n = std::min(frames, kChunkFrames);
        mixChunk(out, n, rate);
        out += static_cast<size_t>(n) * 2;
        frames -= n;
    }
}

// The buffers' mix is added to what `out` holds (silence, or the direct source's).
void DeviceCore::mixChunk(int16_t* out, uint32_t frames, uint32_t rate) {
    int32_t* acc = mix_.data();
    std::fill(acc, acc + static_cast<size_t>(frames) * 2, 0);
    for (State* s : buffers_) {
        if (!s->playing || s->lost) continue;
        // The primary buffer carries sound of its own only when the program
        // writes it directly.
        if (s->primary && level != CooperativeLevel::WritePrimary) continue;
        mixBuffer(*s, acc, frames, rate);
    }
    const int32_t target = targetGain_.load(std::memory_order_relaxed);
    if (gain_ == kUnityGain && target == kUnityGain) {
        for (size_t i = 0; i < static_cast<size_t>(frames) * 2; ++i)
            out[i] = static_cast<int16_t>(std::clamp<int32_t>(acc[i] + out[i], -32768, 32767));
        return;
    }
    // The gain moves to its target by at most this much a frame: from
    // silence to full in 20 ms.
    const int32_t maxStep = std::max<int32_t>(1, static_cast<int32_t>(kUnityGain / std::max<uint32_t>(1, rate / 50)));
    for (size_t f = 0; f < frames; ++f) {
        gain_ += std::clamp(target - gain_, -maxStep, maxStep);
        for (size_t side = 0; side < 2; ++side) {
            const int64_t scaled = ((int64_t{acc[2 * f + side]} * gain_) >> 16) + out[2 * f + side];
            out[2 * f + side] = static_cast<int16_t>(std::clamp<int64_t>(scaled, -32768, 32767));
        }
    }
}

void DeviceCore::setMasterGain(double gain) {
    if (!(gain >= 0)) gain = 0;  // NaN too
    targetGain_.store(static_cast<int32_t>(std::lround(std::min(gain, 1.0) * kUnityGain)), std::memory_order_relaxed);
}

}  // namespace tonvero
