// A picture of the main window for the README: the build's default bank, the
// demo song twenty seconds in, the voice lines filled and the channel view's
// meters and keys showing what sounds. It is written only when
// TONVERO_SCREENSHOT_DIR names a folder, since it needs the default bank the
// build makes from the system's SoundFont.

#include "app/AppGlobals.h"
#include "app/CMainFrame.h"
#include "app/CTonveroApp.h"
#include "app/CTonveroView.h"
#include "app/ChannelStrip.h"
#include "app/ChannelView.h"
#include "editor/Prompter.h"
#include "engine/ChannelMonitor.h"
#include "engine/MixerEngine.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <QStandardPaths>
#include <QtTest>

#include <memory>

using namespace tonvero;

class ScreenshotTest : public QObject {
    Q_OBJECT
private slots:
    void mainWindowPlayingTheDemoSong() {
        const QString outDir = qEnvironmentVariable("TONVERO_SCREENSHOT_DIR");
        if (outDir.isEmpty()) QSKIP("TONVERO_SCREENSHOT_DIR is not set");
        const QString bank = QStringLiteral(TONVERO_BUILD_BANK);
        const QString song = QDir(qEnvironmentVariable("TONVERO_SOURCE_DIR")).filePath(QStringLiteral("data/demo.mid"));
        if (!QFileInfo::exists(bank)) QSKIP("the build has no default bank");
        QVERIFY(QFileInfo::exists(song));

        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TonveroTest"));
        QCoreApplication::setApplicationName(QStringLiteral("TonveroScreenshotTest"));
        QSettings().clear();
        ScriptedPrompter prompts;
        setPrompter(&prompts);
        {
            OfflineAudio audio;
            AppOptions options;
            options.deviceFactory = audio.deviceFactory();
            options.timers = &audio.timers();
            options.showWindow = false;
            options.defaultPatchmap = bank.toStdString();
            CTonveroApp app(options);
            QVERIFY(app.initInstance());
            CMainFrame& frame = *app.frame();
            frame.show();
            QVERIFY(QTest::qWaitForWindowExposed(&frame));

            prompts.answerFile(song);
            frame.onLoadMidi();
            ChannelView& channels = *frame.channelView();
            // Twenty seconds in, in steps the meters follow, as the view's timer would.
            for (int step = 0; step < 500; ++step) {
                audio.timers().advanceBy(40'000);
                audio.clearCaptured();
                channels.poll(0.04);
            }
            frame.refresh();
            QCoreApplication::processEvents();
            channels.poll(0.04);
            // Notes sound: some voice lines name a Wave, and channels show levels and keys.
            const QStringList shown = frame.view()->shownLines();
            QVERIFY(shown.size() > 3);
            int meters = 0, keys = 0;
            for (int channel = 0; channel < kMidiChannels; ++channel) {
                const ChannelStrip& strip = *channels.strip(channel);
                meters += strip.meterLevel() > 0;
                keys += (strip.activity().keys[0] | strip.activity().keys[1]) != 0;
            }
            QVERIFY(meters >= 3);
            QVERIFY(keys >= 2);

            const QImage image = frame.grab().toImage();
            QVERIFY(!image.isNull());
            QVERIFY(image.save(QDir(outDir).filePath(QStringLiteral("main-window.png"))));
            QVERIFY(prompts.notices().isEmpty());
        }
        setPrompter(nullptr);
    }
};

QTEST_MAIN(ScreenshotTest)
#include "Screenshot_test.moc"
