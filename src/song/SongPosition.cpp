#include "song/SongPosition.h"

#include "engine/ChannelMonitor.h"
#include "engine/Midi.h"
#include "engine/MixerEngine.h"
#include "song/MidiEvent.h"
#include "song/Sequencer.h"
#include "song/SongEnd.h"
#include "song/TempoMap.h"
#include "song/TrackReader.h"
#include "song/Transport.h"

#include <algorithm>
#include <cmath>

namespace tonvero {

namespace {

constexpr int32_t kEndOfTrack = 0x2F;
constexpr int32_t kSetTempo = 0x51;

// The engine's clock fields, kept aside while a walk through the song runs them.
struct Clock {
    int32_t tempo;
    float secondsPerTick;
    float ticksPerSecond;
    int32_t ticksPerTimerEvent;
};

Clock clockOf(const MixerEngine& engine) REQUIRES(engine.mutex) {
    return {engine.song.tempo, engine.song.secondsPerTick, engine.song.ticksPerSecond, engine.song.ticksPerTimerEvent};
}

void setClock(MixerEngine& engine, const Clock& clock) REQUIRES(engine.mutex) {
    engine.song.tempo = clock.tempo;
    engine.song.secondsPerTick = clock.secondsPerTick;
    engine.song.ticksPerSecond = clock.ticksPerSecond;
    engine.song.ticksPerTimerEvent = clock.ticksPerTimerEvent;
}

// What one event leaves in the point's channels and clock; notes sound nothing.
void chaseEvent(MixerEngine& engine, SongPoint& point, Track& track, const MidiEvent& event) REQUIRES(engine.mutex) {
    switch (event.type) {
    case MidiEventType::Channel: {
        ChannelState& ch = point.channels[static_cast<size_t>(event.channel)];
        StudioChannel& studio = point.studio[static_cast<size_t>(event.channel)];
        switch (event.kind) {
        case midi::kind::kControlChange:
            chaseController(ch, event.data1, event.data2);
            studio.controller(event.data1, event.data2);
            break;
        case midi::kind::kProgramChange:
            ch.program = event.data1;
            studio.program = event.data1;
            break;
        case midi::kind::kChannelPressure: studio.setPressure(event.data1); break;
        case midi::kind::kPitchBend:
            chaseBend(ch, event.data1, event.data2);
            studio.setBend((event.data2 << 7) | event.data1);
            break;
        default:  // notes and key pressure
            break;
        }
        break;
    }
    case MidiEventType::Meta:
        if (event.metaType == kEndOfTrack && event.metaLength == 0) {
            track.ended = 1;
        } else if (event.metaType == kSetTempo && event.metaLength == 3) {
            const uint8_t* b = engine.song.songData.data() + event.metaOffset;
            const int32_t tempo = (b[0] << 16) | (b[1] << 8) | b[2];
            // As the sequencer takes a tempo event, without its timer.
            if (tempo > 0 && !isSmpteDivision(engine.song.division)) {
                if (engine.studio)
                    setTempo(engine, tempo);
                else
                    retimeClock(engine, tempo);
            }
        }
        break;
    case MidiEventType::SysEx:
        if (isSystemReset(engine.song.songData.data() + event.dataOffset, event.dataLength))
            for (StudioChannel& studio : point.studio) studio.resetAll();
        break;
    default: break;
    }
}

// The loop's ends in song ticks and frames for the loaded song; false when
// there is no loop to play (too short, or nothing loaded).
bool resolveLoop(const MixerEngine& engine, ActiveLoop& loop) REQUIRES(engine.mutex) {
    if (engine.song.songData.empty() || engine.outputRate <= 0) return false;
    const SongTiming& timing = engine.song.songTiming;
    const int32_t rate = engine.outputRate;
    const LoopRange range = loopRange(engine);
    switch (range.source) {
    case LoopRange::Source::Range:
        loop.startFrame = static_cast<uint64_t>(std::llround(range.startSeconds * rate));
        loop.endFrame = static_cast<uint64_t>(std::llround(range.endSeconds * rate));
        loop.startTick = tickAtFrame(timing, loop.startFrame, rate);
        loop.endTick = tickAtFrame(timing, loop.endFrame, rate);
        break;
    case LoopRange::Source::Markers:
        loop.startTick = timing.loopStartTick;
        loop.endTick = timing.loopEndTick;
        loop.startFrame = frameAtTick(timing, loop.startTick, rate);
        loop.endFrame = frameAtTick(timing, loop.endTick, rate);
        break;
    case LoopRange::Source::Song:
        loop.startTick = 0;
        loop.endTick = timing.endTick;
        loop.startFrame = 0;
        loop.endFrame = frameAtTick(timing, timing.endTick, rate);
        break;
    }
    const double minFrames = kMinLoopSeconds * rate;
    return loop.endTick > loop.startTick && loop.endFrame > loop.startFrame &&
           static_cast<double>(loop.endFrame - loop.startFrame) >= minFrames - 0.5;
}

}  // namespace

void locateSong(MixerEngine& engine, uint64_t stopTick, SongPoint& point) {
    const Clock saved = clockOf(engine);
    startClock(engine);
    const int32_t count = engine.song.tracks.size();
    point.tracks.resize(static_cast<size_t>(count));
    for (int32_t t = 0; t < count; ++t) {
        Track track = *engine.song.tracks.at(t);
        track.position = 0;
        track.ended = 0;
        track.begun = 0;
        TrackReader reader(engine.song.songData.data(), track);
        track.nextEventTick = static_cast<int32_t>(static_cast<uint32_t>(track.startTick) + reader.varLen());
        point.tracks[static_cast<size_t>(t)] = track;
    }
    for (int32_t c = 0; c < 16; ++c) {
        point.channels[static_cast<size_t>(c)] = rewoundChannel();
        point.studio[static_cast<size_t>(c)].resetAll();
    }
    // Tick by tick, track by track, in file order: as the sequencer reads
    // them, so the state at the end is the one it would have reached.
    uint32_t current = 0;
    uint64_t tick = 0;
    for (;;) {
        uint32_t untilDue = UINT32_MAX;
        bool any = false;
        for (const Track& track : point.tracks) {
            if (track.ended) continue;
            any = true;
            untilDue = std::min(untilDue, static_cast<uint32_t>(track.nextEventTick) - current);
        }
        if (!any || tick + untilDue >= stopTick) break;
        current += untilDue;
        tick += untilDue;
        for (size_t t = 0; t < point.tracks.size(); ++t) {
            Track& track = point.tracks[t];
            if (track.ended || static_cast<uint32_t>(track.nextEventTick) != current) continue;
            if (beginsSequence(engine, track, static_cast<int32_t>(t)) && !isSmpteDivision(engine.song.division)) {
                if (engine.studio)
                    setTempo(engine, kDefaultTempo);
                else
                    retimeClock(engine, kDefaultTempo);
            }
            TrackReader reader(engine.song.songData.data(), track);
            for (;;) {
                chaseEvent(engine, point, track, readEvent(reader, track));
                if (track.ended) break;
                track.nextEventTick =
                    static_cast<int32_t>(static_cast<uint32_t>(track.nextEventTick) + reader.varLen());
                if (track.ended || static_cast<uint32_t>(track.nextEventTick) != current) break;
            }
        }
        ++current;
        ++tick;
    }
    point.tick = stopTick;
    point.frame = frameAtTick(engine.song.songTiming, stopTick, engine.outputRate);
    point.tempo = engine.song.tempo;
    point.secondsPerTick = engine.song.secondsPerTick;
    point.ticksPerSecond = engine.song.ticksPerSecond;
    point.ticksPerTimerEvent = engine.song.ticksPerTimerEvent;
    setClock(engine, saved);
}

void applySongPoint(MixerEngine& engine, const SongPoint& point) {
    const int32_t count = std::min<int32_t>(engine.song.tracks.size(), static_cast<int32_t>(point.tracks.size()));
    for (int32_t t = 0; t < count; ++t) *engine.song.tracks.at(t) = point.tracks[static_cast<size_t>(t)];
    engine.song.currentTick = static_cast<uint32_t>(point.tick);
    engine.song.playback.songTick = point.tick;
    setClock(engine, {point.tempo, point.secondsPerTick, point.ticksPerSecond, point.ticksPerTimerEvent});
    for (int32_t c = 0; c < 16; ++c) {
        ChannelState& ch = engine.channels[static_cast<size_t>(c)];
        ch = point.channels[static_cast<size_t>(c)];
    }
}

void postChannelRestore(MixerEngine& engine, const SongPoint& point, uint8_t notes, uint64_t frame, bool immediate) {
    if (!engine.studio) return;
    StudioEvent e;
    e.kind = StudioEvent::Kind::RestoreChannels;
    e.restore = point.studio.data();
    e.data1 = notes;
    e.frame = frame;
    e.immediate = immediate;
    engine.studio->postSong(e);
}

void armLoop(MixerEngine& engine) {
    ActiveLoop& loop = engine.song.playback.loop;
    loop.armed = false;
    const ListenerSettings& listener = engine.listener;
    if (!listener.loop) return;
    if (listener.loopCount > 0 && loop.turns >= listener.loopCount - 1) return;
    if (!resolveLoop(engine, loop)) return;
    locateSong(engine, loop.startTick, loop.start);
    loop.armed = true;
}

bool loopTurnDue(const MixerEngine& engine, uint64_t nextTick) {
    const ActiveLoop& loop = engine.song.playback.loop;
    return loop.armed && engine.song.playback.songTick <= loop.endTick && nextTick >= loop.endTick;
}

void turnLoop(MixerEngine& engine) {
    PlaybackState& state = engine.song.playback;
    ActiveLoop& loop = state.loop;
    if (engine.studio) {
        // On the loop end's own frame: the held notes let go, the channels as
        // at the loop's start, and the loop's first events right after.
        const uint64_t turnFrame = state.studioStartFrame + loop.endFrame;
        postChannelRestore(engine, loop.start, StudioEvent::kReleaseNotes, turnFrame, false);
        state.studioStartFrame += loop.endFrame - loop.startFrame;
        state.eventFrame = turnFrame;
        applySongPoint(engine, loop.start);
    } else {
        releaseSongNotes(engine);
        const int32_t tempo = engine.song.tempo;
        const int32_t batch = engine.song.ticksPerTimerEvent;
        applySongPoint(engine, loop.start);
        if ((engine.song.tempo != tempo || engine.song.ticksPerTimerEvent != batch) && engine.sequencerTimer != 0) {
            // Inside the sequencer's callback: the kill does not wait.
            engine.killTimerHere(engine.sequencerTimer);
            engine.startTimer(engine.sequencerTimer, sequencerPeriodMicros(engine), &sequencerTimerProc);
        }
    }
    ++loop.turns;
    const int32_t count = engine.listener.loopCount;
    if (count > 0 && loop.turns >= count - 1) loop.armed = false;
}

void moveSong(MixerEngine& engine, double seconds) {
    const int32_t rate = engine.outputRate;
    const uint64_t lastFrame = frameAtTick(engine.song.songTiming, engine.song.songTiming.endTick, rate);
    const double wanted = std::isfinite(seconds) ? std::max(0.0, seconds) * rate : 0.0;
    const uint64_t frame = std::min<uint64_t>(lastFrame, static_cast<uint64_t>(std::min(wanted, 1.8e19)));
    SongPoint& point = engine.song.playback.seekPoint;
    locateSong(engine, tickAtFrame(engine.song.songTiming, frame, rate), point);
    cutChannelNotes(engine, 0xFFFF);  // the Studio mixer cuts on the restoring event's frame
    applySongPoint(engine, point);
    if (engine.studio) {
        const uint64_t now = engine.studioFeedFrame();
        postChannelRestore(engine, point, StudioEvent::kCutNotes, now, true);
        // Song frame `frame` is the next one written.
        engine.song.playback.studioStartFrame = now - frame;
        engine.song.playback.eventFrame = now;
        engine.song.playback.heardFrom = now;
    }
    armLoop(engine);
}

int32_t seek(MixerEngine& engine, double seconds) {
    MixerEngine::TimerIds taken;
    {
        EngineLock lock(engine.mutex);
        if (engine.song.songData.empty()) return 0;
        if (engine.playing && !engine.studio) taken = engine.takeTimers(MixerEngine::kSequencerTimer);
    }
    // The sequencer must not run while its song moves; the kill waits for a running callback.
    engine.killTimers(taken);
    {
        EngineLock lock(engine.mutex);
        if (engine.playing) {
            moveSong(engine, seconds);
            if (!engine.studio && !engine.song.playback.paused)
                engine.startTimer(engine.sequencerTimer, sequencerPeriodMicros(engine), &sequencerTimerProc);
            return 1;
        }
    }
    // Stopped, or the song ended meanwhile: it plays from there.
    return playFrom(engine, seconds);
}

void setLooping(MixerEngine& engine, bool on) {
    engine.listener.loop = on;
    if (engine.playing) armLoop(engine);
}

bool looping(const MixerEngine& engine) { return engine.listener.loop; }

void setLoopCount(MixerEngine& engine, int32_t count) {
    engine.listener.loopCount = std::max(0, count);
    if (engine.playing) armLoop(engine);
}

bool setLoopRange(MixerEngine& engine, double startSeconds, double endSeconds) {
    const double length = engine.song.songTiming.lengthSeconds;
    if (!std::isfinite(startSeconds) || !std::isfinite(endSeconds) || startSeconds < 0 || endSeconds > length + 1e-9 ||
        endSeconds - startSeconds < kMinLoopSeconds)
        return false;
    engine.listener.rangeStart = startSeconds;
    engine.listener.rangeEnd = endSeconds;
    engine.listener.hasRange = true;
    if (engine.playing) armLoop(engine);
    return true;
}

void clearLoopRange(MixerEngine& engine) {
    engine.listener.hasRange = false;
    if (engine.playing) armLoop(engine);
}

bool hasLoopRange(const MixerEngine& engine) { return engine.listener.hasRange; }

LoopRange loopRange(const MixerEngine& engine) {
    LoopRange range;
    const SongTiming& timing = engine.song.songTiming;
    if (engine.song.songData.empty()) return range;
    const ListenerSettings& listener = engine.listener;
    // A range set for a longer song than this one does not apply to it.
    if (listener.hasRange && listener.rangeEnd <= timing.lengthSeconds + 1e-9) {
        range.source = LoopRange::Source::Range;
        range.startSeconds = listener.rangeStart;
        range.endSeconds = listener.rangeEnd;
    } else if (timing.loopStartTick != kNoTick) {
        range.source = LoopRange::Source::Markers;
        range.startSeconds = secondsAtTick(timing, timing.loopStartTick);
        range.endSeconds = secondsAtTick(timing, timing.loopEndTick);
    } else {
        range.endSeconds = timing.lengthSeconds;
    }
    return range;
}

int64_t loopTurns(const MixerEngine& engine) { return engine.song.playback.loop.turns; }

}  // namespace tonvero
