// The Instrument Editor's lists and Instruments: the empty bank, the program
// list, choosing an Instrument for a program, inserting and deleting
// Instruments, names that differ only in case, and the bank's 128 slots.

#include "EditorRig.h"
#include "editor/PreviewNoteIds.h"

#include <QTest>

using tonvero::Bank;
using tonvero::CInstrumentEditorDlg;
using tonvero::EngineLock;
using tonvero::ScriptedPrompter;
using tonvero::test::EditorRig;
using D = CInstrumentEditorDlg;

class InstrumentEditorTest : public QObject {
    Q_OBJECT
private slots:
    void emptyBankOpensOnProgramZeroWithEmptyListsAndZeroFields() {
        EditorRig rig;
        auto editor = rig.openEditor();
        QCOMPARE(editor->windowTitle(), QString("Instrument Editor"));
        QCOMPARE(editor->m_programList->currentIndex(), 0);
        QCOMPARE(editor->m_programList->currentText(), QString("000 - Acoustic Grand"));
        QCOMPARE(editor->m_instrumentList->count(), 0);
        QCOMPARE(editor->m_soundList->count(), 0);
        QCOMPARE(EditorRig::fields(*editor),
                 (QStringList{"0", "0", "0", "0", "unchecked", "0", "0", "0", "0", "0", "0"}));

        // Test, Stop, Loop Edit and the fields do nothing without a sound.
        tonvero::editorPreviewId = 0;
        EditorRig::click(editor->control(D::kTest));
        EditorRig::click(editor->control(D::kStop));
        EditorRig::click(editor->control(D::kLoopEdit));
        EditorRig::type(editor->control(D::kRangeStart), "");
        EditorRig::type(editor->control(D::kLoopFading), "abc");
        EditorRig::click(editor->control(D::kLooped));
        QCOMPARE(tonvero::editorPreviewId, 0);
        {
            EngineLock lock(rig.engine().mutex);
            for (const auto& voice : rig.engine().voices) QCOMPARE(voice.active, 0);
        }
        QVERIFY(rig.prompter.shown().empty());

        EditorRig::click(editor->control(D::kInsertSound));
        QCOMPARE(rig.prompter.notices(), QStringList{D::kCreateInstrumentFirst});
        QCOMPARE(rig.bank().instrumentCount, 0);
    }

    void programListHoldsTheGeneralMidiProgramsAndTheDrumSetInOrder() {
        EditorRig rig;
        auto editor = rig.openEditor();
        const QStringList entries = EditorRig::entries(editor->m_programList);
        QCOMPARE(entries.size(), 129);
        QCOMPARE(entries[0], QString("000 - Acoustic Grand"));
        QCOMPARE(entries[24], QString("024 - Acoustic Guitar(nylon)"));
        QCOMPARE(entries[77], QString("077 - Skakuhachi"));
        QCOMPARE(entries[87], QString("087 - Lead 8 (bass+lead)"));
        QCOMPARE(entries[127], QString("127 - Gunshot"));
        QCOMPARE(entries[128], QString("128 - Drums Collection"));
        for (int p = 0; p < 129; ++p) QVERIFY(entries[p].startsWith(QString::asprintf("%03d - ", p)));
    }

    void openingSelectsProgramZerosInstrumentAndItsLastSound() {
        EditorRig rig;
        rig.addInstrument("Organ", {"/w/organ.wav"});
        rig.addInstrument("Bass", {"/w/b2.wav", "/w/a1.wav"});
        {
            EngineLock lock(rig.engine().mutex);
            rig.bank().programMap[0] = 1;
        }
        auto editor = rig.openEditor();
        QCOMPARE(EditorRig::entries(editor->m_instrumentList), (QStringList{"Bass", "Organ"}));
        QCOMPARE(editor->m_instrumentList->currentText(), QString("Bass"));
        QCOMPARE(EditorRig::entries(editor->m_soundList), (QStringList{"/w/a1.wav", "/w/b2.wav"}));
        QCOMPARE(editor->m_soundList->currentText(), QString("/w/b2.wav"));
        QCOMPARE(EditorRig::text(editor->control(D::kFrequency)), QString("22050"));
        QCOMPARE(EditorRig::text(editor->control(D::kRangeEnd)), QString("120"));
    }

    void choosingAnInstrumentAssignsItAndTheProgramFindsItAgain() {
        EditorRig rig;
        rig.addInstrument("Piano", {"/w/piano.wav"});
        const int32_t organ = rig.addInstrument("Organ", {"/w/organ.wav"});
        auto editor = rig.openEditor();
        QCOMPARE(editor->m_instrumentList->currentText(), QString("Piano"));

        EditorRig::choose(editor->m_programList, 19);
        QCOMPARE(editor->m_instrumentList->currentText(), QString("Piano"));
        EditorRig::chooseText(editor->m_instrumentList, "Organ");
        QCOMPARE(rig.bank().programMap[19], organ);
        QCOMPARE(EditorRig::entries(editor->m_soundList), QStringList{"/w/organ.wav"});

        EditorRig::choose(editor->m_programList, 0);
        QCOMPARE(editor->m_instrumentList->currentText(), QString("Piano"));
        QCOMPARE(rig.bank().programMap[0], 0);
        EditorRig::choose(editor->m_programList, 19);
        QCOMPARE(editor->m_instrumentList->currentText(), QString("Organ"));
        QCOMPARE(editor->m_soundList->currentText(), QString("/w/organ.wav"));
    }

    void programNamingAnEmptySlotShowsNoInstrumentAndNoSounds() {
        EditorRig rig;
        rig.addInstrument("Piano", {"/w/piano.wav"});
        {
            EngineLock lock(rig.engine().mutex);
            rig.bank().programMap[40] = 77;
        }
        auto editor = rig.openEditor();
        const QStringList before = EditorRig::fields(*editor);
        EditorRig::choose(editor->m_programList, 40);
        QCOMPARE(editor->m_instrumentList->currentIndex(), -1);
        QCOMPARE(editor->m_soundList->count(), 0);
        QCOMPARE(EditorRig::fields(*editor), before);
        QCOMPARE(rig.bank().programMap[40], 77);
        // With nothing chosen, Insert sound asks for an Instrument.
        EditorRig::click(editor->control(D::kInsertSound));
        QCOMPARE(rig.prompter.notices(), QStringList{D::kSelectInstrumentFirst});
    }

    void insertedInstrumentIsAssignedAndTheFieldsKeepTheirValues() {
        EditorRig rig;
        rig.addInstrument("Piano", {"/w/piano.wav"});
        auto editor = rig.openEditor();
        EditorRig::choose(editor->m_programList, 48);
        const QStringList before = EditorRig::fields(*editor);
        rig.insertInstrument(*editor, "Strings");
        QCOMPARE(rig.bank().instrumentCount, 2);
        const auto& strings = rig.instrument(1);
        QCOMPARE(QString::fromStdString(strings.name), QString("Strings"));
        QCOMPARE(strings.loopFading, 0x4000u);
        QCOMPARE(strings.sustainFading, 0x8000u);
        QCOMPARE(strings.cutoffFading, 0u);
        QCOMPARE(rig.bank().programMap[48], 1);
        QCOMPARE(rig.bank().programMap[0], 0);
        QCOMPARE(editor->m_instrumentList->currentText(), QString("Strings"));
        QCOMPARE(EditorRig::entries(editor->m_instrumentList), (QStringList{"Piano", "Strings"}));
        QCOMPARE(editor->m_soundList->count(), 0);
        QCOMPARE(EditorRig::fields(*editor), before);
        QCOMPARE(rig.prompter.shown().size(), size_t{1});
        QCOMPARE(rig.prompter.shown()[0].kind, ScriptedPrompter::Shown::ModalDialog);
        QCOMPARE(rig.prompter.shown()[0].text, QString("Enter New Instrument Name"));
    }

    void duplicateEmptyAndCancelledNamesAddNothing() {
        EditorRig rig;
        auto editor = rig.openEditor();
        rig.insertInstrument(*editor, "Brass");
        rig.insertInstrument(*editor, "Brass");
        QCOMPARE(rig.prompter.notices(), QStringList{D::kDuplicateInstrument});
        rig.insertInstrument(*editor, "");
        EditorRig::click(editor->control(D::kInsertInstrument));  // no answer queued: cancelled
        QCOMPARE(rig.prompter.notices(), QStringList{D::kDuplicateInstrument});
        QCOMPARE(rig.bank().instrumentCount, 1);
        QCOMPARE(EditorRig::entries(editor->m_instrumentList), QStringList{"Brass"});
        // Spaces belong to the name: " Brass" is another name.
        rig.insertInstrument(*editor, " Brass");
        QCOMPARE(rig.bank().instrumentCount, 2);
    }

    void deletingTheOnlyInstrumentEmptiesBothLists() {
        EditorRig rig;
        auto editor = rig.openEditor();
        EditorRig::choose(editor->m_programList, 3);
        rig.insertInstrument(*editor, "Solo");
        QCOMPARE(rig.bank().programMap[3], 0);

        rig.prompter.answerYes(false);
        EditorRig::click(editor->control(D::kDeleteInstrument));
        QCOMPARE(rig.bank().instrumentCount, 1);

        rig.prompter.answerYes(true);
        EditorRig::click(editor->control(D::kDeleteInstrument));
        QCOMPARE(rig.bank().instrumentCount, 0);
        QCOMPARE(rig.bank().instruments[0].get(), nullptr);
        QCOMPARE(editor->m_instrumentList->count(), 0);
        QCOMPARE(editor->m_instrumentList->currentIndex(), -1);
        QCOMPARE(editor->m_soundList->count(), 0);
        QCOMPARE(rig.bank().programMap[3], 0);
        const auto questions = [&rig] {
            QStringList asked;
            for (const auto& shown : rig.prompter.shown())
                if (shown.kind == ScriptedPrompter::Shown::Question) asked << shown.text;
            return asked;
        };
        QCOMPARE(questions(), (QStringList{D::kDeleteInstrumentQuestion, D::kDeleteInstrumentQuestion}));
        // With the list empty, Delete asks nothing.
        EditorRig::click(editor->control(D::kDeleteInstrument));
        QCOMPARE(questions().size(), 2);
    }

    void deletingAnInstrumentRenumbersAndSelectsTheFirstEntry() {
        EditorRig rig;
        rig.addInstrument("Alto", {"/w/alto.wav"});
        rig.addInstrument("Cello", {"/w/cello.wav"});
        rig.addInstrument("Bell", {"/w/bell.wav"});
        {
            EngineLock lock(rig.engine().mutex);
            rig.bank().programMap[5] = 2;
            rig.bank().programMap[0] = 1;
        }
        auto editor = rig.openEditor();
        QCOMPARE(editor->m_instrumentList->currentText(), QString("Cello"));
        rig.prompter.answerYes(true);
        EditorRig::click(editor->control(D::kDeleteInstrument));
        QCOMPARE(rig.bank().instrumentCount, 2);
        QCOMPARE(rig.bank().programMap[5], 1);  // Bell moved down to slot 1
        // The first entry, Alto, is selected and assigned to program 0.
        QCOMPARE(editor->m_instrumentList->currentText(), QString("Alto"));
        QCOMPARE(rig.bank().programMap[0], 0);
        QCOMPARE(EditorRig::entries(editor->m_soundList), QStringList{"/w/alto.wav"});
    }

    void namesDifferingOnlyInCaseAreBothAcceptedButFoundBlindToCase() {
        EditorRig rig;
        auto editor = rig.openEditor();
        rig.insertInstrument(*editor, "Piano");
        rig.insertInstrument(*editor, "piano");
        QVERIFY(rig.prompter.notices().isEmpty());
        QCOMPARE(rig.bank().instrumentCount, 2);
        QCOMPARE(EditorRig::entries(editor->m_instrumentList), (QStringList{"Piano", "piano"}));

        EditorRig::choose(editor->m_programList, 1);
        EditorRig::choose(editor->m_instrumentList, 1);
        QCOMPARE(rig.bank().programMap[1], 1);
        // Coming back to program 1 finds "Piano" first and assigns it instead.
        EditorRig::choose(editor->m_programList, 0);
        EditorRig::choose(editor->m_programList, 1);
        QCOMPARE(editor->m_instrumentList->currentIndex(), 0);
        QCOMPARE(rig.bank().programMap[1], 0);
    }

    void aHundredAndTwentyNinthInstrumentIsRefused() {
        EditorRig rig;
        for (int i = 0; i < Bank::kInstrumentSlots; ++i) rig.addInstrument("Inst " + std::to_string(i));
        auto editor = rig.openEditor();
        QCOMPARE(editor->m_instrumentList->count(), 128);
        rig.answerName("One too many");
        EditorRig::click(editor->control(D::kInsertInstrument));
        QCOMPARE(rig.prompter.notices(), QStringList{D::kBankFull});
        QCOMPARE(rig.bank().instrumentCount, 128);
        QCOMPARE(editor->m_instrumentList->count(), 128);
        // The name was not even asked for.
        for (const auto& shown : rig.prompter.shown()) QVERIFY(shown.kind != ScriptedPrompter::Shown::ModalDialog);

        // After a deletion there is room again.
        rig.prompter.answerYes(true);
        EditorRig::click(editor->control(D::kDeleteInstrument));
        EditorRig::click(editor->control(D::kInsertInstrument));  // the queued name answers now
        QCOMPARE(rig.bank().instrumentCount, 128);
        QCOMPARE(QString::fromStdString(rig.instrument(127).name), QString("One too many"));
    }

    void namesOfAnyLengthAreKeptWhole() {
        EditorRig rig;
        auto editor = rig.openEditor();
        const QString longName = QString("Layered ").repeated(40);
        rig.insertInstrument(*editor, longName);
        QCOMPARE(QString::fromStdString(rig.instrument(0).name), longName);
        EditorRig::choose(editor->m_programList, 9);
        EditorRig::choose(editor->m_instrumentList, 0);
        QCOMPARE(rig.bank().programMap[9], 0);
        QCOMPARE(editor->m_instrumentList->currentText(), longName);
    }
};

QTEST_MAIN(InstrumentEditorTest)
#include "InstrumentEditor_test.moc"
