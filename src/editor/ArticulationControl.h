#pragma once
// The articulation panel's fields, one for each number of a Zone's
// articulation (bank/Articulation.h): the control id, the group it is shown
// in, its label, the unit shown after it, how it converts (FieldUnit, with
// the range a SoundFont gives the value) and the member of ZoneArticulation
// it edits.
//
// Threads: any (a constant table).

#include "bank/Articulation.h"
#include "editor/FieldUnit.h"

#include <cstdint>
#include <vector>

namespace tonvero {

// The panel's controls.
namespace articulation_id {
constexpr int kArticulation = 1110;  // the check box that gives the Zone articulation or takes it away
constexpr int kVolumeDelay = 1111;
constexpr int kVolumeAttack = 1112;
constexpr int kVolumeHold = 1113;
constexpr int kVolumeDecay = 1114;
constexpr int kVolumeSustain = 1115;
constexpr int kVolumeRelease = 1116;
constexpr int kVolumeKeyToHold = 1117;
constexpr int kVolumeKeyToDecay = 1118;
constexpr int kModDelay = 1121;
constexpr int kModAttack = 1122;
constexpr int kModHold = 1123;
constexpr int kModDecay = 1124;
constexpr int kModSustain = 1125;
constexpr int kModRelease = 1126;
constexpr int kModKeyToHold = 1127;
constexpr int kModKeyToDecay = 1128;
constexpr int kModToPitch = 1129;
constexpr int kModToFilter = 1130;
constexpr int kModLfoDelay = 1131;
constexpr int kModLfoFrequency = 1132;
constexpr int kModLfoToPitch = 1133;
constexpr int kModLfoToFilter = 1134;
constexpr int kModLfoToVolume = 1135;
constexpr int kVibratoDelay = 1141;
constexpr int kVibratoFrequency = 1142;
constexpr int kVibratoToPitch = 1143;
constexpr int kFilterCutoff = 1151;
constexpr int kFilterResonance = 1152;
constexpr int kAttenuation = 1161;
constexpr int kPan = 1162;
constexpr int kCoarseTune = 1163;
constexpr int kFineTune = 1164;
constexpr int kScaleTuning = 1165;
constexpr int kReverbSend = 1166;
constexpr int kChorusSend = 1167;
constexpr int kExclusiveClass = 1171;
constexpr int kVelocityLow = 1172;
constexpr int kVelocityHigh = 1173;
constexpr int kTailOnRelease = 1174;  // check box
constexpr int kLinkedTo = 1175;       // the stereo link, shown only
constexpr int kVelocityToFilter = 1153;
constexpr int kModulationToVibrato = 1144;
constexpr int kPressureToVibrato = 1145;
}  // namespace articulation_id

enum class ArticulationGroup { VolumeEnvelope, ModulationEnvelope, ModulationLfo, VibratoLfo, Filter, Tone, Playing };

struct ArticulationControl {
    int id;
    ArticulationGroup group;
    const char* label;
    const char* unitText;  // shown after the field; empty for a plain count
    FieldUnit unit;
    int32_t& (*member)(ZoneArticulation&);
    const char* tip;  // the field's tool tip; null for none
};

// Every number field, in the panel's order (groups in turn, top to bottom).
const std::vector<ArticulationControl>& articulationControls();
// The field with this id, or null.
const ArticulationControl* articulationControl(int id);
// The group's title as the panel shows it.
const char* articulationGroupTitle(ArticulationGroup group);

}  // namespace tonvero
