#pragma once
// What the channel view calls a channel's sound: the General MIDI program's
// name ("Acoustic Grand"), or on a drum channel its kit ("Standard", "Room",
// ... "Drum Kit 12" for a program no General MIDI kit has).
//
// Threads: any (pure).

#include <QString>

namespace tonvero {

struct ChannelActivity;

// The General MIDI name of `program` 0..127 without its number; empty outside.
QString programName(int program);
// The drum kit a program change selects on a drum channel.
QString drumKitName(int program);
// The kit on a drum channel, else the program's name.
QString channelSoundName(const ChannelActivity& activity);

}  // namespace tonvero
