#pragma once
// One channel as the Studio mixer hears it: the General MIDI controllers and
// registered parameters, and the gains and pitch they give, kept up to date
// as each message arrives so that the voices only read them.
//
// Written and read by the Studio mixer's renderer only.

#include <cstdint>

namespace tonvero {

// 40 log10(value / 127) dB as an amplitude, (value / 127)^2: 0 is silent, 127 is 1.
float midiLevel(int32_t value);

struct StudioChannel {
    // What a controller message asks of the channel's voices besides the
    // channel's own state.
    enum class VoiceAction { None, PedalsChanged, SostenutoDown, AllSoundOff, AllNotesOff };

    int32_t program = 0;
    int32_t bankMsb = 0;       // controller 0, kept (a Patchmap has bank 0 only)
    int32_t bankLsb = 0;       // controller 32
    int32_t volume = 100;      // 7
    int32_t expression = 127;  // 11
    int32_t pan = 64;          // 10: 0 left, 64 centre, 127 right
    int32_t modulation = 0;    // 1
    int32_t pressure = 0;      // channel pressure
    bool sustain = false;      // 64
    bool sostenuto = false;    // 66
    int32_t reverbSend = 40;   // 91, kept
    int32_t chorusSend = 0;    // 93, kept
    int32_t bend = 8192;       // 14-bit pitch bend, 8192 centre
    // Registered parameter chosen by controllers 101 and 100 (127/127: none);
    // choosing a non-registered one (99, 98) deselects it.
    int32_t rpnMsb = 127;
    int32_t rpnLsb = 127;
    bool rpnSelected = false;
    // Registered parameter values as 14-bit data entry (MSB << 7 | LSB).
    int32_t bendRangeData = 2 << 7;    // 0: semitones (MSB) and cents (LSB)
    int32_t fineTuneData = 8192;       // 1: 8192 in tune, +-100 cents
    int32_t coarseTuneData = 64 << 7;  // 2: MSB 64 in tune, +-64 semitones

    // Derived, by update().
    float gain = 0;     // volume x expression levels
    float panLeft = 0;  // constant-power pan: cos and sin of the pan angle
    float panRight = 0;
    float pitch = 0;           // semitones: bend x range, fine and coarse tuning
    float vibratoCents = 0;    // vibrato depth from modulation and pressure
    uint32_t pitchSerial = 0;  // changes whenever `pitch` does

    StudioChannel() { update(); }

    // Everything to its power-on value (General MIDI, GS and XG resets).
    void resetAll();
    // Reset All Controllers: modulation, expression, pedals, bend, pressure
    // and the parameter selection; volume, pan and the sends stay.
    void resetControllers();
    // Applies controller `number` (0..127) = `value` (0..127).
    VoiceAction controller(int32_t number, int32_t value);
    void setBend(int32_t value14);
    void setPressure(int32_t value);
    // Recomputes the derived values.
    void update();
};

}  // namespace tonvero
