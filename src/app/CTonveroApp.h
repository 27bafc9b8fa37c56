#pragma once
// The application: start-up in the order the program has always used
// (window first, then the engine, the sound output, the default bank and the
// 500 ms refresh timer) and shutdown in reverse.
//
// Threads: user-interface thread only.

#include "app/CMainFrame.h"
#include "app/CTonveroDoc.h"
#include "app/LivePlay.h"
#include "bank/Bank.h"
#include "platform/AudioBackend.h"
#include "platform/SoundDevice.h"
#include "platform/TimerService.h"
#include "render/MixerOptions.h"
#include "song/SongLoader.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <string>

namespace tonvero {

struct AppOptions {
    // Backend name; empty: TONVERO_AUDIO, else the output chosen last, else portaudio.
    std::string audio;
    BackendOptions backend;  // the JACK client's name, and whether it connects its outputs
    // The mixer and the Studio mixer's settings; `mixerGiven` when the command
    // line chose the mixer (else the user's settings do, else the Studio mixer).
    MixerOptions mixer;
    bool mixerGiven = false;
    // The command line turned the reverb or the chorus on or off (else the
    // user's settings do, else both are on).
    bool reverbGiven = false;
    bool chorusGiven = false;
    QStringList files;  // songs and Patchmaps named on the command line
    std::string argv0;  // where the program runs from (to find its data directory)
    // The default bank's file; empty: "gmpatch.map" in the working directory,
    // else in the program's data directory.
    std::string defaultPatchmap;
    // Tests run the application on the offline device and virtual clock.
    SoundDeviceFactory deviceFactory;
    TimerService* timers = nullptr;
    bool showWindow = true;
    // -h or --help was given: the caller prints the usage and ends.
    bool help = false;
    // --version was given: the caller prints the program's version and ends.
    bool version = false;
};

// The command line: [--audio NAME] [--jack-name NAME] [--no-connect] [--mixer MODE] [--interpolation KIND]
// [--voices N] [--gain DB] [--reverb on|off] [--chorus on|off] [-h|--help]
// [--version] [FILE...]. `arguments` starts with the program's name. It
// needs no QCoreApplication, so it runs before anything opens a display;
// Qt's own options (-platform NAME, -style NAME, -display NAME...) are passed
// over for QApplication to take. Returns false with `error` for a wrong option.
bool parseCommandLine(const QStringList& arguments, AppOptions& options, QString& error);
QString commandLineUsage();

// What the status bar says when the program plays on the null output because
// the sound device could not be opened.
extern const QString kSilentOutputText;
// What it says when JACK is absent or stopped, after the reason.
extern const QString kNoJackText;

class CTonveroApp {
public:
    explicit CTonveroApp(AppOptions options);
    // Kills the refresh timer, then destroys the engine (timers killed, bank
    // cleared, song freed, sound objects released).
    ~CTonveroApp();
    CTonveroApp(const CTonveroApp&) = delete;
    CTonveroApp& operator=(const CTonveroApp&) = delete;

    // Runs start-up. False when the program must end (the reason has been shown).
    bool initInstance();

    CMainFrame* frame() const { return frame_.get(); }
    // Replaces the engine with one that mixes in `mode`, keeping the bank and
    // the song (a playing song plays again from its start); false with
    // `error` when its output cannot be opened (the engine then mixes as before).
    bool switchMixer(MixerMode mode, QString& error);
    // Replaces the engine with one on the output `backend` ("portaudio",
    // "jack" or "null"), as switchMixer does; false with `error` when it
    // cannot be opened (the engine then plays on the output it had).
    bool switchOutput(const std::string& backend, QString& error);
    // The output the engine plays on: a backend name ("offline" in tests).
    const std::string& outputName() const { return backend_; }
    CTonveroDoc& document() { return document_; }
    LivePlay& livePlay() { return live_; }
    int uiTimer = 0;

private:
    // What goes from an engine to the one that takes its place.
    struct Cargo {
        Bank bank;
        SongImage song;
        bool haveSong = false;
        bool wasPlaying = false;
    };
    // Stops theEngine, takes its bank and song, and destroys it.
    Cargo retireEngine();
    // Gives theEngine the bank and song, playing again when they were.
    static void deliverCargo(Cargo& cargo);
    // Makes theEngine in `mode` and opens its output; false with `why`.
    bool makeEngine(MixerMode mode, std::string* why);
    // Destroys theEngine (which could not open its output) and makes it anew
    // in `mode` on the null output; false with `why` when even that fails.
    bool remakeSilent(MixerMode mode, std::string* why);
    // The factory for an output by backend name.
    SoundDeviceFactory outputFactory(const std::string& backend) const;
    // The engine in `mode` could not open its output for `why`: asks whether
    // to go on without sound and, on Yes, makes it anew on the null output
    // (and the status bar says so). False on No (`notice` empty), or when
    // there is no quieter output to offer or it fails too (`notice` says
    // why); theEngine exists either way.
    bool offerSilentOutput(MixerMode mode, const std::string& why, QString& notice);
    static QString deviceFailureText(const std::string& why);

    AppOptions options_;
    // Live input outlives every engine: it is closed before one goes and opened again for the next.
    LivePlay live_;
    SoundDeviceFactory factory_;
    std::string backend_;  // the output factory_ opens
    bool silent_ = false;  // factory_ opens the null output
    CTonveroDoc document_;
    std::unique_ptr<CMainFrame> frame_;
};

}  // namespace tonvero
