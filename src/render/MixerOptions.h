#pragma once
// The command-line options that choose the engine's mixer and set up the
// Studio mixer, shared by the programs: --mixer, --interpolation, --voices,
// --gain, and the reverb's and chorus's --reverb, --chorus and their settings.
//
// Pure functions; any thread.

#include "engine/MixerMode.h"

#include <string>

namespace tonvero {

struct MixerOptions {
    MixerMode mode = MixerMode::Studio;
    StudioSettings studio;
};

// True for the names of the options below.
bool isMixerOption(const std::string& option);
// Applies `option` with its `value`; false with `problem` in words for the
// user when the value is not one the option takes.
bool parseMixerOption(const std::string& option, const std::string& value, MixerOptions& options,
                      std::string& problem);
// The options' lines for a program's usage text.
const char* mixerOptionsUsage();

}  // namespace tonvero
