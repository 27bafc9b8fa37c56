#pragma once
// The application in a test: a working directory of its own (a temporary
// one, where "gmpatch.map" is looked for), the settings and the remembered
// paths cleared, the offline sound device on the virtual clock, questions
// and file dialogs answered by a fresh ScriptedPrompter. Made in a suite's
// init(), destroyed in its cleanup(); the application goes before the device.

#include "app/AppGlobals.h"
#include "app/CMainFrame.h"
#include "app/CTonveroApp.h"
#include "editor/Prompter.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

namespace tonvero::test {

class AppRig {
public:
    AppRig() : previousDir_(QDir::currentPath()) {
        if (dir_.isValid()) QDir::setCurrent(dir_.path());
        QSettings().clear();
        patchmapPath.clear();
        songPath.clear();
        setPrompter(&prompts_);
    }
    ~AppRig() {
        app_.reset();
        audio_.reset();
        setPrompter(nullptr);
        QDir::setCurrent(previousDir_);
    }
    AppRig(const AppRig&) = delete;
    AppRig& operator=(const AppRig&) = delete;

    bool valid() const { return dir_.isValid(); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    ScriptedPrompter& prompts() { return prompts_; }
    OfflineAudio& audio() { return *audio_; }
    CTonveroApp& app() { return *app_; }
    CMainFrame& frame() { return *app_->frame(); }

    // On the offline device and the virtual clock, no window shown, the bank
    // "gmpatch.map" of the working directory (not the build's), on the
    // Software Custom Mixer as the command line can ask.
    AppOptions options() {
        AppOptions options;
        options.deviceFactory = audio_->deviceFactory();
        options.timers = &audio_->timers();
        options.showWindow = false;
        options.defaultPatchmap = "gmpatch.map";
        options.mixer.mode = MixerMode::Software;
        options.mixerGiven = true;
        return options;
    }
    // Makes and starts the application (any one before goes first); what initInstance says.
    bool start(const AppOptions& options) {
        app_.reset();
        app_ = std::make_unique<CTonveroApp>(options);
        return app_->initInstance();
    }
    bool start() { return start(options()); }
    // Ends the application, as its window closing does.
    void stop() { app_.reset(); }

private:
    QTemporaryDir dir_;
    QString previousDir_;
    ScriptedPrompter prompts_;
    std::unique_ptr<OfflineAudio> audio_ = std::make_unique<OfflineAudio>();
    std::unique_ptr<CTonveroApp> app_;
};

}  // namespace tonvero::test
