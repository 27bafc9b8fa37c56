// tonvero-render: renders Standard MIDI Files through the Tonvero engine to
// WAV, FLAC, Ogg Vorbis, Opus or MP3 files, faster than real time: one song,
// or many into a folder on every core, with a manifest.
//
//   tonvero-render SONG.mid [-o OUT.wav|.flac|.ogg|.opus|.mp3] [--patchmap FILE]
//                  [--mixer studio|software|primary|hardware] [--rate HZ]
//                  [--interpolation nearest|linear|cubic|sinc] [--voices N]
//                  [--gain DB] [--bits 16|24] [--reverb on|off] [--chorus on|off]
//                  (and the effects' settings: --reverb-size and the others)
//                  [--start TIME] [--end TIME] [--mute LIST] [--solo LIST]
//                  [--loop [--loops N]]
//   tonvero-render SONG.mid... [--list FILE] -d OUTDIR [--jobs N] [--format F]
//                  [--loudness LUFS] [--resume] [--shard K/N] (and the mixer's options)

#include "bank/Patchmap.h"
#include "engine/StudioMixer.h"
#include "render/AudioFileWriter.h"
#include "render/BatchPlan.h"
#include "render/BatchRenderer.h"
#include "render/Fnv1a.h"
#include "render/DefaultPatchmap.h"
#include "render/MixerOptions.h"
#include "render/SongRenderer.h"
#include "render/SongTimeText.h"
#include "engine/ChannelMonitor.h"
#include "song/SongPosition.h"
#include "song/Transport.h"
#include "tonvero/Version.h"

#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace tonvero;

namespace {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // the output could not be written
constexpr int kExitUsage = 2;    // a wrong option or argument
constexpr int kExitBadSong = 3;  // the song cannot be read
constexpr int kExitBadBank = 4;  // the Patchmap cannot be read
constexpr int kExitInterrupted = 130;

// A song whose tempo map makes it last longer than this is damaged, not
// music: rendering it would fill the disk.
constexpr double kMaxSongSeconds = 12 * 3600.0;
// The most times --loops plays the loop.
constexpr int32_t kMaxLoops = 10000;

const std::string& usage() {
    static const std::string text =
        std::string(
            "Usage: tonvero-render [OPTION]... SONG.mid\n"
            "       tonvero-render [OPTION]... SONG.mid... [--list FILE] -d OUTDIR\n"
            "\n"
            "Renders SONG.mid through the Tonvero engine, faster than real time; with -d,\n"
            "renders many songs into OUTDIR on every core, with OUTDIR/manifest.jsonl.\n"
            "\n"
            "Options:\n"
            "  -o, --output OUT   the file to write: .wav, .flac, .ogg, .opus or .mp3\n"
            "                     (default: SONG.wav)\n"
            "  --patchmap FILE    the bank to play from (default: gmpatch.map in the working\n"
            "                     directory, else in the program's data directory)\n"
            "  --rate HZ          output rate, 8000 to 192000 (default 44100)\n"
            "  --bits 16|24       bits per sample of the file (default 16); 24 bits keep the\n"
            "                     Studio mixer's float mix\n"
            "  --start TIME       render from this song time (the channels as the song has\n"
            "                     them there): seconds (83, 83.5), m:ss or h:mm:ss\n"
            "  --end TIME         render up to this song time, exactly: the file holds the\n"
            "                     time from --start (or 0) to here, silence after the song's\n"
            "                     end; without it the song plays until its sound has died\n"
            "  --mute LIST        silence MIDI channels 1 to 16, such as 10 or 1,4\n"
            "  --solo LIST        render only these channels (1 to 16, such as 10 or 1,4)\n"
            "  --loop             play the song's loop (its loopStart/loopEnd markers or\n"
            "                     controller 111, else the whole song) without a gap, then\n"
            "                     the song on to its end\n"
            "  --loops N          with --loop: the loop is heard N times in all, 1 to 10000\n"
            "                     (default 2)\n") +
        mixerOptionsUsage() +
        "\n"
        "Many songs (with -d):\n"
        "  -d, --output-dir D render into folder D: each song's path relative to the\n"
        "                     folder the songs have in common, with the format's extension\n"
        "  --list FILE        the songs to render, one path a line (beside those named)\n"
        "  --jobs N           songs rendered at once, 1 to 1024 (default: every core)\n"
        "  --format F         wav (default), flac, ogg, opus (48000 Hz only) or mp3\n"
        "  --loudness LUFS    one gain per song to this EBU R128 integrated loudness,\n"
        "                     -70 to 0, held down where the true peak would pass -1 dBTP\n"
        "  --resume           skip the songs the manifest shows rendered with the same\n"
        "                     options and bank, their files intact\n"
        "  --shard K/N        render only share K (1 to N) of N: the songs whose path's\n"
        "                     FNV-1a 64 hash modulo N is K - 1; manifest-K-of-N.jsonl\n"
        "  --stems channel|program\n"
        "                     beside each mix, a file for every MIDI channel (or General\n"
        "                     MIDI program, drums apart) that sounds: NAME.channel-01,\n"
        "                     NAME.program-001, NAME.drums; as long as the mix, adding up\n"
        "                     to it, each with its own reverb and chorus, the mix's gain\n"
        "  -h, --help         this text\n"
        "  --version          the program's name and version\n"
        "\n"
        "Exit codes:\n"
        "  0 done, 1 the output could not be written (with -d: a song or more failed,\n"
        "  each with its reason in the manifest), 2 wrong usage, 3 the song cannot be\n"
        "  read, 4 the Patchmap cannot be read, 130 interrupted.\n";
    return text;
}

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted.store(true); }

struct Options {
    std::string song;
    std::vector<std::string> songs;  // every song named
    std::vector<std::string> lists;  // --list files
    std::string outDir;              // -d: many songs into a folder
    int32_t jobs = 0;                // 0: every core
    bool resume = false;
    int32_t shardK = 0;  // 0: every song
    int32_t shardN = 0;
    AudioFileWriter::Format format = AudioFileWriter::Format::Wav;
    bool loudness = false;
    double loudnessTarget = -23;
    bool stems = false;  // --stems: one file per channel or program beside each mix
    StudioMixer::StemMode stemMode = StudioMixer::StemMode::Channel;
    std::string oneSongOption;   // the first option that renders one song only
    std::string manySongOption;  // the first option that goes with -d only
    std::string output;
    std::string patchmap;
    MixerOptions mixer;
    int32_t rate = 44100;
    int32_t bits = 16;
    double startSeconds = 0;
    double endSeconds = 0;  // 0: until the song has ended whole
    std::string startText;  // --start as given
    bool haveEnd = false;
    uint16_t muted = 0;
    uint16_t soloed = 0;
    bool loop = false;
    int32_t loops = 2;
    bool haveLoops = false;
};

int usageError(const std::string& text) {
    std::fprintf(stderr, "tonvero-render: %s\n\n%s", text.c_str(), usage().c_str());
    return kExitUsage;
}

// SONG.mid -> SONG.wav, beside the song.
std::string defaultOutput(const std::string& song) {
    const size_t slash = song.find_last_of('/');
    const size_t dot = song.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
        return song.substr(0, dot) + ".wav";
    return song + ".wav";
}

// Returns -1 when the options are good, else the exit code.
int parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "-o" || arg == "--output" || arg == "--start" || arg == "--end" || arg == "--mute" ||
            arg == "--solo" || arg == "--loop" || arg == "--loops") {
            if (options.oneSongOption.empty()) options.oneSongOption = arg;
        }
        if (arg == "--list" || arg == "--jobs" || arg == "--resume" || arg == "--shard" || arg == "--format" ||
            arg == "--loudness") {
            if (options.manySongOption.empty()) options.manySongOption = arg;
        }
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage().c_str(), stdout);
            return kExitOk;
        } else if (arg == "--version") {
            std::printf("tonvero-render %s\n", kVersionText);
            return kExitOk;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(options.output)) return usageError(arg + " needs a file name");
        } else if (arg == "-d" || arg == "--output-dir") {
            if (!value(options.outDir) || options.outDir.empty()) return usageError(arg + " needs a folder");
        } else if (arg == "--list") {
            if (!value(text)) return usageError("--list needs a file of song paths, one a line");
            options.lists.push_back(text);
        } else if (arg == "--jobs") {
            char* end = nullptr;
            if (!value(text)) return usageError("--jobs needs a number of songs");
            const long jobs = std::strtol(text.c_str(), &end, 10);
            if (end == text.c_str() || *end != '\0' || jobs < 1 || jobs > 1024)
                return usageError("--jobs takes a whole number from 1 to 1024, not \"" + text + "\"");
            options.jobs = static_cast<int32_t>(jobs);
        } else if (arg == "--resume") {
            options.resume = true;
        } else if (arg == "--shard") {
            if (!value(text) || !parseShard(text, options.shardK, options.shardN))
                return usageError("--shard takes K/N with 1 <= K <= N, such as 3/8, not \"" + text + "\"");
        } else if (arg == "--format") {
            if (!value(text) || !AudioFileWriter::formatForName(text, options.format))
                return usageError("--format takes wav, flac, ogg, opus or mp3, not \"" + text + "\"");
        } else if (arg == "--loudness") {
            char* end = nullptr;
            if (!value(text)) return usageError("--loudness needs a target in LUFS, such as -23");
            const double target = std::strtod(text.c_str(), &end);
            if (end == text.c_str() || *end != '\0' || !std::isfinite(target) || target < -70 || target > 0)
                return usageError("--loudness takes LUFS from -70 to 0, such as -23, not \"" + text + "\"");
            options.loudness = true;
            options.loudnessTarget = target;
        } else if (arg == "--stems") {
            if (!value(text) || (text != "channel" && text != "program"))
                return usageError("--stems takes channel or program");
            options.stems = true;
            options.stemMode = text == "channel" ? StudioMixer::StemMode::Channel : StudioMixer::StemMode::Program;
            if (options.manySongOption.empty()) options.manySongOption = arg;
        } else if (arg == "--patchmap") {
            if (!value(options.patchmap)) return usageError("--patchmap needs a file name");
        } else if (isMixerOption(arg)) {
            if (!value(text)) return usageError(arg + " needs a value");
            std::string problem;
            if (!parseMixerOption(arg, text, options.mixer, problem)) return usageError(problem);
        } else if (arg == "--bits") {
            if (!value(text) || (text != "16" && text != "24")) return usageError("--bits takes 16 or 24");
            options.bits = text == "24" ? 24 : 16;
        } else if (arg == "--rate") {
            char* end = nullptr;
            if (!value(text)) return usageError("--rate needs a rate in Hz");
            const long rate = std::strtol(text.c_str(), &end, 10);
            if (end == text.c_str() || *end != '\0' || rate < 8000 || rate > 192000)
                return usageError("--rate takes a whole number of Hz from 8000 to 192000, not \"" + text + "\"");
            options.rate = static_cast<int32_t>(rate);
        } else if (arg == "--start" || arg == "--end") {
            if (!value(text)) return usageError(arg + " needs a song time");
            double& seconds = arg == "--start" ? options.startSeconds : options.endSeconds;
            if (!parseSongTime(text, seconds))
                return usageError(arg + " takes a song time such as 83, 83.5, 1:23 or 1:02:03, not \"" + text + "\"");
            if (arg == "--start")
                options.startText = text;
            else
                options.haveEnd = true;
        } else if (arg == "--mute" || arg == "--solo") {
            if (!value(text)) return usageError(arg + " needs channels 1 to 16, such as 10 or 1,4");
            uint16_t channels = 0;
            std::string problem;
            if (!parseChannelList(text, channels, problem)) return usageError(arg + " " + text + ": " + problem);
            (arg == "--mute" ? options.muted : options.soloed) |= channels;
        } else if (arg == "--loop") {
            options.loop = true;
        } else if (arg == "--loops") {
            char* end = nullptr;
            if (!value(text)) return usageError("--loops needs a number of times");
            const long loops = std::strtol(text.c_str(), &end, 10);
            if (end == text.c_str() || *end != '\0' || loops < 1 || loops > kMaxLoops)
                return usageError("--loops takes a whole number from 1 to " + std::to_string(kMaxLoops) + ", not \"" +
                                  text + "\"");
            options.loops = static_cast<int32_t>(loops);
            options.haveLoops = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return usageError("unknown option " + arg);
        } else {
            options.songs.push_back(arg);
        }
    }
    if (!options.outDir.empty()) {
        if (options.songs.empty() && options.lists.empty()) return usageError("no song given");
        if (!options.oneSongOption.empty())
            return usageError(options.oneSongOption + " renders one song: it does not go with -d");
        if (options.stems && options.mixer.mode != MixerMode::Studio)
            return usageError("--stems are the Studio mixer's: leave out --mixer, or give --mixer studio");
        return -1;
    }
    if (!options.manySongOption.empty()) return usageError(options.manySongOption + " goes with -d OUTDIR");
    if (options.songs.empty()) return usageError("no song given");
    if (options.songs.size() > 1)
        return usageError("several songs are rendered into a folder: give -d OUTDIR (\"" + options.songs[1] +
                          "\" is one too many without it)");
    options.song = options.songs[0];
    if (options.haveEnd && options.endSeconds <= options.startSeconds)
        return usageError("--end " + formatSongTime(options.endSeconds) + " must come after the start (" +
                          formatSongTime(options.startSeconds) + ")");
    if (options.haveLoops && !options.loop) return usageError("--loops goes with --loop");
    if (options.output.empty()) options.output = defaultOutput(options.song);
    AudioFileWriter::Format format;
    if (!AudioFileWriter::formatForPath(options.output, format))
        return usageError("the output \"" + options.output + "\" must end in .wav, .flac, .ogg, .opus or .mp3");
    std::string problem;
    if (!AudioFileWriter::canWrite(format, options.rate, options.bits, &problem)) return usageError(problem);
    return -1;
}

// A bar on stderr, redrawn in place: [#########-----------]  45%  0:42 / 2:15
void drawProgress(double position, double length) {
    constexpr int kWidth = 30;
    const double fraction = length > 0 ? std::min(1.0, std::max(0.0, position / length)) : 0.0;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kWidth - filled), '-');
    std::fprintf(stderr, "\r[%s] %3d%%  %s ", bar.c_str(), static_cast<int>(fraction * 100),
                 formatSongPosition(position, length).c_str());
    std::fflush(stderr);
}

std::string decibels(int32_t peak) {
    if (peak <= 0) return "-inf dBFS";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f dBFS", 20.0 * std::log10(peak / 32768.0));
    return text;
}

// Cores this process may run on.
int32_t everyCore() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int32_t>(cores) : 1;
}

// The many-song form: the bank loaded once, the songs planned, shared out,
// rendered on the jobs' threads.
int renderMany(const Options& options) {
    std::vector<std::string> sources = options.songs;
    for (const std::string& list : options.lists) {
        std::string problem;
        if (!readSongList(list, sources, problem)) {
            std::fprintf(stderr, "tonvero-render: %s\n", problem.c_str());
            return kExitUsage;
        }
    }
    if (sources.empty()) return usageError("no song given (the lists are empty)");
    std::vector<BatchSong> planned;
    std::string problem;
    if (!planOutputNames(sources, planned, problem)) {
        std::fprintf(stderr, "tonvero-render: %s; nothing rendered\n", problem.c_str());
        return kExitUsage;
    }
    BatchJob job;
    for (BatchSong& song : planned)
        if (options.shardN == 0 || inShard(song.source, options.shardK, options.shardN))
            job.songs.push_back(std::move(song));

    job.settings.mixer = options.mixer;
    job.settings.rate = options.rate;
    job.settings.bits = options.bits;
    job.settings.format = options.format;
    job.settings.normalise = options.loudness;
    job.settings.stems = options.stems;
    job.settings.stemMode = options.stemMode;
    job.settings.loudnessTarget = options.loudnessTarget;
    if (!AudioFileWriter::canWrite(options.format, options.rate, options.bits, &problem)) return usageError(problem);

    Bank bank;
    const LoadResult result = loadPatchmap(bank, options.patchmap);
    if (result != LoadOk) {
        std::fprintf(stderr, "tonvero-render: cannot read the Patchmap \"%s\": %s\n", options.patchmap.c_str(),
                     loadResultMessage(result));
        return kExitBadBank;
    }
    if (!fnv1a64OfFile(options.patchmap, job.bankHash)) {
        std::fprintf(stderr, "tonvero-render: cannot read the Patchmap \"%s\"\n", options.patchmap.c_str());
        return kExitBadBank;
    }
    job.bankPath = options.patchmap;

    std::error_code ec;
    std::filesystem::create_directories(options.outDir, ec);
    if (ec || !std::filesystem::is_directory(options.outDir)) {
        std::fprintf(stderr, "tonvero-render: cannot make the folder \"%s\": %s\n", options.outDir.c_str(),
                     ec ? ec.message().c_str() : "a file of that name is there");
        return kExitFailed;
    }
    job.outDir = options.outDir;
    job.manifestPath = options.outDir + "/" +
                       (options.shardN == 0 ? std::string("manifest.jsonl")
                                            : "manifest-" + std::to_string(options.shardK) + "-of-" +
                                                  std::to_string(options.shardN) + ".jsonl");
    job.jobs = options.jobs > 0 ? options.jobs : everyCore();
    job.resume = options.resume;

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    const bool showProgress = isatty(STDERR_FILENO) != 0;
    std::mutex printing;
    BatchHooks hooks;
    if (showProgress) {
        hooks.progress = [&](const BatchStatus& s) {
            std::lock_guard<std::mutex> lock(printing);
            std::fprintf(stderr, "\r\033[K%lld/%lld songs done, %lld failed, %.1f s of music a second",
                         static_cast<long long>(s.rendered + s.failed + s.skipped), static_cast<long long>(s.total),
                         static_cast<long long>(s.failed), s.wallSeconds > 0 ? s.musicSeconds / s.wallSeconds : 0.0);
            std::fflush(stderr);
        };
    }
    hooks.failed = [&](const BatchSong& song, const std::string& reason) {
        std::lock_guard<std::mutex> lock(printing);
        std::fprintf(stderr, "%stonvero-render: \"%s\" failed: %s\n", showProgress ? "\r\033[K" : "",
                     song.source.c_str(), reason.c_str());
    };
    BatchStatus status;
    if (!runBatch(bank, job, interrupted, hooks, status, problem)) {
        std::fprintf(stderr, "tonvero-render: %s\n", problem.c_str());
        return kExitFailed;
    }
    if (showProgress) std::fputs("\r\033[K", stderr);
    std::printf("%lld %s: %lld rendered, %lld failed, %lld already done; %s of music in %.1f s (%.1f s a second)\n",
                static_cast<long long>(status.total), status.total == 1 ? "song" : "songs",
                static_cast<long long>(status.rendered), static_cast<long long>(status.failed),
                static_cast<long long>(status.skipped), formatSongTime(status.musicSeconds).c_str(), status.wallSeconds,
                status.wallSeconds > 0 ? status.musicSeconds / status.wallSeconds : 0.0);
    if (status.interrupted) {
        std::fprintf(stderr, "tonvero-render: interrupted; the songs not finished were not written\n");
        return kExitInterrupted;
    }
    if (status.manifestFailed) {
        std::fprintf(stderr, "tonvero-render: writing the manifest \"%s\" failed\n", job.manifestPath.c_str());
        return kExitFailed;
    }
    return status.failed > 0 ? kExitFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (int code = parseOptions(argc, argv, options); code >= 0) return code;
    if (options.patchmap.empty()) options.patchmap = findDefaultPatchmap(argc > 0 ? argv[0] : "");
    if (!options.outDir.empty()) return renderMany(options);

    SongRenderer renderer(options.mixer.mode, options.rate, options.mixer.studio);
    std::string error;
    if (!renderer.openOutput(&error)) {
        std::fprintf(stderr, "tonvero-render: cannot start the engine: %s\n", error.c_str());
        return kExitFailed;
    }
    {
        MixerEngine& engine = renderer.engine();
        EngineLock lock(engine.mutex);
        const LoadResult result = loadPatchmap(engine.bank, options.patchmap);
        if (result != LoadOk) {
            std::fprintf(stderr, "tonvero-render: cannot read the Patchmap \"%s\": %s\n", options.patchmap.c_str(),
                         loadResultMessage(result));
            return kExitBadBank;
        }
    }
    const SongLoadResult loaded = renderer.loadSong(options.song);
    if (loaded != SongLoadResult::Loaded) {
        std::fprintf(stderr, "tonvero-render: cannot read the song \"%s\": %s\n", options.song.c_str(),
                     songLoadResultText(loaded));
        return kExitBadSong;
    }
    double songSeconds = 0;
    double renderSeconds = 0;  // how long the song plays, its loop turns counted
    {
        MixerEngine& engine = renderer.engine();
        EngineLock lock(engine.mutex);
        songSeconds = songLengthSeconds(engine);
        if (options.startSeconds > songSeconds) {
            std::fprintf(stderr, "tonvero-render: --start %s is past the end of the song, which lasts %s\n",
                         options.startText.c_str(), formatSongTime(songSeconds).c_str());
            return kExitUsage;
        }
        setLooping(engine, options.loop);
        renderSeconds = songSeconds;
        renderSeconds -= options.startSeconds;
        if (options.loop) {
            setLoopCount(engine, options.loops);
            const LoopRange loop = loopRange(engine);
            renderSeconds += (loop.endSeconds - loop.startSeconds) * (options.loops - 1);
        }
        setMutedChannels(engine, options.muted);
        setSoloedChannels(engine, options.soloed);
        const double damagedAfter = songDamagedAfterSeconds(engine);
        if (damagedAfter >= 0) std::fprintf(stderr, "tonvero-render: %s\n", songDamageText(damagedAfter).c_str());
    }
    if (options.haveEnd) renderSeconds = options.endSeconds - options.startSeconds;
    if (renderSeconds > kMaxSongSeconds) {
        std::fprintf(stderr,
                     "tonvero-render: the song \"%s\" would last %s: it is damaged, or not meant to be rendered\n",
                     options.song.c_str(), formatSongTime(renderSeconds).c_str());
        return options.haveEnd || options.loop ? kExitUsage : kExitBadSong;
    }
    RenderSpan span;
    span.startSeconds = options.startSeconds;
    span.endSeconds = options.haveEnd ? options.endSeconds : 0;
    renderer.setSpan(span);
    // With an end, the file holds exactly the span's frames.
    const uint64_t spanFrames = options.haveEnd
                                    ? static_cast<uint64_t>(std::llround(options.endSeconds * options.rate) -
                                                            std::llround(options.startSeconds * options.rate))
                                    : 0;

    AudioFileWriter writer;
    if (!writer.open(options.output, options.rate, options.bits, &error)) {
        std::fprintf(stderr, "tonvero-render: %s\n", error.c_str());
        return kExitFailed;
    }
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);

    const bool showProgress = isatty(STDERR_FILENO) != 0;
    bool writeFailed = false;
    const auto started = std::chrono::steady_clock::now();
    const SongRenderer::Progress progress =
        showProgress ? SongRenderer::Progress(drawProgress) : SongRenderer::Progress();
    const RenderReport report = options.bits == 24 ? renderer.renderFloat(
                                                         [&](const float* frames, uint32_t count) {
                                                             if (interrupted.load()) return false;
                                                             if (!writer.writeFloat(frames, count)) {
                                                                 writeFailed = true;
                                                                 return false;
                                                             }
                                                             return true;
                                                         },
                                                         progress)
                                                   : renderer.render(
                                                         [&](const int16_t* frames, uint32_t count) {
                                                             if (interrupted.load()) return false;
                                                             if (!writer.write(frames, count)) {
                                                                 writeFailed = true;
                                                                 return false;
                                                             }
                                                             return true;
                                                         },
                                                         progress);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (showProgress) std::fputs("\r\033[K", stderr);

    // A span cut at its end is whole; one the song ended before is made up
    // with silence to its end.
    bool whole = report.endedWhole;
    uint64_t frames = report.frames;
    if (options.haveEnd && !report.sinkFailed && !interrupted.load()) {
        if (frames >= spanFrames) whole = true;
        if (whole && frames < spanFrames) {
            const std::vector<int16_t> silence(2 * 4096, 0);
            const std::vector<float> floatSilence(2 * 4096, 0.0f);
            while (frames < spanFrames && !writeFailed) {
                const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(4096, spanFrames - frames));
                writeFailed = options.bits == 24 ? !writer.writeFloat(floatSilence.data(), count)
                                                 : !writer.write(silence.data(), count);
                frames += count;
            }
            if (writeFailed) whole = false;
        }
    }
    if (!whole) {
        writer.discard();
        if (interrupted.load()) {
            std::fprintf(stderr, "tonvero-render: interrupted; \"%s\" not written\n", options.output.c_str());
            return kExitInterrupted;
        }
        std::fprintf(stderr, "tonvero-render: %s \"%s\"\n",
                     writeFailed ? "writing failed (is the disk full?):" : "rendering stopped early; removed",
                     options.output.c_str());
        return kExitFailed;
    }
    if (!writer.close(&error)) {
        std::fprintf(stderr, "tonvero-render: %s\n", error.c_str());
        return kExitFailed;
    }

    const double audioSeconds = static_cast<double>(frames) / options.rate;
    const double speed = elapsed > 0 ? audioSeconds / elapsed : 0;
    std::printf(
        "%s: %s long, rendered in %.2f s (%.1fx real time), peak %s, %lld notes played, "
        "%lld without an Instrument, %lld without a Zone\n",
        options.output.c_str(), formatSongTime(audioSeconds).c_str(), elapsed, speed, decibels(report.peak).c_str(),
        static_cast<long long>(report.notes.played), static_cast<long long>(report.notes.withoutInstrument),
        static_cast<long long>(report.notes.withoutZone));
    if (options.loop) std::printf("  %lld loop turns\n", static_cast<long long>(report.loopTurns));
    return kExitOk;
}
