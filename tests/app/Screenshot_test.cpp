// A picture of the main window for the README: the build's default bank, the
// demo song twenty seconds in, the voice lines filled. It is written only
// when TONVERO_SCREENSHOT_DIR names a folder, since it needs the default bank
// the build makes from the system's SoundFont.

#include "app/AppGlobals.h"
#include "app/CMainFrame.h"
#include "app/CTonveroApp.h"
#include "app/CTonveroView.h"
#include "editor/Prompter.h"
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
        QCoreApplication::setApplicationName(QStringLiteral("TonveroTest"));
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

            prompts.answerFile(song);
            frame.onLoadMidi();
            audio.timers().advanceBy(20'000'000);
            audio.clearCaptured();
            frame.refresh();
            // Twenty seconds in, the demo song has notes sounding: some voice lines name a Wave.
            const QStringList shown = CTonveroView::composeText(theEngine).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QCOMPARE(shown.size(), 3 + 32);
            QVERIFY(shown.mid(3).count(QStringLiteral("---")) < 32);

            frame.resize(680, 600);
            const QImage image = frame.grab().toImage();
            QVERIFY(!image.isNull());
            QVERIFY(image.save(QDir(outDir).filePath(QStringLiteral("screenshot.png"))));
            QVERIFY(prompts.notices().isEmpty());
        }
        setPrompter(nullptr);
    }
};

QTEST_MAIN(ScreenshotTest)
#include "Screenshot_test.moc"
