// The bank's history in the Instrument Editor: every kind of change made
// through the dialog's handlers (import, field edits typed digit by digit,
// loop points, articulation, the envelope's drag, sound and Instrument
// deletion, insertion and assignment) undone step by step to the bank as it
// was, field by field and sample by sample, and redone to the bank as it
// became; the steps' names; the dialog's lists following; and the voices
// that play a Wave an undo or redo takes out of the bank cut first.

#include "EditorRig.h"
#include "editor/ArticulationControl.h"
#include "editor/BankHistory.h"
#include "editor/CLoopPointEditorDlg.h"
#include "editor/EnvelopeView.h"
#include "editor/PreviewNoteIds.h"
#include "support/BankFixtures.h"

#include <QAction>
#include <QTest>
#include <QUndoStack>

#include <string>
#include <vector>

using tonvero::bankHistory;
using tonvero::CInstrumentEditorDlg;
using tonvero::CLoopPointEditorDlg;
using tonvero::EngineLock;
using tonvero::MixerEngine;
using tonvero::Wave;
using tonvero::ZoneArticulation;
using tonvero::test::describeBank;
using tonvero::test::EditorRig;
using D = CInstrumentEditorDlg;
namespace art = tonvero::articulation_id;

namespace {

// Any voice still sounding that plays `wave`.
bool sounds(const MixerEngine& engine, const Wave* wave) EXCLUDES(engine.mutex) {
    EngineLock lock(engine.mutex);
    for (const auto& m : engine.custom.mixerVoices)
        if (m.active && m.wave == wave) return true;
    for (const auto& v : engine.voices)
        if (v.active && v.wave == wave) return true;
    return false;
}

// Types `text` one character at a time, as a user does.
void typeSlowly(QWidget* edit, const QString& text) {
    for (qsizetype n = 1; n <= text.size(); ++n) EditorRig::type(edit, text.left(n));
}

// The sorted names of the bank's Instruments, as the Instrument list shows them.
QStringList instrumentNames(const tonvero::Bank& bank) {
    QStringList names;
    for (int32_t s = 0; s < bank.instrumentCount; ++s) names << QString::fromStdString(bank.instruments[s]->name);
    names.sort();
    return names;
}

}  // namespace

class UndoTest : public QObject {
    Q_OBJECT

    // The steps made so far: each one's name and the bank after it (the first: before any).
    std::vector<std::string> banks_;
    QStringList names_;

    void step(EditorRig& rig, const QString& name) {
        QCOMPARE(bankHistory().undoText(), name);
        const std::string now = describeBank(rig.bank());
        QVERIFY2(now != banks_.back(), qPrintable(name));
        banks_.push_back(now);
        names_ << name;
    }

private slots:
    void init() {
        bankHistory().clear();
        banks_.clear();
        names_.clear();
    }
    void cleanup() { bankHistory().clear(); }

    void everyChangeUndoesAndRedoesExactly() {
        EditorRig rig;
        // Piano: three sounds, the first two a stereo pair with articulation;
        // Organ: one sound. Program 0 plays the piano.
        rig.addInstrument("Piano", {"/w/left.wav", "/w/right.wav", "/w/low.wav"}, 3000);
        rig.addInstrument("Organ", {"/w/organ.wav"});
        {
            EngineLock lock(rig.engine().mutex);
            auto& zones = rig.instrument(0).zones;
            zones[0]->articulation = std::make_unique<ZoneArticulation>(tonvero::test::makeArticulation(1));
            zones[1]->articulation = std::make_unique<ZoneArticulation>(tonvero::test::makeArticulation(2));
            zones[0]->articulation->linkedZone = 1;
            zones[1]->articulation->linkedZone = 0;
            zones[2]->rangeStart = 10;
            rig.bank().programMap[3] = 1;
        }
        auto editor = rig.openEditor();
        QVERIFY(!bankHistory().isModified());
        banks_.push_back(describeBank(rig.bank()));

        // An import, then every field of the new sound, typed digit by digit.
        const QString file = rig.wav16Mono("Violin Gb4.wav", {100, -200, 300, -400, 500, 600, 700}, 32000);
        rig.insertSound(*editor, file);
        step(rig, "Import Violin Gb4.wav");
        QVERIFY(bankHistory().isModified());
        const struct {
            int id;
            const char* typed;
            const char* name;
        } fields[] = {
            {D::kRangeStart, "12", "Range Start 0 → 12"},
            {D::kRangeEnd, "99", "Range End 120 → 99"},
            {D::kBasicNote, "62", "Basic Note 66 → 62"},  // 66 (F#4) from the name
            {D::kFrequency, "44100", "Frequency 32000 → 44100"},
            {D::kLoopBegin, "2", "Loop Begin 0 → 2"},
            {D::kLoopEnd, "6", "Loop End 0 → 6"},
            {D::kHoldPos, "3", "Hold Pos 0 → 3"},
            {D::kSustainFading, "0.75", "Sustain Fading 0.5 → 0.75"},
            {D::kLoopFading, "1.5", "Loop Fading 0.25 → 1.5"},
            {D::kCutoffFading, "0.125", "Cutoff Fading 0 → 0.125"},
        };
        for (const auto& f : fields) {
            typeSlowly(editor->control(f.id), QString::fromLatin1(f.typed));
            step(rig, QString::fromUtf8(f.name));
        }
        EditorRig::click(editor->control(D::kLooped));
        step(rig, "Looped off → on");

        // The Loop Point Editor moves both ends; OK keeps them as one step.
        rig.prompter.answerDialog([&rig](QDialog& dialog) {
            auto& loop = static_cast<CLoopPointEditorDlg&>(dialog);
            loop.show();
            {
                EngineLock lock(rig.engine().mutex);
                loop.m_wave->loopBegin = 1;
                loop.m_wave->loopEnd = 5;
            }
            loop.accept();
            return loop.result();
        });
        EditorRig::click(editor->control(D::kLoopEdit));
        step(rig, "Loop 2–6 → 1–5");
        QCOMPARE(EditorRig::text(editor->control(D::kLoopEnd)), QString("5"));

        // Articulation: on, a field, tail on release, and one drag of the curve.
        EditorRig::click(editor->control(art::kArticulation));
        step(rig, "Articulation On Violin Gb4.wav");
        EditorRig::enter(*editor, art::kVolumeAttack, "0.5");
        step(rig, "Volume envelope Attack " + tonvero::articulationControl(art::kVolumeAttack)->unit.format(-12000) +
                      " s → 0.5 s");
        EditorRig::click(editor->control(art::kTailOnRelease));
        step(rig, "Tail on release off → on");
        tonvero::EnvelopeSettings dragged = editor->m_envelope->envelope();
        emit editor->m_envelope->dragStarted();
        for (int32_t release : {-2000, -1000, 0}) {
            dragged.release = release;
            editor->m_articulation->onEnvelopeDragged(dragged);
        }
        step(rig, "Drag Volume Envelope Violin Gb4.wav");

        // The piano's first sound goes: the last one takes its place, the link to it goes.
        EditorRig::chooseText(editor->m_soundList, "/w/left.wav");
        rig.prompter.answerYes(true);
        EditorRig::click(editor->control(D::kDeleteSound));
        step(rig, "Delete Sound left.wav");

        // A new Instrument for program 0, then the organ for program 5.
        rig.insertInstrument(*editor, "Strings");
        step(rig, "Insert Instrument Strings");
        EditorRig::choose(editor->m_programList, 5);
        EditorRig::chooseText(editor->m_instrumentList, "Organ");
        step(rig, "Assign Organ to " + editor->m_programList->itemText(5));

        // The piano goes (program 3 names the organ's slot: it moves down).
        EditorRig::choose(editor->m_programList, 1);
        QCOMPARE(editor->m_instrumentList->currentText(), QString("Piano"));
        rig.prompter.answerYes(true);
        EditorRig::click(editor->control(D::kDeleteInstrument));
        step(rig, "Delete Instrument Piano");

        // Undo walks back through every state, the dialog showing each; redo walks forward.
        for (qsizetype n = names_.size(); n > 0; --n) {
            QCOMPARE(bankHistory().undoText(), names_[n - 1]);
            bankHistory().undo();
            QCOMPARE(describeBank(rig.bank()), banks_[static_cast<size_t>(n - 1)]);
            QCOMPARE(bankHistory().redoText(), names_[n - 1]);
            QCOMPARE(EditorRig::entries(editor->m_instrumentList), instrumentNames(rig.bank()));
        }
        QVERIFY(!bankHistory().canUndo());
        QVERIFY(!bankHistory().isModified());
        for (qsizetype n = 1; n <= names_.size(); ++n) {
            bankHistory().redo();
            QCOMPARE(describeBank(rig.bank()), banks_[static_cast<size_t>(n)]);
        }
        QVERIFY(bankHistory().isModified());
        QVERIFY(!bankHistory().canRedo());

        // Back to the import's fields: the dialog shows the sound as it was then.
        while (bankHistory().undoText() != QStringLiteral("Looped off → on")) bankHistory().undo();
        EditorRig::choose(editor->m_programList, 0);
        EditorRig::chooseText(editor->m_soundList, "Violin Gb4.wav");
        bankHistory().undo();
        QCOMPARE(EditorRig::fields(*editor),
                 (QStringList{"12", "99", "62", "44100", "unchecked", "2", "6", "3", "0.75", "1.5", "0.125"}));
        bankHistory().undo();  // the cutoff fading
        QCOMPARE(EditorRig::text(editor->control(D::kCutoffFading)), QString("0"));
    }

    void aNewStepAfterUndoDropsTheRedoAndAFieldEditedAgainIsAStepOfItsOwn() {
        EditorRig rig;
        rig.addInstrument("Piano", {"/w/a.wav"});
        auto editor = rig.openEditor();
        typeSlowly(editor->control(D::kBasicNote), "64");
        typeSlowly(editor->control(D::kRangeEnd), "100");
        typeSlowly(editor->control(D::kBasicNote), "65");
        QCOMPARE(bankHistory().stack().count(), 3);
        QCOMPARE(bankHistory().undoText(), QString("Basic Note 64 → 65"));
        // Typed back to where it was: no step at all.
        typeSlowly(editor->control(D::kRangeStart), "5");
        EditorRig::type(editor->control(D::kRangeStart), "0");
        QCOMPARE(bankHistory().stack().count(), 3);

        bankHistory().undo();
        QCOMPARE(rig.instrument(0).zones[0]->basicNote, 64);
        QCOMPARE(EditorRig::text(editor->control(D::kBasicNote)), QString("64"));
        typeSlowly(editor->control(D::kBasicNote), "70");
        QVERIFY(!bankHistory().canRedo());
        QCOMPARE(bankHistory().undoText(), QString("Basic Note 64 → 70"));

        // Ctrl+Z in a field is the dialog's undo, not the field's.
        editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(editor.get()));
        editor->control(D::kBasicNote)->setFocus();
        QTest::keyClick(editor->control(D::kBasicNote), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(rig.instrument(0).zones[0]->basicNote, 64);
        QTest::keyClick(editor->control(D::kBasicNote), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(rig.instrument(0).zones[0]->basicNote, 70);
    }

    void aWaveThatAnUndoOrRedoTakesOutIsCutFirst() {
        EditorRig rig;
        rig.addInstrument("Piano", {"/w/a.wav"}, 4000);
        auto editor = rig.openEditor();
        rig.insertSound(*editor, rig.wav16Mono("b.wav", std::vector<int16_t>(4000, 9000), 22050));
        const Wave* imported = rig.instrument(0).zones[1]->wave.get();
        EditorRig::click(editor->control(D::kTest));
        rig.clock().advanceBy(100000);
        QVERIFY(sounds(rig.engine(), imported));
        bankHistory().undo();  // the import
        QVERIFY(!sounds(rig.engine(), imported));
        QCOMPARE(rig.instrument(0).zones.count(), 1);
        QCOMPARE(EditorRig::entries(editor->m_soundList), QStringList{"/w/a.wav"});
        rig.clock().advanceBy(100000);

        // Redo of a deletion cuts the same way the deletion did.
        bankHistory().redo();
        QCOMPARE(imported, rig.instrument(0).zones[1]->wave.get());  // the very Wave, back
        rig.prompter.answerYes(true);
        EditorRig::chooseText(editor->m_soundList, "/w/a.wav");
        EditorRig::click(editor->control(D::kDeleteSound));
        bankHistory().undo();
        const Wave* first = rig.instrument(0).zones[0]->wave.get();
        QCOMPARE(QString::fromStdString(first->name), QString("/w/a.wav"));
        EditorRig::chooseText(editor->m_soundList, "/w/a.wav");
        EditorRig::click(editor->control(D::kTest));
        rig.clock().advanceBy(100000);
        QVERIFY(sounds(rig.engine(), first));
        bankHistory().redo();
        QVERIFY(!sounds(rig.engine(), first));
        rig.clock().advanceBy(100000);
        EditorRig::click(editor->control(D::kStop));
    }
};

QTEST_MAIN(UndoTest)
#include "Undo_test.moc"
