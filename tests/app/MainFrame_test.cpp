// The application shell driven through the handlers the menu and toolbar
// reach, on the offline sound device and virtual clock, with message boxes
// and file dialogs answered by a ScriptedPrompter.

#include "app/AppGlobals.h"
#include "app/CMainFrame.h"
#include "app/CTonveroApp.h"
#include "app/CTonveroView.h"
#include "app/ChannelNames.h"
#include "app/ChannelStrip.h"
#include "app/ChannelView.h"
#include "app/CommandIds.h"
#include "app/PositionBar.h"
#include "app/PositionSlider.h"
#include "bank/Patchmap.h"
#include "editor/Prompter.h"
#include "engine/ChannelMonitor.h"
#include "engine/MixerEngine.h"
#include "support/AppRig.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"
#include "render/SongTimeText.h"
#include "song/SongLoader.h"
#include "song/SongPosition.h"
#include "song/Transport.h"
#include "support/BankFixtures.h"
#include "support/MidiWriter.h"
#include "support/WavWriter.h"

#include <QAction>
#include <QDialog>
#include <QDockWidget>
#include <QMenuBar>
#include <QScrollBar>
#include <QToolButton>
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
    std::unique_ptr<test::AppRig> rig_;
    ScriptedPrompter& prompts() { return rig_->prompts(); }

    QString path(const QString& name) const { return rig_->path(name); }
    CMainFrame& frame() { return rig_->frame(); }

    // `customMixer`: on the Software Custom Mixer, as the command line can ask;
    // otherwise on the mixer the user's settings name, else the Studio mixer.
    bool startApp(bool withDefaultBank, QStringList files = {}, bool customMixer = true) {
        if (withDefaultBank) {
            if (!savePatchmap(sustainingBank(), path(QStringLiteral("gmpatch.map")).toStdString())) return false;
        }
        AppOptions options = rig_->options();
        options.files = files;
        options.mixerGiven = customMixer;
        return rig_->start(options);
    }

    void advanceSeconds(double seconds) {
        rig_->audio().timers().advanceBy(static_cast<uint64_t>(seconds * 1e6));
        rig_->audio().clearCaptured();
    }

    uint32_t currentTick() {
        EngineLock lock(theEngine->mutex);
        return theEngine->song.currentTick;
    }

    TransportStatus status() {
        EngineLock lock(theEngine->mutex);
        return transportStatus(*theEngine);
    }

    double position() {
        EngineLock lock(theEngine->mutex);
        return songPositionSeconds(*theEngine);
    }

    // Shows the window and makes it the active one, so its shortcuts take keys.
    bool showFrame() {
        frame().show();
        frame().activateWindow();
        return QTest::qWaitForWindowActive(&frame());
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
        QCoreApplication::setApplicationName(QStringLiteral("TonveroMainFrameTest"));
    }

    void init() {
        rig_ = std::make_unique<test::AppRig>();
        QVERIFY(rig_->valid());
    }

    void cleanup() { rig_.reset(); }

    void startsWithoutDefaultBank() {
        QVERIFY(startApp(false));
        QCOMPARE(CTonveroView::composeText(theEngine), kBanner + QStringLiteral("Patchmap:   Song: \n") + kMixerLine);
        QCOMPARE(frame().windowTitle(), QStringLiteral("Untitled - Tonvero"));
        QCOMPARE(frame().messagePaneText(), QStringLiteral("Ready"));
        // Save does nothing until Save As names a file.
        frame().onSavePatchmap();
        QVERIFY(prompts().shown().empty());
        QCOMPARE(frame().messagePaneText(), QStringLiteral("Ready"));
    }

    void startsWithDefaultBank() {
        QVERIFY(startApp(true));
        QCOMPARE(CTonveroView::composeText(theEngine),
                 kBanner + QStringLiteral("Patchmap: gmpatch.map  Song: \n") + kMixerLine);
        EngineLock lock(theEngine->mutex);
        QCOMPARE(theEngine->bank.instrumentCount, 1);
    }

    void loadMidiWhilePlayingReplacesTheSong() {
        QVERIFY(startApp(true));
        const QString first = writeSong(QStringLiteral("first.mid"), 20);
        const QString second = writeSong(QStringLiteral("second.mid"), 20);
        prompts().answerFile(first);
        frame().onLoadMidi();
        QCOMPARE(status(), TransportStatus::Playing);
        advanceSeconds(2.0);
        QVERIFY(currentTick() > 300);

        prompts().answerFile(second);
        frame().onLoadMidi();
        QCOMPARE(status(), TransportStatus::Playing);
        QVERIFY(currentTick() < 10);
        QCOMPARE(QString::fromStdString(songPath), second);
        QVERIFY(lines(CTonveroView::composeText(theEngine))[1].endsWith(QStringLiteral("  Song: ") + second));
        QVERIFY(prompts().notices().isEmpty());
    }

    void unloadableSongChangesNothing() {
        QVERIFY(startApp(true));
        const QString song = writeSong(QStringLiteral("good.mid"), 20);
        prompts().answerFile(song);
        frame().onLoadMidi();
        advanceSeconds(1.0);
        const uint32_t before = currentTick();

        const QString junk = path(QStringLiteral("junk.mid"));
        test::writeFileBytes(junk.toStdString(), {'n', 'o', 't', ' ', 'a', ' ', 's', 'o', 'n', 'g'});
        prompts().answerFile(junk);
        frame().onLoadMidi();
        QCOMPARE(prompts().notices().size(), 1);
        QVERIFY(prompts().notices().front().startsWith(QStringLiteral("This file is not a Standard MIDI File.")));
        QCOMPARE(QString::fromStdString(songPath), song);
        QCOMPARE(status(), TransportStatus::Playing);
        QVERIFY(currentTick() >= before);  // the old song goes on, not restarted

        prompts().answerFile(path(QStringLiteral("missing.mid")));
        frame().onLoadMidi();
        QCOMPARE(prompts().notices().size(), 2);
        QCOMPARE(QString::fromStdString(songPath), song);
    }

    void playTwiceRestarts() {
        QVERIFY(startApp(true));
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(3.0);
        QVERIFY(currentTick() > 500);
        frame().onPlay();
        QVERIFY(currentTick() < 10);
        QCOMPARE(status(), TransportStatus::Playing);
    }

    void pauseHoldsAndResumes() {
        QVERIFY(startApp(true));
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 20));
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
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 20));
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
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(0.5);
        // One line for each of the chord's three voices.
        QCOMPARE(lines(CTonveroView::composeText(theEngine)).mid(3),
                 QStringList(3, QStringLiteral("/sounds/loop.wav")));
    }

    void optionsMenuSwitchesTheMixerAtOnceAndRemembersIt() {
        QVERIFY(startApp(true, {}, false));
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 20));
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
        rig_->stop();
        QVERIFY(startApp(true, {}, false));
        QCOMPARE(theEngine->mixerMode, MixerMode::Software);
        frame().onChooseMixer(MixerMode::Hardware);
        QCOMPARE(theEngine->mixerMode, MixerMode::Hardware);
        QCOMPARE(status(), TransportStatus::Idle);
        QCOMPARE(QSettings().value(QStringLiteral("Options/mixer")).toString(), QStringLiteral("hardware"));

        // A mixer whose output cannot open is refused with a message and the old one stays.
        rig_->audio().failNextOpen("no device today");
        frame().onChooseMixer(MixerMode::Studio);
        QCOMPARE(prompts().notices().size(), 1);
        QVERIFY(prompts().notices().first().contains(QStringLiteral("no device today")));
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
        rig_->stop();
        QVERIFY(startApp(true, {}, false));
        QVERIFY(!theEngine->studio->reverbOn());
        QVERIFY(theEngine->studio->chorusOn());
        frame().action(command::Reverb)->trigger();
        QVERIFY(theEngine->studio->reverbOn());
        QSettings().remove(QStringLiteral("Options"));
    }

    void positionPaneShowsPlaceAndLength() {
        QVERIFY(startApp(true));
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 135));
        frame().onLoadMidi();
        advanceSeconds(42.3);
        frame().refresh();
        QCOMPARE(frame().positionPaneText(), QStringLiteral("0:42 / 2:15"));
    }

    void openPatchmapResults() {
        QVERIFY(startApp(true));
        const QString good = path(QStringLiteral("other.map"));
        QVERIFY(savePatchmap(test::makeSmallBank(), good.toStdString()));
        prompts().answerFile(good);
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
            prompts().answerFile(bad);
            frame().onOpenPatchmap();
        }
        QCOMPARE(prompts().notices(),
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
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(0.5);
        const QString other = path(QStringLiteral("other.map"));
        QVERIFY(savePatchmap(sustainingBank(), other.toStdString()));
        prompts().answerFile(other);
        frame().onOpenPatchmap();
        QCOMPARE(frame().messagePaneText(), QStringLiteral("Patchmap loaded."));
        QCOMPARE(status(), TransportStatus::Playing);  // the song goes on
        advanceSeconds(2.0);                           // and mixes only live Waves
        QCOMPARE(status(), TransportStatus::Playing);
    }

    void saveAsThenSave() {
        QVERIFY(startApp(false));
        frame().onSavePatchmap();
        QVERIFY(prompts().shown().empty());
        const QString target = path(QStringLiteral("mine.map"));
        prompts().answerFile(target);
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
        prompts().answerFile(path(QStringLiteral("no/such/folder/bank.map")));
        frame().onSavePatchmapAs();
        QCOMPARE(prompts().notices().size(), 1);
        QVERIFY(prompts().notices().front().startsWith(QStringLiteral("The Patchmap could not be saved")));
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
            prompts().answerFile(song);
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
        prompts().answerDialog([&title](QDialog& dialog) {
            title = dialog.windowTitle();
            return int(QDialog::Rejected);
        });
        frame().action(command::InstrumentEditor)->trigger();
        QCOMPARE(title, QStringLiteral("Instrument Editor"));
    }

    void positionSliderSeeksAndLeavesADragAlone() {
        QVERIFY(startApp(true));
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 60));
        frame().onLoadMidi();
        advanceSeconds(2.0);
        frame().refresh();
        PositionSlider* slider = frame().positionBar()->slider();
        QVERIFY(slider->isEnabled());
        QCOMPARE(slider->maximum(), 60000);
        QVERIFY(qAbs(slider->value() - 2000) <= 50);

        // A move by the keyboard or the wheel seeks at once, to the exact time.
        slider->setValue(30000);
        QVERIFY(qAbs(position() - 30.0) < 0.05);
        QCOMPARE(status(), TransportStatus::Playing);

        // While the handle is held, the refresh leaves it where the user has it;
        // the seek comes when it is let go.
        slider->setSliderDown(true);
        slider->setSliderPosition(45000);
        advanceSeconds(1.0);
        frame().refresh();
        QCOMPARE(slider->sliderPosition(), 45000);
        QCOMPARE(frame().positionBar()->positionText(), QStringLiteral("0:45 / 1:00"));
        QVERIFY(qAbs(position() - 31.0) < 0.05);
        slider->setSliderDown(false);
        QVERIFY(qAbs(position() - 45.0) < 0.05);
        advanceSeconds(2.0);
        frame().refresh();
        QVERIFY(qAbs(slider->value() - 47000) <= 50);
    }

    void keysSeekAndTheTransportKeysWorkWhateverHasTheFocus() {
        QVERIFY(startApp(true));
        QVERIFY(showFrame());
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 60));
        frame().onLoadMidi();
        advanceSeconds(20.0);
        QTest::keyClick(&frame(), Qt::Key_Right);
        QVERIFY(qAbs(position() - 25.0) < 0.05);
        QTest::keyClick(&frame(), Qt::Key_Left);
        QTest::keyClick(&frame(), Qt::Key_Left);
        QVERIFY(qAbs(position() - 15.0) < 0.05);
        QTest::keyClick(&frame(), Qt::Key_Home);
        QVERIFY(position() < 0.05);
        QCOMPARE(status(), TransportStatus::Playing);
        advanceSeconds(3.0);

        // Space and the arrows are the window's even where a slider or a button has the focus.
        QSlider* volume = frame().positionBar()->volumeSlider();
        QToolButton* mute = frame().channelView()->muteButton(0);
        for (QWidget* focused : {static_cast<QWidget*>(volume), static_cast<QWidget*>(frame().positionBar()->slider()),
                                 static_cast<QWidget*>(mute)}) {
            focused->setFocus();
            QTest::keyClick(focused, Qt::Key_Space);
            QCOMPARE(status(), TransportStatus::Paused);
            QTest::keyClick(focused, Qt::Key_Space);
            QCOMPARE(status(), TransportStatus::Playing);
        }
        volume->setFocus();
        const double before = position();
        QTest::keyClick(volume, Qt::Key_Right);
        QCOMPARE(volume->value(), 100);
        QVERIFY(qAbs(position() - (before + 5.0)) < 0.05);
        QVERIFY(!mute->isChecked());

        // Ctrl+. stops; Space then plays the song from its beginning.
        QTest::keyClick(volume, Qt::Key_Period, Qt::ControlModifier);
        QCOMPARE(status(), TransportStatus::Idle);
        QTest::keyClick(volume, Qt::Key_Space);
        QCOMPARE(status(), TransportStatus::Playing);
        QVERIFY(position() < 0.05);
    }

    void playResumesAPausedSongAndStartsAStoppedOne() {
        QVERIFY(startApp(true));
        const QList<QAction*> items = frame().menuBar()->actions();
        QCOMPARE(items.value(3)->text(), QStringLiteral("&Song"));
        QStringList texts;
        for (QAction* item : items.value(3)->menu()->actions())
            if (!item->isSeparator()) texts << item->text();
        QCOMPARE(texts,
                 QStringList(
                     {QStringLiteral("Load MIDI file"), QStringLiteral("&Play"), QStringLiteral("P&ause\tSpace"),
                      QStringLiteral("&Stop"), QStringLiteral("&Back 5 Seconds"), QStringLiteral("&Forward 5 Seconds"),
                      QStringLiteral("To the Be&ginning"), QStringLiteral("&Loop"), QStringLiteral("Set Loop Start"),
                      QStringLiteral("Set Loop End"), QStringLiteral("Clear Loop")}));
        QCOMPARE(frame().action(command::Stop)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Period));

        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(3.0);
        frame().onPause();
        const uint32_t held = currentTick();
        frame().action(command::Play)->trigger();
        QCOMPARE(status(), TransportStatus::Playing);
        QCOMPARE(currentTick(), held);
        advanceSeconds(1.0);
        QVERIFY(currentTick() > held + 100);

        frame().onStop();
        frame().onPlay();
        QCOMPARE(status(), TransportStatus::Playing);
        QVERIFY(currentTick() < 10);
    }

    void loopVolumeMutesAndSolosReachTheEngineAndOutliveAChangeOfMixer() {
        QVERIFY(startApp(true, {}, false));
        {
            EngineLock lock(theEngine->mutex);
            QCOMPARE(masterVolume(*theEngine), 100);
        }
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 60));
        frame().onLoadMidi();

        frame().positionBar()->volumeSlider()->setValue(40);
        QCOMPARE(QSettings().value(QStringLiteral("Options/volume")).toInt(), 40);
        ChannelView& channels = *frame().channelView();
        channels.muteButton(2)->click();
        channels.soloButton(4)->click();
        channels.soloButton(6)->click();
        channels.soloButton(6)->click();

        // A-B from the slider's place: both edges make the range, and looping goes on.
        PositionSlider* slider = frame().positionBar()->slider();
        slider->setValue(10000);
        frame().action(command::LoopStart)->trigger();
        slider->setValue(20000);
        frame().action(command::LoopEnd)->trigger();
        QVERIFY(frame().action(command::Loop)->isChecked());
        // An end before the start is refused with a message and changes nothing.
        slider->setValue(5000);
        frame().action(command::LoopEnd)->trigger();
        QVERIFY(frame().messagePaneText().startsWith(QStringLiteral("A loop must end")));

        const auto checkEngine = [] {
            EngineLock lock(theEngine->mutex);
            QCOMPARE(masterVolume(*theEngine), 40);
            QCOMPARE(mutedChannels(*theEngine), uint16_t{1u << 2});
            QCOMPARE(soloedChannels(*theEngine), uint16_t{1u << 4});
            QVERIFY(!channelAudible(*theEngine, 3));
            QVERIFY(looping(*theEngine));
            QVERIFY(hasLoopRange(*theEngine));
            const LoopRange range = loopRange(*theEngine);
            QVERIFY(qAbs(range.startSeconds - 10.0) < 0.05);
            QVERIFY(qAbs(range.endSeconds - 20.0) < 0.05);
        };
        checkEngine();
        frame().onChooseMixer(MixerMode::Software);
        QCOMPARE(theEngine->mixerMode, MixerMode::Software);
        checkEngine();

        // Loop off reaches the engine; the volume is remembered for the next start.
        frame().action(command::Loop)->trigger();
        {
            EngineLock lock(theEngine->mutex);
            QVERIFY(!looping(*theEngine));
        }
        rig_->stop();
        QVERIFY(startApp(true, {}, false));
        QCOMPARE(frame().positionBar()->volumeSlider()->value(), 40);
        EngineLock lock(theEngine->mutex);
        QCOMPARE(masterVolume(*theEngine), 40);
    }

    void channelViewShowsEachChannelAndIsRemembered() {
        QCOMPARE(programName(0), QStringLiteral("Acoustic Grand"));
        QCOMPARE(programName(127), QStringLiteral("Gunshot"));
        QCOMPARE(drumKitName(25), QStringLiteral("TR-808"));
        QCOMPARE(drumKitName(12), QStringLiteral("Drum Kit 12"));

        QVERIFY(startApp(true, {}, false));
        QDockWidget* dock = frame().channelDock();
        QVERIFY(frame().action(command::ToggleChannels)->isChecked());
        QVERIFY(dock->isVisibleTo(&frame()));
        QCOMPARE(frame().dockWidgetArea(dock), Qt::BottomDockWidgetArea);

        // A violin on channel 1 holding middle C, the TR-808 kit on channel 10.
        test::MidiWriter midi(0, 96);
        midi.track()
            .program(0, 0, 40)
            .controller(0, 0, 10, 30)
            .program(0, 9, 25)
            .noteOn(0, 0, 60, 110)
            .noteOff(96 * 20, 0, 60)
            .endOfTrack();
        const QString song = path(QStringLiteral("violin.mid"));
        QVERIFY(midi.write(song.toStdString()));
        frame().openSong(song);
        advanceSeconds(0.5);
        ChannelView& channels = *frame().channelView();
        channels.poll();
        QCOMPARE(channels.strip(0)->soundName(), QStringLiteral("Violin"));
        QCOMPARE(channels.strip(9)->soundName(), QStringLiteral("TR-808"));
        QCOMPARE(channels.strip(0)->activity().pan, 30);
        QVERIFY(channels.strip(0)->activity().keys[0] >> 60 & 1);
        QVERIFY(channels.strip(0)->meterLevel() > 0.01f);
        QCOMPARE(channels.strip(1)->meterLevel(), 0.0f);

        // Hidden from the View menu and remembered; shown again likewise.
        frame().action(command::ToggleChannels)->trigger();
        QVERIFY(!dock->isVisibleTo(&frame()));
        QCOMPARE(QSettings().value(QStringLiteral("View/channels")).toBool(), false);
        rig_->stop();
        QVERIFY(startApp(true));
        QVERIFY(!frame().action(command::ToggleChannels)->isChecked());
        QVERIFY(!frame().channelDock()->isVisibleTo(&frame()));
        frame().action(command::ToggleChannels)->trigger();
        QVERIFY(frame().channelDock()->isVisibleTo(&frame()));
        rig_->stop();
        QVERIFY(startApp(true));
        QVERIFY(frame().channelDock()->isVisibleTo(&frame()));
        QVERIFY(frame().action(command::ToggleChannels)->isChecked());
    }

    void titleNamesThePatchmap() {
        QVERIFY(startApp(true));
        QCOMPARE(frame().windowTitle(), QStringLiteral("gmpatch.map - Tonvero"));
        const QString other = path(QStringLiteral("other.map"));
        QVERIFY(savePatchmap(test::makeSmallBank(), other.toStdString()));
        frame().openPatchmap(other);
        QCOMPARE(frame().windowTitle(), QStringLiteral("other.map - Tonvero"));
        prompts().answerFile(path(QStringLiteral("mine.map")));
        frame().onSavePatchmapAs();
        QCOMPARE(frame().windowTitle(), QStringLiteral("mine.map - Tonvero"));
    }

    void statusViewScrollsItsLines() {
        QVERIFY(startApp(true));
        QVERIFY(showFrame());
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(0.5);
        frame().refresh();
        QCoreApplication::processEvents();  // the scroll bars are shown by a queued call
        CTonveroView& view = *frame().view();
        QCOMPARE(view.shownLines().size(), 3 + 32);
        // The 35 lines are taller than the view in the window's first size: they scroll, none cut off.
        const int textHeight = static_cast<int>(view.shownLines().size()) * QFontMetrics(view.font()).lineSpacing();
        QVERIFY(view.viewport()->height() < textHeight);
        QVERIFY(view.verticalScrollBar()->isVisible());
        QVERIFY(view.verticalScrollBar()->maximum() + view.viewport()->height() >= textHeight);
    }

    void damagedSongSaysWhereAndPlays() {
        QVERIFY(startApp(true));
        // A track of notes that breaks off in the middle of an event, with no end of track.
        test::MidiWriter midi(0, 96);
        auto& track = midi.track();
        for (int i = 0; i < 40; ++i) track.noteOn(i ? 48 : 0, 0, 60, 100).noteOff(48, 0, 60);
        test::Bytes bytes = midi.bytes();
        bytes.resize(bytes.size() - 2);
        const QString song = path(QStringLiteral("damaged.mid"));
        QVERIFY(test::writeBytes(song.toStdString(), bytes));
        frame().openSong(song);
        double damagedAfter;
        {
            EngineLock lock(theEngine->mutex);
            damagedAfter = songDamagedAfterSeconds(*theEngine);
        }
        QVERIFY(damagedAfter >= 0);
        QCOMPARE(frame().messagePaneText(), QString::fromStdString(songDamageText(damagedAfter)));
        QCOMPARE(status(), TransportStatus::Playing);
        QVERIFY(prompts().notices().isEmpty());
    }

    void shutdownKillsTimersAndReleasesOnce() {
        QVERIFY(startApp(true));
        prompts().answerFile(writeSong(QStringLiteral("song.mid"), 20));
        frame().onLoadMidi();
        advanceSeconds(0.5);
        QVERIFY(rig_->audio().timers().liveTimers() >= 2);
        rig_->stop();
        QVERIFY(theEngine == nullptr);
        QCOMPARE(rig_->audio().timers().liveTimers(), size_t{0});
    }
};

QTEST_MAIN(MainFrameTest)
#include "MainFrame_test.moc"
