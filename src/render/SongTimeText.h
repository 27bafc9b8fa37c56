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

}  // namespace tonvero
