// tonvero-render: renders a Standard MIDI File through the Tonvero engine to a
// WAV or FLAC file, faster than real time.
//
//   tonvero-render SONG.mid [-o OUT.wav|OUT.flac] [--patchmap FILE]
//                  [--mixer studio|software|primary|hardware] [--rate HZ]
//                  [--interpolation nearest|linear|cubic|sinc] [--voices N]
//                  [--gain DB] [--bits 16|24] [--reverb on|off] [--chorus on|off]
//                  (and the effects' settings: --reverb-size and the others)
//                  [--start TIME] [--end TIME] [--mute LIST] [--solo LIST]
//                  [--loop [--loops N]]

#include "bank/Patchmap.h"
#include "render/AudioFileWriter.h"
#include "render/DefaultPatchmap.h"
#include "render/MixerOptions.h"
#include "render/SongRenderer.h"
#include "render/SongTimeText.h"
#include "engine/ChannelMonitor.h"
#include "song/SongPosition.h"
#include "song/Transport.h"
#include "tonvero/Version.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
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
            "\n"
            "Renders SONG.mid through the Tonvero engine, faster than real time.\n"
            "\n"
            "Options:\n"
            "  -o, --output OUT   the file to write: .wav or .flac (default: SONG.wav)\n"
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
        "  -h, --help         this text\n"
        "  --version          the program's name and version\n"
        "\n"
        "Exit codes:\n"
        "  0 done, 1 the output could not be written, 2 wrong usage, 3 the song cannot\n"
        "  be read, 4 the Patchmap cannot be read, 130 interrupted.\n";
    return text;
}

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted.store(true); }

struct Options {
    std::string song;
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
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage().c_str(), stdout);
            return kExitOk;
        } else if (arg == "--version") {
            std::printf("tonvero-render %s\n", kVersionText);
            return kExitOk;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(options.output)) return usageError(arg + " needs a file name");
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
        } else if (options.song.empty()) {
            options.song = arg;
        } else {
            return usageError("only one song at a time (\"" + arg + "\" is one too many)");
        }
    }
    if (options.song.empty()) return usageError("no song given");
    if (options.haveEnd && options.endSeconds <= options.startSeconds)
        return usageError("--end " + formatSongTime(options.endSeconds) + " must come after the start (" +
                          formatSongTime(options.startSeconds) + ")");
    if (options.haveLoops && !options.loop) return usageError("--loops goes with --loop");
    if (options.output.empty()) options.output = defaultOutput(options.song);
    AudioFileWriter::Format format;
    if (!AudioFileWriter::formatForPath(options.output, format))
        return usageError("the output \"" + options.output + "\" must end in .wav or .flac");
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

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (int code = parseOptions(argc, argv, options); code >= 0) return code;
    if (options.patchmap.empty()) options.patchmap = findDefaultPatchmap(argc > 0 ? argv[0] : "");

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
