// The Instrument Editor's sounds and fields: importing WAV files written by
// the test (every refusal and notice in its order), the fields of a new
// sound, deleting a sound, each field stored into its own bank member, the
// fading conversion and the checks of the data exchange.

#include "EditorRig.h"
#include "bank/WaveImport.h"
#include "editor/DataExchange.h"

#include <QTest>

using tonvero::CInstrumentEditorDlg;
using tonvero::DataExchange;
using tonvero::EngineLock;
using tonvero::Instrument;
using tonvero::ScriptedPrompter;
using tonvero::Wave;
using tonvero::Zone;
using tonvero::test::EditorRig;
using tonvero::test::WavWriter;
using D = CInstrumentEditorDlg;

namespace {

// An editor on program 0 with one empty Instrument, "Piano", chosen.
struct Session {
    EditorRig rig;
    std::unique_ptr<CInstrumentEditorDlg> editor;
    Session() {
        rig.addInstrument("Piano");
        editor = rig.openEditor();
    }
    Instrument& piano() { return rig.instrument(0); }
    Zone& zone(int i) { return *piano().zones[i]; }
    QWidget* field(int id) { return editor->control(id); }
};

// Every bank value a field stands for, as text, to see which one changed.
QStringList bankValues(const Instrument& inst, const Zone& zone) {
    const Wave& w = *zone.wave;
    return {QString::number(zone.rangeStart), QString::number(zone.rangeEnd),    QString::number(zone.basicNote),
            QString::number(w.frequency),     QString::number(w.looped),         QString::number(w.loopBegin),
            QString::number(w.loopEnd),       QString::number(w.holdPos),        QString::number(inst.sustainFading),
            QString::number(inst.loopFading), QString::number(inst.cutoffFading)};
}

}  // namespace

class SoundsTest : public QObject {
    Q_OBJECT
private slots:
    void newSoundIsSelectedAndShowsItsDefaults() {
        Session s;
        const QString file = s.rig.wav16Mono("tone.wav", {100, -200, 300}, 32000);
        s.rig.insertSound(*s.editor, file);
        QVERIFY(s.rig.prompter.notices().isEmpty());
        // The sound is named by its file's name; the full path is the entry's tip.
        QCOMPARE(EditorRig::entries(s.editor->m_soundList), QStringList{"tone.wav"});
        QCOMPARE(s.editor->m_soundList->currentText(), QString("tone.wav"));
        QCOMPARE(s.editor->m_soundList->toolTip(), file);
        // 0, 120, 60, the rate, unchecked, 0, 0, 0, and the new Instrument's fadings.
        QCOMPARE(EditorRig::fields(*s.editor),
                 (QStringList{"0", "120", "60", "32000", "unchecked", "0", "0", "0", "0.5", "0.25", "0"}));
        // The open dialog asked for sound files.
        const auto& shown = s.rig.prompter.shown();
        QCOMPARE(shown.back().kind, ScriptedPrompter::Shown::OpenDialog);
        QCOMPARE(shown.back().text, D::kWaveFilter);
        QCOMPARE(shown.back().initialName, QString("*.wav"));
        // A 16-bit mono file is used exactly as it is.
        QCOMPARE(s.piano().zones.count(), 1);
        const Wave& w = *s.zone(0).wave;
        QCOMPARE(w.samples, (std::vector<int16_t>{100, -200, 300}));
        QCOMPARE(QString::fromStdString(w.name), QString("tone.wav"));
        QCOMPARE(s.zone(0).rangeEnd, 120);
    }

    void stereoEightBitFileGivesBothNoticesInOrderAndOneConversion() {
        Session s;
        // Frames (L, R): (200, 100) sums to (300 - 256) x 256; (128, 128) to 0.
        const QString file = s.rig.writeWav("stereo8.wav", WavWriter::pcm8({200, 100, 128, 128, 100, 120}, 2, 11025));
        s.rig.insertSound(*s.editor, file);
        QCOMPARE(s.rig.prompter.notices(), (QStringList{D::kStereoNotice, D::k8BitNotice}));
        const Wave& w = *s.zone(0).wave;
        QCOMPARE(w.samples, (std::vector<int16_t>{11264, 0, -9216}));
        QCOMPARE(w.format.channels, uint16_t{1});
        QCOMPARE(w.format.bitsPerSample, uint16_t{16});
        QCOMPARE(EditorRig::text(s.field(D::kFrequency)), QString("11025"));
    }

    void eachLoneConversionHasItsOwnNotice() {
        Session s;
        s.rig.insertSound(*s.editor, s.rig.writeWav("mono8.wav", WavWriter::pcm8({0, 128, 255}, 1, 8000)));
        QCOMPARE(s.rig.prompter.notices(), QStringList{D::k8BitNotice});
        QCOMPARE(s.zone(0).wave->samples, (std::vector<int16_t>{-32768, 0, 32512}));
        s.rig.prompter.clear();
        s.rig.insertSound(*s.editor, s.rig.writeWav("stereo16.wav", WavWriter::pcm16({10000, 10000, -5, 5}, 2, 8000)));
        QCOMPARE(s.rig.prompter.notices(), QStringList{D::kStereoNotice});
        QCOMPARE(s.zone(1).wave->samples, (std::vector<int16_t>{20000, 0}));
    }

    void aSecondSoundOfTheSameNameIsRefusedWhereverItsFileLies() {
        Session s;
        const QString file = s.rig.wav16Mono("a/twice.wav", {1, 2});
        s.rig.insertSound(*s.editor, file);
        s.rig.insertSound(*s.editor, file);
        s.rig.insertSound(*s.editor, s.rig.wav16Mono("b/twice.wav", {3, 4}));
        QCOMPARE(s.rig.prompter.notices(), (QStringList{D::kDuplicateWave, D::kDuplicateWave}));
        QCOMPARE(s.piano().zones.count(), 1);
        s.rig.insertSound(*s.editor, s.rig.wav16Mono("b/once.wav", {3, 4}));
        QCOMPARE(s.piano().zones.count(), 2);
        QCOMPARE(s.editor->m_soundList->count(), 2);
    }

    void refusedFilesLeaveTheBankAndTheListsAsTheyWere() {
        Session s;
        const QString junk = s.rig.writeWav("junk.wav", {'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v'});
        const QString missing = s.rig.path("nowhere.wav");
        for (const QString& file : {junk, missing}) s.rig.insertSound(*s.editor, file);
        EditorRig::click(s.field(D::kInsertSound));  // the file dialog cancelled
        const QStringList notices = s.rig.prompter.notices();
        QCOMPARE(notices.size(), 2);
        QVERIFY(notices[0].startsWith(D::kUnreadableWave + "\njunk.wav "));  // and why
        QCOMPARE(notices[1], D::kFileNotFound);
        QCOMPARE(s.piano().zones.count(), 0);
        QCOMPARE(s.editor->m_soundList->count(), 0);
        QCOMPARE(EditorRig::fields(*s.editor).first(), QString("0"));
    }

    void aFileDeepInAFolderTreeImportsAndIsFoundByItsFullPath() {
        Session s;
        QString name;
        for (int level = 0; level < 12; ++level) name += QString("folder-level-%1-with-a-long-name/").arg(level);
        name += "sound.wav";
        const QString file = s.rig.wav16Mono(name, {5, 6, 7}, 44100);
        QVERIFY(file.size() > 300);
        s.rig.insertSound(*s.editor, file);
        s.rig.insertSound(*s.editor, s.rig.wav16Mono("short.wav", {1}, 8000));
        QVERIFY(s.rig.prompter.notices().isEmpty());
        QCOMPARE(QString::fromStdString(s.zone(0).wave->name), QString("sound.wav"));
        QVERIFY(EditorRig::entries(s.editor->m_soundList).contains("sound.wav"));
        // Chosen again, it is found by its name and shows its own values; its tip is the whole path.
        EditorRig::chooseText(s.editor->m_soundList, "sound.wav");
        QCOMPARE(s.editor->m_soundList->toolTip(), file);
        QCOMPARE(EditorRig::text(s.field(D::kFrequency)), QString("44100"));
        s.rig.insertSound(*s.editor, file);
        QCOMPARE(s.rig.prompter.notices(), QStringList{D::kDuplicateWave});
    }

    void deletingASoundKeepsTheFieldsAndSelectsTheFirstRemaining() {
        Session s;
        const QString a = s.rig.wav16Mono("a.wav", {1}, 11025);
        const QString b = s.rig.wav16Mono("b.wav", {2}, 22050);
        s.rig.insertSound(*s.editor, a);
        s.rig.insertSound(*s.editor, b);
        QCOMPARE(s.editor->m_soundList->currentText(), QString("b.wav"));

        s.rig.prompter.answerYes(false);
        EditorRig::click(s.field(D::kDeleteSound));
        QCOMPARE(s.piano().zones.count(), 2);

        s.rig.prompter.answerYes(true);
        EditorRig::click(s.field(D::kDeleteSound));
        QCOMPARE(s.piano().zones.count(), 1);
        QCOMPARE(QString::fromStdString(s.zone(0).wave->name), QString("a.wav"));
        QCOMPARE(EditorRig::entries(s.editor->m_soundList), QStringList{"a.wav"});
        QCOMPARE(s.editor->m_soundList->currentText(), QString("a.wav"));
        QCOMPARE(EditorRig::text(s.field(D::kFrequency)), QString("22050"));  // still b's

        s.rig.prompter.answerYes(true);
        EditorRig::click(s.field(D::kDeleteSound));
        QCOMPARE(s.piano().zones.count(), 0);
        QCOMPARE(s.editor->m_soundList->count(), 0);
        EditorRig::click(s.field(D::kDeleteSound));  // empty list: no question
        QStringList questions;
        for (const auto& shown : s.rig.prompter.shown())
            if (shown.kind == ScriptedPrompter::Shown::Question) questions << shown.text;
        QCOMPARE(questions, QStringList(3, D::kDeleteSoundQuestion));
    }

    void everyFieldIsStoredIntoItsOwnMemberAndNoOther() {
        Session s;
        s.rig.insertSound(*s.editor, s.rig.wav16Mono("f.wav", {0, 0, 0, 0}));
        const struct {
            int id;
            const char* typed;
            int member;  // index in bankValues
            const char* stored;
        } cases[] = {
            {D::kRangeStart, "12", 0, "12"},      {D::kRangeEnd, "90", 1, "90"},
            {D::kBasicNote, "64", 2, "64"},       {D::kFrequency, "44100", 3, "44100"},
            {D::kLoopBegin, "1", 5, "1"},         {D::kLoopEnd, "3", 6, "3"},
            {D::kHoldPos, "2", 7, "2"},           {D::kSustainFading, "2", 8, "131072"},
            {D::kLoopFading, "0.125", 9, "8192"}, {D::kCutoffFading, "1.5", 10, "98304"},
        };
        for (const auto& c : cases) {
            QStringList expected = bankValues(s.piano(), s.zone(0));
            expected[c.member] = c.stored;
            EditorRig::type(s.field(c.id), c.typed);
            QCOMPARE(bankValues(s.piano(), s.zone(0)), expected);
        }
        QStringList expected = bankValues(s.piano(), s.zone(0));
        expected[4] = "1";
        EditorRig::click(s.field(D::kLooped));
        QCOMPARE(bankValues(s.piano(), s.zone(0)), expected);
        QVERIFY(s.rig.prompter.notices().isEmpty());
    }

    void fadingShowsItsStoredFormWhenTheSoundIsLoadedAgain() {
        Session s;
        const QString file = s.rig.wav16Mono("fade.wav", {0});
        s.rig.insertSound(*s.editor, file);
        EditorRig::type(s.field(D::kLoopFading), "0.3");
        QCOMPARE(s.piano().loopFading, 19660u);
        QCOMPARE(EditorRig::text(s.field(D::kLoopFading)), QString("0.3"));
        EditorRig::chooseText(s.editor->m_soundList, "fade.wav");
        QCOMPARE(EditorRig::text(s.field(D::kLoopFading)), QString("0.299988"));
        QCOMPARE(CInstrumentEditorDlg::storedFading(0.3f), 19660u);
        QCOMPARE(CInstrumentEditorDlg::storedFading(1000.0f), 65536000u);
    }

    void fadingOf1000IsAcceptedAndValuesOutsideAreRefused() {
        Session s;
        s.rig.insertSound(*s.editor, s.rig.wav16Mono("range.wav", {0}));
        EditorRig::type(s.field(D::kSustainFading), "1000");
        QCOMPARE(s.piano().sustainFading, 65536000u);
        EditorRig::type(s.field(D::kSustainFading), "1000.001");
        EditorRig::type(s.field(D::kSustainFading), "-0.5");
        QCOMPARE(s.piano().sustainFading, 65536000u);
        QCOMPARE(s.rig.prompter.notices(), QStringList(2, "Please enter a number between 0 and 1000."));
        QCOMPARE(s.editor->focusWidget(), s.field(D::kSustainFading));
    }

    void aFailingFieldStopsTheSaveAndEachFieldStoresItsLastGoodValue() {
        Session s;
        s.rig.insertSound(*s.editor, s.rig.wav16Mono("check.wav", {0}));
        // Clearing a field brings the message at once; its member keeps 0.
        EditorRig::type(s.field(D::kRangeEnd), "");
        QCOMPARE(s.rig.prompter.notices(), QStringList{DataExchange::kEnterInteger});
        QCOMPARE(s.editor->focusWidget(), s.field(D::kRangeEnd));
        QCOMPARE(s.zone(0).rangeEnd, 120);
        // While Range End fails, a later field is not read: Hold Pos stores
        // the value its member last had, and the message names Range End again.
        EditorRig::type(s.field(D::kHoldPos), "77");
        QCOMPARE(s.zone(0).wave->holdPos, 0);
        QCOMPARE(s.rig.prompter.notices(), QStringList(2, DataExchange::kEnterInteger));
        // An earlier field is read before the failure and stores its new value.
        EditorRig::type(s.field(D::kRangeStart), "5");
        QCOMPARE(s.zone(0).rangeStart, 5);
        EditorRig::type(s.field(D::kRangeEnd), "100");
        QCOMPARE(s.zone(0).rangeEnd, 100);
        EditorRig::type(s.field(D::kHoldPos), "78");
        QCOMPARE(s.zone(0).wave->holdPos, 78);
        // A minus sign is refused where the bank keeps an unsigned value.
        EditorRig::type(s.field(D::kFrequency), "-1");
        QCOMPARE(s.zone(0).wave->frequency, 22050u);
        QCOMPARE(s.rig.prompter.notices().last(), DataExchange::kEnterUnsigned);
    }
};

QTEST_MAIN(SoundsTest)
#include "Sounds_test.moc"
