#include "render/SongRenderer.h"

#include "platform/VirtualTimerService.h"
#include "song/SongPosition.h"
#include "song/Transport.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

namespace tonvero {

namespace {

// How often the progress callback hears of the position, in clock time.
constexpr uint64_t kProgressMicros = 250000;

}  // namespace

SongRenderer::SongRenderer(MixerMode mode, int32_t rate, const StudioSettings& studio)
    : engine_(std::make_unique<MixerEngine>(mode, rate, audio_.deviceFactory(), &audio_.timers(), studio)) {}

SongRenderer::~SongRenderer() {
    stop(*engine_);
    engine_.reset();
}

bool SongRenderer::openOutput(std::string* error) {
    EngineLock lock(engine_->mutex);
    return engine_->initOutput(error) != 0;
}

SongLoadResult SongRenderer::loadSong(const std::string& path) {
    SongImage image;
    const SongLoadResult result = readSongFile(path, image);
    if (result != SongLoadResult::Loaded) return result;
    stop(*engine_);
    EngineLock lock(engine_->mutex);
    installSong(*engine_, std::move(image));
    return result;
}

uint64_t SongRenderer::clockMicros() { return audio_.timers().nowMicros(); }

RenderReport SongRenderer::render(const FrameSink& sink, const Progress& progress, double maxSeconds) {
    return run(sink, {}, {}, StudioMixer::StemMode::Channel, progress, maxSeconds);
}

RenderReport SongRenderer::renderFloat(const FloatSink& sink, const Progress& progress, double maxSeconds) {
    return run({}, sink, {}, StudioMixer::StemMode::Channel, progress, maxSeconds);
}

RenderReport SongRenderer::renderStems(StudioMixer::StemMode mode, const StemSink& sink, const Progress& progress,
                                       double maxSeconds) {
    if (!engine_->studio || !sink) return {};
    return run({}, {}, sink, mode, progress, maxSeconds);
}

namespace {

// The Studio mixer's float mix, kept from when it is written into the mixing
// buffer until the device plays those frames: the frames come out of the
// device in the order they went in, one write-ahead later.
class FloatMixFifo {
public:
    explicit FloatMixFifo(size_t frames) : samples_(2 * frames) {}

    static void tap(void* context, const float* frames, uint32_t count) {
        static_cast<FloatMixFifo*>(context)->push(frames, count);
    }
    void push(const float* frames, uint32_t count) {
        for (size_t k = 0; k < 2 * static_cast<size_t>(count); ++k) {
            if (size_ == samples_.size()) {
                overflowed_ = true;
                return;
            }
            samples_[(head_ + size_) % samples_.size()] = frames[k];
            ++size_;
        }
    }
    // Takes `count` frames into `out`; false when fewer are kept.
    bool pop(float* out, uint32_t count) {
        if (overflowed_ || size_ < 2 * static_cast<size_t>(count)) return false;
        for (size_t k = 0; k < 2 * static_cast<size_t>(count); ++k) {
            out[k] = samples_[head_];
            head_ = (head_ + 1) % samples_.size();
        }
        size_ -= 2 * static_cast<size_t>(count);
        return true;
    }
    void drop(uint32_t count) {
        const size_t n = std::min(size_, 2 * static_cast<size_t>(count));
        head_ = (head_ + n) % samples_.size();
        size_ -= n;
    }

private:
    std::vector<float> samples_;
    size_t head_ = 0;
    size_t size_ = 0;
    bool overflowed_ = false;
};

// The same for the stems: the mix and every stem that has sounded, frame for
// frame. A stem's ring is made when it first comes (silence for the frames
// held before), in the order the mixer lists them, and it is handed out from
// the frame its first block comes out with.
class StemFifo {
public:
    explicit StemFifo(size_t frames) : capacity_(frames), mix_(2 * frames) {}

    static void tap(void* context, const float* mix, uint32_t frames, const StudioMixer::StemBlock* stems,
                    uint32_t count) {
        static_cast<StemFifo*>(context)->push(mix, frames, stems, count);
    }
    void push(const float* mix, uint32_t frames, const StudioMixer::StemBlock* stems, uint32_t count) {
        if (overflowed_ || size_ + frames > capacity_) {
            overflowed_ = true;
            return;
        }
        while (rings_.size() < count)
            rings_.push_back({stems[rings_.size()].key, pushed_, std::vector<float>(2 * capacity_)});
        // At most two spans: up to the rings' end, and on from their start.
        const size_t at = (head_ + size_) % capacity_;
        const size_t first = std::min<size_t>(frames, capacity_ - at);
        auto put = [&](std::vector<float>& ring, const float* in) {
            std::copy(in, in + 2 * first, ring.begin() + static_cast<std::ptrdiff_t>(2 * at));
            std::copy(in + 2 * first, in + 2 * static_cast<size_t>(frames), ring.begin());
        };
        put(mix_, mix);
        for (uint32_t i = 0; i < count; ++i) put(rings_[i].samples, stems[i].stereo);
        size_ += frames;
        pushed_ += frames;
    }
    // Takes `count` frames of the mix into `mix` and of each stem come by
    // then into `stems` (one for each, added as they come); false when fewer
    // are kept.
    bool pop(uint32_t count, std::vector<float>& mix, std::vector<std::vector<float>>& stems) {
        if (overflowed_ || size_ < count) return false;
        size_t come = 0;
        while (come < rings_.size() && rings_[come].first < taken_ + count) ++come;
        stems.resize(come);
        const size_t first = std::min<size_t>(count, capacity_ - head_);
        auto take = [&](const std::vector<float>& ring, std::vector<float>& out) {
            out.resize(2 * static_cast<size_t>(count));
            const auto from = ring.begin() + static_cast<std::ptrdiff_t>(2 * head_);
            std::copy(from, from + static_cast<std::ptrdiff_t>(2 * first), out.begin());
            std::copy(ring.begin(), ring.begin() + static_cast<std::ptrdiff_t>(2 * (count - first)),
                      out.begin() + static_cast<std::ptrdiff_t>(2 * first));
        };
        take(mix_, mix);
        for (size_t i = 0; i < come; ++i) take(rings_[i].samples, stems[i]);
        head_ = (head_ + count) % capacity_;
        size_ -= count;
        taken_ += count;
        return true;
    }
    // Only before the first pop: the frames skipped at the start.
    void drop(uint32_t count) {
        const size_t n = std::min<size_t>(size_, count);
        head_ = (head_ + n) % capacity_;
        size_ -= n;
        taken_ += n;
        dropped_ += n;
    }
    int32_t key(size_t stem) const { return rings_[stem].key; }
    // The frame, as popped frames count, that the stem's first block came out with.
    uint64_t firstFrame(size_t stem) const { return rings_[stem].first > dropped_ ? rings_[stem].first - dropped_ : 0; }

private:
    struct Ring {
        int32_t key = 0;
        uint64_t first = 0;  // frames pushed before it came
        std::vector<float> samples;
    };
    size_t capacity_;  // frames
    std::vector<float> mix_;
    std::vector<Ring> rings_;
    size_t head_ = 0;  // frames
    size_t size_ = 0;
    uint64_t pushed_ = 0;
    uint64_t taken_ = 0;  // popped and dropped
    uint64_t dropped_ = 0;
    bool overflowed_ = false;
};

}  // namespace

RenderReport SongRenderer::run(const FrameSink& sink, const FloatSink& floatSink, const StemSink& stemSink,
                               StudioMixer::StemMode stemMode, const Progress& progress, double maxSeconds) {
    RenderReport report;
    MixerEngine& engine = *engine_;
    VirtualTimerService& clock = audio_.timers();

    // Floats for the float sink: the Studio mixer's own, or the 16-bit frames scaled.
    std::unique_ptr<FloatMixFifo> fifo;
    std::vector<float> floats;
    if (floatSink && engine.studio) {
        // The mixing buffer holds half a second; two seconds is room to spare.
        fifo = std::make_unique<FloatMixFifo>(static_cast<size_t>(engine.outputRate) * 2);
        EngineLock lock(engine.mutex);
        engine.studio->setFloatTap(&FloatMixFifo::tap, fifo.get());
    }
    // The stems: the same, every stem beside the mix.
    std::unique_ptr<StemFifo> stemFifo;
    std::vector<float> stemMix;
    std::vector<std::vector<float>> stemSamples;
    std::vector<StemFrames> stems;
    if (stemSink && engine.studio) {
        stemFifo = std::make_unique<StemFifo>(static_cast<size_t>(engine.outputRate) * 2);
        EngineLock lock(engine.mutex);
        engine.studio->setStemTap(stemMode, &StemFifo::tap, stemFifo.get());
    }
    auto dropTaps = [&] {
        if (!fifo && !stemFifo) return;
        EngineLock lock(engine.mutex);
        if (fifo) engine.studio->setFloatTap(nullptr, nullptr);
        if (stemFifo) engine.studio->setStemTap(stemMode, nullptr, nullptr);
    };

    // What the software mixer writes ahead of the play cursor reaches the
    // output that much later than the song's events: leave it out.
    uint64_t skipFrames = 0;
    if (engine.softwareMixer) {
        EngineLock lock(engine.mutex);
        skipFrames = engine.custom.writeAheadBytes / 4;
    }
    // The Studio mixer's output limiter looks ahead, delaying its sound a little more.
    if (engine.studio) skipFrames += engine.studio->outputDelay();
    // With an end, exactly the span's frames go out.
    const int64_t startFrame = std::llround(std::max(0.0, span_.startSeconds) * engine.outputRate);
    const uint64_t wantedFrames = span_.endSeconds > 0
                                      ? static_cast<uint64_t>(std::max<int64_t>(
                                            0, std::llround(span_.endSeconds * engine.outputRate) - startFrame))
                                      : UINT64_MAX;
    audio_.setSink([&](const int16_t* frames, uint32_t count) {
        if (report.sinkFailed || report.frames >= wantedFrames) return;
        if (skipFrames >= count) {
            skipFrames -= count;
            if (fifo) fifo->drop(count);
            if (stemFifo) stemFifo->drop(count);
            return;
        }
        if (fifo) fifo->drop(static_cast<uint32_t>(skipFrames));
        if (stemFifo) stemFifo->drop(static_cast<uint32_t>(skipFrames));
        frames += skipFrames * 2;
        count -= static_cast<uint32_t>(skipFrames);
        skipFrames = 0;
        count = static_cast<uint32_t>(std::min<uint64_t>(count, wantedFrames - report.frames));
        for (uint32_t i = 0; i < count * 2; ++i) report.peak = std::max(report.peak, std::abs(int32_t{frames[i]}));
        bool accepted = true;
        if (floatSink) {
            floats.resize(static_cast<size_t>(count) * 2);
            if (fifo) {
                accepted = fifo->pop(floats.data(), count);
            } else {
                for (size_t i = 0; i < floats.size(); ++i) floats[i] = static_cast<float>(frames[i]) / 32768.0f;
            }
            accepted = accepted && floatSink(floats.data(), count);
        } else if (stemFifo) {
            accepted = stemFifo->pop(count, stemMix, stemSamples);
            if (accepted) {
                // A stem new to the sink: silence before its first frame.
                for (size_t i = stems.size(); i < stemSamples.size(); ++i)
                    stems.push_back({stemFifo->key(i), std::max(report.frames, stemFifo->firstFrame(i)), nullptr});
                for (size_t i = 0; i < stems.size(); ++i) stems[i].stereo = stemSamples[i].data();
                accepted = stemSink(stemMix.data(), count, stems);
            }
        } else if (sink) {
            accepted = sink(frames, count);
        }
        if (!accepted) {
            report.sinkFailed = true;
            return;
        }
        report.frames += count;
    });

    stop(engine);
    if (!playFrom(engine, static_cast<double>(startFrame) / engine.outputRate)) {
        audio_.setSink({});
        dropTaps();
        return report;
    }
    report.started = true;
    {
        EngineLock lock(engine.mutex);
        report.songSeconds = songLengthSeconds(engine);
    }
    const uint64_t startMicros = clock.nowMicros();
    const uint64_t limitMicros = maxSeconds > 0 ? startMicros + static_cast<uint64_t>(maxSeconds * 1e6) : UINT64_MAX;
    uint64_t nextProgress = startMicros;
    for (;;) {
        TransportStatus status;
        double position = 0;
        {
            EngineLock lock(engine.mutex);
            status = transportStatus(engine);
            position = songPositionSeconds(engine);
        }
        if (status == TransportStatus::Idle) {
            report.endedWhole = !report.sinkFailed;
            break;
        }
        if (report.sinkFailed || clock.nowMicros() >= limitMicros || report.frames >= wantedFrames) break;
        if (progress && clock.nowMicros() >= nextProgress) {
            progress(position, report.songSeconds);
            nextProgress = clock.nowMicros() + kProgressMicros;
        }
        if (!clock.advanceToNextDeadline()) break;  // no timer left: nothing can move on
    }
    stop(engine);
    {
        EngineLock lock(engine.mutex);
        report.notes = noteCounts(engine);
        report.loopTurns = loopTurns(engine);
    }
    if (progress && report.endedWhole) progress(report.songSeconds, report.songSeconds);
    audio_.setSink({});
    dropTaps();
    return report;
}

}  // namespace tonvero
