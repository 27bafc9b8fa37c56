#pragma once
// Where the default bank "gmpatch.map" is found: the working directory first,
// then the program's data directory: beside the executable in a build, or
// ../share/tonvero from its bin/ directory when installed.
//
// Any thread; reads only the file system.

#include <string>

namespace tonvero {

constexpr const char* kDefaultPatchmapName = "gmpatch.map";

// The directory holding the running program (from /proc/self/exe, else from
// argv0); empty when neither tells.
std::string programDirectory(const std::string& argv0);

// The first "gmpatch.map" that exists in those places, or "gmpatch.map"
// itself (in the working directory) when none does, so that a message about
// it names the file the user is expected to provide.
std::string findDefaultPatchmap(const std::string& argv0);

}  // namespace tonvero
