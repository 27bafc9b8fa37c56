#pragma once
// How a Zone's sound is shaped over its life, as a SoundFont describes it:
// volume and modulation envelopes, a resonant low-pass filter, a modulation
// LFO and a vibrato LFO, attenuation, pan, tuning, a velocity range, an
// exclusive class, what a looped Wave does at note-off, the link that makes
// two mono Zones one stereo sound, and its reverb and chorus sends.
//
// Optional on every Zone (Zone::articulation): a Zone without it sounds as
// it always has. The Custom Mixer and the hardware mixer ignore it; the
// Studio mixer plays all of it.
//
// Units are the SoundFont's own integers, so a bank made from a SoundFont
// keeps its values exactly and a Patchmap stores them as they are:
//  - times in timecents: 2^(tc / 1200) seconds (kInstantTimecents, -12000,
//    is about 1 ms: as good as none);
//  - levels in centibels (tenths of a decibel) of attenuation;
//  - pitch in cents;
//  - frequencies in absolute cents: 8.176 Hz x 2^(c / 1200) (0 is 8.176 Hz,
//    13500 about 19.9 kHz);
//  - pan in tenths of a per cent, -500 full left to 500 full right.
//
// Threads: plain data, read by the Studio mixer at note-on and changed by the
// editors, with the engine mutex held as for the rest of the bank.

#include <cmath>
#include <cstdint>

namespace tonvero {

constexpr int32_t kInstantTimecents = -12000;
// A filter cutoff at or above this is open (the SoundFont's default).
constexpr int32_t kOpenFilterCents = 13500;

struct EnvelopeSettings {
    int32_t delay = kInstantTimecents;   // before the attack starts
    int32_t attack = kInstantTimecents;  // from silence to full level
    int32_t hold = kInstantTimecents;    // at full level
    // Decay and release: the time a fall over the whole range would take
    // (96 dB for the volume envelope, full to none for the modulation
    // envelope); the fall to the sustain level takes its share of it.
    int32_t decay = kInstantTimecents;
    // Volume envelope: centibels below full (0..1440); modulation envelope:
    // tenths of a per cent below full (0..1000).
    int32_t sustain = 0;
    int32_t release = kInstantTimecents;
    // Timecents added to hold and to decay per key below key 60 (the
    // SoundFont's keynumToVolEnvHold and keynumToVolEnvDecay: at 100 an
    // octave up halves the time; key 60 keeps it).
    int32_t keyToHold = 0;
    int32_t keyToDecay = 0;

    bool operator==(const EnvelopeSettings&) const = default;
};

struct LfoSettings {
    int32_t delay = kInstantTimecents;  // before it starts to swing
    int32_t frequency = 0;              // absolute cents: 0 is 8.176 Hz
    int32_t toPitch = 0;                // cents at the top of the swing
    int32_t toFilter = 0;               // cents of filter cutoff (modulation LFO only)
    int32_t toVolume = 0;               // centibels (modulation LFO only)

    bool operator==(const LfoSettings&) const = default;
};

struct ZoneArticulation {
    EnvelopeSettings volumeEnvelope;
    EnvelopeSettings modulationEnvelope;
    int32_t modulationEnvelopeToPitch = 0;   // cents at the envelope's peak
    int32_t modulationEnvelopeToFilter = 0;  // cents of cutoff at the envelope's peak
    LfoSettings modulationLfo;
    LfoSettings vibratoLfo;  // toPitch only
    // Attenuation and tuning on top of what the Zone's Wave carries (its
    // samples' level, its frequency): the SoundFont import puts a layer's own
    // into the Wave, so every mixer hears them, and leaves these at 0.
    int32_t attenuation = 0;    // centibels, 0..1440
    int32_t pan = 0;            // -500..500
    int32_t coarseTune = 0;     // semitones, -120..120
    int32_t fineTune = 0;       // cents, -99..99
    int32_t scaleTuning = 100;  // cents per key away from the basic note, 0..1200
    // Low-pass filter: cutoff in absolute cents (1500..13500; at kOpenFilterCents
    // and above open unless modulated down), resonance in centibels (0..960).
    // Softer notes move the cutoff by velocityToFilter (below).
    int32_t filterCutoff = kOpenFilterCents;
    int32_t filterResonance = 0;
    // A new note on the channel cuts the others of the same class (1..127; 0: none).
    int32_t exclusiveClass = 0;
    int32_t velocityLow = 0;  // the velocities the Zone plays, inclusive
    int32_t velocityHigh = 127;
    // A looped Wave leaves its loop at note-off and plays its tail (SoundFont
    // sample mode 3); otherwise it loops on through the release.
    bool tailOnRelease = false;
    // The Zone, by its position in the Instrument, that plays the other side
    // of a stereo sound; -1 for none. The two are started together.
    int32_t linkedZone = -1;
    // How the channel moves the Zone, as a SoundFont's standard links from
    // velocity, the modulation wheel and channel pressure do (a SoundFont may
    // set its own amounts, 0 to turn one off):
    //  - velocityToFilter: cents of cutoff at the softest velocity the link
    //    reaches (from velocity 64 up, none at 127), -12000..12000;
    //  - modulationToVibrato and pressureToVibrato: cents of vibrato LFO
    //    depth at controller value 127, -12000..12000.
    int32_t velocityToFilter = -2400;
    int32_t modulationToVibrato = 50;
    int32_t pressureToVibrato = 50;
    // What the Zone sends to the Studio mixer's reverb and chorus on top of
    // what its channel sends (controllers 91 and 93), in tenths of a per cent
    // of the SoundFont's scale (0..1000; a channel at 127 sends 200).
    int32_t reverbSend = 0;
    int32_t chorusSend = 0;

    bool operator==(const ZoneArticulation&) const = default;
};

inline double timecentsToSeconds(int32_t timecents) { return std::exp2(timecents / 1200.0); }
inline double absoluteCentsToHz(int32_t cents) { return 8.17579891564 * std::exp2(cents / 1200.0); }
inline double centibelsToGain(int32_t centibels) { return std::pow(10.0, -centibels / 200.0); }

}  // namespace tonvero
