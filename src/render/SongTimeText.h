#pragma once
// Song times as the programs show them: "0:42", "2:15", "1:02:03".
// Pure; any thread.

#include <string>

namespace tonvero {

// Whole seconds (rounded down) as m:ss, or h:mm:ss from an hour on; negative
// and non-finite values show as 0:00.
std::string formatSongTime(double seconds);
// "position / length", e.g. "0:42 / 2:15".
std::string formatSongPosition(double positionSeconds, double lengthSeconds);
// A song time as the programs take it on their command lines: seconds
// ("83", "83.25"), m:ss or h:mm:ss, each with an optional fraction of a
// second ("1:23.5"). False for anything else (negative, empty, junk).
bool parseSongTime(const std::string& text, double& seconds);
// What the programs say of a song whose data ends early: "the song is
// damaged after 0:55; playing what is there".
std::string songDamageText(double damagedAfterSeconds);

}  // namespace tonvero
