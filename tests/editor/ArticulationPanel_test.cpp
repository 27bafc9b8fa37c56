// The Instrument Editor's articulation panel: the units each field is read
// in, every field stored into its own member of the Zone's articulation,
// refusals with their messages and nothing stored, turning articulation on
// and off, the velocity range, "Tail on release", the stereo link, and when a
// typed value is taken.

#include "EditorRig.h"
#include "editor/ArticulationControl.h"
#include "editor/DataExchange.h"
#include "editor/EnvelopeView.h"
#include "editor/FieldUnit.h"
#include "editor/PreviewNoteIds.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QTest>

#include <functional>

using tonvero::ArticulationControl;
using tonvero::CInstrumentEditorDlg;
using tonvero::DataExchange;
using tonvero::EngineLock;
using tonvero::FieldUnit;
using tonvero::Zone;
using tonvero::ZoneArticulation;
using tonvero::test::EditorRig;
namespace id = tonvero::articulation_id;
using D = CInstrumentEditorDlg;

namespace {

// An editor on an Instrument of two sounds; the last one, "/w/right.wav", is chosen.
struct Session {
    EditorRig rig;
    std::unique_ptr<CInstrumentEditorDlg> editor;
    Session() {
        rig.addInstrument("Strings", {"/w/left.wav", "/w/right.wav"});
        editor = rig.openEditor();
    }
    Zone& left() { return *rig.instrument(0).zones[0]; }
    Zone& right() { return *rig.instrument(0).zones[1]; }
    QWidget* field(int i) { return editor->control(i); }
    void turnOn() { EditorRig::click(field(id::kArticulation)); }
    void enter(int i, const QString& text) { EditorRig::enter(*editor, i, text); }
    void chooseSound(const QString& name) { EditorRig::chooseText(editor->m_soundList, name); }
};

}  // namespace

class ArticulationPanelTest : public QObject {
    Q_OBJECT
private slots:
    void everyValueShownReadsBackAndRoundValuesTypedShowTheSame() {
        // Exhaustively, for every field: what a load shows, a save stores unchanged.
        for (const ArticulationControl& f : tonvero::articulationControls())
            for (int32_t held = f.unit.minimum(); held <= f.unit.maximum(); ++held)
                QVERIFY2(f.unit.read(f.unit.format(held)) == held,
                         qPrintable(QString("%1: %2 shows as %3").arg(f.label).arg(held).arg(f.unit.format(held))));
        // 0.3 s is held as -2084 timecents (0.30006 s); 0 s and anything
        // shorter than the shortest as the shortest.
        const FieldUnit time = FieldUnit::seconds(-12000, 8000);
        QCOMPARE(time.read("0.0001"), std::optional<int32_t>(-12000));
        for (const char* typed : {"0", "0.001", "0.005", "0.02", "0.25", "0.3", "0.75", "1", "1.5", "4", "17.5", "100"})
            QCOMPARE(time.format(*time.read(typed)), QString(typed));
        // A cent is 3.5 Hz at 6 kHz: the round number typed is the one shown.
        const FieldUnit hertz = FieldUnit::hertz(1500, 13500);
        for (const char* typed : {"20", "440", "1000", "2500", "6000", "12000"})
            QCOMPARE(hertz.format(*hertz.read(typed)), QString(typed));
        QCOMPARE(FieldUnit::tenths(0, 1440, -1).format(0), QString("0"));  // no "-0"
    }

    void articulationIsOffUntilTurnedOnAndOffPutsTheOldSoundBack() {
        Session s;
        auto* box = static_cast<QCheckBox*>(s.field(id::kArticulation));
        QVERIFY(box->isEnabled() && !box->isChecked());
        // Without articulation the fields show the defaults, greyed.
        QVERIFY(!s.field(id::kVolumeAttack)->isEnabled());
        QVERIFY(!s.editor->m_envelope->editable());
        QCOMPARE(EditorRig::text(s.field(id::kFilterCutoff)), QString("19910"));

        s.turnOn();
        QVERIFY(s.right().articulation && *s.right().articulation == ZoneArticulation{});
        QVERIFY(!s.left().articulation);
        QVERIFY(s.field(id::kVolumeAttack)->isEnabled() && s.editor->m_envelope->editable());
        s.enter(id::kVolumeAttack, "0.5");
        EditorRig::click(box);
        QVERIFY(!s.right().articulation);
        QCOMPARE(EditorRig::text(s.field(id::kVolumeAttack)), QString("0"));
        // Turned on again: a new articulation with the defaults, not the old values.
        s.turnOn();
        QVERIFY(*s.right().articulation == ZoneArticulation{});
        QVERIFY(s.rig.prompter.shown().empty());

        // With no sound chosen there is nothing to turn on.
        {
            EngineLock lock(s.rig.engine().mutex);
            s.rig.bank().programMap[50] = 77;
        }
        EditorRig::choose(s.editor->m_programList, 50);
        QVERIFY(!box->isEnabled());
    }

    void everyFieldStoresIntoItsOwnMemberInItsUnit() {
        Session s;
        s.turnOn();
        struct Case {
            int field;
            const char* typed;
            std::function<void(ZoneArticulation&)> expect;
        };
        const std::vector<Case> cases = {
            {id::kVolumeDelay, "0.25", [](auto& a) { a.volumeEnvelope.delay = -2400; }},
            {id::kVolumeAttack, "0.005", [](auto& a) { a.volumeEnvelope.attack = -9173; }},
            {id::kVolumeHold, "0.5", [](auto& a) { a.volumeEnvelope.hold = -1200; }},
            {id::kVolumeDecay, "4", [](auto& a) { a.volumeEnvelope.decay = 2400; }},
            {id::kVolumeSustain, "-12.5", [](auto& a) { a.volumeEnvelope.sustain = 125; }},
            {id::kVolumeRelease, "2", [](auto& a) { a.volumeEnvelope.release = 1200; }},
            {id::kVolumeKeyToHold, "-50", [](auto& a) { a.volumeEnvelope.keyToHold = -50; }},
            {id::kVolumeKeyToDecay, "25", [](auto& a) { a.volumeEnvelope.keyToDecay = 25; }},
            {id::kModDelay, "1", [](auto& a) { a.modulationEnvelope.delay = 0; }},
            {id::kModAttack, "0.125", [](auto& a) { a.modulationEnvelope.attack = -3600; }},
            {id::kModHold, "8", [](auto& a) { a.modulationEnvelope.hold = 3600; }},
            {id::kModDecay, "16", [](auto& a) { a.modulationEnvelope.decay = 4800; }},
            {id::kModSustain, "75", [](auto& a) { a.modulationEnvelope.sustain = 250; }},
            {id::kModRelease, "0.0625", [](auto& a) { a.modulationEnvelope.release = -4800; }},
            {id::kModKeyToHold, "100", [](auto& a) { a.modulationEnvelope.keyToHold = 100; }},
            {id::kModKeyToDecay, "-1200", [](auto& a) { a.modulationEnvelope.keyToDecay = -1200; }},
            {id::kModToPitch, "-700", [](auto& a) { a.modulationEnvelopeToPitch = -700; }},
            {id::kModToFilter, "2400", [](auto& a) { a.modulationEnvelopeToFilter = 2400; }},
            {id::kModLfoDelay, "2", [](auto& a) { a.modulationLfo.delay = 1200; }},
            {id::kModLfoFrequency, "4", [](auto& a) { a.modulationLfo.frequency = -1238; }},
            {id::kModLfoToPitch, "50", [](auto& a) { a.modulationLfo.toPitch = 50; }},
            {id::kModLfoToFilter, "-300", [](auto& a) { a.modulationLfo.toFilter = -300; }},
            {id::kModLfoToVolume, "-3.5", [](auto& a) { a.modulationLfo.toVolume = -35; }},
            {id::kVibratoDelay, "0.5", [](auto& a) { a.vibratoLfo.delay = -1200; }},
            {id::kVibratoFrequency, "5", [](auto& a) { a.vibratoLfo.frequency = -851; }},
            {id::kVibratoToPitch, "15", [](auto& a) { a.vibratoLfo.toPitch = 15; }},
            {id::kModulationToVibrato, "0", [](auto& a) { a.modulationToVibrato = 0; }},
            {id::kPressureToVibrato, "-20", [](auto& a) { a.pressureToVibrato = -20; }},
            {id::kVelocityToFilter, "-1200", [](auto& a) { a.velocityToFilter = -1200; }},
            {id::kFilterCutoff, "1000", [](auto& a) { a.filterCutoff = 8321; }},
            {id::kFilterResonance, "6", [](auto& a) { a.filterResonance = 60; }},
            {id::kAttenuation, "9.5", [](auto& a) { a.attenuation = 95; }},
            {id::kPan, "-25", [](auto& a) { a.pan = -250; }},
            {id::kCoarseTune, "-12", [](auto& a) { a.coarseTune = -12; }},
            {id::kFineTune, "7", [](auto& a) { a.fineTune = 7; }},
            {id::kScaleTuning, "50", [](auto& a) { a.scaleTuning = 50; }},
            {id::kReverbSend, "7", [](auto& a) { a.reverbSend = 70; }},
            {id::kChorusSend, "25.5", [](auto& a) { a.chorusSend = 255; }},
            {id::kExclusiveClass, "3", [](auto& a) { a.exclusiveClass = 3; }},
            {id::kVelocityLow, "20", [](auto& a) { a.velocityLow = 20; }},
            {id::kVelocityHigh, "100", [](auto& a) { a.velocityHigh = 100; }},
        };
        QSet<int> covered;
        for (const auto& c : cases) covered.insert(c.field);
        for (const ArticulationControl& f : tonvero::articulationControls()) QVERIFY2(covered.contains(f.id), f.label);

        ZoneArticulation expected;
        for (const auto& c : cases) {
            s.enter(c.field, c.typed);
            c.expect(expected);
            // Only this field's member changed, to the integer its unit holds.
            QVERIFY2(*s.right().articulation == expected, c.typed);
        }
        QVERIFY(s.rig.prompter.shown().empty());
        QVERIFY(!s.left().articulation);

        // Every value shows again as it was typed after the sound is loaded anew.
        s.chooseSound("/w/left.wav");
        QCOMPARE(EditorRig::text(s.field(id::kVolumeAttack)), QString("0"));
        s.chooseSound("/w/right.wav");
        for (const auto& c : cases) QCOMPARE(EditorRig::text(s.field(c.field)), QString(c.typed));
    }

    void refusedValuesGetTheirMessageAndStoreNothing() {
        Session s;
        s.turnOn();
        const std::vector<std::tuple<int, const char*, QString>> refused = {
            {id::kVolumeDelay, "17.97", "Please enter a number between 0 and 17.96."},
            {id::kVolumeAttack, "-1", "Please enter a number between 0 and 101.6."},
            {id::kVolumeSustain, "3", "Please enter a number between -144 and 0."},
            {id::kModLfoFrequency, "0", "Please enter a number between 0.000792 and 110."},
            {id::kFilterCutoff, "19", "Please enter a number between 19.45 and 19910."},
            {id::kCoarseTune, "121", "Please enter an integer between -120 and 120."},
            {id::kVolumeKeyToHold, "1.5", "Please enter an integer."},
            {id::kVolumeRelease, "1,5", "Please enter a number."},
        };
        for (const auto& [field, typed, message] : refused) {
            s.rig.prompter.clear();
            s.enter(field, typed);
            QCOMPARE(s.rig.prompter.notices(), QStringList{message});
            QVERIFY(*s.right().articulation == ZoneArticulation{});
            // The focus is on the field, its text chosen for typing over.
            QCOMPARE(s.editor->focusWidget(), s.field(field));
            QCOMPARE(static_cast<QLineEdit*>(s.field(field))->selectedText(), QString(typed));
        }
        // Every field refuses a value far outside its range with its own range's message.
        for (const ArticulationControl& f : tonvero::articulationControls()) {
            s.rig.prompter.clear();
            s.enter(f.id, "1e9");
            // (Integral fields take no exponent: 1e9 is no integer to them.)
            const QString message = f.unit.integral() ? DataExchange::kEnterInteger : f.unit.rangeMessage();
            QCOMPARE(s.rig.prompter.notices(), QStringList{message});
            QVERIFY2(*s.right().articulation == ZoneArticulation{}, f.label);
        }
        // The limits a message names are taken.
        s.rig.prompter.clear();
        s.enter(id::kVolumeDelay, "17.96");
        s.enter(id::kModLfoFrequency, "0.000792");
        s.enter(id::kFilterCutoff, "19.45");
        QVERIFY(s.rig.prompter.notices().isEmpty());
        QCOMPARE(s.right().articulation->volumeEnvelope.delay, 5000);
        QCOMPARE(s.right().articulation->modulationLfo.frequency, -16000);
        QCOMPARE(s.right().articulation->filterCutoff, 1500);
    }

    void theVelocityRangeKeepsItsLowEndAtOrBelowItsHighEnd() {
        Session s;
        s.turnOn();
        s.enter(id::kVelocityHigh, "50");
        s.enter(id::kVelocityLow, "60");
        QCOMPARE(s.rig.prompter.notices(), QStringList{"Please enter an integer between 0 and 50."});
        QCOMPARE(s.right().articulation->velocityLow, 0);
        s.enter(id::kVelocityLow, "50");
        s.enter(id::kVelocityHigh, "49");
        QCOMPARE(s.rig.prompter.notices().last(), QString("Please enter an integer between 50 and 127."));
        QCOMPARE(s.right().articulation->velocityLow, 50);
        QCOMPARE(s.right().articulation->velocityHigh, 50);
    }

    void tailOnReleaseAndTheStereoLink() {
        Session s;
        auto* link = static_cast<QLabel*>(s.field(id::kLinkedTo));
        s.turnOn();
        EditorRig::click(s.field(id::kTailOnRelease));
        QVERIFY(s.right().articulation->tailOnRelease);
        QCOMPARE(link->text(), QString("Linked to: none"));
        for (const auto& [linked, shown] : {std::pair{0, "Linked to: /w/left.wav"}, {7, "Linked to: none"}}) {
            {
                EngineLock lock(s.rig.engine().mutex);
                s.right().articulation->linkedZone = linked;
            }
            s.chooseSound("/w/right.wav");
            QCOMPARE(link->text(), QString(shown));
        }
        QVERIFY(static_cast<QCheckBox*>(s.field(id::kTailOnRelease))->isChecked());
    }

    void aValueIsTakenOnTabOrEnterOrWhenTheDialogClosesNotAtEachKeystroke() {
        Session s;
        s.turnOn();
        s.editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(s.editor.get()));
        const ZoneArticulation& a = *s.right().articulation;
        const auto typeInto = [&s](int field, const char* keys) {
            auto* edit = static_cast<QLineEdit*>(s.field(field));
            edit->setFocus(Qt::TabFocusReason);
            edit->selectAll();
            QTest::keyClicks(edit, keys);
            return edit;
        };
        QLineEdit* attack = typeInto(id::kVolumeAttack, "0.5");
        QCOMPARE(a.volumeEnvelope.attack, -12000);
        QTest::keyClick(attack, Qt::Key_Tab);
        QCOMPARE(a.volumeEnvelope.attack, -1200);
        QCOMPARE(s.editor->m_envelope->envelope().attack, -1200);
        // Enter takes the value and goes on to press Test, the default button.
        const int32_t testNote = tonvero::editorPreviewId;
        QLineEdit* decay = typeInto(id::kVolumeDecay, "2.0");
        QTest::keyClick(decay, Qt::Key_Return);
        QCOMPARE(a.volumeEnvelope.decay, 1200);
        QCOMPARE(decay->text(), QString("2"));  // shown again in its own form
        QVERIFY(tonvero::editorPreviewId > testNote);
        // A number half typed: refused, the focus kept on it, nothing stored, no Test.
        const int32_t afterTest = tonvero::editorPreviewId;
        QLineEdit* pan = typeInto(id::kPan, "-");
        QTest::keyClick(pan, Qt::Key_Return);
        QCOMPARE(s.rig.prompter.notices(), QStringList{"Please enter a number."});
        QCOMPARE(s.editor->focusWidget(), pan);
        QCOMPARE(a.pan, 0);
        QCOMPARE(tonvero::editorPreviewId, afterTest);
        // Mended and left for another field, typed into as the dialog closes: both kept.
        pan->setText("-20");
        typeInto(id::kVolumeRelease, "3");
        QCOMPARE(a.pan, -200);
        s.editor->close();
        QCOMPARE(a.volumeEnvelope.release, 1902);
        QCOMPARE(s.rig.prompter.notices().size(), 1);
    }

    void afterADeletionThePanelShowsTheSoundItsEditsReach() {
        Session s;
        s.turnOn();
        s.enter(id::kVolumeAttack, "0.5");
        s.rig.prompter.answerYes(true);
        EditorRig::click(s.field(D::kDeleteSound));
        QCOMPARE(s.editor->m_soundList->currentText(), QString("/w/left.wav"));
        // The left sound has no articulation: the panel says so, and its fields take nothing.
        QVERIFY(!static_cast<QCheckBox*>(s.field(id::kArticulation))->isChecked());
        QCOMPARE(EditorRig::text(s.field(id::kVolumeAttack)), QString("0"));
        s.enter(id::kVolumeAttack, "1");
        QVERIFY(!s.left().articulation);
        // Deleting the Instrument leaves nothing chosen.
        s.rig.prompter.answerYes(true);
        EditorRig::click(s.field(D::kDeleteInstrument));
        QVERIFY(!s.field(id::kArticulation)->isEnabled());
        QVERIFY(s.rig.prompter.notices().isEmpty());
    }
};

QTEST_MAIN(ArticulationPanelTest)
#include "ArticulationPanel_test.moc"
