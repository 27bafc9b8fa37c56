#include "render/BatchSongRender.h"

#include "bank/BankCopy.h"
#include "render/Fnv1a.h"
#include "render/LoudnessMeter.h"
#include "render/SongRenderer.h"
#include "render/SongTimeText.h"
#include "engine/StudioMixer.h"
#include "song/SongLoader.h"
#include "song/Transport.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>

namespace tonvero {

namespace {

namespace fs = std::filesystem;

// A song whose tempo map makes it last longer than this is damaged, not
// music: rendering it would fill the disk.
constexpr double kMaxSongSeconds = 12 * 3600.0;
// The highest true peak a normalising gain may lift the mix to.
constexpr double kTruePeakCeilingDb = -1.0;
// Frames handed to a writer at once from the kept mix.
constexpr size_t kChunkFrames = 4096;
// Frames gathered before they go to libsndfile.
constexpr size_t kWriteFrames = 65536;

std::string numberText(double value, const char* format) {
    char text[40];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// One output file: written under NAME.part, measured as it is written,
// renamed to NAME when whole.
class OutputFile {
public:
    OutputFile(const std::string& outDir, const std::string& name, const BatchSettings& settings)
        : name_(name),
          path_(outDir + "/" + name),
          partPath_(path_ + ".part"),
          settings_(settings),
          meter_(settings.rate, false) {}

    bool open(std::string& error) {
        std::error_code ec;
        fs::create_directories(fs::path(path_).parent_path(), ec);
        if (ec) {
            error = "cannot make the folder for \"" + path_ + "\": " + ec.message();
            return false;
        }
        if (!meter_.valid()) {
            error = "cannot start the loudness measurement";
            return false;
        }
        // Not waited onto the disk: a file a power cut took has a checksum
        // that no longer matches its manifest line, and resuming renders it again.
        writer_.setSyncOnClose(false);
        return writer_.open(partPath_, settings_.format, settings_.rate, settings_.bits, &error);
    }
    // The frames are gathered and handed to libsndfile in large pieces: far
    // fewer writes than one per mixing block.
    bool writeShort(const int16_t* frames, uint32_t count) {
        meter_.addShort(frames, count);
        shorts_.insert(shorts_.end(), frames, frames + 2 * size_t{count});
        return shorts_.size() < 2 * kWriteFrames || flush();
    }
    bool writeFloat(const float* frames, uint32_t count) {
        meter_.addFloat(frames, count);
        floats_.insert(floats_.end(), frames, frames + 2 * size_t{count});
        return floats_.size() < 2 * kWriteFrames || flush();
    }
    // Closes, checksums and renames; false with `error` (and nothing left) when that fails.
    bool finish(std::string& error, uint64_t& hash) {
        if (!flush()) {
            error = "writing \"" + partPath_ + "\" failed (is the disk full?)";
            writer_.discard();
            return false;
        }
        if (!writer_.close(&error)) return false;
        if (!fnv1a64OfFile(partPath_, hash)) {
            error = "cannot read back \"" + partPath_ + "\"";
            std::remove(partPath_.c_str());
            return false;
        }
        if (std::rename(partPath_.c_str(), path_.c_str()) != 0) {
            error = "cannot rename \"" + partPath_ + "\" to \"" + path_ + "\": " + std::strerror(errno);
            std::remove(partPath_.c_str());
            return false;
        }
        return true;
    }
    void discard() { writer_.discard(); }
    const LoudnessMeter& meter() const { return meter_; }
    const std::string& name() const { return name_; }

private:
    bool flush() {
        const bool shortsWritten = writer_.write(shorts_.data(), static_cast<uint32_t>(shorts_.size() / 2));
        const bool floatsWritten = writer_.writeFloat(floats_.data(), static_cast<uint32_t>(floats_.size() / 2));
        shorts_.clear();
        floats_.clear();
        return shortsWritten && floatsWritten;
    }

    std::string name_;
    std::string path_;
    std::string partPath_;
    const BatchSettings& settings_;
    LoudnessMeter meter_;
    AudioFileWriter writer_;
    std::vector<int16_t> shorts_;
    std::vector<float> floats_;
};

// A fresh engine with its own copy of the bank and the song loaded; null
// with `error` when the engine cannot start or the song cannot be read.
std::unique_ptr<SongRenderer> prepare(const Bank& bank, const BatchSong& song, const BatchSettings& settings,
                                      std::string& error) {
    auto renderer = std::make_unique<SongRenderer>(settings.mixer.mode, settings.rate, settings.mixer.studio);
    std::string problem;
    if (!renderer->openOutput(&problem)) {
        error = "cannot start the engine: " + problem;
        return nullptr;
    }
    {
        MixerEngine& engine = renderer->engine();
        EngineLock lock(engine.mutex);
        engine.replaceBank(copyBank(bank));
    }
    const SongLoadResult loaded = renderer->loadSong(song.source);
    if (loaded != SongLoadResult::Loaded) {
        error = std::string("cannot read the song: ") + songLoadResultText(loaded);
        return nullptr;
    }
    return renderer;
}

// Why a render that did not end whole stopped.
SongOutcome::Status stoppedStatus(const std::atomic<bool>& stop, bool writeFailed, std::string& reason) {
    if (stop.load()) return SongOutcome::Status::Interrupted;
    reason = writeFailed ? "writing failed (is the disk full?)" : "rendering stopped early";
    return SongOutcome::Status::Failed;
}

}  // namespace

std::string BatchSettings::text() const {
    std::string t = mixerOptionsText(mixer);
    t += " --rate " + std::to_string(rate);
    t += std::string(" --format ") + AudioFileWriter::extension(format);
    if (AudioFileWriter::isLossless(format)) t += " --bits " + std::to_string(bits);
    if (normalise) t += " --loudness " + numberText(loudnessTarget, "%.6g");
    if (stems) t += stemMode == StudioMixer::StemMode::Channel ? " --stems channel" : " --stems program";
    return t;
}

std::string stemName(StudioMixer::StemMode mode, int32_t key) {
    char text[24];
    if (mode == StudioMixer::StemMode::Channel)
        std::snprintf(text, sizeof text, "channel-%02d", static_cast<int>(key) + 1);
    else if (key == StudioMixer::kDrumStem)
        std::snprintf(text, sizeof text, "drums");
    else
        std::snprintf(text, sizeof text, "program-%03d", static_cast<int>(key) + 1);
    return text;
}

std::string batchOutputName(const BatchSong& song, const BatchSettings& settings) {
    return song.name + "." + AudioFileWriter::extension(settings.format);
}

SongOutcome renderBatchSong(const Bank& bank, const BatchSong& song, const std::string& outDir,
                            const BatchSettings& settings, const std::atomic<bool>& stop,
                            std::atomic<uint64_t>& framesDone) {
    const auto started = std::chrono::steady_clock::now();
    SongOutcome outcome;
    outcome.loudnessLufs = -std::numeric_limits<double>::infinity();
    auto finished = [&](SongOutcome::Status status) {
        outcome.status = status;
        outcome.secondsTaken = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        return outcome;
    };
    auto failed = [&](std::string reason) {
        outcome.reason = std::move(reason);
        return finished(SongOutcome::Status::Failed);
    };

    std::string error;
    std::unique_ptr<SongRenderer> renderer = prepare(bank, song, settings, error);
    if (!renderer) return failed(error);
    {
        MixerEngine& engine = renderer->engine();
        EngineLock lock(engine.mutex);
        outcome.songSeconds = songLengthSeconds(engine);
        outcome.damagedAfterSeconds = songDamagedAfterSeconds(engine);
    }
    if (outcome.songSeconds > kMaxSongSeconds)
        return failed("the song would last " + formatSongTime(outcome.songSeconds) +
                      ": it is damaged, or not meant to be rendered");

    // Measuring first, when the mix is to reach a loudness.
    std::vector<float> kept;
    bool keptWhole = false;
    if (settings.normalise) {
        LoudnessMeter measure(settings.rate, true);
        if (!measure.valid()) return failed("cannot start the loudness measurement");
        // Stems come from a render of their own: the mix alone is not kept for them.
        bool fits = !settings.stems;
        const RenderReport report = renderer->renderFloat([&](const float* frames, uint32_t count) {
            if (stop.load(std::memory_order_relaxed)) return false;
            measure.addFloat(frames, count);
            if (fits && kept.size() + 2 * size_t{count} > settings.keptSamples) {
                fits = false;
                std::vector<float>().swap(kept);
            }
            if (fits) kept.insert(kept.end(), frames, frames + 2 * size_t{count});
            return true;
        });
        if (!report.endedWhole) {
            const SongOutcome::Status status = stoppedStatus(stop, false, outcome.reason);
            return finished(status);
        }
        keptWhole = fits;
        const double lufs = measure.integratedLufs();
        const double truePeakDb = decibelsOf(measure.truePeak());
        if (std::isfinite(lufs)) {
            outcome.gainDb = settings.loudnessTarget - lufs;
            if (std::isfinite(truePeakDb) && truePeakDb + outcome.gainDb > kTruePeakCeilingDb) {
                outcome.gainDb = kTruePeakCeilingDb - truePeakDb;
                outcome.gainLimited = true;
            }
        }
        outcome.truePeak = measure.truePeak() * std::pow(10.0, outcome.gainDb / 20.0);
        if (!keptWhole) {
            renderer.reset();
            renderer = prepare(bank, song, settings, error);
            if (!renderer) return failed(error);
        }
    }

    // The outputs: the mix. Stems, when asked for, are more OutputFiles here,
    // fed from the same render and given the same gain.
    OutputFile mix(outDir, batchOutputName(song, settings), settings);
    if (!mix.open(error)) return failed(error);
    const float gain = static_cast<float>(std::pow(10.0, outcome.gainDb / 20.0));
    bool writeFailed = false;
    uint64_t frames = 0;
    // `count` stereo frames under the gain: the frames themselves at unit
    // gain, else scaled into `scratch`.
    const auto underGain = [gain](const float* data, uint32_t count, std::vector<float>& scratch) {
        if (gain == 1.0f) return data;
        scratch.assign(data, data + 2 * size_t{count});
        for (float& x : scratch) x *= gain;
        return static_cast<const float*>(scratch.data());
    };
    // The mix's frames written: counted, and false when the write failed.
    const auto wrote = [&](bool written, uint32_t count) {
        if (!written) {
            writeFailed = true;
            return false;
        }
        frames += count;
        framesDone.fetch_add(count, std::memory_order_relaxed);
        return true;
    };
    std::vector<float> scaled;
    const auto writeFloats = [&](const float* data, uint32_t count) {
        if (stop.load(std::memory_order_relaxed)) return false;
        return wrote(mix.writeFloat(underGain(data, count, scaled), count), count);
    };
    bool whole = false;
    // The stems' files, in the order they first sound.
    std::vector<std::unique_ptr<OutputFile>> stemFiles;
    std::string stemError;
    if (settings.stems) {
        const std::string extension = AudioFileWriter::extension(settings.format);
        std::vector<float> stemFrames;
        const std::vector<float> silence(2 * kChunkFrames, 0.0f);
        const RenderReport report = renderer->renderStems(
            settings.stemMode,
            [&](const float* mixFrames, uint32_t count, const std::vector<SongRenderer::StemFrames>& stems) {
                if (stop.load(std::memory_order_relaxed)) return false;
                // A stem heard for the first time: its file, silent up to this block.
                while (stemFiles.size() < stems.size()) {
                    const int32_t key = stems[stemFiles.size()].key;
                    auto file = std::make_unique<OutputFile>(
                        outDir, song.name + "." + stemName(settings.stemMode, key) + "." + extension, settings);
                    if (!file->open(stemError)) return false;
                    for (uint64_t done = 0; done < frames;) {
                        const auto n = static_cast<uint32_t>(std::min<uint64_t>(kChunkFrames, frames - done));
                        if (!file->writeFloat(silence.data(), n)) {
                            writeFailed = true;
                            return false;
                        }
                        done += n;
                    }
                    stemFiles.push_back(std::move(file));
                }
                for (size_t k = 0; k < stems.size(); ++k) {
                    if (!stemFiles[k]->writeFloat(underGain(stems[k].stereo, count, stemFrames), count)) {
                        writeFailed = true;
                        return false;
                    }
                }
                return writeFloats(mixFrames, count);
            });
        whole = report.endedWhole;
        if (!report.started && stemError.empty()) stemError = "stems are the Studio mixer's";
    } else if (keptWhole) {
        whole = true;
        for (size_t at = 0; at < kept.size() && whole; at += 2 * kChunkFrames) {
            const auto count = static_cast<uint32_t>(std::min(kChunkFrames, (kept.size() - at) / 2));
            whole = writeFloats(kept.data() + at, count);
        }
        std::vector<float>().swap(kept);
    } else if (!settings.normalise && settings.bits == 16 && AudioFileWriter::isLossless(settings.format)) {
        // The engine's own 16-bit mix, as the one-song form writes it.
        const RenderReport report = renderer->render([&](const int16_t* data, uint32_t count) {
            if (stop.load(std::memory_order_relaxed)) return false;
            return wrote(mix.writeShort(data, count), count);
        });
        whole = report.endedWhole;
    } else {
        const RenderReport report = renderer->renderFloat(writeFloats);
        whole = report.endedWhole;
    }
    if (!whole) {
        mix.discard();
        for (auto& file : stemFiles) file->discard();
        if (!stemError.empty() && !stop.load()) return failed(stemError);
        const SongOutcome::Status status = stoppedStatus(stop, writeFailed, outcome.reason);
        return finished(status);
    }
    {
        MixerEngine& engine = renderer->engine();
        EngineLock lock(engine.mutex);
        outcome.notes = noteCounts(engine);
        outcome.skippedStatuses = skippedStatusCount(engine);
        if (engine.studio) {
            const StudioMixer::Counters counters = engine.studio->counters();
            outcome.lateEvents = counters.lateEvents;
            outcome.droppedEvents = counters.droppedEvents;
            outcome.stolenVoices = counters.stolenVoices;
        }
    }
    renderer.reset();
    outcome.renderedSeconds = static_cast<double>(frames) / settings.rate;
    outcome.peak = mix.meter().samplePeak();
    outcome.loudnessLufs = mix.meter().integratedLufs();
    uint64_t hash = 0;
    if (!mix.finish(error, hash)) return failed(error);
    outcome.outputs.push_back(mix.name());
    outcome.outputHashes.push_back(hash);
    for (auto& file : stemFiles) {
        if (!file->finish(error, hash)) {
            for (auto& other : stemFiles) other->discard();
            return failed(error);
        }
        outcome.outputs.push_back(file->name());
        outcome.outputHashes.push_back(hash);
    }
    return finished(SongOutcome::Status::Rendered);
}

}  // namespace tonvero
