// tonvero-play: plays a Standard MIDI File through the Tonvero engine in real
// time, showing the position on one line, until the song ends or Ctrl+C.
//
//   tonvero-play SONG.mid [--audio portaudio|null] [--patchmap FILE]

#include "bank/Patchmap.h"
#include "engine/MixerEngine.h"
#include "platform/AudioBackend.h"
#include "render/DefaultPatchmap.h"
#include "render/SongTimeText.h"
#include "song/SongLoader.h"
#include "song/Transport.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
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

const char* const kUsage =
    "usage: tonvero-play SONG.mid [--audio portaudio|null] [--patchmap FILE]\n"
    "\n"
    "Plays SONG.mid through the Tonvero engine; Ctrl+C stops it.\n"
    "\n"
    "  --audio NAME       portaudio (the sound device, default) or null (no sound,\n"
    "                     real time); TONVERO_AUDIO sets the default\n"
    "  --patchmap FILE    the bank to play from (default: gmpatch.map in the working\n"
    "                     directory, else in the program's data directory)\n"
    "  -h, --help         this text\n"
    "\n"
    "Exit codes: 0 played to the end, 1 no audio output, 2 wrong usage,\n"
    "3 the song cannot be read, 4 the Patchmap cannot be read, 130 stopped by Ctrl+C.\n";

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted.store(true); }

int usageError(const std::string& text) {
    std::fprintf(stderr, "tonvero-play: %s\n\n%s", text.c_str(), kUsage);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    std::string song;
    std::string audio;
    std::string patchmap;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (arg == "--audio") {
            if (i + 1 >= argc) return usageError("--audio needs a name: portaudio or null");
            audio = argv[++i];
            if (audio != "portaudio" && audio != "null")
                return usageError("--audio takes portaudio or null, not \"" + audio + "\"");
        } else if (arg == "--patchmap") {
            if (i + 1 >= argc) return usageError("--patchmap needs a file name");
            patchmap = argv[++i];
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

    MixerEngine engine(1, 0, 44100, backendDeviceFactory(backend));
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
    play(engine);

    const bool live = isatty(STDOUT_FILENO) != 0;
    std::string shown;
    std::string line;
    for (;;) {
        TransportStatus status;
        {
            EngineLock lock(engine.mutex);
            status = transportStatus(engine);
            const double length = songLengthSeconds(engine);
            // Once the song has played out it stands at its end.
            line = formatSongPosition(status == TransportStatus::Idle ? length : songPositionSeconds(engine), length);
        }
        if (live && line != shown) {
            std::printf("\r%s ", line.c_str());
            std::fflush(stdout);
            shown = line;
        }
        if (status == TransportStatus::Idle || interrupted.load()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    stop(engine);
    if (interrupted.load()) {
        std::printf("%sstopped at %s\n", live ? "\n" : "", line.c_str());
        return kExitInterrupted;
    }
    if (live)
        std::printf("\n");
    else
        std::printf("%s\n", line.c_str());
    return kExitOk;
}
