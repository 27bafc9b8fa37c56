#pragma once
// The offline renderer: the engine on the offline sound backend and the
// virtual timer clock. Rendering plays the song exactly as real-time playback
// does (the same engine, timers and mixer), only the clock is moved by the
// renderer, from one timer deadline to the next, with the device consuming
// sound at the output rate, until the song has ended whole.
//
// The frames handed out start at the song's time zero: the software mixer's
// constant write-ahead latency (its first 0.3 s, silence) is left out.
//
// Threads: one thread makes, drives and destroys a SongRenderer; the engine's
// timer callbacks run on that thread, inside render().

#include "engine/MixerEngine.h"
#include "platform/SoundDevice.h"
#include "song/SongLoader.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tonvero {

struct RenderReport {
    bool started = false;     // a song was loaded and played
    bool endedWhole = false;  // it ended by itself (not cut by a limit or a failed sink)
    bool sinkFailed = false;  // the sink refused frames
    uint64_t frames = 0;      // frames handed to the sink
    int32_t peak = 0;         // largest sample magnitude, 0..32768
    double songSeconds = 0;   // the song's length by its tempo map
    NoteCounts notes;         // notes that sounded, and those with no Instrument or Zone
    int64_t loopTurns = 0;    // loop turns the song made
};

// The part of the song a render plays, in song seconds: from `startSeconds`
// (the channels as the song has them there, the notes held there silent) to
// `endSeconds`, exactly: round(end x rate) - round(start x rate) frames, cut
// there. An end of 0 plays on until the song has ended whole.
struct RenderSpan {
    double startSeconds = 0;
    double endSeconds = 0;
};

class SongRenderer {
public:
    // Receives consecutive stereo frames (interleaved, left first); returns
    // false to stop the render (a write failed).
    using FrameSink = std::function<bool(const int16_t* stereoFrames, uint32_t frames)>;
    // Receives the same frames as a FrameSink, as floats (full scale 1.0):
    // with the Studio mixer its float mix before it was made 16-bit.
    using FloatSink = std::function<bool(const float* stereoFrames, uint32_t frames)>;
    // One stem's frames, beside the mix's (see renderStems).
    struct StemFrames {
        int32_t key = 0;  // StudioMixer::stemKey: a channel, a program or StudioMixer::kDrumStem
        // The frame (counted from 0, as the sink gets them) its first block
        // came out with: it is silence before, and sounds from there or a
        // little after (within a block of the mixer's, 1024 frames).
        uint64_t firstFrame = 0;
        const float* stereo = nullptr;  // the same frames as the mix's, interleaved
    };
    // Receives the float mix and, for the same frames, every stem that has
    // sounded so far: each keeps its index in `stems`, later ones are added
    // at the end, in the block that holds their first frame (the frames of
    // that block before it are silence). Written with zeros before its
    // first frame, every stem is as long as the mix, frame for frame.
    using StemSink = std::function<bool(const float* mixFrames, uint32_t frames, const std::vector<StemFrames>& stems)>;
    // Told the song position and length in seconds as the render goes on.
    using Progress = std::function<void(double positionSeconds, double lengthSeconds)>;

    // rate in Hz; `studio` sets up the Studio mixer (mode Studio).
    SongRenderer(MixerMode mode, int32_t rate, const StudioSettings& studio = {});
    ~SongRenderer();
    SongRenderer(const SongRenderer&) = delete;
    SongRenderer& operator=(const SongRenderer&) = delete;

    // Opens the offline device; false with `error` set when it cannot.
    bool openOutput(std::string* error = nullptr);

    // The engine, to fill its bank or load a song directly. Take its mutex
    // (EngineLock) when changing it; nothing else runs while render() does not.
    MixerEngine& engine() { return *engine_; }
    // Loads the song at `path` into the engine.
    SongLoadResult loadSong(const std::string& path);

    // Plays the loaded song from its start until it has ended whole, handing
    // every frame from song time zero to `sink`. `maxSeconds` above 0 stops
    // it after that much song time (for songs too long to wait for).
    RenderReport render(const FrameSink& sink, const Progress& progress = {}, double maxSeconds = 0);
    // The same, handing the frames as floats.
    RenderReport renderFloat(const FloatSink& sink, const Progress& progress = {}, double maxSeconds = 0);

    // The same as renderFloat (the same frames, span and end), with the
    // Studio mixer's stems by `mode` beside the mix: one for each channel or
    // program that sounds, its own reverb and chorus and the limiter's gain
    // included, so that the stems add up to the mix within float rounding.
    // Studio mixer only: with the Custom Mixer nothing is rendered (the
    // report's `started` is false). The mixer should be idle when it starts
    // (a fresh renderer, or one whose last render ended whole), or the
    // effects' tails from before are in the mix and in no stem.
    RenderReport renderStems(StudioMixer::StemMode mode, const StemSink& sink, const Progress& progress = {},
                             double maxSeconds = 0);

    // The span the following renders play (the whole song until set).
    void setSpan(const RenderSpan& span) { span_ = span; }

    // Microseconds of the virtual clock.
    uint64_t clockMicros();

private:
    RenderReport run(const FrameSink& sink, const FloatSink& floatSink, const StemSink& stemSink,
                     StudioMixer::StemMode stemMode, const Progress& progress, double maxSeconds);

    OfflineAudio audio_;
    RenderSpan span_;
    std::unique_ptr<MixerEngine> engine_;
};

}  // namespace tonvero
