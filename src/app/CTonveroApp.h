#pragma once
// The application: start-up in the order the program has always used
// (window first, then the engine, the sound output, the default bank and the
// 500 ms refresh timer) and shutdown in reverse.
//
// Threads: user-interface thread only.

#include "app/CMainFrame.h"
#include "app/CTonveroDoc.h"
#include "platform/SoundDevice.h"
#include "platform/TimerService.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <string>

namespace tonvero {

struct AppOptions {
    std::string audio;       // backend name; empty: TONVERO_AUDIO, else portaudio
    QStringList files;       // songs and Patchmaps named on the command line
    std::string argv0;       // where the program runs from (to find its data directory)
    // The default bank's file; empty: "gmpatch.map" in the working directory,
    // else in the program's data directory.
    std::string defaultPatchmap;
    // Tests run the application on the offline device and virtual clock.
    SoundDeviceFactory deviceFactory;
    TimerService* timers = nullptr;
    bool showWindow = true;
};

// The command line: [--audio NAME] [FILE...]. Returns false with `error` for a wrong option.
bool parseCommandLine(const QStringList& arguments, AppOptions& options, QString& error);
QString commandLineUsage();

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
    CTonveroDoc& document() { return document_; }
    int uiTimer = 0;

private:
    AppOptions options_;
    CTonveroDoc document_;
    std::unique_ptr<CMainFrame> frame_;
};

}  // namespace tonvero
