#include "song/Sequencer.h"

#include "engine/MixerEngine.h"
#include "song/MidiEvent.h"
#include "song/SongEnd.h"
#include "song/TempoMap.h"
#include "song/TrackReader.h"
#include "song/Transport.h"

#include <algorithm>
#include <cmath>

namespace tonvero {

namespace {

// 1/12 in single precision, as the frequency rule has it.
constexpr float kTwelfth = 0.083333336f;

// Counts the note against what the bank holds for it, then starts it.
void startNote(MixerEngine& engine, int32_t key, int32_t velocity, int32_t channel) {
    const int32_t program = channel == 9 ? Bank::kDrumEntry : engine.channels[static_cast<size_t>(channel)].program;
    const Instrument* instrument = engine.bank.instrumentForProgram(program);
    NoteCounts& notes = engine.playback.notes;
    if (!instrument)
        ++notes.withoutInstrument;
    else if (!Bank::findZone(instrument, key))
        ++notes.withoutZone;
    else
        ++notes.played;
    engine.noteOn(key, velocity, channel);
}

void controlChange(MixerEngine& engine, int32_t channel, int32_t controller, int32_t value, bool& pitchDirty) {
    ChannelState& ch = engine.channels[static_cast<size_t>(channel)];
    switch (controller) {
    case 1:
        ch.modulation = value;
        break;
    case 6:
        // Data entry sets the bend range, whatever parameter was chosen;
        // the bend scales by the whole-number ratio of new to old range.
        if (value >= 64) break;
        if (ch.bendRange != 0)
            ch.bend = ch.bend * static_cast<float>(value / ch.bendRange);
        else
            ch.bend = 0.0f;
        ch.bendRange = value;
        ch.pitchChanged = 1;
        pitchDirty = true;
        break;
    case 7:
        ch.volume = value;
        break;
    case 10:
        ch.pan = value;
        break;
    case 64:
        engine.setSustain(value >= 64 ? 1 : 0, channel);
        break;
    default:
        break;
    }
}

void channelMessage(MixerEngine& engine, const MidiEvent& event, bool& pitchDirty) {
    const int32_t c = event.channel;
    ChannelState& ch = engine.channels[static_cast<size_t>(c)];
    switch (event.kind) {
    case 1:
        if (event.data2 != 0)
            startNote(engine, event.data1, event.data2, c);
        else
            engine.noteOff(event.data1, c);
        break;
    case 2:
        engine.noteOff(event.data1, c);
        break;
    case 4:
        controlChange(engine, c, event.data1, event.data2, pitchDirty);
        break;
    case 5:
        ch.program = event.data1;
        break;
    case 7: {
        const int32_t value = event.data2 * 128 + event.data1;
        ch.bend = static_cast<float>(value - 8192) * static_cast<float>(ch.bendRange) * (1.0f / 8192.0f);
        ch.pitchChanged = 1;
        pitchDirty = true;
        break;
    }
    default:  // key pressure, channel pressure: nothing
        break;
    }
}

void metaEvent(MixerEngine& engine, Track& track, const MidiEvent& event) {
    if (event.metaType == 0x2F && event.metaLength == 0) {
        track.ended = 1;
    } else if (event.metaType == 0x51 && event.metaLength == 3) {
        const uint8_t* b = engine.songData.data() + event.metaOffset;
        changeTempo(engine, (b[0] << 16) | (b[1] << 8) | b[2]);
    }
}

void processEvent(MixerEngine& engine, TrackReader& reader, Track& track, bool& pitchDirty) {
    const MidiEvent event = readEvent(reader, track);
    switch (event.type) {
    case MidiEventType::Channel:
        channelMessage(engine, event, pitchDirty);
        break;
    case MidiEventType::Meta:
        metaEvent(engine, track, event);
        break;
    default:  // system exclusive, a dropped byte, or the track ran out
        break;
    }
}

bool allTracksEnded(const MixerEngine& engine) {
    for (int32_t t = 0; t < engine.tracks.size(); ++t)
        if (!engine.tracks.at(t)->ended) return false;
    return true;
}

void pitchUpdate(MixerEngine& engine) {
    if (engine.softwareMixer) {
        for (MixerVoice& m : engine.mixerVoices) {
            if (!m.active || !m.wave || m.channel < 0 || m.channel >= kChannelCount) continue;
            const ChannelState& ch = engine.channels[static_cast<size_t>(m.channel)];
            if (!ch.pitchChanged) continue;
            const uint32_t hz = bentFrequency(m.wave->frequency, m.pitchOffset, ch.bend);
            m.step = MixerEngine::frequencyStep(hz, static_cast<uint32_t>(engine.outputRate));
        }
        return;
    }
    for (Voice& v : engine.voices) {
        if (!v.active || !v.wave || v.channel < 0 || v.channel >= kChannelCount) continue;
        const ChannelState& ch = engine.channels[static_cast<size_t>(v.channel)];
        if (!ch.pitchChanged) continue;
        // Only the buffer that still plays this Voice's own note.
        if (SoundBuffer* buffer = engine.bufferOf(v))
            buffer->setFrequency(bentFrequency(v.wave->frequency, v.pitchOffset, ch.bend));
    }
}

}  // namespace

uint32_t bentFrequency(uint32_t waveFrequency, int32_t pitchOffset, float bend) {
    const double semitones = static_cast<double>(pitchOffset) + static_cast<double>(bend);
    const double hz = std::pow(2.0, semitones * static_cast<double>(kTwelfth)) * waveFrequency;
    if (!(hz > 0)) return 0;
    if (hz >= 4294967295.0) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(hz);
}

void sequencerTimerProc() {
    // Test and set: an event arriving while the previous one still runs is lost.
    if (sequencerBusy.exchange(1) != 0) return;
    if (MixerEngine* engine = theEngine) {
        EngineLock lock(engine->mutex);
        if (!engine->playback.paused) sequencerTick(*engine);
    }
    sequencerBusy.store(0);
}

void sequencerTick(MixerEngine& engine) {
    if (!engine.playing) return;
    bool pitchDirty = false;
    // The batch size is read again before every step: a tempo event inside
    // the batch changes how many steps this call makes.
    for (int32_t step = 0; step < engine.ticksPerTimerEvent;) {
        // Ticks at which no track has an event pass in one go.
        uint32_t untilDue = UINT32_MAX;
        for (int32_t t = 0; t < engine.tracks.size(); ++t) {
            const Track& track = *engine.tracks.at(t);
            if (!track.ended)
                untilDue = std::min(untilDue, static_cast<uint32_t>(track.nextEventTick) - engine.currentTick);
        }
        if (untilDue > 0) {
            const uint32_t jump = std::min(untilDue, static_cast<uint32_t>(engine.ticksPerTimerEvent - step));
            engine.currentTick += jump;
            step += static_cast<int32_t>(jump);
            continue;
        }
        for (int32_t t = 0; t < engine.tracks.size(); ++t) {
            Track& track = *engine.tracks.at(t);
            if (track.ended || static_cast<uint32_t>(track.nextEventTick) != engine.currentTick) continue;
            TrackReader reader(engine.songData.data(), track);
            for (;;) {
                processEvent(engine, reader, track, pitchDirty);
                if (track.ended) break;
                track.nextEventTick = static_cast<int32_t>(static_cast<uint32_t>(track.nextEventTick) + reader.varLen());
                if (track.ended || static_cast<uint32_t>(track.nextEventTick) != engine.currentTick) break;
            }
            if (track.ended && engine.playing && allTracksEnded(engine)) endSong(engine);
        }
        ++engine.currentTick;
        ++step;
    }
    // A song with no tracks, or whose tracks were all empty, ends here.
    if (engine.playing && allTracksEnded(engine)) endSong(engine);
    if (pitchDirty) pitchUpdate(engine);
}

void changeTempo(MixerEngine& engine, int32_t tempo) {
    if (tempo <= 0 || isSmpteDivision(engine.division)) return;
    // 1. The running timer goes; from its own callback the kill does not wait.
    if (engine.sequencerTimer != 0) {
        engine.timers().kill(engine.sequencerTimer);
        engine.sequencerTimer = 0;
    }
    // 3, 4. The batch, from the rate of the tempo before this one.
    int32_t batch = 1;
    const float rate = engine.ticksPerSecond;
    if (rate > 125.0) {
        const double estimate = std::ceil(static_cast<double>(rate) / 125.0);
        batch = estimate >= INT32_MAX ? INT32_MAX : std::max(2, static_cast<int32_t>(estimate));
        while (batch < INT32_MAX && rate / static_cast<float>(batch) > 125.0) ++batch;
        while (batch > 2 && rate / static_cast<float>(batch - 1) <= 125.0) --batch;
    }
    engine.ticksPerTimerEvent = batch;
    // 5.
    setTempo(engine, tempo);
    keepPeriodAtLeastOneMs(engine);
    // 6. Whole microseconds, at the nominal length of the ticks.
    engine.sequencerTimer = engine.timers().setPeriodic(sequencerPeriodMicros(engine), [] { sequencerTimerProc(); });
}

}  // namespace tonvero
