// The Instrument Editor always belongs to a window of the program, whoever
// opens it: a modal dialog that belongs to none is, on X11, transient for the
// whole application, and a window manager may then keep the focus on it over
// the Loop Point Editor it opens (DialogsUnderWindowManager_test meets that
// on a real X server).

#include "EditorRig.h"

#include "editor/CInstrumentEditorDlg.h"
#include "editor/CLoopPointEditorDlg.h"

#include <QAbstractButton>
#include <QMainWindow>
#include <QPushButton>
#include <QtTest>

using namespace tonvero;

class EditorOwnerTest : public QObject {
    Q_OBJECT
private slots:
    void theEditorsBelongToTheMainWindow() {
        test::EditorRig rig;
        rig.addInstrument("Organ", {"/sounds/organ.wav"});
        {
            EngineLock lock(rig.engine().mutex);
            rig.bank().programMap[0] = 0;
        }
        QMainWindow main;
        auto* inside = new QPushButton(QStringLiteral("a control of the main window"), &main);
        main.setCentralWidget(inside);
        main.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main));

        // Asked without an owner (as the View menu asks), and with a control of the window.
        for (QWidget* asked : {static_cast<QWidget*>(nullptr), static_cast<QWidget*>(inside)}) {
            const QWidget* editorOwner = nullptr;
            bool loopEditorOverEditor = false;
            rig.prompter.answerDialog([&](QDialog& editor) {
                editorOwner = editor.parentWidget();
                rig.prompter.answerDialog([&](QDialog& loopEditor) {
                    loopEditorOverEditor = loopEditor.parentWidget() == &editor;
                    return int{QDialog::Rejected};
                });
                auto& dialog = static_cast<CInstrumentEditorDlg&>(editor);
                dialog.show();
                qobject_cast<QAbstractButton*>(dialog.control(CInstrumentEditorDlg::kLoopEdit))->click();
                dialog.hide();
                return int{QDialog::Rejected};
            });
            runInstrumentEditor(asked);
            QCOMPARE(editorOwner, static_cast<const QWidget*>(&main));
            QVERIFY(loopEditorOverEditor);
        }
        QCOMPARE(rig.prompter.shown().size(), size_t{4});
    }
};

QTEST_MAIN(EditorOwnerTest)
#include "EditorOwner_test.moc"
