#pragma once
// A bulk render: many songs rendered on several threads at once, each on an
// engine of its own playing from its own copy of one bank (the copies share
// the bank's samples, which nobody writes), each song's line appended to the
// manifest as it finishes. A song that fails fails alone; the others render.
//
// With `resume`, a song is skipped when the manifest already has a line
// saying it was rendered with the same options and bank, and every output it
// names is there with the checksum recorded; every other song is rendered
// (again).
//
// The order in which songs finish depends on the threads, the sound of each
// does not: every song's output is byte for byte the same whatever the
// number of jobs, the load or the order of the list.
//
// Threads: runBatch is called from one thread, which it blocks until every
// song is done; the hooks are called as their comments say.

#include "render/BatchPlan.h"
#include "render/BatchSongRender.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace tonvero {

struct BatchJob {
    std::vector<BatchSong> songs;  // this run's share of the list
    std::string outDir;
    std::string manifestPath;
    BatchSettings settings;
    int32_t jobs = 1;  // threads
    bool resume = false;
    std::string bankPath;
    uint64_t bankHash = 0;  // FNV-1a 64 of the Patchmap's bytes
};

struct BatchStatus {
    int64_t total = 0;    // songs of the share
    int64_t skipped = 0;  // already rendered (resume)
    int64_t rendered = 0;
    int64_t failed = 0;
    double musicSeconds = 0;  // rendered so far, songs in progress included
    double wallSeconds = 0;
    bool interrupted = false;
    bool manifestFailed = false;  // a manifest line could not be written
};

struct BatchHooks {
    // About twice a second, and once at the end, on the thread of runBatch.
    std::function<void(const BatchStatus&)> progress;
    // A song that failed, from the thread that rendered it (one call at a time).
    std::function<void(const BatchSong&, const std::string& reason)> failed;
};

// Renders `job`; false with `error` when the manifest cannot be opened
// (nothing is rendered then). `stop` set ends it soon: the songs being
// rendered are dropped (no file, no line) and no more start.
bool runBatch(const Bank& bank, const BatchJob& job, const std::atomic<bool>& stop, const BatchHooks& hooks,
              BatchStatus& status, std::string& error);

}  // namespace tonvero
