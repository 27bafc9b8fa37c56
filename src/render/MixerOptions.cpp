#include "render/MixerOptions.h"

#include <cmath>
#include <cstdlib>

namespace tonvero {

bool isMixerOption(const std::string& option) {
    return option == "--mixer" || option == "--interpolation" || option == "--voices" || option == "--gain";
}

bool parseMixerOption(const std::string& option, const std::string& value, MixerOptions& options,
                      std::string& problem) {
    if (option == "--mixer") {
        if (parseMixerMode(value, options.mode)) return true;
        problem = "--mixer takes studio, software, primary or hardware, not \"" + value + "\"";
        return false;
    }
    if (option == "--interpolation") {
        if (parseInterpolation(value, options.studio.interpolation)) return true;
        problem = "--interpolation takes nearest, linear, cubic or sinc, not \"" + value + "\"";
        return false;
    }
    if (option == "--voices") {
        char* end = nullptr;
        const long voices = std::strtol(value.c_str(), &end, 10);
        if (!value.empty() && *end == '\0' && voices >= kMinStudioVoices && voices <= kMaxStudioVoices) {
            options.studio.voices = static_cast<int32_t>(voices);
            return true;
        }
        problem = "--voices takes a whole number from " + std::to_string(kMinStudioVoices) + " to " +
                  std::to_string(kMaxStudioVoices) + ", not \"" + value + "\"";
        return false;
    }
    if (option == "--gain") {
        char* end = nullptr;
        const double db = std::strtod(value.c_str(), &end);
        if (!value.empty() && *end == '\0' && std::isfinite(db) && db >= kMinStudioGainDb && db <= kMaxStudioGainDb) {
            options.studio.gainDb = db;
            return true;
        }
        problem = "--gain takes decibels from " + std::to_string(static_cast<int>(kMinStudioGainDb)) + " to +" +
                  std::to_string(static_cast<int>(kMaxStudioGainDb)) + ", not \"" + value + "\"";
        return false;
    }
    problem = "unknown option " + option;
    return false;
}

const char* mixerOptionsUsage() {
    return "  --mixer MODE       studio (default), software (the Custom Mixer), primary\n"
           "                     (the Custom Mixer writing the primary buffer) or hardware\n"
           "  --interpolation K  the Studio mixer's resampling: nearest, linear, cubic\n"
           "                     (default) or sinc (16 points, slower, for quality)\n"
           "  --voices N         notes the Studio mixer sounds at once, 1 to 4096 (default 256)\n"
           "  --gain DB          the Studio mixer's master gain in dB (default -4); peaks above\n"
           "                     -1 dBFS are held there by its limiter\n";
}

}  // namespace tonvero
