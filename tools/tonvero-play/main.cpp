// tonvero-play: plays a Standard MIDI File through the Tonvero engine in real
// time, showing the position on one line, until the song ends, q or Ctrl+C;
// from a given time (--start), looping (--loop), with channels muted or
// soloed and the master volume set, for a given time (--seconds), with a
// report on how the real-time parts kept up (--stats). On a terminal the
// arrow keys seek 5 s back and on, and space pauses and resumes.
//
// With --midi-in (or --audio jack) it plays what a keyboard or another
// program sends, with or without a song, and --record keeps it as a file.
//
//   tonvero-play [SONG.mid] [--audio portaudio|jack|null] [--patchmap FILE]
//                [--jack-name NAME] [--no-connect] [--midi-in[=PORT]]
//                [--list-midi] [--record FILE.mid]
//                [--mixer MODE] [--interpolation KIND] [--voices N] [--gain DB]
//                [--reverb on|off] [--chorus on|off] [--start TIME] [--loop]
//                [--volume N] [--mute LIST] [--solo LIST] [--seconds N] [--stats]

#include "EngineTimerLateness.h"
#include "TerminalKeys.h"

#include "bank/Patchmap.h"
#include "engine/MixerEngine.h"
#include "platform/AudioBackend.h"
#include "platform/RealTimerService.h"
#include "render/DefaultPatchmap.h"
#include "render/MixerOptions.h"
#include "render/SongTimeText.h"
#include "engine/ChannelMonitor.h"
#include "song/SongLoader.h"
#include "song/SongPosition.h"
#include "song/Transport.h"
#include "live/LiveInput.h"
#include "live/MidiInput.h"
#include "live/TakeRecorder.h"
#include "tonvero/Version.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

using namespace tonvero;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNoAudio = 1;  // no output device could be opened
constexpr int kExitUsage = 2;
constexpr int kExitBadSong = 3;
constexpr int kExitBadBank = 4;
constexpr int kExitInterrupted = 130;

// The longest --seconds: 31 days.
constexpr double kMaxSeconds = 31.0 * 24 * 3600;
// How far an arrow key moves the song.
constexpr double kSeekStepSeconds = 5;

const std::string& usage() {
    static const std::string text =
        std::string(
            "Usage: tonvero-play [OPTION]... SONG.mid\n"
            "       tonvero-play --midi-in[=PORT] [OPTION]... [SONG.mid]\n"
            "\n"
            "Plays SONG.mid through the Tonvero engine; q or Ctrl+C stops it.\n"
            "With --midi-in it also plays what comes in live, and without a song\n"
            "plays only that, until q, Ctrl+C or SIGTERM.\n"
            "On a terminal, while it plays: Left and Right arrows seek 5 s back and on,\n"
            "space pauses and resumes, q quits.\n"
            "\n"
            "Options:\n"
            "  --audio NAME       portaudio (the sound device, default), jack (a client of\n"
            "                     the running JACK server, PipeWire's too) or null (no\n"
            "                     sound, real time); TONVERO_AUDIO sets the default\n"
            "  --jack-name NAME   the JACK client's name (default tonvero)\n"
            "  --no-connect       leave the JACK outputs unconnected (default: to the\n"
            "                     system playback ports)\n"
            "  --midi-in[=PORT]   play live MIDI input: with --audio jack through the\n"
            "                     client's midi_in port; otherwise from PORT (a number or\n"
            "                     a name from --list-midi), or without one from an input\n"
            "                     port of our own that other programs connect to\n"
            "  --list-midi        list the MIDI input ports and exit\n"
            "  --record FILE.mid  keep what is played live as a Standard MIDI File, saved\n"
            "                     every two seconds and at the end (Ctrl+C too)\n"
            "  --patchmap FILE    the bank to play from (default: gmpatch.map in the working\n"
            "                     directory, else in the program's data directory)\n") +
        mixerOptionsUsage() +
        "  --start TIME       start at this song time: seconds (83, 83.5), m:ss or h:mm:ss\n"
        "  --loop             loop without a gap until q, Ctrl+C or the --seconds limit:\n"
        "                     the loop the song marks (loopStart/loopEnd markers or\n"
        "                     controller 111), else the whole song\n"
        "  --volume N         master volume, 0 to 100 (default 100: as mixed)\n"
        "  --mute LIST        silence MIDI channels 1 to 16, such as 10 or 1,4\n"
        "  --solo LIST        play only these channels (1 to 16, such as 10 or 1,4)\n"
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
        "  --version          the program's name and version\n"
        "\n"
        "Exit codes:\n"
        "  0 played to the end, until q or the --seconds limit, 1 no audio output,\n"
        "  2 wrong usage, 3 the song cannot be read, 4 the Patchmap cannot be read,\n"
        "  130 stopped by Ctrl+C.\n";
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
    bool playedOut = false;   // the song played to its end
    double musicSeconds = 0;  // time the song played (not paused)
    int64_t loopTurns = 0;
    NoteCounts notes;
    TimerLateness mixer;
    TimerLateness sequencer;
    uint64_t underruns = 0;
    uint64_t silentPeriods = 0;
    bool studio = false;
    StudioMixer::Counters studioCounters;
    double latencyMs = 0;       // what the output adds: one period, or the write-ahead
    uint32_t periodFrames = 0;  // 0: the write-ahead
    int32_t rate = 0;
    bool live = false;
    uint64_t liveMessages = 0;
    uint64_t liveDropped = 0;
    uint64_t heldPeriods = 0;
};

void printLateness(const char* what, const TimerLateness& late) {
    std::fprintf(stderr, "  %-16s %llu events late by mean %.0f us, p99 %llu us, worst %llu us; %llu skipped\n", what,
                 static_cast<unsigned long long>(late.events), late.meanMicros,
                 static_cast<unsigned long long>(late.percentileMicros(99)),
                 static_cast<unsigned long long>(late.worstMicros), static_cast<unsigned long long>(late.skipped));
}

void printStats(const PlayStats& stats) {
    const double cpu = stats.userSeconds + stats.systemSeconds;
    std::fprintf(stderr, "tonvero-play stats: %.1f s of wall time, %.1f s of music (%s), %lld loop turns, %lld notes\n",
                 stats.wallSeconds, stats.musicSeconds,
                 stats.playedOut ? "played to the end" : "stopped before the end",
                 static_cast<long long>(stats.loopTurns), static_cast<long long>(stats.notes.played));
    std::fprintf(
        stderr, "  cpu time         %.2f s (user %.2f s + system %.2f s), %.2f %% of one core; peak memory %.1f MB\n",
        cpu, stats.userSeconds, stats.systemSeconds, stats.wallSeconds > 0 ? 100.0 * cpu / stats.wallSeconds : 0.0,
        static_cast<double>(stats.peakKilobytes) / 1024.0);
    printLateness("mixer tick", stats.mixer);
    printLateness("sequencer timer", stats.sequencer);
    std::fprintf(stderr, "  underruns        %llu (mixer ticks that found the play cursor past the written sound)\n",
                 static_cast<unsigned long long>(stats.underruns));
    std::fprintf(stderr, "  silent periods   %llu (audio periods played as silence: the device was busy)\n",
                 static_cast<unsigned long long>(stats.silentPeriods));
    if (stats.periodFrames > 0)
        std::fprintf(stderr, "  latency          %.2f ms (one device period: %u frames at %d Hz)\n", stats.latencyMs,
                     stats.periodFrames, stats.rate);
    else
        std::fprintf(stderr, "  latency          %.2f ms (the mixer writes this far ahead of the speaker)\n",
                     stats.latencyMs);
    if (stats.live)
        std::fprintf(stderr, "  live input       %llu messages, %llu refused (queue full), %llu periods held off\n",
                     static_cast<unsigned long long>(stats.liveMessages),
                     static_cast<unsigned long long>(stats.liveDropped),
                     static_cast<unsigned long long>(stats.heldPeriods));
    if (stats.studio) {
        const StudioMixer::Counters& c = stats.studioCounters;
        std::fprintf(stderr,
                     "  studio mixer     %llu events late (after their frame was written), %llu refused "
                     "(queue full), %llu voices taken for new notes\n",
                     static_cast<unsigned long long>(c.lateEvents), static_cast<unsigned long long>(c.droppedEvents),
                     static_cast<unsigned long long>(c.stolenVoices));
    }
}

// A --volume value: a whole number 0..100, the whole text.
bool parseVolume(const std::string& text, int32_t& percent) {
    if (text.empty() || text.size() > 3) return false;
    int32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value > 100) return false;
    percent = value;
    return true;
}

// The position line: "0:42 / 2:15", then "(paused)" and the loop as they apply.
std::string positionLine(const MixerEngine& engine, bool ended) REQUIRES(engine.mutex) {
    const double length = songLengthSeconds(engine);
    // Once the song has played out it stands at its end.
    std::string line = formatSongPosition(ended ? length : songPositionSeconds(engine), length);
    if (transportStatus(engine) == TransportStatus::Paused) line += " (paused)";
    if (looping(engine)) {
        const LoopRange loop = loopRange(engine);
        line += " (loop " + formatSongTime(loop.startSeconds) + "-" + formatSongTime(loop.endSeconds) + ", turn " +
                std::to_string(loopTurns(engine) + 1) + ")";
    }
    return line;
}

// What a key does to the song.
void actOnKey(MixerEngine& engine, PlayKey key) {
    TransportStatus status;
    double position = 0;
    double length = 0;
    {
        EngineLock lock(engine.mutex);
        status = transportStatus(engine);
        position = songPositionSeconds(engine);
        length = songLengthSeconds(engine);
    }
    switch (key) {
    case PlayKey::Space:
        if (status == TransportStatus::Paused)
            resume(engine);
        else if (status == TransportStatus::Playing)
            pause(engine);
        break;
    case PlayKey::Left: seek(engine, std::max(0.0, position - kSeekStepSeconds)); break;
    case PlayKey::Right:
        // Past the end only as far as the end: the song then ends as it would.
        if (status != TransportStatus::Ending) seek(engine, std::min(length, position + kSeekStepSeconds));
        break;
    case PlayKey::Quit: break;
    }
}

}  // namespace

int run(int argc, char** argv) {
    std::string song;
    std::string audio;
    std::string patchmap;
    MixerOptions mixer;
    bool loop = false;
    bool wantStats = false;
    double limitSeconds = 0;   // 0: no limit
    double startSeconds = -1;  // below 0: from the beginning
    std::string startText;     // --start as given
    int32_t volume = -1;       // below 0: left as it is
    uint16_t muted = 0;
    uint16_t soloed = 0;
    BackendOptions backendOptions;
    bool midiIn = false;
    std::string midiPort;  // empty: our own port
    std::string recordPath;
    bool listMidi = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(usage().c_str(), stdout);
            return kExitOk;
        } else if (arg == "--version") {
            std::printf("tonvero-play %s\n", kVersionText);
            return kExitOk;
        } else if (arg == "--audio") {
            if (i + 1 >= argc) return usageError("--audio needs a name: portaudio, jack or null");
            audio = argv[++i];
            if (audio != "portaudio" && audio != "jack" && audio != "null")
                return usageError("--audio takes portaudio, jack or null, not \"" + audio + "\"");
        } else if (arg == "--jack-name") {
            if (i + 1 >= argc || argv[i + 1][0] == '\0') return usageError("--jack-name needs a name");
            backendOptions.jackName = argv[++i];
        } else if (arg == "--no-connect") {
            backendOptions.jackConnect = false;
        } else if (arg == "--midi-in") {
            midiIn = true;
        } else if (arg.rfind("--midi-in=", 0) == 0) {
            midiIn = true;
            midiPort = arg.substr(10);
            if (midiPort.empty()) return usageError("--midi-in= needs a port (a number or a name from --list-midi)");
        } else if (arg == "--list-midi") {
            listMidi = true;
        } else if (arg == "--record") {
            if (i + 1 >= argc) return usageError("--record needs a file name");
            recordPath = argv[++i];
        } else if (arg == "--patchmap") {
            if (i + 1 >= argc) return usageError("--patchmap needs a file name");
            patchmap = argv[++i];
        } else if (isMixerOption(arg)) {
            if (i + 1 >= argc) return usageError(arg + " needs a value");
            std::string problem;
            if (!parseMixerOption(arg, argv[++i], mixer, problem)) return usageError(problem);
        } else if (arg == "--loop") {
            loop = true;
        } else if (arg == "--start") {
            if (i + 1 >= argc) return usageError("--start needs a song time");
            const std::string value = argv[++i];
            startText = value;
            if (!parseSongTime(value, startSeconds))
                return usageError("--start takes a song time such as 83, 83.5, 1:23 or 1:02:03, not \"" + value + "\"");
        } else if (arg == "--volume") {
            if (i + 1 >= argc) return usageError("--volume needs a number from 0 to 100");
            const std::string value = argv[++i];
            if (!parseVolume(value, volume))
                return usageError("--volume takes a whole number from 0 to 100, not \"" + value + "\"");
        } else if (arg == "--mute" || arg == "--solo") {
            if (i + 1 >= argc) return usageError(arg + " needs channels 1 to 16, such as 10 or 1,4");
            const std::string value = argv[++i];
            uint16_t channels = 0;
            std::string problem;
            if (!parseChannelList(value, channels, problem)) return usageError(arg + " " + value + ": " + problem);
            (arg == "--mute" ? muted : soloed) |= channels;
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
    if (listMidi) {
        std::string error;
        const std::vector<MidiPort> ports = listMidiInputs(MidiApi::Default, error);
        if (!error.empty()) {
            std::fprintf(stderr, "tonvero-play: %s\n", error.c_str());
            return kExitNoAudio;
        }
        if (ports.empty()) std::printf("no MIDI input ports\n");
        for (const MidiPort& port : ports) std::printf("%d %s\n", port.number, port.name.c_str());
        return kExitOk;
    }
    const std::string backend = chooseBackendName(audio, "portaudio");
    if (backend != "portaudio" && backend != "jack" && backend != "null")
        return usageError("TONVERO_AUDIO names \"" + backend +
                          "\"; tonvero-play plays through portaudio, jack or null");
    // The JACK client has a MIDI input of its own: live play needs no port.
    if (backend == "jack" && song.empty()) midiIn = true;
    if (song.empty() && !midiIn) return usageError("no song given (or --midi-in to play live)");
    if (!recordPath.empty() && !midiIn) return usageError("--record keeps live input: give --midi-in too");
    if (backend == "jack" && !midiPort.empty())
        return usageError("with --audio jack, live input comes in on the client's midi_in port: connect " + midiPort +
                          " to it (jack_connect, or a patchbay) and leave out the port");
    if (patchmap.empty()) patchmap = findDefaultPatchmap(argc > 0 ? argv[0] : "");

    // The timers outlive the engine, which runs on them.
    RealTimerService realTimers;
    EngineTimerLateness timers(realTimers);
    // Live input from the device's own MIDI port is given to `liveInput` before
    // the device starts.
    LiveInput liveInput(44100);
    SoundDeviceFactory openDevice = backendDeviceFactory(backend, backendOptions);
    if (midiIn && backend == "jack")
        openDevice = [openDevice, &liveInput]() {
            DeviceOpenResult opened = openDevice();
            if (opened.device) opened.device->setMidiInput(&LiveInput::fromDevice, &liveInput);
            return opened;
        };
    MixerEngine engine(mixer.mode, 44100, openDevice, &timers, mixer.studio);
    timers.watch(engine);
    // The bank and the song are read before the engine lock is taken: no
    // timer runs yet, but reading files under the lock would hold up anything
    // that needs it.
    Bank bankRead;
    const LoadResult bank = loadPatchmap(bankRead, patchmap);
    SongImage image;
    const SongLoadResult loaded = song.empty() ? SongLoadResult::Loaded : readSongFile(song, image);
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
        if (bank != LoadOk) {
            std::fprintf(stderr, "tonvero-play: cannot read the Patchmap \"%s\": %s\n", patchmap.c_str(),
                         loadResultMessage(bank));
            return kExitBadBank;
        }
        if (loaded != SongLoadResult::Loaded) {
            std::fprintf(stderr, "tonvero-play: cannot read the song \"%s\": %s\n", song.c_str(),
                         songLoadResultText(loaded));
            return kExitBadSong;
        }
        engine.bank = std::move(bankRead);
        if (!song.empty()) installSong(engine, std::move(image));
        const double length = songLengthSeconds(engine);
        if (startSeconds > length) {
            std::fprintf(stderr, "tonvero-play: --start %s is past the end of the song, which lasts %s\n",
                         startText.c_str(), formatSongTime(length).c_str());
            return kExitUsage;
        }
        const double damagedAfter = song.empty() ? -1 : songDamagedAfterSeconds(engine);
        if (damagedAfter >= 0) std::fprintf(stderr, "tonvero-play: %s\n", songDamageText(damagedAfter).c_str());
        setLooping(engine, loop);
        if (volume >= 0) setMasterVolume(engine, volume);
        setMutedChannels(engine, muted);
        setSoloedChannels(engine, soloed);
    }

    // Live input: from here on messages reach the Studio mixer.
    std::unique_ptr<MidiInput> port;
    std::unique_ptr<TakeRecorder> take;
    // The Studio mixer in the device's callback takes live input on its
    // frame; the other mixers take it from this loop, at their next pass.
    bool polledLive = false;
    if (midiIn) {
        liveInput.setRate(engine.outputRate);
        polledLive = !(engine.studio && engine.studio->inCallback());
        if (polledLive)
            liveInput.attachPolled();
        else
            liveInput.attach(engine.studio.get());
        take = std::make_unique<TakeRecorder>(engine.outputRate, liveInput.nowFrame());
        if (backend != "jack") {
            std::string error;
            port = MidiInput::open(MidiApi::Default, midiPort, "tonvero", &LiveInput::fromPort, &liveInput, error);
            if (!port) {
                std::fprintf(stderr, "tonvero-play: %s\n", error.c_str());
                return kExitNoAudio;
            }
            std::fprintf(stderr, "tonvero-play: %s\n", port->description().c_str());
        } else {
            std::fprintf(stderr, "tonvero-play: MIDI input: JACK port %s:midi_in\n", backendOptions.jackName.c_str());
        }
    }
    size_t takeSaved = 0;
    auto saveTake = [&]() {
        if (!take) return;
        liveInput.takeMessages([&take](const LiveInput::Stamped& s) { take->add(s.frame, s.message); });
        if (recordPath.empty() || take->eventCount() == takeSaved) return;
        if (take->save(recordPath))
            takeSaved = take->eventCount();
        else
            std::fprintf(stderr, "tonvero-play: cannot write the take to \"%s\"\n", recordPath.c_str());
    };

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    std::signal(SIGHUP, onInterrupt);
    // Keys are read from here on; the terminal is put back when `keys` goes,
    // on every way out below (the signals above only set a flag).
    TerminalKeys keys;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    rusage usageAtStart{};
    getrusage(RUSAGE_SELF, &usageAtStart);
    // Without a song only what comes in live plays.
    if (!song.empty() && startSeconds >= 0)
        playFrom(engine, startSeconds);
    else if (!song.empty())
        play(engine);
    std::string failure;
    Clock::time_point lastSave = started;

    PlayStats stats;
    const bool live = isatty(STDOUT_FILENO) != 0;
    std::string shown;
    std::string line;
    bool timeUp = false;
    bool quit = false;
    bool wasPlaying = true;
    Clock::time_point lastLook = started;
    std::vector<PlayKey> pressed;
    for (;;) {
        bool ended = false;
        {
            EngineLock lock(engine.mutex);
            if (polledLive) liveInput.playPending(engine);
            const TransportStatus status = transportStatus(engine);
            // With live input the program plays on after the song, until q.
            ended = status == TransportStatus::Idle && !midiIn;
            line = song.empty() ? std::string("live") : positionLine(engine, status == TransportStatus::Idle);
            if (midiIn)
                line += " (live: " + std::to_string(liveInput.heldNotes()) + " held, " +
                        std::to_string(liveInput.messages()) + " messages)";
            const Clock::time_point now = Clock::now();
            if (wasPlaying) stats.musicSeconds += std::chrono::duration<double>(now - lastLook).count();
            lastLook = now;
            wasPlaying = status == TransportStatus::Playing;
        }
        if (live && line != shown) {
            // Back to the start of the line, and clear what a longer line left.
            std::printf("\r%s\033[K", line.c_str());
            std::fflush(stdout);
            shown = line;
        }
        if (interrupted.load() || quit) break;
        if (engine.soundDevice) failure = engine.soundDevice->failure();
        if (!failure.empty()) break;
        if (port && !port->portStillThere()) {
            // The device or program went: no more bytes come, so its notes can be let go here.
            port->close();
            port.reset();
            liveInput.releaseHeld();
            std::fprintf(stderr, "\ntonvero-play: the MIDI input port went away; its held notes were released\n");
        }
        if (take && Clock::now() - lastSave >= std::chrono::seconds(2)) {
            saveTake();
            lastSave = Clock::now();
        }
        if (ended) {
            stats.playedOut = true;
            break;
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
        if (limitSeconds > 0 && elapsed >= limitSeconds) {
            timeUp = true;
            break;
        }
        // Live input waits here for the Custom and hardware mixers: look often.
        int napMillis = polledLive ? 5 : 100;
        if (limitSeconds > 0)
            napMillis = std::min(napMillis, static_cast<int>(std::ceil((limitSeconds - elapsed) * 1000)));
        pressed.clear();
        keys.wait(napMillis, pressed);
        for (PlayKey key : pressed) {
            if (key == PlayKey::Quit) {
                quit = true;
                break;
            }
            actOnKey(engine, key);
        }
    }
    {
        EngineLock lock(engine.mutex);
        stats.notes = noteCounts(engine);
        stats.loopTurns = loopTurns(engine);
    }
    if (port) port->close();
    saveTake();
    stop(engine);
    keys.restore();

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
            stats.underruns = engine.custom.underruns;
            if (engine.soundDevice) stats.silentPeriods = engine.soundDevice->silentPeriods();
            if (engine.studio) {
                stats.studio = true;
                stats.studioCounters = engine.studio->counters();
                stats.heldPeriods = engine.studio->heldPeriods();
            }
            stats.rate = engine.outputRate;
            if (engine.studio && engine.studio->inCallback() && engine.soundDevice) {
                stats.periodFrames = engine.soundDevice->periodFrames();
                stats.latencyMs = engine.outputRate > 0 ? 1000.0 * stats.periodFrames / engine.outputRate : 0;
            } else {
                stats.latencyMs = 1000.0 * engine.custom.writeAheadSeconds;
            }
            stats.live = midiIn;
            stats.liveMessages = liveInput.messages();
            stats.liveDropped = liveInput.dropped();
        }
    }

    if (interrupted.load() || timeUp || quit) {
        std::printf("%sstopped at %s%s\n", live ? "\n" : "", line.c_str(), timeUp ? " (the --seconds limit)" : "");
    } else if (live) {
        std::printf("\n");
    } else {
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
    if (wantStats) printStats(stats);
    if (!failure.empty()) {
        std::fprintf(stderr, "tonvero-play: %s\n", failure.c_str());
        return kExitNoAudio;
    }
    return interrupted.load() ? kExitInterrupted : kExitOk;
}

int main(int argc, char** argv) {
    // An exception unwinds through run(), which puts the terminal back.
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tonvero-play: %s\n", e.what());
        return 1;
    }
}
