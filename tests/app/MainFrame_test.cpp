// The application shell driven through the handlers the menu and toolbar
// reach, on the offline sound device and virtual clock, with message boxes
// and file dialogs answered by a ScriptedPrompter.

#include "app/AppGlobals.h"
#include "app/CMainFrame.h"
#include "app/CTonveroApp.h"
#include "app/CTonveroView.h"
#include "app/CommandIds.h"
#include "bank/Patchmap.h"
#include "editor/Prompter.h"
#include "engine/MixerEngine.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"
#include "song/Transport.h"
#include "support/BankFixtures.h"
#include "support/MidiWriter.h"
#include "support/WavWriter.h"

#include <QAction>
#include <QDialog>
#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <fstream>
#include <memory>

using namespace tonvero;

namespace {

const QString kBanner = QStringLiteral("Tonvero Player - General MIDI with its own sample mixer\n");
const QString kMixerLine = QStringLiteral("Software Custom Mixer - Secondary Buffer Mode\n");

// One Instrument whose looped Wave sounds as long as a key is held.
Bank sustainingBank() {
    Bank bank;
    const int32_t slot = bank.insertInstrument("Loop");
    std::vector<int16_t> samples(2000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i % 100) * 200 - 10000);
    auto wave = test::makeWave("/sounds/loop.wav", samples, 22050);
    wave->looped = 1;
    wave->loopBegin = 100;
    wave->loopEnd = 1999;
    wave->holdPos = 0;
    Bank::addZone(*bank.instruments[slot], std::move(wave));
    bank.instruments[slot]->loopFading = 0;
    return bank;
}

// A song of `seconds` at 120 bpm (division 96): a chord held from tick 0 to the end.
test::MidiWriter heldChord(int seconds) {
    test::MidiWriter midi(0, 96);
    auto& track = midi.track();
    track.noteOn(0, 0, 60, 100).noteOn(0, 0, 64, 100).noteOn(0, 0, 67, 100);
    track.noteOff(static_cast<uint32_t>(seconds * 2 * 96), 0, 60).noteOff(0, 0, 64).noteOff(0, 0, 67);
    track.endOfTrack();
    return midi;
}

QStringList lines(const QString& text) { return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }

}  // namespace

class MainFrameTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir_;
    QString previousDir_;
    std::unique_ptr<OfflineAudio> audio_;
    std::unique_ptr<CTonveroApp> app_;
    ScriptedPrompter prompts_;

    QString path(const QString& name) const { return dir_->filePath(name); }
    CMainFrame& frame() { return *app_->frame(); }

    // `customMixer`: on the Software Custom Mixer, as the command line can ask;
    // otherwise on the mixer the user's settings name, else the Studio mixer.
    bool startApp(bool withDefaultBank, QStringList files = {}, bool customMixer = true) {
        if (withDefaultBank) {
            if (!savePatchmap(sustainingBank(), path(QStringLiteral("gmpatch.map")).toStdString())) return false;
        }
        AppOptions options;
        options.deviceFactory = audio_->deviceFactory();
        options.timers = &audio_->timers();
        options.showWindow = false;
        options.defaultPatchmap = "gmpatch.map";  // the working directory only, not the build's bank
        options.files = files;
        options.mixer.mode = MixerMode::Software;
        options.mixerGiven = customMixer;
        app_ = std::make_unique<CTonveroApp>(options);
        return app_->initInstance();
    }

    void advanceSeconds(double seconds) {
        audio_->timers().advanceBy(static_cast<uint64_t>(seconds * 1e6));
        audio_->clearCaptured();
    }

    uint32_t currentTick() {
        EngineLock lock(theEngine->mutex);
        return theEngine->currentTick;
    }

    TransportStatus status() {
        EngineLock lock(theEngine->mutex);
        return transportStatus(*theEngine);
    }

    QString writeSong(const QString& name, int seconds) {
        const QString file = path(name);
        heldChord(seconds).write(file.toStdString());
        return file;
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TonveroTest"));
        QCoreApplication::setApplicationName(QStringLiteral("TonveroTest"));
    }

    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        QVERIFY(dir_->isValid());
        previousDir_ = QDir::currentPath();
        QDir::setCurrent(dir_->path());
        QSettings().clear();
        patchmapPath.clear();
        songPath.clear();
        prompts_.clear();
        setPrompter(&prompts_);
        audio_ = std::make_unique<OfflineAudio>();
    }

    void cleanup() {
        app_.reset();
        audio_.reset();
        setPrompter(nullptr);
        QDir::setCurrent(previousDir_);
        dir_.reset();
    }

    void startsWithoutDefaultBank() {
        QVERIFY(startApp(false));
        QCOMPARE(CTonveroView::composeText(theEngine), kBanner + QStringLiteral("Patchmap:   Song: \n") + kMixerLine);
        QCOMPARE(frame().windowTitle(), QStringLiteral("Untitled - Tonvero"));
        QCOMPARE(frame().messagePaneText(), QStringLiteral("Ready"));
        // Save does nothing until Save As names a file.
        frame().onSavePatchmap();
        QVERIFY(prompts_.shown().empty());
        QCOMPARE(frame().messagePaneText(), QStringLiteral("Ready"));
    }

    void startsWithDefaultBank() {
        QVERIFY(startApp(true));
        QCOMPARE(CTonveroView::composeText(theEngine),
                 kBanner + QStringLiteral("Patchmap: gmpatch.map  Song: \n") + kMixerLine);
        EngineLock lock(theEngine->mutex);
        QCOMPARE(theEngine->bank.instrumentCount, 1);
    }

    void failedOutputEndsStartWithReason() {
        audio_->failNextOpen("no output device");
        QVERIFY(!startApp(true));
        QCOMPARE(prompts_.notices().size(), 1);
        QVERIFY(prompts_.notices().front().contains(QStringLiteral("no output device")));
        QVERIFY(prompts_.notices().front().contains(QStringLiteral("--audio null")));
    }

    void loadMidiWhilePlayingReplacesTheSong() {
        QVERIFY(startApp(true));
        const QString first = writeSong(QStringLiteral("first.mid"), 20);
        const QString second = writeSong(QStringLiteral("second.mid"), 20);
        prompts_.answerFile(first);
        frame().onLoadMidi();
        QCOMPARE(status(), TransportStatus::Playing);
        advanceSeconds(2.0);
        QVERIFY(currentTick() > 300);

        prompts_.answerFile(second);
        frame().onLoadMidi();
        QCOMPARE(status(), TransportStatus::Playing);
        QVERIFY(currentTick() < 10);
        QCOMPARE(QString::fromStdString(songPath), second);
        QVERIFY(lines(CTonveroView::composeText(theEngine))[1].endsWith(QStringLiteral("  Song: ") + second));
        QVERIFY(prompts_.notices().isEmpty());
    }

    void unloadableSongChangesNothing() {
        QVERIFY(startApp(true));
        const QString song = writeSong(QStringLiteral("good.mid"), 20);
        prompts_.answerFile(song);
        frame().onLoadMidi();
        advanceSeconds(1.0);
        const uint32_t before = currentTick();

        const QString junk = path(QStringLiteral("junk.mid"));
        test::writeFileBytes(junk.toStdString(), {'n', 'o', 't', ' ', 'a', ' ', 's', 'o', 'n', 'g'});
        prompts_.answerFile(junk);
        frame().onLoadMidi();
        QCOMPARE(prompts_.notices().size(), 1);
        QVERIFY(prompts_.notices().front().startsWith(QStringLiteral("This file is not a Standard MIDI File.")));
        QCOMPARE(QString::fromStdString(songPath), song);
        QCOMPARE(status(), TransportStatus::Playing);
        QVERIFY(currentTick() >= before);  // the old song goes on, not restarted

        prompts_.answerFile(path(QStringLiteral("missing.mid")));
        frame().onLoadMidi();
        QCOMPARE(prompts_.notices().size(), 2);
        QCOMPARE(QString::fromStdString(songPath), song);
    }

    void playTwiceRestarts() {
        QVERIFY(startApp(true));
        prompts_.answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(3.0);
        QVERIFY(currentTick() > 500);
        frame().onPlay();
        QVERIFY(currentTick() < 10);
        QCOMPARE(status(), TransportStatus::Playing);
    }

    void pauseHoldsAndResumes() {
        QVERIFY(startApp(true));
        prompts_.answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(1.0);
        frame().onPause();
        QCOMPARE(status(), TransportStatus::Paused);
        QVERIFY(frame().action(command::Pause)->isChecked());
        const uint32_t held = currentTick();
        advanceSeconds(2.0);
        QCOMPARE(currentTick(), held);

        frame().onPause();
        QCOMPARE(status(), TransportStatus::Playing);
        QVERIFY(!frame().action(command::Pause)->isChecked());
        advanceSeconds(1.0);
        QVERIFY(currentTick() > held + 100);
    }

    void voiceLinesWhilePlayingOnly() {
        QVERIFY(startApp(true));
        prompts_.answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(0.5);
        QStringList shown = lines(CTonveroView::composeText(theEngine));
        QCOMPARE(shown.size(), 3 + 32);
        QCOMPARE(shown.mid(3).count(QStringLiteral("/sounds/loop.wav")), 3);
        QCOMPARE(shown.mid(3).count(QStringLiteral("---")), 29);

        frame().onStop();
        QCOMPARE(status(), TransportStatus::Idle);
        shown = lines(CTonveroView::composeText(theEngine));
        QCOMPARE(shown.size(), 3);
        QVERIFY(shown[1].endsWith(QStringLiteral("song.mid")));  // the song's name stays
    }

    void studioMixerByDefaultListsItsSoundingVoices() {
        QVERIFY(startApp(true, {}, false));
        QCOMPARE(theEngine->mixerMode, MixerMode::Studio);
        QCOMPARE(lines(CTonveroView::composeText(theEngine)).value(2),
                 QStringLiteral("Studio Mixer - Secondary Buffer Mode"));
        QVERIFY(frame().action(command::MixerStudio)->isChecked());
        prompts_.answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(0.5);
        // One line for each of the chord's three voices.
        QCOMPARE(lines(CTonveroView::composeText(theEngine)).mid(3),
                 QStringList(3, QStringLiteral("/sounds/loop.wav")));
    }

    void optionsMenuSwitchesTheMixerAtOnceAndRemembersIt() {
        QVERIFY(startApp(true, {}, false));
        prompts_.answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(3.0);
        {
            EngineLock lock(theEngine->mutex);
            QVERIFY(songPositionSeconds(*theEngine) > 2.5);
        }

        // The output restarts with the other mixer; the song plays again from its start.
        frame().action(command::MixerSoftware)->trigger();
        QCOMPARE(theEngine->mixerMode, MixerMode::Software);
        QVERIFY(frame().action(command::MixerSoftware)->isChecked());
        QCOMPARE(status(), TransportStatus::Playing);
        QVERIFY(currentTick() < 10);
        QCOMPARE(lines(CTonveroView::composeText(theEngine)).value(2), kMixerLine.trimmed());
        advanceSeconds(0.5);
        QCOMPARE(lines(CTonveroView::composeText(theEngine)).mid(3).count(QStringLiteral("/sounds/loop.wav")), 3);
        QCOMPARE(theEngine->bank.instrumentCount, 1);

        // Remembered: the next start takes it; a stopped song stays stopped.
        app_.reset();
        QVERIFY(startApp(true, {}, false));
        QCOMPARE(theEngine->mixerMode, MixerMode::Software);
        frame().onChooseMixer(MixerMode::Hardware);
        QCOMPARE(theEngine->mixerMode, MixerMode::Hardware);
        QCOMPARE(status(), TransportStatus::Idle);
        QCOMPARE(QSettings().value(QStringLiteral("Options/mixer")).toString(), QStringLiteral("hardware"));

        // A mixer whose output cannot open is refused with a message and the old one stays.
        audio_->failNextOpen("no device today");
        frame().onChooseMixer(MixerMode::Studio);
        QCOMPARE(prompts_.notices().size(), 1);
        QVERIFY(prompts_.notices().first().contains(QStringLiteral("no device today")));
        QCOMPARE(theEngine->mixerMode, MixerMode::Hardware);
        QCOMPARE(QSettings().value(QStringLiteral("Options/mixer")).toString(), QStringLiteral("hardware"));
    }

    void reverbAndChorusTurnOnAndOffAtOnceAreRememberedAndBelongToTheStudioMixer() {
        QSettings().remove(QStringLiteral("Options"));
        QVERIFY(startApp(true, {}, false));
        QVERIFY(frame().action(command::Reverb)->isChecked());
        QVERIFY(frame().action(command::Chorus)->isChecked());
        QVERIFY(theEngine->studio->reverbOn());

        // Off at once, in the sounding engine.
        frame().action(command::Reverb)->trigger();
        QVERIFY(!theEngine->studio->reverbOn());
        QVERIFY(theEngine->studio->chorusOn());
        QCOMPARE(QSettings().value(QStringLiteral("Options/reverb")).toBool(), false);

        // Kept through a change of mixer and the next start; the Custom Mixer has no effects.
        frame().onChooseMixer(MixerMode::Software);
        QVERIFY(!frame().action(command::Reverb)->isEnabled());
        frame().onChooseMixer(MixerMode::Studio);
        QVERIFY(!theEngine->studio->reverbOn());
        QVERIFY(!frame().action(command::Reverb)->isChecked());
        app_.reset();
        QVERIFY(startApp(true, {}, false));
        QVERIFY(!theEngine->studio->reverbOn());
        QVERIFY(theEngine->studio->chorusOn());
        frame().action(command::Reverb)->trigger();
        QVERIFY(theEngine->studio->reverbOn());
        QSettings().remove(QStringLiteral("Options"));
    }

    void positionPaneShowsPlaceAndLength() {
        QVERIFY(startApp(true));
        prompts_.answerFile(writeSong(QStringLiteral("song.mid"), 135));
        frame().onLoadMidi();
        advanceSeconds(42.3);
        frame().refresh();
        QCOMPARE(frame().positionPaneText(), QStringLiteral("0:42 / 2:15"));
    }

    void openPatchmapResults() {
        QVERIFY(startApp(true));
        const QString good = path(QStringLiteral("other.map"));
        QVERIFY(savePatchmap(test::makeSmallBank(), good.toStdString()));
        prompts_.answerFile(good);
        frame().onOpenPatchmap();
        QCOMPARE(frame().messagePaneText(), QStringLiteral("Patchmap loaded."));
        QCOMPARE(QString::fromStdString(patchmapPath), good);

        std::vector<uint8_t> bytes = patchmapImage(test::makeSmallBank());
        bytes[0] = 1;
        const QString newer = path(QStringLiteral("newer.map"));
        test::writeFileBytes(newer.toStdString(), bytes);
        const QString wrongMark = path(QStringLiteral("wrong.map"));
        test::writeFileBytes(wrongMark.toStdString(), std::vector<uint8_t>(800, 'x'));

        frame().setMessagePaneText(QStringLiteral("Ready"));
        for (const QString& bad : {newer, path(QStringLiteral("missing.map")), wrongMark}) {
            prompts_.answerFile(bad);
            frame().onOpenPatchmap();
        }
        QCOMPARE(prompts_.notices(),
                 QStringList({QStringLiteral("This Patchmap file has an unknown version ID.\nThe file is either "
                                             "corrupted or generated by a newer version of Tonvero."),
                              QStringLiteral("The file was not found."),
                              QStringLiteral("This is not a Tonvero Patchmap file. It might be corrupted or of "
                                             "another program.")}));
        QCOMPARE(QString::fromStdString(patchmapPath), good);
        QCOMPARE(frame().messagePaneText(), QStringLiteral("Ready"));
        EngineLock lock(theEngine->mutex);
        QCOMPARE(theEngine->bank.instrumentCount, test::makeSmallBank().instrumentCount);
    }

    void openPatchmapWhilePlayingSwapsCleanly() {
        QVERIFY(startApp(true));
        prompts_.answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(0.5);
        const QString other = path(QStringLiteral("other.map"));
        QVERIFY(savePatchmap(sustainingBank(), other.toStdString()));
        prompts_.answerFile(other);
        frame().onOpenPatchmap();
        QCOMPARE(frame().messagePaneText(), QStringLiteral("Patchmap loaded."));
        QCOMPARE(status(), TransportStatus::Playing);  // the song goes on
        advanceSeconds(2.0);                             // and mixes only live Waves
        QCOMPARE(status(), TransportStatus::Playing);
    }

    void saveAsThenSave() {
        QVERIFY(startApp(false));
        frame().onSavePatchmap();
        QVERIFY(prompts_.shown().empty());
        const QString target = path(QStringLiteral("mine.map"));
        prompts_.answerFile(target);
        frame().onSavePatchmapAs();
        QCOMPARE(frame().messagePaneText(), QStringLiteral("Patchmap saved."));
        QVERIFY(QFile::exists(target));
        QCOMPARE(QString::fromStdString(patchmapPath), target);

        QFile::remove(target);
        frame().setMessagePaneText(QStringLiteral("Ready"));
        frame().onSavePatchmap();
        QVERIFY(QFile::exists(target));
        QCOMPARE(frame().messagePaneText(), QStringLiteral("Patchmap saved."));
    }

    void failedSaveIsReported() {
        QVERIFY(startApp(true));
        prompts_.answerFile(path(QStringLiteral("no/such/folder/bank.map")));
        frame().onSavePatchmapAs();
        QCOMPARE(prompts_.notices().size(), 1);
        QVERIFY(prompts_.notices().front().startsWith(QStringLiteral("The Patchmap could not be saved")));
        QVERIFY(frame().messagePaneText() != QStringLiteral("Patchmap saved."));
    }

    void toolbarAndPrompts() {
        QVERIFY(startApp(false));
        const QList<QAction*> buttons = frame().toolBar()->actions();
        QCOMPARE(buttons.size(), 10);
        QCOMPARE(buttons.last(), frame().action(command::Unassigned));
        QVERIFY(!buttons.last()->isEnabled());
        QVERIFY(buttons[7]->isEnabled());  // Pause
        QCOMPARE(frame().action(command::LoadMidi)->statusTip(), QStringLiteral("Load a MIDI song"));
        QCOMPARE(frame().action(command::LoadMidi)->toolTip(), QStringLiteral("Load MIDI file"));
        QCOMPARE(frame().action(command::SavePatchmap)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
        QCOMPARE(frame().action(command::OpenPatchmap)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
    }

    void recentFilesKeepFour() {
        QVERIFY(startApp(true));
        QStringList written;
        for (int i = 0; i < 5; ++i) {
            const QString song = writeSong(QStringLiteral("song%1.mid").arg(i), 5);
            written << song;
            prompts_.answerFile(song);
            frame().onLoadMidi();
        }
        const QStringList recent = frame().recentFiles();
        QCOMPARE(recent.size(), 4);
        QCOMPARE(recent.front(), QFileInfo(written.last()).absoluteFilePath());
        QVERIFY(!recent.contains(QFileInfo(written.front()).absoluteFilePath()));
    }

    void commandLineFilesOpen() {
        const QString song = writeSong(QStringLiteral("cli.mid"), 20);
        const QString bank = path(QStringLiteral("cli.map"));
        QVERIFY(savePatchmap(sustainingBank(), bank.toStdString()));
        QVERIFY(startApp(false, {bank, song}));
        QCOMPARE(QString::fromStdString(patchmapPath), bank);
        QCOMPARE(QString::fromStdString(songPath), song);
        QCOMPARE(status(), TransportStatus::Playing);

        AppOptions options;
        QString error;
        QVERIFY(parseCommandLine({QStringLiteral("tonvero"), QStringLiteral("--audio"), QStringLiteral("null"), song},
                                 options, error));
        QCOMPARE(options.audio, std::string("null"));
        QVERIFY(parseCommandLine({QStringLiteral("tonvero"), QStringLiteral("--mixer"), QStringLiteral("hardware"),
                                  QStringLiteral("--voices"), QStringLiteral("64")},
                                 options, error));
        QCOMPARE(options.mixer.mode, MixerMode::Hardware);
        QVERIFY(options.mixerGiven);
        QCOMPARE(options.mixer.studio.voices, 64);
        QVERIFY(!parseCommandLine({QStringLiteral("tonvero"), QStringLiteral("--mixer"), QStringLiteral("loud")},
                                  options, error));
        QVERIFY(error.contains(QStringLiteral("studio, software, primary or hardware")));
        QVERIFY(!parseCommandLine({QStringLiteral("tonvero"), QStringLiteral("--audio=loud")}, options, error));
        QVERIFY(error.contains(QStringLiteral("loud")));
    }

    void viewMenuOpensInstrumentEditor() {
        QVERIFY(startApp(true));
        QString title;
        prompts_.answerDialog([&title](QDialog& dialog) {
            title = dialog.windowTitle();
            return int(QDialog::Rejected);
        });
        frame().action(command::InstrumentEditor)->trigger();
        QCOMPARE(title, QStringLiteral("Instrument Editor"));
    }

    void shutdownKillsTimersAndReleasesOnce() {
        QVERIFY(startApp(true));
        prompts_.answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(0.5);
        QVERIFY(audio_->timers().liveTimers() >= 2);
        app_.reset();
        QVERIFY(theEngine == nullptr);
        QCOMPARE(audio_->timers().liveTimers(), size_t{0});
    }
};

QTEST_MAIN(MainFrameTest)
#include "MainFrame_test.moc"
