#include "song/Sequencer.h"

#include "engine/ChannelMonitor.h"
#include "engine/Midi.h"
#include "engine/MixerEngine.h"
#include "song/MidiEvent.h"
#include "song/SongEnd.h"
#include "song/SongPosition.h"
#include "song/TempoMap.h"
#include "song/TrackReader.h"
#include "song/Transport.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace tonvero {

namespace {

// Counts a note-on against what the bank holds for it.
void countNote(MixerEngine& engine, int32_t key, int32_t channel) REQUIRES(engine.mutex) {
    const Instrument* instrument = engine.songInstrument(channel);
    NoteCounts& notes = engine.song.playback.notes;
    if (!instrument)
        ++notes.withoutInstrument;
    else if (!Bank::findZone(instrument, key))
        ++notes.withoutZone;
    else
        ++notes.played;
}

// Counts the note, then starts it.
void startNote(MixerEngine& engine, int32_t key, int32_t velocity, int32_t channel) REQUIRES(engine.mutex) {
    countNote(engine, key, channel);
    engine.noteOn(key, velocity, channel);
}

// The Studio mixer hears every channel message as it stands, on the frame
// the song places it; the channel's program is kept here only to count notes.
void postChannelMessage(MixerEngine& engine, const MidiEvent& event) REQUIRES(engine.mutex) {
    // The status byte of each kind of channel message.
    static constexpr uint8_t kTypes[8] = {0,
                                          midi::kNoteOn,
                                          midi::kNoteOff,
                                          midi::kKeyPressure,
                                          midi::kControlChange,
                                          midi::kProgramChange,
                                          midi::kChannelPressure,
                                          midi::kPitchBend};
    if (event.kind < midi::kind::kNoteOn || event.kind > midi::kind::kPitchBend) return;
    if (event.kind == midi::kind::kNoteOn && event.data2 != 0) countNote(engine, event.data1, event.channel);
    if (event.kind == midi::kind::kProgramChange)
        engine.channels[static_cast<size_t>(event.channel)].program = event.data1;
    StudioEvent e;
    e.kind = StudioEvent::Kind::Midi;
    e.frame = engine.song.playback.eventFrame;
    e.type = kTypes[event.kind];
    e.channel = static_cast<uint8_t>(event.channel);
    e.data1 = static_cast<uint8_t>(event.data1);
    e.data2 = static_cast<uint8_t>(event.data2);
    engine.studio->postSong(e);
}

void controlChange(MixerEngine& engine, int32_t channel, int32_t controller, int32_t value, bool& pitchDirty)
    REQUIRES(engine.mutex) {
    ChannelState& ch = engine.channels[static_cast<size_t>(channel)];
    const int32_t sustain = ch.sustain;
    if (chaseController(ch, controller, value)) pitchDirty = true;
    if (controller == midi::cc::kSustain) {
        ch.sustain = sustain;  // the engine sets it, and tells the voices
        engine.setSustain(value >= midi::kPedalDown ? 1 : 0, channel);
    }
}

void channelMessage(MixerEngine& engine, const MidiEvent& event, bool& pitchDirty) REQUIRES(engine.mutex) {
    if (engine.studio) {
        postChannelMessage(engine, event);
        return;
    }
    const int32_t c = event.channel;
    ChannelState& ch = engine.channels[static_cast<size_t>(c)];
    switch (event.kind) {
    case midi::kind::kNoteOn:
        if (event.data2 != 0 && !channelAudible(engine, c))
            countNote(engine, event.data1, c);  // a silenced channel's note is counted, not played
        else if (event.data2 != 0)
            startNote(engine, event.data1, event.data2, c);
        else
            engine.noteOff(event.data1, c);
        break;
    case midi::kind::kNoteOff: engine.noteOff(event.data1, c); break;
    case midi::kind::kControlChange: controlChange(engine, c, event.data1, event.data2, pitchDirty); break;
    case midi::kind::kProgramChange: ch.program = event.data1; break;
    case midi::kind::kPitchBend:
        chaseBend(ch, event.data1, event.data2);
        pitchDirty = true;
        break;
    default:  // key pressure, channel pressure: nothing
        break;
    }
}

void metaEvent(MixerEngine& engine, Track& track, const MidiEvent& event) REQUIRES(engine.mutex) {
    if (event.metaType == 0x2F && event.metaLength == 0) {
        track.ended = 1;
    } else if (event.metaType == 0x51 && event.metaLength == 3) {
        const uint8_t* b = engine.song.songData.data() + event.metaOffset;
        changeTempo(engine, (b[0] << 16) | (b[1] << 8) | b[2]);
    }
}

void processEvent(MixerEngine& engine, TrackReader& reader, Track& track, bool& pitchDirty) REQUIRES(engine.mutex) {
    const MidiEvent event = readEvent(reader, track);
    switch (event.type) {
    case MidiEventType::Channel: channelMessage(engine, event, pitchDirty); break;
    case MidiEventType::Meta: metaEvent(engine, track, event); break;
    case MidiEventType::SysEx:
        // The Studio mixer hears the resets; the Custom and hardware mixers none.
        if (engine.studio && isSystemReset(engine.song.songData.data() + event.dataOffset, event.dataLength)) {
            StudioEvent e;
            e.kind = StudioEvent::Kind::SystemReset;
            e.frame = engine.song.playback.eventFrame;
            engine.studio->postSong(e);
        }
        break;
    case MidiEventType::Illegal: ++engine.song.playback.skippedStatuses; break;
    default:  // a dropped byte, or the track ran out
        break;
    }
}

// Ticks from currentTick to the next event of a track that has not ended
// (UINT32_MAX when every track has ended).
uint32_t ticksUntilDue(const MixerEngine& engine) REQUIRES(engine.mutex) {
    uint32_t untilDue = UINT32_MAX;
    for (int32_t t = 0; t < engine.song.tracks.size(); ++t) {
        const Track& track = *engine.song.tracks.at(t);
        if (!track.ended)
            untilDue = std::min(untilDue, static_cast<uint32_t>(track.nextEventTick) - engine.song.currentTick);
    }
    return untilDue;
}

bool allTracksEnded(const MixerEngine& engine) REQUIRES(engine.mutex) {
    for (int32_t t = 0; t < engine.song.tracks.size(); ++t)
        if (!engine.song.tracks.at(t)->ended) return false;
    return true;
}

// Dispatches every event due at currentTick: track by track, lower index
// first, and within a track in file order.
void dispatchTick(MixerEngine& engine, bool& pitchDirty) REQUIRES(engine.mutex) {
    for (int32_t t = 0; t < engine.song.tracks.size(); ++t) {
        Track& track = *engine.song.tracks.at(t);
        if (track.ended || static_cast<uint32_t>(track.nextEventTick) != engine.song.currentTick) continue;
        // A format 2 sequence after the first begins at the default tempo.
        if (beginsSequence(engine, track, t) && !isSmpteDivision(engine.song.division))
            changeTempo(engine, kDefaultTempo);
        TrackReader reader(engine.song.songData.data(), track);
        for (;;) {
            processEvent(engine, reader, track, pitchDirty);
            if (track.ended) break;
            track.nextEventTick = static_cast<int32_t>(static_cast<uint32_t>(track.nextEventTick) + reader.varLen());
            if (track.ended || static_cast<uint32_t>(track.nextEventTick) != engine.song.currentTick) break;
        }
        if (track.ended && engine.playing && allTracksEnded(engine)) endSong(engine);
    }
}

}  // namespace

bool isSystemReset(const uint8_t* data, uint32_t length) {
    auto is = [&](std::initializer_list<int> pattern) {
        if (length < pattern.size()) return false;
        size_t i = 0;
        for (int b : pattern) {
            if (b >= 0 && data[i] != b) return false;
            ++i;
        }
        return true;
    };
    // -1 stands for the device number, which any value may take.
    return is({0x7E, -1, 0x09, 0x01}) || is({0x7E, -1, 0x09, 0x03}) ||
           is({0x41, -1, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00}) || is({0x43, -1, 0x4C, 0x00, 0x00, 0x7E, 0x00});
}

bool beginsSequence(const MixerEngine& engine, Track& track, int32_t index) {
    if (engine.song.format != 2 || track.begun) return false;
    track.begun = 1;
    return index > 0;
}

bool chaseController(ChannelState& ch, int32_t controller, int32_t value) {
    switch (controller) {
    case midi::cc::kModulation: ch.modulation = value; break;
    case midi::cc::kDataEntry:
        // Data entry sets the bend range, whatever parameter was chosen;
        // the bend scales by the whole-number ratio of new to old range.
        if (value >= 64) break;  // not a range (the data entry's own limit)
        if (ch.bendRange != 0)
            ch.bend = ch.bend * static_cast<float>(value / ch.bendRange);
        else
            ch.bend = 0.0f;
        ch.bendRange = value;
        ch.pitchChanged = 1;
        return true;
    case midi::cc::kVolume: ch.volume = value; break;
    case midi::cc::kPan: ch.pan = value; break;
    case midi::cc::kSustain: ch.sustain = value >= midi::kPedalDown ? 1 : 0; break;
    default: break;
    }
    return false;
}

void chaseBend(ChannelState& ch, int32_t lsb, int32_t msb) {
    const int32_t value = msb * 128 + lsb;
    ch.bend = static_cast<float>(value - 8192) * static_cast<float>(ch.bendRange) * (1.0f / 8192.0f);
    ch.pitchChanged = 1;
}

void sequencerTimerProc() {
    // Test and set: an event arriving while the previous one still runs is lost.
    if (sequencerBusy.exchange(1) != 0) return;
    if (MixerEngine* engine = theEngine) {
        EngineLock lock(engine->mutex);
        if (!engine->song.playback.paused) sequencerTick(*engine);
    }
    sequencerBusy.store(0);
}

void sequencerTick(MixerEngine& engine) {
    if (!engine.playing) return;
    bool pitchDirty = false;
    PlaybackState& state = engine.song.playback;
    // The batch size is read again before every step: a tempo event inside
    // the batch changes how many steps this call makes.
    for (int32_t step = 0; step < engine.song.ticksPerTimerEvent;) {
        // Ticks at which no track has an event pass in one go, up to the loop's end.
        uint64_t untilDue = allTracksEnded(engine) ? kNoTick - state.songTick : ticksUntilDue(engine);
        if (loopTurnDue(engine, state.songTick + untilDue)) {
            if (state.songTick == state.loop.endTick) {
                turnLoop(engine);
                pitchDirty = true;
                continue;
            }
            untilDue = state.loop.endTick - state.songTick;
        }
        if (untilDue > 0) {
            const uint32_t jump = static_cast<uint32_t>(
                std::min<uint64_t>(untilDue, static_cast<uint64_t>(engine.song.ticksPerTimerEvent - step)));
            engine.song.currentTick += jump;
            state.songTick += jump;
            step += static_cast<int32_t>(jump);
            continue;
        }
        dispatchTick(engine, pitchDirty);
        ++engine.song.currentTick;
        ++state.songTick;
        ++step;
    }
    // A song with no tracks, or whose tracks were all empty, ends here.
    if (engine.playing && allTracksEnded(engine)) endSong(engine);
    if (pitchDirty) engine.retuneBentVoices();
}

void feedStudio(MixerEngine& engine, uint64_t endFrame) {
    if (!engine.studio) return;
    PlaybackState& state = engine.song.playback;
    bool pitchDirty = false;  // the Studio mixer follows bends itself
    while (engine.playing && !state.paused) {
        const bool ended = allTracksEnded(engine);
        const uint64_t tick = ended ? kNoTick : state.songTick + ticksUntilDue(engine);
        if (loopTurnDue(engine, tick)) {
            // The turn lies on the loop end's frame, however the song's events fall.
            if (state.studioStartFrame + state.loop.endFrame >= endFrame) break;
            turnLoop(engine);
            continue;
        }
        if (ended) {
            endSong(engine);
            break;
        }
        const uint64_t frame = state.studioStartFrame + frameAtTick(engine.song.songTiming, tick, engine.outputRate);
        if (frame >= endFrame) break;
        engine.song.currentTick = static_cast<uint32_t>(tick);
        state.songTick = tick;
        state.eventFrame = frame;
        dispatchTick(engine, pitchDirty);
        ++engine.song.currentTick;
        ++state.songTick;
    }
}

void retimeClock(MixerEngine& engine, int32_t tempo) {
    // The batch, from the rate of the tempo before this one.
    int32_t batch = 1;
    const float rate = engine.song.ticksPerSecond;
    if (rate > 125.0) {
        const double estimate = std::ceil(static_cast<double>(rate) / 125.0);
        batch = estimate >= INT32_MAX ? INT32_MAX : std::max(2, static_cast<int32_t>(estimate));
        while (batch < INT32_MAX && rate / static_cast<float>(batch) > 125.0) ++batch;
        while (batch > 2 && rate / static_cast<float>(batch - 1) <= 125.0) --batch;
    }
    engine.song.ticksPerTimerEvent = batch;
    setTempo(engine, tempo);
    keepPeriodAtLeastOneMs(engine);
}

void changeTempo(MixerEngine& engine, int32_t tempo) {
    if (tempo <= 0 || isSmpteDivision(engine.song.division)) return;
    if (engine.studio) {
        // The Studio mixer's song runs on output frames, from the tempo map: no timer to re-time.
        setTempo(engine, tempo);
        return;
    }
    // The running timer goes; from its own callback the kill does not wait.
    engine.killTimerHere(engine.sequencerTimer);
    retimeClock(engine, tempo);
    // Whole microseconds, at the nominal length of the ticks.
    engine.startTimer(engine.sequencerTimer, sequencerPeriodMicros(engine), &sequencerTimerProc);
}

void playLiveMessage(MixerEngine& engine, uint8_t status, uint8_t data1, uint8_t data2) {
    if (status < 0x80 || status >= 0xF0) return;
    MidiEvent event;
    event.type = MidiEventType::Channel;
    // 0x8n is kind 2 (note-off), 0x9n kind 1 (note-on), then 0xAn.. in order.
    const int32_t high = status >> 4;
    event.kind = high == 0x8 ? midi::kind::kNoteOff : high == 0x9 ? midi::kind::kNoteOn : high - 0x7;
    event.channel = status & 0x0F;
    event.data1 = data1 & 0x7F;
    event.data2 = data2 & 0x7F;
    engine.startOutput();
    if (engine.studio) {
        // A Studio mixer that is not the device's own hears it at once.
        StudioEvent e;
        e.kind = StudioEvent::Kind::Midi;
        e.type = static_cast<uint8_t>(status & 0xF0);
        e.channel = static_cast<uint8_t>(event.channel);
        e.data1 = static_cast<uint8_t>(event.data1);
        e.data2 = static_cast<uint8_t>(event.data2);
        e.immediate = true;
        engine.studio->post(e);
        return;
    }
    bool pitchDirty = false;
    channelMessage(engine, event, pitchDirty);
    if (pitchDirty) engine.retuneBentVoices();
}

}  // namespace tonvero
