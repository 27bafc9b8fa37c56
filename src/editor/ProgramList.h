#pragma once
// The Instrument Editor's program list: "000 - Acoustic Grand" up to
// "127 - Gunshot" for the General MIDI programs and "128 - Drums Collection"
// for the drum set. An entry's position is its program number.

#include <QString>

namespace tonvero {

constexpr int kProgramListEntries = 129;

// Entry `program` (0..128); empty outside that range.
QString programListEntry(int program);

}  // namespace tonvero
