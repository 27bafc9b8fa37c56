#include "app/CTonveroApp.h"

#include "app/AppGlobals.h"
#include "bank/Patchmap.h"
#include "editor/Prompter.h"
#include "engine/MixerEngine.h"
#include "platform/AudioBackend.h"
#include "render/DefaultPatchmap.h"
#include "song/Transport.h"

#include <QCoreApplication>

namespace tonvero {

bool parseCommandLine(const QStringList& arguments, AppOptions& options, QString& error) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        QString audio;
        if (argument == QStringLiteral("--audio")) {
            if (i + 1 >= arguments.size()) {
                error = QStringLiteral("--audio needs a backend name: portaudio or null.");
                return false;
            }
            audio = arguments[++i];
        } else if (argument.startsWith(QStringLiteral("--audio="))) {
            audio = argument.mid(8);
        } else if (argument.startsWith(QStringLiteral("--"))) {
            error = QStringLiteral("Unknown option %1.").arg(argument);
            return false;
        } else {
            options.files << argument;
            continue;
        }
        if (!isBackendName(audio.toStdString())) {
            error = QStringLiteral("Unknown audio backend \"%1\": use portaudio or null.").arg(audio);
            return false;
        }
        options.audio = audio.toStdString();
    }
    return true;
}

QString commandLineUsage() {
    return QStringLiteral("Usage: tonvero [--audio portaudio|null] [SONG.mid | PATCHMAP.map]...");
}

CTonveroApp::CTonveroApp(AppOptions options) : options_(std::move(options)) {}

bool CTonveroApp::initInstance() {
    // The window and its view first; the view draws nothing until the engine exists.
    document_.onNewDocument();
    frame_ = std::make_unique<CMainFrame>(document_);
    if (options_.showWindow) frame_->show();

    // The engine: software mixer, its own secondary buffer, 44100 Hz.
    SoundDeviceFactory factory = options_.deviceFactory;
    const std::string backend = chooseBackendName(options_.audio);
    if (!factory) factory = backendDeviceFactory(backend);
    new MixerEngine(1, 0, 44100, std::move(factory), options_.timers);

    std::string why;
    if (!theEngine->initOutput(&why)) {
        QString text = QStringLiteral("Tonvero cannot open the sound output (%1).\n")
                           .arg(QString::fromStdString(backend));
        if (!why.empty()) text += QString::fromStdString(why) + QStringLiteral("\n");
        text += QStringLiteral("Start Tonvero with --audio null to run it without sound.");
        prompter().notify(frame_.get(), text);
        return false;
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

CTonveroApp::~CTonveroApp() {
    if (frame_ && uiTimer) frame_->killTimer(uiTimer);
    uiTimer = 0;
    delete theEngine;  // the destructor clears theEngine
    frame_.reset();
}

}  // namespace tonvero
