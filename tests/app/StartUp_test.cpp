// Starting the application: the command line answered without a display,
// and a sound device that cannot be opened, met at start-up and when the
// mixer changes, with the user going on without sound or ending.

#include "app/AppGlobals.h"
#include "app/CMainFrame.h"
#include "app/CTonveroApp.h"
#include "bank/Patchmap.h"
#include "editor/Prompter.h"
#include "engine/MixerEngine.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"
#include "support/AppRig.h"
#include "support/BankFixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace tonvero;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QString err;
};

// Runs the built program as on a machine with no display at all.
Run runWithoutDisplay(const QStringList& arguments) {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QString());
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TONVERO_PROGRAM), arguments);
    Run run;
    if (!program.waitForStarted(-1) || !program.waitForFinished(-1) || program.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = program.exitCode();
    run.out = QString::fromLocal8Bit(program.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(program.readAllStandardError());
    return run;
}

const QString kUsageStart = QStringLiteral("Usage: tonvero ");

}  // namespace

class StartUpTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::AppRig> rig_;
    ScriptedPrompter& prompts() { return rig_->prompts(); }

    bool startApp() {
        Bank bank;
        const int32_t slot = bank.insertInstrument("Piano");
        Bank::addZone(*bank.instruments[static_cast<size_t>(slot)],
                      test::makeWave("/sounds/piano.wav", std::vector<int16_t>(500, 1000), 22050));
        if (!savePatchmap(bank, rig_->path(QStringLiteral("gmpatch.map")).toStdString())) return false;
        return rig_->start();
    }

    static QString backendOfEngine() {
        if (!theEngine || !theEngine->soundDevice) return {};
        return QString::fromLatin1(theEngine->soundDevice->backendName());
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TonveroTest"));
        QCoreApplication::setApplicationName(QStringLiteral("TonveroStartUpTest"));
    }

    void init() {
        rig_ = std::make_unique<test::AppRig>();
        QVERIFY(rig_->valid());
    }

    void cleanup() { rig_.reset(); }

    void helpAndWrongOptionsNeedNoDisplay() {
        for (const QString& help : {QStringLiteral("--help"), QStringLiteral("-h")}) {
            const Run run = runWithoutDisplay({QStringLiteral("--audio"), QStringLiteral("null"), help});
            QCOMPARE(run.exitCode, 0);
            QVERIFY2(run.out.startsWith(kUsageStart), qPrintable(run.out));
            QVERIFY(run.out.contains(QStringLiteral("--mixer studio|software|primary|hardware")));
            QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
        }
        // A wrong option, a wrong value and a missing value: the reason, then the usage.
        const QList<QStringList> wrong = {{QStringLiteral("--bogus")},
                                          {QStringLiteral("-x"), QStringLiteral("song.mid")},
                                          {QStringLiteral("--mixer"), QStringLiteral("loud")},
                                          {QStringLiteral("--audio")}};
        const QStringList reasons = {QStringLiteral("Unknown option --bogus."), QStringLiteral("Unknown option -x."),
                                     QStringLiteral("--mixer takes studio"), QStringLiteral("--audio needs")};
        for (qsizetype i = 0; i < wrong.size(); ++i) {
            const Run run = runWithoutDisplay(wrong[i]);
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.err.startsWith(QStringLiteral("tonvero: ") + reasons[i]), qPrintable(run.err));
            QVERIFY(run.err.contains(kUsageStart));
            QVERIFY(run.out.isEmpty());
        }
    }

    void qtOptionsAreLeftToQt() {
        AppOptions options;
        QString error;
        QVERIFY(parseCommandLine({QStringLiteral("tonvero"), QStringLiteral("-platform"), QStringLiteral("offscreen"),
                                  QStringLiteral("-style=fusion"), QStringLiteral("-reverse"),
                                  QStringLiteral("./-odd.mid"), QStringLiteral("bank.map")},
                                 options, error));
        QCOMPARE(options.files, QStringList({QStringLiteral("./-odd.mid"), QStringLiteral("bank.map")}));
        QVERIFY(!options.help);
        QVERIFY(!parseCommandLine({QStringLiteral("tonvero"), QStringLiteral("-platform")}, options, error));
        QCOMPARE(error, QStringLiteral("-platform needs a value."));
    }

    void withoutASoundDeviceTheUserMayGoOnSilently() {
        rig_->audio().failNextOpen("no output device");
        prompts().answerYes(true);
        QVERIFY(startApp());
        QCOMPARE(prompts().shown().size(), size_t{1});
        QCOMPARE(prompts().shown().front().kind, ScriptedPrompter::Shown::Question);
        QCOMPARE(prompts().shown().front().text,
                 QStringLiteral("The sound device could not be opened: no output device\n\nGo on without sound?"));
        // The engine plays on the null output, with the mixer asked for and the default bank.
        QCOMPARE(backendOfEngine(), QStringLiteral("null"));
        QCOMPARE(theEngine->mixerMode, MixerMode::Software);
        QCOMPARE(theEngine->bank.instrumentCount, 1);
        QCOMPARE(rig_->frame().messagePaneText(), kSilentOutputText);
    }

    void withoutASoundDeviceNoEndsTheProgram() {
        rig_->audio().failNextOpen("no output device");
        prompts().answerYes(false);
        QVERIFY(!startApp());
        QCOMPARE(prompts().shown().size(), size_t{1});
        QCOMPARE(prompts().shown().front().kind, ScriptedPrompter::Shown::Question);
        QVERIFY(prompts().shown().front().text.contains(QStringLiteral("no output device")));
        QVERIFY(theEngine == nullptr || theEngine->soundDevice == nullptr);
    }

    void aMixerWhoseDeviceFailsMayPlaySilently() {
        QVERIFY(startApp());
        QCOMPARE(theEngine->mixerMode, MixerMode::Software);
        QCOMPARE(backendOfEngine(), QStringLiteral("offline"));
        QCOMPARE(theEngine->bank.instrumentCount, 1);

        rig_->audio().failNextOpen("the device is busy");
        prompts().answerYes(true);
        rig_->frame().onChooseMixer(MixerMode::Studio);
        QCOMPARE(prompts().shown().size(), size_t{1});
        QCOMPARE(prompts().shown().front().text,
                 QStringLiteral("The sound device could not be opened: the device is busy\n\nGo on without sound?"));
        QVERIFY(prompts().notices().isEmpty());
        QCOMPARE(theEngine->mixerMode, MixerMode::Studio);
        QCOMPARE(backendOfEngine(), QStringLiteral("null"));
        QCOMPARE(theEngine->bank.instrumentCount, 1);  // the bank moved over
        QCOMPARE(rig_->frame().messagePaneText(), kSilentOutputText);
        QCOMPARE(QSettings().value(QStringLiteral("Options/mixer")).toString(), QStringLiteral("studio"));

        // Already silent: another mixer is made on the null output without a question.
        prompts().clear();
        rig_->frame().onChooseMixer(MixerMode::Hardware);
        QVERIFY(prompts().shown().empty());
        QCOMPARE(theEngine->mixerMode, MixerMode::Hardware);
        QCOMPARE(backendOfEngine(), QStringLiteral("null"));
    }
};

QTEST_MAIN(StartUpTest)
#include "StartUp_test.moc"
