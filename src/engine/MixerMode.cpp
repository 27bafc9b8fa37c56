#include "engine/MixerMode.h"

namespace tonvero {

bool parseMixerMode(const std::string& name, MixerMode& mode) {
    if (name == "studio")
        mode = MixerMode::Studio;
    else if (name == "software")
        mode = MixerMode::Software;
    else if (name == "primary")
        mode = MixerMode::Primary;
    else if (name == "hardware")
        mode = MixerMode::Hardware;
    else
        return false;
    return true;
}

const char* mixerModeName(MixerMode mode) {
    switch (mode) {
    case MixerMode::Studio: return "studio";
    case MixerMode::Software: return "software";
    case MixerMode::Primary: return "primary";
    case MixerMode::Hardware: return "hardware";
    }
    return "studio";
}

bool parseInterpolation(const std::string& name, Interpolation& interpolation) {
    if (name == "nearest")
        interpolation = Interpolation::Nearest;
    else if (name == "linear")
        interpolation = Interpolation::Linear;
    else if (name == "cubic")
        interpolation = Interpolation::Cubic;
    else if (name == "sinc")
        interpolation = Interpolation::Sinc;
    else
        return false;
    return true;
}

const char* interpolationName(Interpolation interpolation) {
    switch (interpolation) {
    case Interpolation::Nearest: return "nearest";
    case Interpolation::Linear: return "linear";
    case Interpolation::Cubic: return "cubic";
    case Interpolation::Sinc: return "sinc";
    }
    return "cubic";
}

}  // namespace tonvero
