#pragma once
// One song of a bulk render, start to finish: an engine of its own (a
// SongRenderer on the offline clock) playing from its own copy of the shared
// bank, the song loaded, rendered and written to its output files in the
// output folder, and what happened counted for the manifest.
//
// Every output file is written under a temporary name beside it (NAME.part)
// and renamed to NAME only once it is whole, so a render that is stopped or
// fails leaves no output file, only (after a kill that gave it no chance to
// clean up) a .part file, which the next render of that song replaces.
//
// Loudness: with a target, the song's float mix is measured first (EBU R128
// integrated loudness and true peak); one gain then takes it to the target,
// except that the gain is lowered where it would lift the true peak above
// -1 dBTP (the manifest says so), so a normalised file never clips. The mix is
// kept in memory between the measuring and the writing for songs up to about
// three minutes; longer ones are rendered again (the render is deterministic,
// so the second pass is the first one's sound). Every output of a song gets
// the same gain.
//
// Threads: any thread; each call makes and uses its own engine and touches
// nothing shared but reading `bank` and adding to `framesDone`.

#include "bank/Bank.h"
#include "engine/Song.h"
#include "engine/StudioMixer.h"
#include "render/AudioFileWriter.h"
#include "render/BatchPlan.h"
#include "render/MixerOptions.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace tonvero {

struct BatchSettings {
    MixerOptions mixer;
    int32_t rate = 44100;  // Hz
    int32_t bits = 16;     // 16 or 24, for WAV and FLAC
    AudioFileWriter::Format format = AudioFileWriter::Format::Wav;
    bool normalise = false;
    double loudnessTarget = -23.0;  // LUFS, with normalise
    // Stems beside the mix, by channel or by program (drums apart): each
    // written whole (silence before it first sounds), with the mix's gain, so
    // they add up to the mix.
    bool stems = false;
    StudioMixer::StemMode stemMode = StudioMixer::StemMode::Channel;
    // With normalise: the most float samples of the mix kept in memory
    // between measuring it and writing it (64 MiB, a little over three
    // minutes of stereo at 44100 Hz); a longer song is rendered a second
    // time instead, to the same bytes.
    size_t keptSamples = size_t{1} << 24;

    // Every setting that shapes the output's bytes, as the options that give
    // it: what a resumed render compares with the manifest.
    std::string text() const;
};

struct SongOutcome {
    enum class Status { Rendered, Failed, Interrupted };
    Status status = Status::Failed;
    std::string reason;                  // for Failed, in words for the user
    std::vector<std::string> outputs;    // the files written, as paths inside the output folder
    std::vector<uint64_t> outputHashes;  // FNV-1a 64 of each output's bytes
    double songSeconds = 0;              // by the tempo map
    double renderedSeconds = 0;          // the output's length
    NoteCounts notes;
    int64_t skippedStatuses = 0;  // status bytes with no place in a track
    uint64_t lateEvents = 0;      // the Studio mixer's counters
    uint64_t droppedEvents = 0;
    uint64_t stolenVoices = 0;
    double damagedAfterSeconds = -1;  // where the song's data breaks off; below 0 when whole
    double peak = 0;                  // the written mix's sample peak, linear
    double truePeak = 0;              // its true peak, linear, when normalised (else 0)
    double loudnessLufs = 0;          // its integrated loudness (minus infinity for silence)
    double gainDb = 0;                // the gain applied to reach the target
    bool gainLimited = false;         // the gain was lowered to keep the true peak at -1 dBTP
    double secondsTaken = 0;          // wall-clock time of the render
};

// The output name of a song in `outDir`: its planned name with the format's extension.
std::string batchOutputName(const BatchSong& song, const BatchSettings& settings);

// The file name part of a stem: "channel-01".."channel-16", "program-001"..
// "program-128" (General MIDI's numbering), "drums".
std::string stemName(StudioMixer::StemMode mode, int32_t key);

// Renders `song` into `outDir`. `stop` set makes it give up soon (Interrupted,
// no file left); each frame written is counted into `framesDone`.
SongOutcome renderBatchSong(const Bank& bank, const BatchSong& song, const std::string& outDir,
                            const BatchSettings& settings, const std::atomic<bool>& stop,
                            std::atomic<uint64_t>& framesDone);

}  // namespace tonvero
