#include "engine/StudioChannel.h"

#include "engine/Midi.h"

#include <algorithm>
#include <cmath>

namespace tonvero {

namespace {

constexpr float kHalfPi = 1.57079632679489662f;
// Depth of the vibrato that modulation and channel pressure each give at 127.
constexpr float kVibratoCentsAt127 = 50.0f;

using namespace midi::cc;

}  // namespace

float midiLevel(int32_t value) {
    const float v = static_cast<float>(std::clamp(value, 0, 127)) / 127.0f;
    return v * v;
}

void StudioChannel::resetAll() {
    // The pitch serial only ever moves on, so no voice misses the change.
    const uint32_t serial = pitchSerial;
    *this = StudioChannel{};
    pitchSerial = serial + 1;
}

void StudioChannel::resetControllers() {
    modulation = 0;
    expression = 127;
    sustain = false;
    sostenuto = false;
    bend = 8192;
    pressure = 0;
    rpnMsb = 127;
    rpnLsb = 127;
    rpnSelected = false;
    update();
}

StudioChannel::VoiceAction StudioChannel::controller(int32_t number, int32_t value) {
    value = std::clamp(value, 0, 127);
    switch (number) {
    case kBankSelect: bankMsb = value; break;
    case kBankSelectLsb: bankLsb = value; break;
    case kModulation: modulation = value; break;
    case kVolume: volume = value; break;
    case kPan: pan = value; break;
    case kExpression: expression = value; break;
    case kReverbSend: reverbSend = value; break;
    case kChorusSend: chorusSend = value; break;
    case kSustain: {
        const bool down = value >= midi::kPedalDown;
        if (down == sustain) return VoiceAction::None;
        sustain = down;
        return VoiceAction::PedalsChanged;
    }
    case kSostenuto: {
        const bool down = value >= midi::kPedalDown;
        if (down == sostenuto) return VoiceAction::None;
        sostenuto = down;
        return down ? VoiceAction::SostenutoDown : VoiceAction::PedalsChanged;
    }
    case kRpnMsb:
        rpnMsb = value;
        rpnSelected = !(rpnMsb == 127 && rpnLsb == 127);
        break;
    case kRpnLsb:
        rpnLsb = value;
        rpnSelected = !(rpnMsb == 127 && rpnLsb == 127);
        break;
    case kNrpnMsb:
    case kNrpnLsb: rpnSelected = false; break;
    case kDataEntry:
    case kDataEntryLsb: {
        if (!rpnSelected || rpnMsb != 0) break;
        int32_t* data = rpnLsb == 0   ? &bendRangeData
                        : rpnLsb == 1 ? &fineTuneData
                        : rpnLsb == 2 ? &coarseTuneData
                                      : nullptr;
        if (!data) break;
        *data = number == kDataEntry ? (value << 7) | (*data & 0x7F) : (*data & ~0x7F) | value;
        break;
    }
    case kAllSoundOff: return VoiceAction::AllSoundOff;
    case kResetAllControllers: resetControllers(); return VoiceAction::PedalsChanged;
    default:
        if (number >= kAllNotesOff && number <= 127) return VoiceAction::AllNotesOff;
        return VoiceAction::None;
    }
    update();
    return VoiceAction::None;
}

void StudioChannel::setBend(int32_t value14) {
    bend = std::clamp(value14, 0, 16383);
    update();
}

void StudioChannel::setPressure(int32_t value) {
    pressure = std::clamp(value, 0, 127);
    update();
}

void StudioChannel::update() {
    gain = midiLevel(volume) * midiLevel(expression);
    // 1 and 0 are both hard left, 64 the centre, 127 hard right.
    const float position = static_cast<float>(std::clamp(pan - 1, 0, 126)) / 126.0f;
    panLeft = std::cos(position * kHalfPi);
    panRight = std::sin(position * kHalfPi);
    const float rangeSemitones =
        static_cast<float>(bendRangeData >> 7) + static_cast<float>(bendRangeData & 0x7F) / 100.0f;
    const float newPitch = static_cast<float>(bend - 8192) / 8192.0f * rangeSemitones +
                           static_cast<float>(fineTuneData - 8192) / 8192.0f +
                           static_cast<float>((coarseTuneData >> 7) - 64);
    if (newPitch != pitch) ++pitchSerial;
    pitch = newPitch;
    vibratoCents = kVibratoCentsAt127 * static_cast<float>(modulation + pressure) / 127.0f;
}

}  // namespace tonvero
