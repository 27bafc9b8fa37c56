#include "render/SongRenderer.h"

#include "platform/VirtualTimerService.h"
#include "song/Transport.h"

#include <algorithm>
#include <cstdlib>

namespace tonvero {

namespace {

int32_t softwareMixerOf(MixerMode mode) { return mode == MixerMode::Hardware ? 0 : 1; }
int32_t writePrimaryOf(MixerMode mode) { return mode == MixerMode::Primary ? 1 : 0; }

// How often the progress callback hears of the position, in clock time.
constexpr uint64_t kProgressMicros = 250000;

}  // namespace

bool parseMixerMode(const std::string& name, MixerMode& mode) {
    if (name == "software") mode = MixerMode::Software;
    else if (name == "primary") mode = MixerMode::Primary;
    else if (name == "hardware") mode = MixerMode::Hardware;
    else return false;
    return true;
}

const char* mixerModeName(MixerMode mode) {
    switch (mode) {
    case MixerMode::Software: return "software";
    case MixerMode::Primary: return "primary";
    case MixerMode::Hardware: return "hardware";
    }
    return "software";
}

SongRenderer::SongRenderer(MixerMode mode, int32_t rate)
    : engine_(std::make_unique<MixerEngine>(softwareMixerOf(mode), writePrimaryOf(mode), rate,
                                            audio_.deviceFactory(), &audio_.timers())) {}

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
    RenderReport report;
    MixerEngine& engine = *engine_;
    VirtualTimerService& clock = audio_.timers();

    // What the software mixer writes ahead of the play cursor reaches the
    // output that much later than the song's events: leave it out.
    uint64_t skipFrames = engine.softwareMixer ? engine.writeAheadBytes / 4 : 0;
    audio_.setSink([&](const int16_t* frames, uint32_t count) {
        if (report.sinkFailed) return;
        if (skipFrames >= count) {
            skipFrames -= count;
            return;
        }
        frames += skipFrames * 2;
        count -= static_cast<uint32_t>(skipFrames);
        skipFrames = 0;
        for (uint32_t i = 0; i < count * 2; ++i) report.peak = std::max(report.peak, std::abs(int32_t{frames[i]}));
        if (sink && !sink(frames, count)) {
            report.sinkFailed = true;
            return;
        }
        report.frames += count;
    });

    stop(engine);
    if (!play(engine)) {
        audio_.setSink({});
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
        if (report.sinkFailed || clock.nowMicros() >= limitMicros) break;
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
    }
    if (progress && report.endedWhole) progress(report.songSeconds, report.songSeconds);
    audio_.setSink({});
    return report;
}

}  // namespace tonvero
