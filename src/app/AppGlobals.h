#pragma once
// The two file names the application shell keeps: the current Patchmap (shown
// by the view, written by Save) and the last song chosen.
//
// Threads: user-interface thread only.

#include <string>

namespace tonvero {

extern std::string patchmapPath;
extern std::string songPath;

}  // namespace tonvero
