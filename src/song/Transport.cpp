#include "song/Transport.h"

#include "engine/MixerEngine.h"
#include "song/SongLoader.h"
#include "song/Sequencer.h"
#include "song/SongPosition.h"
#include "song/TempoMap.h"

#include <algorithm>
#include <cmath>

namespace tonvero {

namespace {

void startSequencerTimer(MixerEngine& engine) REQUIRES(engine.mutex) {
    engine.startTimer(engine.sequencerTimer, sequencerPeriodMicros(engine), &sequencerTimerProc);
}

// Silences and stops the output. Mutex held, no timer left running.
void silenceOutput(MixerEngine& engine) REQUIRES(engine.mutex) {
    engine.silenceAll();
    if (engine.softwareMixer) {
        if (engine.mixBuffer) engine.mixBuffer->stop();
    } else {
        // The hardware mixer's notes play on buffers of their own: stop them
        // too, or a looped note would sound on after Stop.
        for (auto& buffer : engine.hardware.waveBuffers)
            if (buffer) buffer->stop();
        for (auto& buffer : engine.hardware.voiceBuffers)
            if (buffer) buffer->stop();
    }
    engine.outputRunning = 0;
    engine.song.playback.paused = 0;
    // A song stopped while paused leaves no paused song behind in the renderer.
    if (engine.studio) engine.studio->setSongPaused(false);
    engine.song.playback.ending = 0;
    engine.song.playback.pausedBuffers = 0;
    engine.song.playback.pausedLooping = 0;
}

}  // namespace

int32_t play(MixerEngine& engine) { return playFrom(engine, 0); }

int32_t playFrom(MixerEngine& engine, double seconds) {
    bool mustStop = false;
    {
        EngineLock lock(engine.mutex);
        if (engine.song.songData.empty()) return 0;
        mustStop = engine.playing || engine.song.playback.ending || engine.song.playback.paused ||
                   engine.sequencerTimer != 0 || engine.songEndTimer != 0;
    }
    if (mustStop) stop(engine);

    EngineLock lock(engine.mutex);
    if (engine.song.songData.empty()) return 0;
    startClock(engine);
    rewindSong(engine);
    engine.song.currentTick = 0;
    engine.song.playback = PlaybackState{};
    // The Studio mixer's tick dispatches the song itself, for the frames it
    // is about to write; the other mixers follow the sequencer timer.
    if (seconds > 0) moveSong(engine, seconds);
    const uint64_t songFrame = engine.studio ? engine.song.playback.seekPoint.frame : 0;
    armLoop(engine);
    if (!engine.studio) startSequencerTimer(engine);
    engine.startOutput();
    if (engine.studio) {
        // The song's time zero is the first frame not yet written (one
        // write-ahead after now, like every later event), less the song
        // frames a start past zero leaves out.
        engine.song.playback.studioStartFrame = engine.studioFeedFrame() - songFrame;
        engine.song.playback.eventFrame = engine.studioFeedFrame();
        engine.song.playback.heardFrom = engine.song.playback.eventFrame;
        // Starting the output drops what was queued: the channels as the song has them there, again.
        if (songFrame > 0)
            postChannelRestore(engine, engine.song.playback.seekPoint, StudioEvent::kCutNotes, engine.studioFeedFrame(),
                               true);
        engine.songFeed = &feedStudio;
    }
    engine.playing = 1;
    return 1;
}

void stop(MixerEngine& engine) {
    // Take the timer ids under the lock, kill them without it. A callback
    // that was waiting for the lock sees `playing` 0 and does nothing; should
    // one still have started a timer meanwhile, the loop takes that one too.
    for (;;) {
        MixerEngine::TimerIds taken;
        {
            EngineLock lock(engine.mutex);
            engine.playing = 0;
            engine.song.playback.ending = 0;
            engine.song.playback.paused = 0;
            taken = engine.takeTimers(MixerEngine::kEveryTimer);
        }
        if (!taken.any()) break;
        engine.killTimers(taken);
    }
    EngineLock lock(engine.mutex);
    silenceOutput(engine);
}

void stopOnTimerThread(MixerEngine& engine) {
    engine.playing = 0;
    engine.killTimerHere(engine.sequencerTimer);
    engine.killTimerHere(engine.mixerTimer);
    engine.killTimerHere(engine.songEndTimer);
    silenceOutput(engine);
}

void pause(MixerEngine& engine) {
    MixerEngine::TimerIds taken;
    {
        EngineLock lock(engine.mutex);
        if (!engine.playing || engine.song.playback.paused) return;
        engine.song.playback.paused = 1;
        taken = engine.takeTimers(MixerEngine::kSequencerTimer | MixerEngine::kMixerTimer);
        if (engine.studio && engine.studio->inCallback()) {
            // The device plays on (live notes with it): the song's voices
            // and events wait, silent, where they are heard.
            engine.studio->setSongPaused(true);
        } else if (engine.softwareMixer) {
            // A stopped buffer keeps its play cursor and what is written ahead of it.
            if (engine.mixBuffer) engine.mixBuffer->stop();
        } else {
            engine.song.playback.pausedBuffers = 0;
            engine.song.playback.pausedLooping = 0;
            for (int32_t ref = 0; ref < 2 * kBufferSlots; ++ref) {
                SoundBufferPtr& buffer = *engine.bufferSlot(ref);
                uint32_t status = 0;
                if (!buffer || !succeeded(buffer->getStatus(status)) || !(status & BufferStatus::Playing)) continue;
                engine.song.playback.pausedBuffers |= uint64_t{1} << ref;
                if (status & BufferStatus::Looping) engine.song.playback.pausedLooping |= uint64_t{1} << ref;
                buffer->stop();
            }
        }
    }
    engine.killTimers(taken);
}

void resume(MixerEngine& engine) {
    EngineLock lock(engine.mutex);
    if (!engine.song.playback.paused) return;
    engine.song.playback.paused = 0;
    if (engine.studio && engine.studio->inCallback()) {
        engine.studio->setSongPaused(false);
        engine.startTimer(engine.mixerTimer, kMixerPeriodMicros, &MixerEngine::mixerTimerProc);
    } else if (engine.softwareMixer) {
        if (engine.mixBuffer) {
            engine.mixBuffer->play(PlayFlags::Looping);
            engine.startTimer(engine.mixerTimer, kMixerPeriodMicros, &MixerEngine::mixerTimerProc);
        }
    } else {
        for (int32_t ref = 0; ref < 2 * kBufferSlots; ++ref) {
            SoundBufferPtr& buffer = *engine.bufferSlot(ref);
            if (!buffer || !(engine.song.playback.pausedBuffers & (uint64_t{1} << ref))) continue;
            buffer->play((engine.song.playback.pausedLooping & (uint64_t{1} << ref)) ? PlayFlags::Looping : 0);
        }
        engine.song.playback.pausedBuffers = 0;
        engine.song.playback.pausedLooping = 0;
    }
    if (engine.playing && !engine.studio) startSequencerTimer(engine);
}

void startClock(MixerEngine& engine) {
    setTempo(engine, kDefaultTempo);
    engine.song.ticksPerTimerEvent = 2;
    if (isSmpteDivision(engine.song.division)) {
        // No tempo event will re-time an SMPTE song: take the batch a tempo
        // event would choose, at most 125 events a second.
        const double rate = smpteTicksPerSecond(engine.song.division);
        engine.song.ticksPerTimerEvent = std::max(2, static_cast<int32_t>(std::ceil(rate / 125.0)));
    }
    keepPeriodAtLeastOneMs(engine);
}

void setTempo(MixerEngine& engine, int32_t tempo) {
    engine.song.tempo = tempo;
    const double micros = microsPerTick(engine.song.division, tempo);
    if (micros <= 0) {
        engine.song.secondsPerTick = 0;
        engine.song.ticksPerSecond = 0;
        return;
    }
    const double seconds = micros * static_cast<double>(1e-6f);
    engine.song.secondsPerTick = static_cast<float>(seconds);
    engine.song.ticksPerSecond = static_cast<float>(1.0 / seconds);
}

void rewindSong(MixerEngine& engine) {
    for (int32_t t = 0; t < engine.song.tracks.size(); ++t) {
        Track& track = *engine.song.tracks.at(t);
        track.position = 0;
        track.ended = 0;
        track.begun = 0;
        track.nextEventTick = static_cast<int32_t>(static_cast<uint32_t>(track.startTick) + readVarLen(engine, track));
    }
    engine.resetChannels();
}

uint64_t sequencerPeriodMicros(const MixerEngine& engine) {
    const double micros =
        microsPerTick(engine.song.division, engine.song.tempo) * std::max(1, engine.song.ticksPerTimerEvent);
    if (!(micros >= 1)) return 1;
    if (micros >= static_cast<double>(kMaxTimerPeriodMicros)) return kMaxTimerPeriodMicros;
    return static_cast<uint64_t>(std::llround(micros));
}

void keepPeriodAtLeastOneMs(MixerEngine& engine) {
    const double micros = microsPerTick(engine.song.division, engine.song.tempo);
    if (micros <= 0) return;
    if (engine.song.ticksPerTimerEvent < 1) engine.song.ticksPerTimerEvent = 1;
    if (micros * engine.song.ticksPerTimerEvent >= kMinSequencerPeriodMicros) return;
    const double needed = std::ceil(kMinSequencerPeriodMicros / micros);
    engine.song.ticksPerTimerEvent = needed >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(needed);
}

TransportStatus transportStatus(const MixerEngine& engine) {
    if (engine.playing) return engine.song.playback.paused ? TransportStatus::Paused : TransportStatus::Playing;
    if (engine.song.playback.ending) return TransportStatus::Ending;
    if (engine.outputRunning) return TransportStatus::Previewing;
    return TransportStatus::Idle;
}

double songPositionSeconds(const MixerEngine& engine) {
    if (engine.song.playback.ending) return songLengthSeconds(engine);
    if (!engine.playing) return 0;
    if (engine.studio && engine.outputRate > 0) {
        // The song time the Studio mixer has written up to.
        // Song time zero may lie before the first output frame (after a
        // seek or a loop's turn): the difference is taken as signed.
        const uint64_t heard = std::max(engine.studio->nextSongFrame(), engine.song.playback.heardFrom);
        const int64_t songFrames = static_cast<int64_t>(heard - engine.song.playback.studioStartFrame);
        const double seconds = songFrames > 0 ? static_cast<double>(songFrames) / engine.outputRate : 0.0;
        return std::min(seconds, songLengthSeconds(engine));
    }
    const uint64_t tick = std::min<uint64_t>(engine.song.currentTick, engine.song.songTiming.endTick);
    return secondsAtTick(engine.song.songTiming, tick);
}

double songLengthSeconds(const MixerEngine& engine) { return engine.song.songTiming.lengthSeconds; }

NoteCounts noteCounts(const MixerEngine& engine) { return engine.song.playback.notes; }

int64_t skippedStatusCount(const MixerEngine& engine) { return engine.song.playback.skippedStatuses; }

}  // namespace tonvero
