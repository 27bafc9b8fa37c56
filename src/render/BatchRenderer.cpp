#include "render/BatchRenderer.h"

#include "render/BatchManifest.h"
#include "render/Fnv1a.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tonvero {

namespace {

// Whether the manifest's line for `song` shows it rendered as `job` would render it now.
bool alreadyRendered(const BatchSong& song, const BatchJob& job, const std::map<std::string, RenderedSong>& done) {
    const auto it = done.find(song.source);
    if (it == done.end()) return false;
    const RenderedSong& line = it->second;
    if (line.options != job.settings.text() || line.bankHash != hexText(job.bankHash)) return false;
    const std::vector<std::string> outputs{batchOutputName(song, job.settings)};
    if (line.outputs != outputs || line.outputHashes.size() != outputs.size()) return false;
    for (size_t i = 0; i < outputs.size(); ++i) {
        uint64_t hash = 0;
        if (!fnv1a64OfFile(job.outDir + "/" + outputs[i], hash) || hexText(hash) != line.outputHashes[i]) return false;
    }
    return true;
}

}  // namespace

bool runBatch(const Bank& bank, const BatchJob& job, const std::atomic<bool>& stop, const BatchHooks& hooks,
              BatchStatus& status, std::string& error) {
    const auto started = std::chrono::steady_clock::now();
    status = BatchStatus{};
    status.total = static_cast<int64_t>(job.songs.size());

    std::vector<const BatchSong*> todo;
    {
        std::map<std::string, RenderedSong> done;
        if (job.resume) done = readRenderedSongs(job.manifestPath);
        for (const BatchSong& song : job.songs) {
            if (job.resume && alreadyRendered(song, job, done))
                ++status.skipped;
            else
                todo.push_back(&song);
        }
    }
    ManifestWriter manifest;
    if (!manifest.open(job.manifestPath, job.resume, error)) return false;

    std::mutex mutex;  // guards status, the failed hook and finishedWorkers
    std::condition_variable finishedOne;
    std::atomic<size_t> next{0};
    std::atomic<uint64_t> framesDone{0};
    int32_t finishedWorkers = 0;
    const auto worker = [&] {
        for (;;) {
            if (stop.load()) break;
            const size_t index = next.fetch_add(1);
            if (index >= todo.size()) break;
            const BatchSong& song = *todo[index];
            const SongOutcome outcome = renderBatchSong(bank, song, job.outDir, job.settings, stop, framesDone);
            if (outcome.status == SongOutcome::Status::Interrupted) break;
            const bool written = manifest.append(manifestLine(song, outcome, job.settings, job.bankPath, job.bankHash));
            std::lock_guard<std::mutex> lock(mutex);
            if (!written) status.manifestFailed = true;
            if (outcome.status == SongOutcome::Status::Rendered) {
                ++status.rendered;
            } else {
                ++status.failed;
                if (hooks.failed) hooks.failed(song, outcome.reason);
            }
        }
        std::lock_guard<std::mutex> lock(mutex);
        ++finishedWorkers;
        finishedOne.notify_all();
    };

    const int32_t threads =
        static_cast<int32_t>(std::min<size_t>(static_cast<size_t>(std::max<int32_t>(1, job.jobs)), todo.size()));
    std::vector<std::thread> pool;
    pool.reserve(static_cast<size_t>(threads));
    for (int32_t t = 0; t < threads; ++t) pool.emplace_back(worker);

    const auto report = [&](bool last) {
        BatchStatus now;
        {
            std::lock_guard<std::mutex> lock(mutex);
            now = status;
        }
        now.musicSeconds = static_cast<double>(framesDone.load()) / job.settings.rate;
        now.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        now.interrupted = stop.load();
        if (last) status = now;
        if (hooks.progress) hooks.progress(now);
    };
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (finishedWorkers < threads) {
            finishedOne.wait_for(lock, std::chrono::milliseconds(500));
            if (finishedWorkers < threads) {
                lock.unlock();
                report(false);
                lock.lock();
            }
        }
    }
    for (std::thread& t : pool) t.join();
    report(true);
    return true;
}

}  // namespace tonvero
