#pragma once
// The bulk render's manifest: one JSON object a line (JSON Lines), one line
// per song rendered or failed, appended whole as each song finishes. The
// keys, in the order written:
//
//   source                    the song's path as given
//   status                    "rendered" or "failed"
//   reason                    why it failed (failed lines only)
//   outputs                   the files written, as paths inside the output folder
//   output_fnv1a64            FNV-1a 64 of each output's bytes, 16 hex digits, in the order of outputs
//   song_seconds              the song's length by its tempo map
//   rendered_seconds          the output's length (the song and its sound dying away)
//   notes_played, notes_without_instrument, notes_without_zone
//   warnings                  {skipped_status_bytes, late_events, dropped_events,
//                              stolen_voices, damaged_after_seconds (null when whole)}
//   peak_dbfs                 the output's sample peak (null for silence)
//   true_peak_dbtp            its true peak, with --loudness (else null)
//   loudness_lufs             its EBU R128 integrated loudness (null for silence)
//   loudness_target_lufs      the --loudness target, or null
//   gain_db                   the gain applied to reach it (0 without)
//   gain_limited_by_true_peak the gain was lowered to keep the true peak at -1 dBTP
//   options                   every setting that shapes the output, as options
//   bank, bank_fnv1a64        the Patchmap's path and FNV-1a 64 of its bytes
//   seconds_taken             wall-clock seconds the song took
//
// A line cut off (a crash while it was written) is no JSON object and is
// ignored when read back; the next line appended starts on a line of its own.
//
// Threads: ManifestWriter::append from any thread; the rest any thread.

#include "render/BatchSongRender.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace tonvero {

std::string manifestLine(const BatchSong& song, const SongOutcome& outcome, const BatchSettings& settings,
                         const std::string& bankPath, uint64_t bankHash);

// What a manifest line says of a song that was rendered.
struct RenderedSong {
    std::string options;
    std::string bankHash;  // 16 hex digits
    std::vector<std::string> outputs;
    std::vector<std::string> outputHashes;
};

// The last "rendered" line of each source in the manifest at `path`, by
// source (nothing when there is no manifest). Lines that are not whole JSON
// objects are skipped.
std::map<std::string, RenderedSong> readRenderedSongs(const std::string& path);

class ManifestWriter {
public:
    ManifestWriter() = default;
    ~ManifestWriter();
    ManifestWriter(const ManifestWriter&) = delete;
    ManifestWriter& operator=(const ManifestWriter&) = delete;

    // Opens `path` to append to (`keep`) or afresh; false with `error` when it cannot.
    bool open(const std::string& path, bool keep, std::string& error);
    // Appends `line` and its newline in one write, then flushes it to the
    // disk; false when the write fails.
    bool append(const std::string& line);

private:
    std::mutex mutex_;
    int fd_ = -1;
};

}  // namespace tonvero
