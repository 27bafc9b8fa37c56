// The Standard MIDI File check: load the bytes as a song, then play it on the
// offline backend with the virtual clock, through the mixer the last byte
// picks, until it has ended whole or reached its clock limit.

#include "LoaderChecks.h"

#include "support/BankFixtures.h"

#include "render/SongRenderer.h"
#include "song/SongLoader.h"
#include "song/Transport.h"

#include <cmath>
#include <vector>

namespace tonvero::fuzz {

namespace {

MixerMode mixerFor(uint8_t lastByte) {
    switch (lastByte & 3) {
    case 1: return MixerMode::Hardware;
    case 2: return MixerMode::Primary;
    case 3: return MixerMode::Studio;
    default: return MixerMode::Software;
    }
}

// The small bank of the fixtures (tiny Waves, loops of a few samples, an
// Instrument without Zones, a Wave without samples) and one Instrument with
// a Wave long enough to be heard through several mixing passes.
Bank songBank() {
    Bank bank = test::makeSmallBank();
    const int32_t slot = bank.insertInstrument("Triangle");
    std::vector<int16_t> samples(400);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] =
            static_cast<int16_t>(std::lround(8000.0 * (1.0 - std::abs(static_cast<double>(i % 40) - 20.0) / 10.0)));
    Instrument& tone = *bank.instruments[static_cast<size_t>(slot)];
    tone.cutoffFading = 0x40000;
    Zone* zone = Bank::addZone(tone, test::makeWave("triangle", std::move(samples), 8000));
    zone->rangeStart = 0;
    zone->rangeEnd = 127;
    zone->wave->looped = 1;
    zone->wave->loopBegin = 40;
    zone->wave->loopEnd = 359;
    for (int32_t p = 0; p < 128; ++p) bank.programMap[static_cast<size_t>(p)] = p % 4;
    return bank;
}

// Limits that keep every input to a few tens of milliseconds, however long
// the song's tempo map makes it: the play is cut after kMaxSongSeconds of
// clock time, and with the hardware mixer also once its device buffers have
// sounded kMaxHardwareVoiceSeconds in all (the device resamples each one
// frame by frame, about ten times the work of a voice of the software
// mixer). Short songs with their release tails play whole.
constexpr double kMaxSongSeconds = 4.0;
constexpr double kMaxHardwareVoiceSeconds = 16.0;
// Period of the check's own timer, which counts the sounding voices and
// keeps each step of the virtual clock short (the hardware mixer runs no
// timer of its own: a song whose next event is hours away would otherwise
// be mixed up to it in one step, past the limit).
constexpr uint64_t kPacerMicros = 20000;

// How far past its length by the tempo map a song's sequencer may still be
// playing, besides its own timer periods: the renderer's timing promise
// (0.5 %) and the render's quarter-second reports.
constexpr double kEndTolerance = 0.005;
constexpr double kEndSlackSeconds = 0.1;

// Device buffers playing in the hardware mixer's slots. Engine mutex held.
int32_t soundingBuffers(const MixerEngine& engine) {
    int32_t count = 0;
    for (const auto* slots : {&engine.hardware.waveBuffers, &engine.hardware.voiceBuffers})
        for (const SoundBufferPtr& buffer : *slots) {
            uint32_t status = 0;
            if (buffer && succeeded(buffer->getStatus(status)) && (status & BufferStatus::Playing) != 0) ++count;
        }
    return count;
}

}  // namespace

Outcome checkSong(const uint8_t* data, size_t size) {
    SongImage image;
    const SongLoadResult result = parseSong(std::vector<uint8_t>(data, data + size), image);
    if (result != SongLoadResult::Loaded) {
        if (!image.data.empty() || image.tracks.size() != 0)
            checkFailed("a refused song changed the image it was given");
        return Outcome::Refused;
    }

    const MixerMode mode = mixerFor(data[size - 1]);
    SongRenderer renderer(mode, kSongRate);
    std::string error;
    if (!renderer.openOutput(&error)) checkFailed("the offline output did not open: " + error);
    {
        EngineLock lock(renderer.engine().mutex);
        renderer.engine().bank = songBank();
        installSong(renderer.engine(), std::move(image));
    }
    MixerEngine& engine = renderer.engine();
    const bool hardware = mode == MixerMode::Hardware;
    double voiceSeconds = 0;
    TimerService& timers = engine.timers();
    const TimerId pacer = timers.setPeriodic(kPacerMicros, [&] {
        if (!hardware) return;
        EngineLock lock(engine.mutex);
        voiceSeconds += soundingBuffers(engine) * (static_cast<double>(kPacerMicros) * 1e-6);
    });
    const auto withinBudget = [&](const int16_t*, uint32_t) { return voiceSeconds < kMaxHardwareVoiceSeconds; };
    // The render tells the position every quarter second of clock time: once
    // the clock is past the song's length by its tempo map, the sequencer
    // must have reached the end. It plays a batch of ticks per timer event,
    // the first one period after the start, so it may come up to two of its
    // periods late (long ones when a tick is long: a slow tempo over a
    // division of a few ticks).
    const uint64_t startMicros = renderer.clockMicros();
    std::string lateEnd;
    const auto progress = [&](double position, double length) {
        const double elapsed = static_cast<double>(renderer.clockMicros() - startMicros) * 1e-6;
        double periodSeconds = 0;
        {
            EngineLock lock(engine.mutex);
            periodSeconds = static_cast<double>(sequencerPeriodMicros(engine)) * 1e-6;
        }
        const double due = length * (1 + kEndTolerance) + kEndSlackSeconds + 2 * periodSeconds;
        if (lateEnd.empty() && position < length && elapsed > due)
            lateEnd = "the sequencer is at " + std::to_string(position) + " s after " + std::to_string(elapsed) +
                      " s of a song " + std::to_string(length) + " s long";
    };
    const RenderReport report = renderer.render(withinBudget, progress, kMaxSongSeconds);
    const uint64_t playedMicros = renderer.clockMicros() - startMicros;
    timers.kill(pacer);

    if (!report.started) checkFailed("a loaded song did not start");
    if (!lateEnd.empty()) checkFailed(lateEnd);
    if (!report.endedWhole && !report.sinkFailed && playedMicros < static_cast<uint64_t>(kMaxSongSeconds * 1e6))
        checkFailed("the play stopped after " + std::to_string(playedMicros) +
                    " us, neither at the song's end nor at a limit");
    if (report.sinkFailed && voiceSeconds < kMaxHardwareVoiceSeconds)
        checkFailed("the render refused frames by itself");
    {
        EngineLock lock(renderer.engine().mutex);
        if (renderer.engine().playing != 0) checkFailed("the engine still plays after the render");
    }
    if (report.notes.played < 0 || report.notes.withoutInstrument < 0 || report.notes.withoutZone < 0)
        checkFailed("a note count below 0");
    return Outcome::Accepted;
}

}  // namespace tonvero::fuzz
