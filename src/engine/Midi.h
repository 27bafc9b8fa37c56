#pragma once
// Names for the MIDI numbers the engine and the sequencer act on: the
// channel messages' status bytes (the channel in the low nibble), the
// message kinds a track's events are read as, and the controller numbers.

#include <cstdint>

namespace tonvero::midi {

// Status bytes of the channel messages, channel 0.
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kKeyPressure = 0xA0;
constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kProgramChange = 0xC0;
constexpr uint8_t kChannelPressure = 0xD0;
constexpr uint8_t kPitchBend = 0xE0;

// The kind of a track's event (MidiEvent::kind, Track::runningKind).
namespace kind {
constexpr int32_t kNoteOn = 1;
constexpr int32_t kNoteOff = 2;
constexpr int32_t kKeyPressure = 3;
constexpr int32_t kControlChange = 4;
constexpr int32_t kProgramChange = 5;
constexpr int32_t kChannelPressure = 6;
constexpr int32_t kPitchBend = 7;
constexpr int32_t kSystemExclusive = 8;
}  // namespace kind

// Controller numbers.
namespace cc {
constexpr int32_t kBankSelect = 0;
constexpr int32_t kModulation = 1;
constexpr int32_t kDataEntry = 6;
constexpr int32_t kVolume = 7;
constexpr int32_t kPan = 10;
constexpr int32_t kExpression = 11;
constexpr int32_t kBankSelectLsb = 32;
constexpr int32_t kDataEntryLsb = 38;
constexpr int32_t kSustain = 64;
constexpr int32_t kSostenuto = 66;
constexpr int32_t kReverbSend = 91;
constexpr int32_t kChorusSend = 93;
constexpr int32_t kNrpnLsb = 98;
constexpr int32_t kNrpnMsb = 99;
constexpr int32_t kRpnLsb = 100;
constexpr int32_t kRpnMsb = 101;
constexpr int32_t kLoopStart = 111;  // the loop's start, as several games' songs mark it
constexpr int32_t kAllSoundOff = 120;
constexpr int32_t kResetAllControllers = 121;
constexpr int32_t kAllNotesOff = 123;  // 124..127 (omni and mono/poly) also end every note
}  // namespace cc

// A pedal controller's value that holds it down.
constexpr int32_t kPedalDown = 64;

}  // namespace tonvero::midi
