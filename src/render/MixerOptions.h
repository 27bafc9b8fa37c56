#pragma once
// The command-line options that choose the engine's mixer and set up the
// Studio mixer, shared by the programs: --mixer, --interpolation, --voices,
// --gain, and the reverb's and chorus's --reverb, --chorus and their settings.
//
// Pure functions; any thread.

#include "engine/MixerMode.h"

#include <cstdint>
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
bool parseMixerOption(const std::string& option, const std::string& value, MixerOptions& options, std::string& problem);
// The options' lines for a program's usage text.
const char* mixerOptionsUsage();
// Every setting of `options` as the options that give it ("--mixer studio
// --interpolation cubic --voices 256 ..."), in one order, numbers exactly
// (the shortest digits that read back as the same value): equal texts for equal settings, however they were spelt. The
// Studio mixer's settings appear only with the Studio mixer.
std::string mixerOptionsText(const MixerOptions& options);

// A list of MIDI channels as the programs' --mute and --solo take it: the
// channels 1 to 16 as people number them, one ("10") or several joined by
// commas ("1,4"). Sets bit c - 1 of `mask` for channel c; false with
// `problem` in words for the user (naming the part that is wrong), `mask`
// unchanged.
bool parseChannelList(const std::string& text, uint16_t& mask, std::string& problem);

}  // namespace tonvero
