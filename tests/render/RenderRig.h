#pragma once
// Rendering songs written in code to memory, and reading what was rendered.

#include "render/SongRenderer.h"
#include "support/EngineRig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace tonvero::test {

// Loads a file image straight into the renderer's engine.
inline SongLoadResult loadBytes(SongRenderer& renderer, const Bytes& bytes) {
    return loadSong(renderer.engine(), bytes);
}

struct Rendered {
    RenderReport report;
    std::vector<int16_t> samples;  // interleaved stereo
    int32_t rate = 44100;
    size_t frames() const { return samples.size() / 2; }
    double seconds() const { return static_cast<double>(frames()) / rate; }
};

inline Rendered renderToMemory(SongRenderer& renderer, int32_t rate, double maxSeconds = 0) {
    Rendered out;
    out.rate = rate;
    out.report = renderer.render(
        [&out](const int16_t* frames, uint32_t count) {
            out.samples.insert(out.samples.end(), frames, frames + static_cast<size_t>(count) * 2);
            return true;
        },
        {}, maxSeconds);
    return out;
}

// The Studio mixer with neither reverb nor chorus: the voices alone, for
// tests that measure them.
inline StudioSettings dryStudio() {
    StudioSettings settings;
    settings.reverb.on = false;
    settings.chorus.on = false;
    return settings;
}

// Renders `song` with a bank made by `fillBank`, at `rate`, in `mode`.
template <class FillBank>
Rendered renderSong(const Bytes& song, FillBank fillBank, MixerMode mode = MixerMode::Software, int32_t rate = 44100,
                    const StudioSettings& studio = {}) {
    SongRenderer renderer(mode, rate, studio);
    std::string error;
    EXPECT_TRUE(renderer.openOutput(&error)) << error;
    {
        EngineLock lock(renderer.engine().mutex);
        fillBank(renderer.engine().bank);
    }
    EXPECT_EQ(loadBytes(renderer, song), SongLoadResult::Loaded);
    return renderToMemory(renderer, rate);
}

// Frame indexes at which sound starts after at least `gapFrames` of silence:
// on the left side (side 0), the right side (1), or either (2).
inline std::vector<size_t> onsets(const Rendered& r, size_t gapFrames, int side = 2) {
    std::vector<size_t> found;
    size_t silent = gapFrames;
    for (size_t f = 0; f < r.frames(); ++f) {
        const bool left = r.samples[2 * f] != 0;
        const bool right = r.samples[2 * f + 1] != 0;
        const bool sound = side == 0 ? left : side == 1 ? right : (left || right);
        if (sound && silent >= gapFrames) found.push_back(f);
        silent = sound ? 0 : silent + 1;
    }
    return found;
}

// The last frame with sound, or -1.
inline long lastSound(const Rendered& r) {
    for (size_t f = r.frames(); f-- > 0;)
        if (r.samples[2 * f] != 0 || r.samples[2 * f + 1] != 0) return static_cast<long>(f);
    return -1;
}

}  // namespace tonvero::test
