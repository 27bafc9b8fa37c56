#include "render/MixerOptions.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tonvero {

namespace {

// The effects' settings that take a number, with their ranges.
struct NumberOption {
    const char* name;
    double low;
    double high;
    double* (*field)(StudioSettings&);
};

const NumberOption kNumberOptions[] = {
    {"--reverb-size", 0, 1, [](StudioSettings& s) { return &s.reverb.roomSize; }},
    {"--reverb-damping", 0, 1, [](StudioSettings& s) { return &s.reverb.damping; }},
    {"--reverb-width", 0, 1, [](StudioSettings& s) { return &s.reverb.width; }},
    {"--reverb-level", 0, 1, [](StudioSettings& s) { return &s.reverb.level; }},
    {"--chorus-rate", kMinChorusRateHz, kMaxChorusRateHz, [](StudioSettings& s) { return &s.chorus.rateHz; }},
    {"--chorus-depth", 0, kMaxChorusDepthMs, [](StudioSettings& s) { return &s.chorus.depthMs; }},
    {"--chorus-level", 0, 1, [](StudioSettings& s) { return &s.chorus.level; }},
};

const NumberOption* findNumberOption(const std::string& option) {
    for (const NumberOption& o : kNumberOptions)
        if (option == o.name) return &o;
    return nullptr;
}

std::string shortNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool parseOnOff(const std::string& value, bool& on) {
    if (value == "on") {
        on = true;
        return true;
    }
    if (value == "off") {
        on = false;
        return true;
    }
    return false;
}

}  // namespace

bool isMixerOption(const std::string& option) {
    return option == "--mixer" || option == "--interpolation" || option == "--voices" || option == "--gain" ||
           option == "--reverb" || option == "--chorus" || option == "--chorus-voices" || findNumberOption(option);
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
    if (option == "--reverb" || option == "--chorus") {
        bool& on = option == "--reverb" ? options.studio.reverb.on : options.studio.chorus.on;
        if (parseOnOff(value, on)) return true;
        problem = option + " takes on or off, not \"" + value + "\"";
        return false;
    }
    if (option == "--chorus-voices") {
        char* end = nullptr;
        const long voices = std::strtol(value.c_str(), &end, 10);
        if (!value.empty() && *end == '\0' && voices >= kMinChorusVoices && voices <= kMaxChorusVoices) {
            options.studio.chorus.voices = static_cast<int32_t>(voices);
            return true;
        }
        problem = "--chorus-voices takes a whole number from " + std::to_string(kMinChorusVoices) + " to " +
                  std::to_string(kMaxChorusVoices) + ", not \"" + value + "\"";
        return false;
    }
    if (const NumberOption* number = findNumberOption(option)) {
        char* end = nullptr;
        const double x = std::strtod(value.c_str(), &end);
        if (!value.empty() && *end == '\0' && std::isfinite(x) && x >= number->low && x <= number->high) {
            *number->field(options.studio) = x;
            return true;
        }
        problem = option + " takes a number from " + shortNumber(number->low) + " to " + shortNumber(number->high) +
                  ", not \"" + value + "\"";
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
           "                     -1 dBFS are held there by its limiter\n"
           "  --reverb on|off    the Studio mixer's reverb (default on; controller 91 sends)\n"
           "  --reverb-size X    0 to 1: 60 dB of decay in 0.3 s to 5 s (default 0.3: 1.7 s)\n"
           "  --reverb-damping X\n"
           "                     0 to 1: high frequencies die sooner (default 0.4)\n"
           "  --reverb-width X   0 (mono) to 1 (default 0.8)\n"
           "  --reverb-level X   0 to 1 (default 0.5)\n"
           "  --chorus on|off    the Studio mixer's chorus (default on; controller 93 sends)\n"
           "  --chorus-voices N  1 to 8 copies (default 3)\n"
           "  --chorus-rate HZ   0.05 to 5 swings a second (default 0.4)\n"
           "  --chorus-depth MS  0 to 20 ms of swing (default 4)\n"
           "  --chorus-level X   0 to 1 (default 0.6)\n";
}

std::string mixerOptionsText(const MixerOptions& options) {
    std::string text = std::string("--mixer ") + mixerModeName(options.mode);
    if (options.mode != MixerMode::Studio) return text;
    const StudioSettings& s = options.studio;
    // The shortest digits that read back as the same double.
    const auto number = [](double value) {
        char digits[40];
        for (int precision = 6; precision <= 17; ++precision) {
            std::snprintf(digits, sizeof digits, "%.*g", precision, value);
            if (std::strtod(digits, nullptr) == value) break;
        }
        return std::string(digits);
    };
    text += std::string(" --interpolation ") + interpolationName(s.interpolation);
    text += " --voices " + std::to_string(s.voices);
    text += " --gain " + number(s.gainDb);
    text += std::string(" --reverb ") + (s.reverb.on ? "on" : "off");
    text += std::string(" --chorus ") + (s.chorus.on ? "on" : "off");
    text += " --chorus-voices " + std::to_string(s.chorus.voices);
    StudioSettings copy = s;
    for (const NumberOption& o : kNumberOptions) text += std::string(" ") + o.name + " " + number(*o.field(copy));
    return text;
}

bool parseChannelList(const std::string& text, uint16_t& mask, std::string& problem) {
    if (text.empty()) {
        problem = "no channels given (channels are 1 to 16, such as 10 or 1,4)";
        return false;
    }
    uint16_t channels = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (item.empty()) {
            problem = "\"" + text + "\" has an empty place between its commas (channels are 1 to 16, such as 1,4)";
            return false;
        }
        int channel = 0;
        bool digits = true;
        for (char c : item) {
            if (c < '0' || c > '9')
                digits = false;
            else if (channel <= 16)
                channel = channel * 10 + (c - '0');  // past 16 it only has to stay wrong
        }
        if (!digits) {
            problem = "\"" + item + "\" is not a channel number (channels are 1 to 16)";
            return false;
        }
        if (channel < 1 || channel > 16) {
            problem = "there is no channel " + item + " (channels are 1 to 16)";
            return false;
        }
        channels = static_cast<uint16_t>(channels | (1u << (channel - 1)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    mask = channels;
    return true;
}

}  // namespace tonvero
