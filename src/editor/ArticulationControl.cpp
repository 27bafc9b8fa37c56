#include "editor/ArticulationControl.h"

namespace tonvero {

namespace {

using G = ArticulationGroup;
using E = EnvelopeSettings;
using L = LfoSettings;
using Z = ZoneArticulation;
using namespace articulation_id;

// The member of ZoneArticulation each field edits.
template <int32_t E::*M>
int32_t& volumeEnvelope(Z& a) {
    return a.volumeEnvelope.*M;
}
template <int32_t E::*M>
int32_t& modulationEnvelope(Z& a) {
    return a.modulationEnvelope.*M;
}
template <int32_t L::*M>
int32_t& modulationLfo(Z& a) {
    return a.modulationLfo.*M;
}
template <int32_t L::*M>
int32_t& vibratoLfo(Z& a) {
    return a.vibratoLfo.*M;
}
template <int32_t Z::*M>
int32_t& own(Z& a) {
    return a.*M;
}

// The ranges a SoundFont gives each kind of value.
const FieldUnit kDelay = FieldUnit::seconds(kInstantTimecents, 5000);  // delays and holds: up to 18 s
const FieldUnit kTime = FieldUnit::seconds(kInstantTimecents, 8000);   // attack, decay, release: up to 101.6 s
const FieldUnit kKeyToTime = FieldUnit::integer(-1200, 1200);
const FieldUnit kPitch = FieldUnit::integer(-12000, 12000);
const FieldUnit kLfoFrequency = FieldUnit::hertz(-16000, 4500);  // 0.0008 Hz to 110 Hz

constexpr const char* kKeyTip = "Timecents added per key below key 60 (100: half as long an octave up)";

std::vector<ArticulationControl> makeFields() {
    return {
        {kVolumeDelay, G::VolumeEnvelope, "Delay", "s", kDelay, &volumeEnvelope<&E::delay>, nullptr},
        {kVolumeAttack, G::VolumeEnvelope, "Attack", "s", kTime, &volumeEnvelope<&E::attack>, nullptr},
        {kVolumeHold, G::VolumeEnvelope, "Hold", "s", kDelay, &volumeEnvelope<&E::hold>, nullptr},
        {kVolumeDecay, G::VolumeEnvelope, "Decay", "s", kTime, &volumeEnvelope<&E::decay>,
         "The time a fall of 96 dB would take"},
        {kVolumeSustain, G::VolumeEnvelope, "Sustain", "dB", FieldUnit::tenths(0, 1440, -1),
         &volumeEnvelope<&E::sustain>, "The level held after the decay: 0 dB full, -144 dB silent"},
        {kVolumeRelease, G::VolumeEnvelope, "Release", "s", kTime, &volumeEnvelope<&E::release>,
         "The time a fall of 96 dB would take"},
        {kVolumeKeyToHold, G::VolumeEnvelope, "Key to hold", "tc/key", kKeyToTime, &volumeEnvelope<&E::keyToHold>,
         kKeyTip},
        {kVolumeKeyToDecay, G::VolumeEnvelope, "Key to decay", "tc/key", kKeyToTime, &volumeEnvelope<&E::keyToDecay>,
         kKeyTip},

        {kModDelay, G::ModulationEnvelope, "Delay", "s", kDelay, &modulationEnvelope<&E::delay>, nullptr},
        {kModAttack, G::ModulationEnvelope, "Attack", "s", kTime, &modulationEnvelope<&E::attack>, nullptr},
        {kModHold, G::ModulationEnvelope, "Hold", "s", kDelay, &modulationEnvelope<&E::hold>, nullptr},
        {kModDecay, G::ModulationEnvelope, "Decay", "s", kTime, &modulationEnvelope<&E::decay>,
         "The time a fall from full to none would take"},
        {kModSustain, G::ModulationEnvelope, "Sustain", "%", FieldUnit::tenths(0, 1000, -1, 100),
         &modulationEnvelope<&E::sustain>, "The level held after the decay, in per cent of full"},
        {kModRelease, G::ModulationEnvelope, "Release", "s", kTime, &modulationEnvelope<&E::release>,
         "The time a fall from full to none would take"},
        {kModKeyToHold, G::ModulationEnvelope, "Key to hold", "tc/key", kKeyToTime, &modulationEnvelope<&E::keyToHold>,
         kKeyTip},
        {kModKeyToDecay, G::ModulationEnvelope, "Key to decay", "tc/key", kKeyToTime,
         &modulationEnvelope<&E::keyToDecay>, kKeyTip},
        {kModToPitch, G::ModulationEnvelope, "To pitch", "cents", kPitch, &own<&Z::modulationEnvelopeToPitch>,
         "Pitch at the envelope's peak"},
        {kModToFilter, G::ModulationEnvelope, "To filter", "cents", kPitch, &own<&Z::modulationEnvelopeToFilter>,
         "Filter cutoff at the envelope's peak"},

        {kModLfoDelay, G::ModulationLfo, "Delay", "s", kDelay, &modulationLfo<&L::delay>, nullptr},
        {kModLfoFrequency, G::ModulationLfo, "Frequency", "Hz", kLfoFrequency, &modulationLfo<&L::frequency>, nullptr},
        {kModLfoToPitch, G::ModulationLfo, "To pitch", "cents", kPitch, &modulationLfo<&L::toPitch>, nullptr},
        {kModLfoToFilter, G::ModulationLfo, "To filter", "cents", kPitch, &modulationLfo<&L::toFilter>, nullptr},
        {kModLfoToVolume, G::ModulationLfo, "To volume", "dB", FieldUnit::tenths(-960, 960),
         &modulationLfo<&L::toVolume>, nullptr},

        {kVibratoDelay, G::VibratoLfo, "Delay", "s", kDelay, &vibratoLfo<&L::delay>, nullptr},
        {kVibratoFrequency, G::VibratoLfo, "Frequency", "Hz", kLfoFrequency, &vibratoLfo<&L::frequency>, nullptr},
        {kVibratoToPitch, G::VibratoLfo, "To pitch", "cents", kPitch, &vibratoLfo<&L::toPitch>, nullptr},
        {kModulationToVibrato, G::VibratoLfo, "Wheel adds", "cents", kPitch, &own<&Z::modulationToVibrato>,
         "Vibrato depth the modulation wheel adds at its top"},
        {kPressureToVibrato, G::VibratoLfo, "Pressure adds", "cents", kPitch, &own<&Z::pressureToVibrato>,
         "Vibrato depth channel pressure adds at its top"},

        {kFilterCutoff, G::Filter, "Cutoff", "Hz", FieldUnit::hertz(1500, kOpenFilterCents), &own<&Z::filterCutoff>,
         "The low-pass filter's cutoff; at the highest, the filter is open"},
        {kFilterResonance, G::Filter, "Resonance", "dB", FieldUnit::tenths(0, 960), &own<&Z::filterResonance>, nullptr},
        {kVelocityToFilter, G::Filter, "Soft notes", "cents", kPitch, &own<&Z::velocityToFilter>,
         "Cutoff moved for soft notes (from velocity 64; none at 127)"},

        {kAttenuation, G::Tone, "Attenuation", "dB", FieldUnit::tenths(0, 1440), &own<&Z::attenuation>, nullptr},
        {kPan, G::Tone, "Pan", "% L/R", FieldUnit::tenths(-500, 500), &own<&Z::pan>,
         "-50 full left, 0 centre, 50 full right"},
        {kCoarseTune, G::Tone, "Coarse tune", "semitones", FieldUnit::integer(-120, 120), &own<&Z::coarseTune>,
         nullptr},
        {kFineTune, G::Tone, "Fine tune", "cents", FieldUnit::integer(-99, 99), &own<&Z::fineTune>, nullptr},
        {kScaleTuning, G::Tone, "Scale tuning", "cents/key", FieldUnit::integer(0, 1200), &own<&Z::scaleTuning>,
         "100: each key a semitone; 0: every key at the basic note's pitch"},
        {kReverbSend, G::Tone, "Reverb send", "%", FieldUnit::tenths(0, 1000), &own<&Z::reverbSend>,
         "Sent to the reverb on top of the channel's controller 91 (which sends 20 % at 127)"},
        {kChorusSend, G::Tone, "Chorus send", "%", FieldUnit::tenths(0, 1000), &own<&Z::chorusSend>,
         "Sent to the chorus on top of the channel's controller 93 (which sends 20 % at 127)"},

        {kExclusiveClass, G::Playing, "Exclusive class", "", FieldUnit::integer(0, 127), &own<&Z::exclusiveClass>,
         "A note cuts the channel's other notes of the same class; 0: none"},
        {kVelocityLow, G::Playing, "Velocity from", "", FieldUnit::integer(0, 127), &own<&Z::velocityLow>,
         "The softest velocity the sound plays"},
        {kVelocityHigh, G::Playing, "Velocity to", "", FieldUnit::integer(0, 127), &own<&Z::velocityHigh>,
         "The loudest velocity the sound plays"},
    };
}

}  // namespace

const std::vector<ArticulationControl>& articulationControls() {
    static const std::vector<ArticulationControl> fields = makeFields();
    return fields;
}

const ArticulationControl* articulationControl(int id) {
    for (const ArticulationControl& field : articulationControls())
        if (field.id == id) return &field;
    return nullptr;
}

const char* articulationGroupTitle(ArticulationGroup group) {
    switch (group) {
    case G::VolumeEnvelope: return "Volume envelope";
    case G::ModulationEnvelope: return "Modulation envelope";
    case G::ModulationLfo: return "Modulation LFO";
    case G::VibratoLfo: return "Vibrato LFO";
    case G::Filter: return "Filter";
    case G::Tone: return "Level and tuning";
    case G::Playing: return "Playing";
    }
    return "";
}

}  // namespace tonvero
