// tonvero-play: plays a Standard MIDI File through the Tonvero engine in real
// time, showing the position on one line, until the song ends or Ctrl+C;
// optionally again and again (--loop), for a given time (--seconds), with a
// report on how the real-time parts kept up (--stats).
//
//   tonvero-play SONG.mid [--audio portaudio|null] [--patchmap FILE]
//                [--mixer MODE] [--interpolation KIND] [--voices N] [--gain DB]
//                [--reverb on|off] [--chorus on|off] [--loop] [--seconds N] [--stats]

#include "EngineTimerLateness.h"

#include "bank/Patchmap.h"
#include "engine/MixerEngine.h"
#include "platform/AudioBackend.h"
#include "platform/RealTimerService.h"
#include "render/DefaultPatchmap.h"
#include "render/MixerOptions.h"
#include "render/SongTimeText.h"
#include "song/SongLoader.h"
#include "song/Transport.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace tonvero;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoAudio = 1;    // no output device could be opened
constexpr int kExitUsage = 2;
constexpr int kExitBadSong = 3;
constexpr int kExitBadBank = 4;
constexpr int kExitInterrupted = 130;

// The longest --seconds: 31 days.
constexpr double kMaxSeconds = 31.0 * 24 * 3600;

const std::string& usage() {
    static const std::string text =
        std::string("usage: tonvero-play SONG.mid [--audio portaudio|null] [--patchmap FILE] [--mixer MODE]\n"
                    "                    [--interpolation KIND] [--voices N] [--gain DB]\n"
                    "                    [--reverb on|off] [--chorus on|off]\n"
                    "                    [--loop] [--seconds N] [--stats]\n"
                    "\n"
                    "Plays SONG.mid through the Tonvero engine; Ctrl+C stops it.\n"
                    "\n"
                    "  --audio NAME       portaudio (the sound device, default) or null (no sound,\n"
                    "                     real time); TONVERO_AUDIO sets the default\n"
                    "  --patchmap FILE    the bank to play from (default: gmpatch.map in the working\n"
                    "                     directory, else in the program's data directory)\n") +
        mixerOptionsUsage() +
        "  --loop             play the song again from its start each time it ends,\n"
        "                     until Ctrl+C or the --seconds limit\n"
        "  --seconds N        stop after N seconds of wall-clock time from the start of\n"
        "                     playing (N > 0, fractions allowed)\n"
        "  --stats            at the end, report on stderr the wall time, the CPU time\n"
        "                     as a share of one core, the peak memory, how late the\n"
        "                     mixer and sequencer timers fired (mean, 99th percentile,\n"
        "                     worst, in microseconds; events skipped), the underruns\n"
        "                     (mixer ticks that found the play cursor past the sound\n"
        "                     written ahead of it) and, with the Studio mixer, the\n"
        "                     events that came after their frame was written, those the\n"
        "                     full event queue refused, and the voices taken for new notes\n"
        "  -h, --help         this text\n"
        "\n"
        "Exit codes: 0 played to the end, or until the --seconds limit, 1 no audio\n"
        "output, 2 wrong usage, 3 the song cannot be read, 4 the Patchmap cannot be read,\n"
        "130 stopped by Ctrl+C.\n";
    return text;
}

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted.store(true); }

int usageError(const std::string& text) {
    std::fprintf(stderr, "tonvero-play: %s\n\n%s", text.c_str(), usage().c_str());
    return kExitUsage;
}

// A --seconds value: a finite number in (0, kMaxSeconds], the whole text.
bool parseSeconds(const std::string& text, double& seconds) {
    if (text.empty()) return false;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == nullptr || *end != '\0' || !std::isfinite(value) || value <= 0 || value > kMaxSeconds) return false;
    seconds = value;
    return true;
}

double secondsOf(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

// What --stats reports, gathered while playing.
struct PlayStats {
    double wallSeconds = 0;
    double userSeconds = 0;
    double systemSeconds = 0;
    long peakKilobytes = 0;
    int plays = 0;          // times the song was started
    int playedOut = 0;      // times it played to its end
    double musicSeconds = 0;  // song time played
    NoteCounts notes;
    TimerLateness mixer;
    TimerLateness sequencer;
    uint64_t underruns = 0;
    bool studio = false;
    StudioMixer::Counters studioCounters;
};

void printLateness(const char* what, const TimerLateness& late) {
    std::fprintf(stderr, "  %-16s %llu events late by mean %.0f us, p99 %llu us, worst %llu us; %llu skipped\n", what,
                 static_cast<unsigned long long>(late.events), late.meanMicros,
                 static_cast<unsigned long long>(late.percentileMicros(99)),
                 static_cast<unsigned long long>(late.worstMicros), static_cast<unsigned long long>(late.skipped));
}

void printStats(const PlayStats& stats) {
    const double cpu = stats.userSeconds + stats.systemSeconds;
    std::fprintf(stderr,
                 "tonvero-play stats: %.1f s of wall time, %.1f s of music, the song started %d times "
                 "(%d played to the end), %lld notes\n",
                 stats.wallSeconds, stats.musicSeconds, stats.plays, stats.playedOut,
                 static_cast<long long>(stats.notes.played));
    std::fprintf(stderr,
                 "  cpu time         %.2f s (user %.2f s + system %.2f s), %.2f %% of one core; peak memory %.1f MB\n",
                 cpu, stats.userSeconds, stats.systemSeconds,
                 stats.wallSeconds > 0 ? 100.0 * cpu / stats.wallSeconds : 0.0,
                 static_cast<double>(stats.peakKilobytes) / 1024.0);
    printLateness("mixer tick", stats.mixer);
    printLateness("sequencer timer", stats.sequencer);
    std::fprintf(stderr, "  underruns        %llu (mixer ticks that found the play cursor past the written sound)\n",
                 static_cast<unsigned long long>(stats.underruns));
    if (stats.studio) {
        const StudioMixer::Counters& c = stats.studioCounters;
        std::fprintf(stderr,
                     "  studio mixer     %llu events late (after their frame was written), %llu refused "
                     "(queue full), %llu voices taken for new notes\n",
                     static_cast<unsigned long long>(c.lateEvents), static_cast<unsigned long long>(c.droppedEvents),
                     static_cast<unsigned long long>(c.stolenVoices));
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string song;
    std::string audio;
    std::string patchmap;
    MixerOptions mixer;
    bool loop = false;
    bool wantStats = false;
    double limitSeconds = 0;  // 0: no limit
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage().c_str(), stdout);
            return kExitOk;
        } else if (arg == "--audio") {
            if (i + 1 >= argc) return usageError("--audio needs a name: portaudio or null");
            audio = argv[++i];
            if (audio != "portaudio" && audio != "null")
                return usageError("--audio takes portaudio or null, not \"" + audio + "\"");
        } else if (arg == "--patchmap") {
            if (i + 1 >= argc) return usageError("--patchmap needs a file name");
            patchmap = argv[++i];
        } else if (isMixerOption(arg)) {
            if (i + 1 >= argc) return usageError(arg + " needs a value");
            std::string problem;
            if (!parseMixerOption(arg, argv[++i], mixer, problem)) return usageError(problem);
        } else if (arg == "--loop") {
            loop = true;
        } else if (arg == "--stats") {
            wantStats = true;
        } else if (arg == "--seconds") {
            if (i + 1 >= argc) return usageError("--seconds needs a number of seconds");
            const std::string value = argv[++i];
            if (!parseSeconds(value, limitSeconds))
                return usageError("--seconds takes a number above 0 and at most 31 days' worth, not \"" + value + "\"");
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return usageError("unknown option " + arg);
        } else if (song.empty()) {
            song = arg;
        } else {
            return usageError("only one song at a time (\"" + arg + "\" is one too many)");
        }
    }
    if (song.empty()) return usageError("no song given");
    const std::string backend = chooseBackendName(audio, "portaudio");
    if (backend != "portaudio" && backend != "null")
        return usageError("TONVERO_AUDIO names \"" + backend + "\"; tonvero-play plays through portaudio or null");
    if (patchmap.empty()) patchmap = findDefaultPatchmap(argc > 0 ? argv[0] : "");

    // The timers outlive the engine, which runs on them.
    RealTimerService realTimers;
    EngineTimerLateness timers(realTimers);
    MixerEngine engine(mixer.mode, 44100, backendDeviceFactory(backend), &timers, mixer.studio);
    timers.watch(engine);
    {
        EngineLock lock(engine.mutex);
        std::string error;
        if (!engine.initOutput(&error)) {
            std::fprintf(stderr,
                         "tonvero-play: no audio output could be opened (%s).\n"
                         "Try --audio null to play without sound, or tonvero-render to write the song to a file.\n",
                         error.c_str());
            return kExitNoAudio;
        }
        const LoadResult bank = loadPatchmap(engine.bank, patchmap);
        if (bank != LoadOk) {
            std::fprintf(stderr, "tonvero-play: cannot read the Patchmap \"%s\": %s\n", patchmap.c_str(),
                         loadResultMessage(bank));
            return kExitBadBank;
        }
        const SongLoadResult loaded = loadSong(engine, song);
        if (loaded != SongLoadResult::Loaded) {
            std::fprintf(stderr, "tonvero-play: cannot read the song \"%s\": %s\n", song.c_str(),
                         songLoadResultText(loaded));
            return kExitBadSong;
        }
    }

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    rusage usageAtStart{};
    getrusage(RUSAGE_SELF, &usageAtStart);
    play(engine);

    PlayStats stats;
    stats.plays = 1;
    auto addNotes = [&stats](const NoteCounts& counts) {
        stats.notes.played += counts.played;
        stats.notes.withoutInstrument += counts.withoutInstrument;
        stats.notes.withoutZone += counts.withoutZone;
    };
    const bool live = isatty(STDOUT_FILENO) != 0;
    std::string shown;
    std::string line;
    bool timeUp = false;
    for (;;) {
        bool ended = false;
        {
            EngineLock lock(engine.mutex);
            ended = transportStatus(engine) == TransportStatus::Idle;
            const double length = songLengthSeconds(engine);
            // Once the song has played out it stands at its end.
            line = formatSongPosition(ended ? length : songPositionSeconds(engine), length);
            if (ended) {
                addNotes(noteCounts(engine));
                ++stats.playedOut;
                stats.musicSeconds += length;
            }
        }
        if (loop) line += " (play " + std::to_string(stats.plays) + ")";
        if (live && line != shown) {
            std::printf("\r%s ", line.c_str());
            std::fflush(stdout);
            shown = line;
        }
        if (interrupted.load() || (ended && !loop)) break;
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        if (limitSeconds > 0 && elapsed >= limitSeconds) {
            timeUp = true;
            break;
        }
        if (ended) {
            play(engine);
            ++stats.plays;
            continue;
        }
        auto nap = std::chrono::milliseconds(100);
        if (limitSeconds > 0)
            nap = std::min(nap, std::chrono::ceil<std::chrono::milliseconds>(
                                    std::chrono::duration<double>(limitSeconds - elapsed)));
        std::this_thread::sleep_for(nap);
    }
    if (stats.plays > stats.playedOut) {
        // Stopped in the middle: what this play has sounded so far.
        EngineLock lock(engine.mutex);
        addNotes(noteCounts(engine));
        stats.musicSeconds += songPositionSeconds(engine);
    }
    stop(engine);

    if (wantStats) {
        stats.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        stats.userSeconds = secondsOf(usage.ru_utime) - secondsOf(usageAtStart.ru_utime);
        stats.systemSeconds = secondsOf(usage.ru_stime) - secondsOf(usageAtStart.ru_stime);
        stats.peakKilobytes = usage.ru_maxrss;
        // stop() has killed every timer: their figures are whole.
        stats.mixer = timers.mixer();
        stats.sequencer = timers.sequencer();
        {
            EngineLock lock(engine.mutex);
            stats.underruns = engine.underruns;
            if (engine.studio) {
                stats.studio = true;
                stats.studioCounters = engine.studio->counters();
            }
        }
    }

    if (interrupted.load() || timeUp) {
        std::printf("%sstopped at %s%s\n", live ? "\n" : "", line.c_str(),
                    timeUp ? " (the --seconds limit)" : "");
    } else if (live) {
        std::printf("\n");
    } else {
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    if (wantStats) printStats(stats);
    return interrupted.load() ? kExitInterrupted : kExitOk;
}
