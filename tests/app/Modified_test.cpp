// The bank's changes in the main window: the title's mark, the Edit menu's
// Undo and Redo (back to the saved state clears the mark), Exit and opening
// another Patchmap asking "Save changes to NAME?" (Cancel stays, No goes on
// without saving, Yes saves and goes on only when that worked), and a save
// that fails keeping the mark and saying why. Driven through the window's
// handlers on the offline sound device, the Instrument Editor through its
// own, questions answered by a ScriptedPrompter.

#include "app/AppGlobals.h"
#include "app/CMainFrame.h"
#include "app/CTonveroApp.h"
#include "app/CommandIds.h"
#include "bank/Patchmap.h"
#include "editor/BankHistory.h"
#include "editor/CInstrumentEditorDlg.h"
#include "editor/Prompter.h"
#include "engine/MixerEngine.h"
#include "platform/SoundDevice.h"
#include "platform/VirtualTimerService.h"
#include "support/AppRig.h"
#include "support/BankFixtures.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace tonvero;
using Choice = Prompter::Choice;

class ModifiedTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::AppRig> rig_;  // a fresh one for each test: no answer left over
    ScriptedPrompter& prompts() const { return rig_->prompts(); }

    QString path(const QString& name) const { return rig_->path(name); }
    CMainFrame& frame() { return rig_->frame(); }

    // The application on the offline device with "gmpatch.map" (makeExampleBank: one sound) as its bank.
    bool startApp() {
        if (!savePatchmap(test::makeExampleBank(), path(QStringLiteral("gmpatch.map")).toStdString())) return false;
        return rig_->start();
    }

    // Program 0's sound gets the basic note `note`, typed into the Instrument Editor.
    static void editBasicNote(const QString& note) {
        CInstrumentEditorDlg editor;
        editor.show();
        static_cast<QLineEdit*>(editor.control(CInstrumentEditorDlg::kBasicNote))->setText(note);
    }
    static int32_t basicNote() { return theEngine->bank.instrumentForProgram(0)->zones[0]->basicNote; }

    static std::string bankNow() { return test::describeBank(theEngine->bank); }
    static std::string bankIn(const QString& file) {
        Bank loaded;
        if (loadPatchmap(loaded, file.toStdString()) != LoadOk) return "not loaded";
        return test::describeBank(loaded);
    }
    QByteArray bytesOf(const QString& file) {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The question asked last, if the last thing shown was one.
    QString lastQuestion() const {
        const auto& shown = prompts().shown();
        return !shown.empty() && shown.back().kind == ScriptedPrompter::Shown::Question ? shown.back().text : QString();
    }
    void exitWith(Choice answer) {
        frame().show();
        prompts().answerChoice(answer);
        frame().action(command::Exit)->trigger();
    }

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("TonveroTest"));
        QCoreApplication::setApplicationName(QStringLiteral("TonveroModifiedTest"));
    }

    void init() {
        rig_ = std::make_unique<test::AppRig>();
        QVERIFY(rig_->valid());
        QVERIFY(startApp());
    }

    void cleanup() { rig_.reset(); }

    void theTitleMarksChangesAndUndoToTheSavedStateClearsIt() {
        const QString file = path(QStringLiteral("gmpatch.map"));
        QCOMPARE(frame().windowTitle(), QStringLiteral("gmpatch.map - Tonvero"));
        QAction* editMenu = frame().menuBar()->actions().value(1);
        QCOMPARE(editMenu->text(), QStringLiteral("&Edit"));
        QAction* undo = frame().action(command::Undo);
        QAction* redo = frame().action(command::Redo);
        QCOMPARE(editMenu->menu()->actions(), (QList<QAction*>{undo, redo}));
        QCOMPARE(undo->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
        QCOMPARE(redo->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+Z")));
        QCOMPARE(undo->text(), QStringLiteral("&Undo"));
        QVERIFY(!undo->isEnabled() && !redo->isEnabled());

        const int32_t original = basicNote();
        const std::string loaded = bankNow();
        editBasicNote(QStringLiteral("62"));
        QCOMPARE(frame().windowTitle(), QStringLiteral("gmpatch.map* - Tonvero"));
        QCOMPARE(undo->text(), QStringLiteral("&Undo Basic Note %1 → 62").arg(original));
        undo->trigger();
        QCOMPARE(bankNow(), loaded);
        QCOMPARE(frame().windowTitle(), QStringLiteral("gmpatch.map - Tonvero"));
        QCOMPARE(redo->text(), QStringLiteral("&Redo Basic Note %1 → 62").arg(original));
        redo->trigger();
        QCOMPARE(basicNote(), 62);
        QCOMPARE(frame().windowTitle(), QStringLiteral("gmpatch.map* - Tonvero"));

        // Saved: the file holds the bank, the mark goes; undo then differs from the file again.
        frame().onSavePatchmap();
        QCOMPARE(bankIn(file), bankNow());
        QCOMPARE(frame().windowTitle(), QStringLiteral("gmpatch.map - Tonvero"));
        frame().onUndo();
        QCOMPARE(frame().windowTitle(), QStringLiteral("gmpatch.map* - Tonvero"));
        frame().onRedo();
        QCOMPARE(frame().windowTitle(), QStringLiteral("gmpatch.map - Tonvero"));
        // Nothing changed: Exit asks nothing.
        exitWith(Choice::Cancel);
        QVERIFY(prompts().shown().empty());
        QVERIFY(!frame().isVisible());
    }

    void exitAsksCancelStaysNoDiscardsYesSaves() {
        const QString file = path(QStringLiteral("gmpatch.map"));
        const QByteArray saved = bytesOf(file);
        editBasicNote(QStringLiteral("70"));

        exitWith(Choice::Cancel);
        QCOMPARE(lastQuestion(), QStringLiteral("Save changes to gmpatch.map?"));
        QVERIFY(frame().isVisible());
        QCOMPARE(bytesOf(file), saved);
        QVERIFY(bankHistory().isModified());

        exitWith(Choice::No);
        QVERIFY(!frame().isVisible());
        QCOMPARE(bytesOf(file), saved);

        exitWith(Choice::Yes);
        QVERIFY(!frame().isVisible());
        QCOMPARE(bankIn(file), bankNow());
        QCOMPARE(basicNote(), 70);
        QVERIFY(!bankHistory().isModified());
        QCOMPARE(prompts().notices(), QStringList());
    }

    void aFailingSaveKeepsTheMarkAndSaysWhy() {
        editBasicNote(QStringLiteral("71"));
        const QString nowhere = path(QStringLiteral("no/such/folder/bank.map"));
        prompts().answerFile(nowhere);
        frame().onSavePatchmapAs();
        QCOMPARE(prompts().notices().size(), 1);
        const QString told = prompts().notices().front();
        QVERIFY2(told.startsWith(QStringLiteral("The Patchmap could not be saved to\n") + nowhere + QLatin1Char('\n')),
                 qPrintable(told));
        QVERIFY2(told.contains(QStringLiteral("does not exist")), qPrintable(told));
        QCOMPARE(frame().windowTitle(), QStringLiteral("gmpatch.map* - Tonvero"));
        QCOMPARE(QString::fromStdString(patchmapPath), QStringLiteral("gmpatch.map"));

        // Exit's Yes with a save that fails stays, changes and mark kept.
        patchmapPath = nowhere.toStdString();
        exitWith(Choice::Yes);
        QCOMPARE(prompts().notices().size(), 2);
        QVERIFY(frame().isVisible());
        QVERIFY(bankHistory().isModified());
        QCOMPARE(basicNote(), 71);
    }

    void openingAnotherPatchmapAsksFirstAndForgetsTheSteps() {
        const QString other = path(QStringLiteral("other.map"));
        QVERIFY(savePatchmap(test::makeArticulatedBank(), other.toStdString()));
        editBasicNote(QStringLiteral("72"));
        const std::string edited = bankNow();

        prompts().answerFile(other);
        prompts().answerChoice(Choice::Cancel);
        frame().onOpenPatchmap();
        QCOMPARE(lastQuestion(), QStringLiteral("Save changes to gmpatch.map?"));
        QCOMPARE(bankNow(), edited);
        QCOMPARE(frame().windowTitle(), QStringLiteral("gmpatch.map* - Tonvero"));

        prompts().answerFile(other);
        prompts().answerChoice(Choice::No);
        frame().onOpenPatchmap();
        QCOMPARE(bankNow(), bankIn(other));
        QCOMPARE(frame().windowTitle(), QStringLiteral("other.map - Tonvero"));
        QVERIFY(!bankHistory().canUndo());
        QVERIFY(!frame().action(command::Undo)->isEnabled());
        // The first bank was not saved.
        QCOMPARE(bankIn(path(QStringLiteral("gmpatch.map"))), test::describeBank(test::makeExampleBank()));
    }
};

QTEST_MAIN(ModifiedTest)
#include "Modified_test.moc"
