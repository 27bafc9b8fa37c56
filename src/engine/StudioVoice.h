#pragma once
// One sound of the Studio mixer. Like a MixerVoice it keeps its own copies
// of the Wave's playing values and of the Instrument's fadings (turned into
// fades per output frame for its velocity) from its start, and reads the Wave's samples in
// place; unlike one, its position keeps its fraction, its pitch follows the
// channel, and its level changes smoothly.
//
// The loop values are made safe at the start: `loopEnd` is at most
// `sampleCount` - 1, and a loop that is empty or inverted is not looped.
//
// Written and read by the Studio mixer's renderer only.

#include "engine/LowPassFilter.h"
#include "engine/VoiceEnvelope.h"
#include "engine/VoiceLfo.h"

#include <cstdint>

namespace tonvero {

struct Wave;

// What a voice of a Zone with articulation takes from it at its start, in
// the units the renderer uses.
struct VoiceShape {
    VoiceEnvelope volumeEnvelope;
    VoiceEnvelope modulationEnvelope;
    VoiceLfo modulationLfo;
    VoiceLfo vibratoLfo;
    LowPassFilter filter;
    double pitchCents = 0;                   // from the basic note: key distance x scale tuning, coarse and fine tuning
    int32_t cutoffCents = kOpenFilterCents;  // absolute cents, the velocity's lowering included
    int32_t resonanceCentibels = 0;
    float filterCents = 0;  // the cutoff the filter was last set to (absolute cents)
    int32_t modulationEnvelopeToPitch = 0, modulationEnvelopeToFilter = 0;
    int32_t modulationLfoToPitch = 0, modulationLfoToFilter = 0, modulationLfoToVolume = 0;
    int32_t vibratoLfoToPitch = 0;
    int32_t modulationToVibrato = 0, pressureToVibrato = 0;  // cents of vibrato depth at controller 127
    float attenuation = 1;                                   // the Zone's attenuation as an amplitude
    float pan = 0;  // the Zone's pan, -0.5 (left) .. 0.5 (right) of the pan range
    int32_t exclusiveClass = 0;
    bool tailOnRelease = false;
    bool releasing = false;  // the envelopes have entered their release
    // The filter and pitch move with time (an envelope or LFO reaches them).
    bool modulatesFilter = false;
    bool modulatesPitch = false;
    // The modulation envelope and the LFOs reach something.
    bool usesModulationEnvelope = false, usesModulationLfo = false, usesVibratoLfo = false;
    // The constant-power pan gains and the channel pan they were made for.
    int32_t panFor = -1;
    float panLeft = 0, panRight = 0;
};

struct StudioVoice {
    enum class State : uint8_t {
        Free,
        Playing,  // counts against the voice limit
        Dying,    // taken or cut: ramps to silence over a few milliseconds, then Free
    };

    State state = State::Free;
    bool released = false;       // its note has had its note-off
    bool sostenutoHeld = false;  // held by the sostenuto pedal that was pressed while its key was down
    bool looped = false;         // plays its loop (cleared when a release leaves the loop for the tail)
    bool wrapped = false;        // has come round its loop at least once
    bool finished = false;       // the chunk just mixed was its last
    bool live = false;           // a live note's: the song's stops, seeks and turns leave it alone
    uint8_t channel = 0;         // 0..16
    uint8_t program = 0;         // its channel's program when it started
    // The channel and the Zone's own reverb and chorus sends (0..1000 each):
    // voices with the same key are summed together and sent as one.
    uint32_t sendKey = 0;    // channel | reverb << 5 | chorus << 15
    int16_t sendGroup = -1;  // the mixer's group it was last summed in
    uint8_t key = 0;
    int32_t noteId = 0;       // the audition note it plays, 0 for a song note
    uint64_t noteSerial = 0;  // the note it sounds: a note-off releases every voice of that note
    uint64_t startFrame = 0;  // output frame at its start

    const Wave* wave = nullptr;  // not owned; compared, and read only through the copies below
    const int16_t* samples = nullptr;
    int64_t sampleCount = 0;
    float peak =
        0;  // the loudest it can sound at unit level: its samples' peak, lifted by the interpolation and the filter
    int64_t loopBegin = 0;
    int64_t loopEnd = 0;  // last sample of the loop, inclusive
    int64_t holdPos = 0;  // from here on, a released voice fades

    // The samples around the loop's end as the loop plays them: indices
    // loopEnd + 1 - kLoopEdge .. loopEnd + kLoopEdge, the ones past loopEnd
    // taken from the loop's start, so reads across the wrap come from here.
    static constexpr int kLoopEdge = 64;
    int16_t loopEdge[2 * kLoopEdge] = {};

    uint64_t position = 0;     // 32.32 fixed point, in samples
    uint64_t step = 0;         // 32.32 samples per output frame
    double baseRatio = 0;      // samples per output frame at the Zone's basic note
    float keyOffset = 0;       // semitones from the Zone's basic note
    uint32_t pitchSerial = 0;  // the channel pitch `step` was computed for
    float lfoPhase = 0;        // vibrato, in cycles (0..1)

    float velocityGain = 0;  // 40 log10(velocity / 127) dB as an amplitude
    float envelope = 1;      // 1 at the start; the fadings take it to 0
    float loopFade = 0;      // envelope per frame while held and looped
    float sustainFade = 0;   // ... after note-off with a pedal down
    float cutoffFade = 0;    // ... after note-off with no pedal (0: the tail plays out)
    float dying = 1;         // 1 .. 0 while Dying
    float gainLeft = 0;      // gains reached at the end of the last chunk
    float gainRight = 0;

    // The Zone's articulation, when it has one: then the envelopes, LFOs and
    // filter shape the voice, and the Instrument's fadings and the Wave's
    // hold position do not apply.
    bool articulated = false;
    VoiceShape shape;

    // Overall level now, for choosing which voice to take.
    float level() const { return (gainLeft > gainRight ? gainLeft : gainRight); }
};

}  // namespace tonvero
