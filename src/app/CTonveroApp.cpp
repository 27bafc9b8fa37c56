#include "app/CTonveroApp.h"

#include "app/AppGlobals.h"
#include "bank/Patchmap.h"
#include "editor/Prompter.h"
#include "engine/MixerEngine.h"
#include "engine/StudioMixer.h"
#include "platform/AudioBackend.h"
#include "render/DefaultPatchmap.h"
#include "song/SongLoader.h"
#include "song/Transport.h"

#include <QCoreApplication>

namespace tonvero {

namespace {

// Qt's own command-line options, which QApplication takes out of the
// arguments it is given: those followed by a value, and those without one.
bool isQtOptionWithValue(const QString& argument) {
    static const QStringList names = {
        QStringLiteral("-platform"),        QStringLiteral("-platformpluginpath"),
        QStringLiteral("-platformtheme"),   QStringLiteral("-plugin"),
        QStringLiteral("-display"),         QStringLiteral("-geometry"),
        QStringLiteral("-qwindowgeometry"), QStringLiteral("-title"),
        QStringLiteral("-qwindowtitle"),    QStringLiteral("-icon"),
        QStringLiteral("-qwindowicon"),     QStringLiteral("-name"),
        QStringLiteral("-style"),           QStringLiteral("-stylesheet"),
        QStringLiteral("-session"),
    };
    return names.contains(argument);
}

bool isQtOptionAlone(const QString& argument) {
    static const QStringList names = {QStringLiteral("-reverse"), QStringLiteral("-widgetcount"),
                                      QStringLiteral("-nograb"),  QStringLiteral("-dograb"),
                                      QStringLiteral("-sync"),    QStringLiteral("-testability")};
    if (names.contains(argument)) return true;
    // -style=NAME, -stylesheet=FILE, -qmljsdebugger=...
    return argument.startsWith(QStringLiteral("-style=")) || argument.startsWith(QStringLiteral("-stylesheet=")) ||
           argument.startsWith(QStringLiteral("-qmljsdebugger="));
}

}  // namespace

bool parseCommandLine(const QStringList& arguments, AppOptions& options, QString& error) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        QString audio;
        if (argument == QStringLiteral("-h") || argument == QStringLiteral("--help")) {
            options.help = true;
            return true;
        } else if (argument == QStringLiteral("--version")) {
            options.version = true;
            return true;
        } else if (argument == QStringLiteral("--audio")) {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("--audio needs a backend name: portaudio, jack or null.");
                return false;
            }
            audio = arguments[++i];
        } else if (argument == QStringLiteral("--jack-name")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty()) {
                error = QStringLiteral("--jack-name needs a name.");
                return false;
            }
            options.backend.jackName = arguments[++i].toStdString();
            continue;
        } else if (argument == QStringLiteral("--no-connect")) {
            options.backend.jackConnect = false;
            continue;
        } else if (argument.startsWith(QStringLiteral("--audio="))) {
            audio = argument.mid(8);
        } else if (isMixerOption(argument.toStdString())) {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 needs a value.").arg(argument);
                return false;
            }
            std::string problem;
            if (!parseMixerOption(argument.toStdString(), arguments[++i].toStdString(), options.mixer, problem)) {
                error = QString::fromStdString(problem) + QStringLiteral(".");
                return false;
            }
            if (argument == QStringLiteral("--mixer")) options.mixerGiven = true;
            if (argument == QStringLiteral("--reverb")) options.reverbGiven = true;
            if (argument == QStringLiteral("--chorus")) options.chorusGiven = true;
            continue;
        } else if (isQtOptionWithValue(argument)) {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("%1 needs a value.").arg(argument);
                return false;
            }
            ++i;  // QApplication reads it
            continue;
        } else if (isQtOptionAlone(argument)) {
            continue;
        } else if (argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
            // A file whose name begins with a dash is named as ./-name.
            error = QStringLiteral("Unknown option %1.").arg(argument);
            return false;
        } else {
            options.files << argument;
            continue;
        }
        if (!isBackendName(audio.toStdString())) {
            error = QStringLiteral("Unknown audio backend \"%1\": use portaudio, jack or null.").arg(audio);
            return false;
        }
        options.audio = audio.toStdString();
    }
    return true;
}

QString commandLineUsage() {
    return QStringLiteral(
        "Usage: tonvero [OPTION]... [SONG.mid | PATCHMAP.map]...\n"
        "\n"
        "Plays General MIDI songs through the Tonvero engine and edits the Patchmap\n"
        "bank they play from: a song named is loaded and played, a Patchmap named is\n"
        "opened.\n"
        "\n"
        "Options:\n"
        "  --audio portaudio|jack|null\n"
        "                     portaudio plays on the sound device, jack as a client of\n"
        "                     the JACK server (its midi_in port plays live), null\n"
        "                     without a sound device, silently (default: TONVERO_AUDIO,\n"
        "                     else the output chosen last, else portaudio)\n"
        "  --jack-name NAME   the JACK client's name (default tonvero)\n"
        "  --no-connect       leave the JACK outputs unconnected\n"
        "  --mixer studio|software|primary|hardware\n"
        "                     the mixer (default: the one chosen last, else studio)\n"
        "  --interpolation nearest|linear|cubic|sinc\n"
        "                     the Studio mixer's resampling (default cubic)\n"
        "  --voices N         notes the Studio mixer sounds at once, 1 to 4096 (default 256)\n"
        "  --gain DB          the Studio mixer's master gain in dB (default -4)\n"
        "  --reverb on|off    the Studio mixer's reverb (default: as left last, else on)\n"
        "  --chorus on|off    the Studio mixer's chorus (default: as left last, else on);\n"
        "                     the effects' settings (--reverb-size and the others) are\n"
        "                     those of tonvero-render\n"
        "  -h, --help         this text\n"
        "  --version          the program's name and version\n"
        "\n"
        "Qt's own options (-platform NAME, -style NAME and the others) are passed on\n"
        "to Qt.");
}

const QString kSilentOutputText = QStringLiteral("No sound device: playing silently (null output).");
const QString kNoJackText = QStringLiteral("playing silently (no sound).");

CTonveroApp::CTonveroApp(AppOptions options) : options_(std::move(options)) {}

bool CTonveroApp::initInstance() {
    // The window and its view first; the view draws nothing until the engine exists.
    document_.onNewDocument();
    frame_ = std::make_unique<CMainFrame>(document_);
    if (options_.showWindow) frame_->show();

    // The engine at 44100 Hz with the mixer the command line names, else the
    // one the user chose last, else the Studio mixer.
    // The output: the command line's, else TONVERO_AUDIO's, else the one
    // chosen last, else the sound device. Tests give a device of their own.
    backend_ =
        options_.deviceFactory ? std::string("offline") : chooseBackendName(options_.audio, CMainFrame::storedOutput());
    factory_ = options_.deviceFactory ? options_.deviceFactory : outputFactory(backend_);
    frame_->setLivePlay(&live_);
    frame_->setOutputSwitch([this](const std::string& backend, QString& error) { return switchOutput(backend, error); },
                            [this] { return backend_; });
    const MixerMode mode = options_.mixerGiven ? options_.mixer.mode : CMainFrame::storedMixerMode();
    frame_->setMixerSwitch([this](MixerMode chosen, QString& error) { return switchMixer(chosen, error); });
    // The effects as the command line says, else as the user left them.
    bool reverb = true, chorus = true;
    CMainFrame::storedEffects(reverb, chorus);
    if (!options_.reverbGiven) options_.mixer.studio.reverb.on = reverb;
    if (!options_.chorusGiven) options_.mixer.studio.chorus.on = chorus;
    frame_->setEffectsSwitch([this](bool reverbOn, bool chorusOn) {
        // Kept for an engine made anew with another mixer.
        options_.mixer.studio.reverb.on = reverbOn;
        options_.mixer.studio.chorus.on = chorusOn;
        if (theEngine && theEngine->studio) {
            theEngine->studio->setReverbOn(reverbOn);
            theEngine->studio->setChorusOn(chorusOn);
        }
    });

    // The MIDI input chosen last opens with the engine.
    QString portError;
    live_.choosePort(CMainFrame::storedMidiInput(), portError);

    // Without a sound device the user may go on without sound; No ends the
    // program. Without a JACK server the program plays silently and says so.
    silent_ = backend_ == "null";
    std::string why;
    if (!makeEngine(mode, &why)) {
        QString notice;
        if (backend_ == "jack") {
            std::string again;
            if (!remakeSilent(mode, &again)) {
                prompter().notify(
                    frame_.get(),
                    QStringLiteral("Tonvero cannot play silently either: %1").arg(QString::fromStdString(again)));
                return false;
            }
            frame_->setMessagePaneText(QString::fromStdString(why) + QStringLiteral(": ") + kNoJackText);
        } else if (!offerSilentOutput(mode, why, notice)) {
            if (!notice.isEmpty()) prompter().notify(frame_.get(), notice);
            return false;
        }
    }

    // The default bank; when it is missing the program runs with an empty one
    // and Save does nothing until Save As names a file.
    const std::string defaultBank =
        options_.defaultPatchmap.empty() ? findDefaultPatchmap(options_.argv0) : options_.defaultPatchmap;
    Bank loaded;
    if (loadPatchmap(loaded, defaultBank) == LoadOk) {
        EngineLock lock(theEngine->mutex);
        theEngine->bank = std::move(loaded);
        patchmapPath = defaultBank;
    } else {
        patchmapPath.clear();
    }

    uiTimer = frame_->startTimer(500);
    frame_->refresh();

    for (const QString& file : options_.files) frame_->openFile(file);
    return true;
}

bool CTonveroApp::makeEngine(MixerMode mode, std::string* why) {
    new MixerEngine(mode, 44100, live_.withDeviceInput(factory_, options_.backend.jackName), options_.timers,
                    options_.mixer.studio);
    bool opened;
    {
        EngineLock lock(theEngine->mutex);
        opened = theEngine->initOutput(why) != 0;
    }
    live_.attach(*theEngine);
    return opened;
}

bool CTonveroApp::remakeSilent(MixerMode mode, std::string* why) {
    live_.detach();
    delete theEngine;  // the one without an output
    backend_ = "null";
    factory_ = outputFactory(backend_);
    silent_ = true;
    return makeEngine(mode, why);
}

SoundDeviceFactory CTonveroApp::outputFactory(const std::string& backend) const {
    return backendDeviceFactory(backend, options_.backend);
}

QString CTonveroApp::deviceFailureText(const std::string& why) {
    QString text = QStringLiteral("The sound device could not be opened");
    return text + (why.empty() ? QStringLiteral(".") : QStringLiteral(": ") + QString::fromStdString(why));
}

bool CTonveroApp::offerSilentOutput(MixerMode mode, const std::string& why, QString& notice) {
    notice.clear();
    if (silent_) {
        // Already on the null output: there is nothing quieter to offer.
        notice = deviceFailureText(why);
        return false;
    }
    if (!prompter().confirm(frame_.get(), deviceFailureText(why) + QStringLiteral("\n\nGo on without sound?")))
        return false;
    std::string again;
    if (!remakeSilent(mode, &again)) {
        notice = QStringLiteral("Tonvero cannot play silently either: %1").arg(QString::fromStdString(again));
        return false;
    }
    frame_->setMessagePaneText(kSilentOutputText);
    return true;
}

CTonveroApp::Cargo CTonveroApp::retireEngine() {
    Cargo cargo;
    MixerEngine* old = theEngine;
    {
        EngineLock lock(old->mutex);
        const TransportStatus status = transportStatus(*old);
        cargo.wasPlaying = status == TransportStatus::Playing || status == TransportStatus::Paused;
    }
    stop(*old);
    {
        EngineLock lock(old->mutex);
        cargo.bank = std::move(old->bank);
        cargo.haveSong =
            !old->song.songData.empty() && parseSong(old->song.songData, cargo.song) == SongLoadResult::Loaded;
    }
    live_.detach();
    delete old;
    return cargo;
}

void CTonveroApp::deliverCargo(Cargo& cargo) {
    {
        EngineLock lock(theEngine->mutex);
        theEngine->bank = std::move(cargo.bank);
        if (cargo.haveSong) installSong(*theEngine, std::move(cargo.song));
    }
    if (cargo.wasPlaying && cargo.haveSong) play(*theEngine);
}

bool CTonveroApp::switchMixer(MixerMode mode, QString& error) {
    if (!theEngine || theEngine->mixerMode == mode) return true;
    const MixerMode previous = theEngine->mixerMode;
    Cargo cargo = retireEngine();

    std::string why;
    bool opened = makeEngine(mode, &why);
    QString notice;
    // The new mixer may play silently instead, if the user wants; on No the
    // mixer used before comes back.
    if (!opened && !silent_) opened = offerSilentOutput(mode, why, notice);
    if (!opened) {
        error = QStringLiteral("The %1 cannot open the sound output.\n%2")
                    .arg(QString::fromLatin1(theEngine->mixerModeText()).trimmed(),
                         notice.isEmpty() ? QString::fromStdString(why) : notice);
        live_.detach();
        delete theEngine;
        std::string again;
        if (!makeEngine(previous, &again)) error += QStringLiteral("\nThe mixer used before cannot open it either.");
    }
    deliverCargo(cargo);
    return opened;
}

bool CTonveroApp::switchOutput(const std::string& backend, QString& error) {
    if (!theEngine || backend == backend_) return true;
    const MixerMode mode = theEngine->mixerMode;
    const std::string previous = backend_;
    const SoundDeviceFactory previousFactory = factory_;
    Cargo cargo = retireEngine();

    backend_ = backend;
    factory_ = outputFactory(backend);
    std::string why;
    const bool opened = makeEngine(mode, &why);
    if (!opened) {
        error = QStringLiteral("The output cannot be opened: %1").arg(QString::fromStdString(why));
        live_.detach();
        delete theEngine;
        backend_ = previous;
        factory_ = previousFactory;
        std::string again;
        if (!makeEngine(mode, &again)) {
            // Nothing else left: silence, which always opens.
            remakeSilent(mode, &again);
            error += QStringLiteral("\nThe output used before cannot be opened either: ") + kNoJackText;
        }
    }
    silent_ = backend_ == "null";
    deliverCargo(cargo);
    return opened;
}

CTonveroApp::~CTonveroApp() {
    if (frame_ && uiTimer) frame_->killTimer(uiTimer);
    uiTimer = 0;
    live_.detach();    // the port closed and the take kept before the engine goes
    delete theEngine;  // the destructor clears theEngine
    frame_.reset();
}

}  // namespace tonvero
