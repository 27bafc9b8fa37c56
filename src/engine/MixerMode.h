#pragma once
// The ways the engine can mix, chosen once when it is constructed, and the
// Studio mixer's construction values.
//
// Pure values and functions; any thread.

#include <cstdint>
#include <string>

namespace tonvero {

enum class MixerMode {
    Studio,    // the Studio mixer, on a looping secondary buffer of its own (every program's default)
    Software,  // the Software Custom Mixer on a looping secondary buffer of its own
    Primary,   // the Software Custom Mixer writing the primary buffer
    Hardware,  // the hardware mixer: one device buffer per voice
};

// "studio", "software", "primary", "hardware"; false for any other name.
bool parseMixerMode(const std::string& name, MixerMode& mode);
const char* mixerModeName(MixerMode mode);

// How the Studio mixer reads between the samples of a Wave.
enum class Interpolation {
    Nearest,  // the sample at or before the position
    Linear,   // two points
    Cubic,    // four points (Catmull-Rom): the default
    Sinc,     // a 16-point Kaiser-windowed sinc from a precomputed table
};

// "nearest", "linear", "cubic", "sinc"; false for any other name.
bool parseInterpolation(const std::string& name, Interpolation& interpolation);
const char* interpolationName(Interpolation interpolation);

// The master gain's default, in dB: with the default bank the demo song and
// most ordinary General MIDI songs peak between -6 and -1 dBFS (louder
// passages are held at -1 dBFS by the Studio mixer's limiter).
constexpr double kDefaultStudioGainDb = -4.0;
constexpr int32_t kMinStudioVoices = 1;
constexpr int32_t kMaxStudioVoices = 4096;
constexpr double kMinStudioGainDb = -60.0;
constexpr double kMaxStudioGainDb = 24.0;

// The Studio mixer's reverb: each channel sends to it through controller 91.
// The defaults sound like a medium hall (1.7 s to fall 60 dB).
struct ReverbSettings {
    bool on = true;
    double roomSize = 0.3;  // 0..1: the time to fall 60 dB, 0.3 s at 0 to 5 s at 1
    double damping = 0.4;   // 0..1: how much sooner high frequencies die away
    double width = 0.8;     // 0..1: mono to left and right as unlike as they can be
    double level = 0.5;     // 0..1: the reverb's output in the mix
};

// The Studio mixer's chorus: each channel sends to it through controller 93.
// The defaults are a gentle chorus of three voices.
struct ChorusSettings {
    bool on = true;
    int32_t voices = 3;    // delayed copies, kMinChorusVoices..kMaxChorusVoices, spread from left to right
    double rateHz = 0.4;   // how often each copy's delay swings, 0.05..5 Hz
    double depthMs = 4.0;  // how far it swings, 0..20 ms
    double level = 0.6;    // 0..1: the chorus's output in the mix
};

constexpr int32_t kMinChorusVoices = 1;
constexpr int32_t kMaxChorusVoices = 8;
constexpr double kMinChorusRateHz = 0.05;
constexpr double kMaxChorusRateHz = 5.0;
constexpr double kMaxChorusDepthMs = 20.0;

struct StudioSettings {
    int32_t voices = 256;  // notes that may sound at once, kMinStudioVoices..kMaxStudioVoices
    Interpolation interpolation = Interpolation::Cubic;
    double gainDb = kDefaultStudioGainDb;  // master gain, kMinStudioGainDb..kMaxStudioGainDb
    ReverbSettings reverb;
    ChorusSettings chorus;
};

}  // namespace tonvero
