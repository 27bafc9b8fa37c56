#include "song/SongEnd.h"

#include "engine/Midi.h"
#include "engine/MixerEngine.h"
#include "song/Transport.h"

namespace tonvero {

namespace {

// How long after the last voice fell silent the output still has sound to
// play: what the software mixer has written ahead of the play cursor, and
// one mixer period for the tick that wrote the last of it.
uint64_t playOutMicros(const MixerEngine& engine) REQUIRES(engine.mutex) {
    uint64_t micros = kMixerPeriodMicros;
    if (engine.softwareMixer && engine.outputRate > 0)
        micros +=
            static_cast<uint64_t>(engine.custom.writeAheadBytes / 4) * 1000000u / static_cast<uint64_t>(engine.outputRate);
    return micros;
}

// Notes the time at which every voice fell silent, and stops everything once
// the sound written by then has played out, or the ending has run too long.
void watchEnding(MixerEngine& engine) REQUIRES(engine.mutex) {
    PlaybackState& state = engine.song.playback;
    const uint64_t now = engine.timers().nowMicros();
    if (!allVoicesSilent(engine)) {
        state.quiet = 0;
    } else if (!state.quiet) {
        state.quiet = 1;
        state.quietSinceMicros = now;
    }
    const bool playedOut = state.quiet && now - state.quietSinceMicros >= playOutMicros(engine);
    const bool tooLong = now - state.endStartMicros >= kMaxEndingMicros;
    if (playedOut || tooLong) stopOnTimerThread(engine);
}

}  // namespace

bool allVoicesSilent(MixerEngine& engine) {
    if (engine.studio) return engine.studio->songIdle();
    if (engine.softwareMixer) {
        for (const MixerVoice& m : engine.custom.mixerVoices)
            if (m.active) return false;
        return true;
    }
    for (const auto* slots : {&engine.hardware.waveBuffers, &engine.hardware.voiceBuffers}) {
        for (const SoundBufferPtr& buffer : *slots) {
            uint32_t status = 0;
            if (buffer && succeeded(buffer->getStatus(status)) && (status & BufferStatus::Playing)) return false;
        }
    }
    return true;
}

void releaseSongNotes(MixerEngine& engine) {
    for (int32_t c = 0; c < kPreviewChannel; ++c) engine.setSustain(0, c);
    for (Voice& voice : engine.voices)
        if (voice.active && voice.channel < kPreviewChannel) engine.releaseVoice(voice);
}

void endSong(MixerEngine& engine) {
    engine.playing = 0;
    // The sequencer stops; this runs in its callback, so the kill does not wait.
    engine.killTimerHere(engine.sequencerTimer);
    // Every held note is let go, as a note-off with the pedals up (in the
    // Studio mixer on the frame the song ends).
    if (engine.studio) {
        for (int32_t c = 0; c < kPreviewChannel; ++c) {
            for (const int32_t controller : {midi::cc::kSustain, midi::cc::kSostenuto, midi::cc::kAllNotesOff}) {
                StudioEvent e;
                e.kind = StudioEvent::Kind::Midi;
                e.frame = engine.song.playback.eventFrame;
                e.type = midi::kControlChange;
                e.channel = static_cast<uint8_t>(c);
                e.data1 = static_cast<uint8_t>(controller);
                engine.studio->postSong(e);
            }
        }
    } else {
        releaseSongNotes(engine);
    }

    PlaybackState& state = engine.song.playback;
    state.ending = 1;
    state.endStartMicros = engine.timers().nowMicros();
    state.quiet = 0;
    watchEnding(engine);
    if (state.ending) engine.startTimer(engine.songEndTimer, kMixerPeriodMicros, &songEndTimerProc);
}

void songEndTimerProc() {
    MixerEngine* engine = theEngine;
    if (!engine) return;
    EngineLock lock(engine->mutex);
    if (engine->song.playback.ending) watchEnding(*engine);
}

}  // namespace tonvero
