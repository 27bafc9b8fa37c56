// Importing any sample file into the Instrument Editor, with its pitch and
// loop found: files written here through libsndfile in four formats, a
// stereo file as a linked pair, Find Pitch and Find Loop as steps of the
// bank's history.

#include "EditorRig.h"
#include "editor/BankHistory.h"

#include <QDir>
#include <QLabel>
#include <QTest>

#include <sndfile.h>

#include <cmath>
#include <numbers>

using tonvero::bankHistory;
using tonvero::CInstrumentEditorDlg;
using tonvero::Instrument;
using tonvero::Wave;
using tonvero::Zone;
using tonvero::test::EditorRig;
using D = CInstrumentEditorDlg;

namespace {

// A tone of three harmonics at `hz`, one second, in every channel.
std::vector<double> tone(double hz, int rate, int channels, int frames) {
    std::vector<double> out(static_cast<size_t>(frames) * static_cast<size_t>(channels));
    for (int i = 0; i < frames; ++i) {
        const double t = 2 * std::numbers::pi * hz * i / rate;
        const double v = 0.5 * std::sin(t) + 0.2 * std::sin(2 * t) + 0.1 * std::sin(3 * t);
        for (int c = 0; c < channels; ++c) out[static_cast<size_t>(i * channels + c)] = c == 0 ? v : 0.5 * v;
    }
    return out;
}

QString writeSound(const EditorRig& rig, const QString& name, int format, int channels, double hz) {
    const QString file = rig.path(name);
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = channels;
    info.format = format;
    SNDFILE* out = sf_open(file.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!out) return {};
    const std::vector<double> samples = tone(hz, 44100, channels, 44100);
    sf_writef_double(out, samples.data(), 44100);
    sf_close(out);
    return file;
}

// The pitch a Zone plays at its basic note, in cents from that note's own.
double centsOffAtBasicNote(const Zone& zone, double hz) {
    const double heard = hz * zone.wave->frequency / 44100.0;
    const double wanted = 440.0 * std::pow(2.0, (zone.basicNote - 69) / 12.0);
    return 1200 * std::log2(heard / wanted);
}

struct Session {
    EditorRig rig;
    std::unique_ptr<CInstrumentEditorDlg> editor;
    Session() {
        bankHistory().clear();
        rig.addInstrument("Piano");
        editor = rig.openEditor();
    }
    ~Session() { bankHistory().clear(); }
    Instrument& piano() { return rig.instrument(0); }
};

}  // namespace

class SampleImportTest : public QObject {
    Q_OBJECT
private slots:
    void deepFloatAiffAndFlacFilesImportInTuneWithNoteNames() {
        Session s;
        const struct {
            const char* name;
            int format;
            double hz;
        } files[] = {
            {"deep.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 440.0},
            {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 261.63},
            {"tone.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1396.9},
            {"tone.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 98.0},
        };
        for (const auto& f : files) {
            const QString file = writeSound(s.rig, f.name, f.format, 1, f.hz);
            QVERIFY(!file.isEmpty());
            s.rig.insertSound(*s.editor, file);
        }
        QVERIFY(s.rig.prompter.notices().isEmpty());
        QCOMPARE(s.piano().zones.count(), 4);
        const int expectedKeys[] = {69, 60, 89, 43};
        for (int z = 0; z < 4; ++z) {
            const Zone& zone = *s.piano().zones[z];
            QCOMPARE(QString::fromStdString(zone.wave->name), QString(files[z].name));
            QCOMPARE(zone.wave->samples.size(), size_t{44100});
            QCOMPARE(zone.basicNote, expectedKeys[z]);
            QVERIFY2(std::abs(centsOffAtBasicNote(zone, files[z].hz)) < 10, files[z].name);
        }
        // The last one is shown, its note named beside the field: "89 (F6)" for the AIFF tone's key.
        s.editor->m_soundList->setCurrentIndex(s.editor->m_soundList->findText("tone.aiff"));
        s.editor->onSoundSelected();
        QCOMPARE(EditorRig::text(s.editor->control(D::kBasicNote)), QString("89"));
        QCOMPARE(static_cast<QLabel*>(s.editor->control(D::kBasicNoteName))->text(), QString("F6"));
        // Undo takes each import out again.
        while (bankHistory().canUndo()) bankHistory().undo();
        QCOMPARE(s.piano().zones.count(), 0);
    }

    void aStereoFileBecomesALinkedPairOrOneMonoSound() {
        Session s;
        const QString file = writeSound(s.rig, "pair.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 440.0);
        s.rig.prompter.answerYes(true);
        s.rig.insertSound(*s.editor, file);
        QCOMPARE(s.piano().zones.count(), 2);
        const Zone& left = *s.piano().zones[0];
        const Zone& right = *s.piano().zones[1];
        QCOMPARE(QString::fromStdString(left.wave->name), QString("pair.flac (left)"));
        QVERIFY(left.articulation && right.articulation);
        QCOMPARE(left.articulation->linkedZone, 1);
        QCOMPARE(right.articulation->linkedZone, 0);
        QVERIFY(left.articulation->pan < 0 && right.articulation->pan > 0);
        QCOMPARE(left.basicNote, 69);
        QCOMPARE(right.basicNote, 69);
        // Each side its own channel: the right one was written half as loud.
        QVERIFY(std::abs(2 * std::abs(right.wave->samples[1000]) - std::abs(left.wave->samples[1000])) <= 2);
        QCOMPARE(bankHistory().undoText(), QString("Import pair.flac"));
        bankHistory().undo();
        QCOMPARE(s.piano().zones.count(), 0);

        s.rig.prompter.answerYes(false);
        s.rig.insertSound(*s.editor, writeSound(s.rig, "mixed.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, 440.0));
        QCOMPARE(s.piano().zones.count(), 1);
        QVERIFY(!s.piano().zones[0]->articulation);
    }

    void findLoopMakesASeamlessLoopAndACrossfadeIsUndone() {
        Session s;
        s.rig.insertSound(*s.editor, writeSound(s.rig, "held.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 1, 277.18));
        Wave& wave = *s.piano().zones[0]->wave;
        QCOMPARE(wave.looped, 0);
        EditorRig::click(s.editor->control(D::kFindLoop));
        QCOMPARE(wave.looped, 1);
        QVERIFY(wave.loopEnd > wave.loopBegin);
        // The wrap from the loop's end to its start is no larger a step than the
        // waveform's own (within 2 %: the period is not a whole number of samples).
        int largest = 0;
        for (size_t i = 1; i < wave.samples.size(); ++i)
            largest = std::max(largest, std::abs(wave.samples[i] - wave.samples[i - 1]));
        const int wrap = std::abs(wave.samples[static_cast<size_t>(wave.loopBegin)] -
                                  wave.samples[static_cast<size_t>(wave.loopEnd)]);
        QVERIFY2(wrap <= largest * 1.02,
                 qPrintable(QString("%1 %2 %3 %4").arg(wrap).arg(largest).arg(wave.loopBegin).arg(wave.loopEnd)));
        QCOMPARE(EditorRig::text(s.editor->control(D::kLoopBegin)), QString::number(wave.loopBegin));
        QVERIFY(bankHistory().undoText().startsWith("Find Loop"));
        bankHistory().undo();
        QCOMPARE(wave.looped, 0);

        // Noise matches poorly: the crossfade asked for goes into a copy, and its undo brings back the samples.
        std::vector<int16_t> noise(20000);
        uint32_t state = 1;
        for (int16_t& v : noise) {
            state = state * 1664525u + 1013904223u;
            v = static_cast<int16_t>(static_cast<int32_t>(state >> 16) - 32768) / 4;
        }
        s.rig.insertSound(*s.editor, s.rig.wav16Mono("noise.wav", noise, 44100));
        Wave& noisy = *s.piano().zones[1]->wave;
        const tonvero::SampleData original = noisy.samples;
        s.rig.prompter.answerYes(true);
        EditorRig::click(s.editor->control(D::kFindLoop));
        QVERIFY(!(noisy.samples == original));
        QVERIFY(original == noise);  // the old samples were not written over
        bankHistory().undo();
        QVERIFY(noisy.samples == noise);
    }
};

QTEST_MAIN(SampleImportTest)
#include "SampleImport_test.moc"
