// Pictures of both editors with a real sound loaded: a plucked nylon string,
// synthesised here (Karplus-Strong, seeded), imported through the Instrument
// Editor like any WAV file; then the same sound with articulation, its
// volume envelope set in the fields and by a drag, and a key held on the
// keyboard. They go to TONVERO_SCREENSHOT_DIR when it is set
// (docs/ for the README), otherwise beside the test.

#include "EditorRig.h"
#include "editor/ArticulationControl.h"
#include "editor/ArticulationPanel.h"
#include "editor/CLoopPointEditorDlg.h"
#include "editor/EnvelopeView.h"
#include "editor/KeyboardStrip.h"

#include <QImage>
#include <QTest>

#include <cmath>
#include <random>

using tonvero::CInstrumentEditorDlg;
using tonvero::CLoopPointEditorDlg;
using tonvero::test::EditorRig;
using D = CInstrumentEditorDlg;

namespace {

// One second of a plucked string at 261.6 Hz (middle C), 44100 Hz.
std::vector<int16_t> pluckedString() {
    constexpr int kRate = 44100;
    const int period = static_cast<int>(std::lround(kRate / 261.63));
    std::mt19937 random(20240611);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::vector<double> line(static_cast<size_t>(period));
    for (double& v : line) v = noise(random);
    std::vector<double> sound(kRate);
    double previous = 0;
    double peak = 1e-9;
    for (size_t i = 0; i < sound.size(); ++i) {
        const size_t at = i % line.size();
        const double v = line[at];
        line[at] = 0.999 * 0.5 * (v + previous);
        previous = v;
        sound[i] = v * std::min(1.0, static_cast<double>(i) / 60.0);
        peak = std::max(peak, std::fabs(sound[i]));
    }
    // Loud, as a recorded sample would be: the peak at 90 % of full scale.
    std::vector<int16_t> out(sound.size());
    for (size_t i = 0; i < sound.size(); ++i) out[i] = static_cast<int16_t>(std::lround(sound[i] / peak * 29500.0));
    return out;
}

QString outputPath(const QString& name) {
    const QString dir = qEnvironmentVariable("TONVERO_SCREENSHOT_DIR");
    return dir.isEmpty() ? name : QDir(dir).filePath(name);
}

}  // namespace

class ScreenshotsTest : public QObject {
    Q_OBJECT
private slots:
    void bothEditorsWithARealSound() {
        EditorRig rig;
        auto editor = rig.openEditor();
        EditorRig::choose(editor->m_programList, 24);
        rig.insertInstrument(*editor, "Nylon Guitar");
        // A fixed, readable folder, so the picture shows the same path every time.
        QDir().mkpath("/tmp/tonvero-samples");
        const QString file = "/tmp/tonvero-samples/nylon-guitar-C4.wav";
        QVERIFY(tonvero::test::writeFileBytes(file.toStdString(),
                                              tonvero::test::WavWriter::pcm16(pluckedString(), 1, 44100)));
        rig.insertSound(*editor, file);
        QVERIFY(rig.prompter.notices().isEmpty());
        EditorRig::type(editor->control(D::kRangeStart), "48");
        EditorRig::type(editor->control(D::kRangeEnd), "72");
        EditorRig::click(editor->control(D::kLooped));
        EditorRig::type(editor->control(D::kLoopBegin), "8000");
        EditorRig::type(editor->control(D::kLoopEnd), "8337");
        EditorRig::type(editor->control(D::kHoldPos), "30000");
        EditorRig::type(editor->control(D::kSustainFading), "0.75");

        const QImage editorImage = editor->grab().toImage();
        QVERIFY(!editorImage.isNull());
        QCOMPARE(editorImage.size(), editor->size());
        QVERIFY(editorImage.save(outputPath("instrument-editor.png")));

        QImage loopImage;
        rig.prompter.answerDialog([&loopImage](QDialog& dialog) {
            auto& d = static_cast<CLoopPointEditorDlg&>(dialog);
            d.show();
            d.m_zoomSlider->setValue(2);
            QTest::mouseClick(d.control(CLoopPointEditorDlg::kLoopStartRadio), Qt::LeftButton);
            loopImage = d.grab().toImage();
            dialog.reject();
            return dialog.result();
        });
        EditorRig::click(editor->control(D::kLoopEdit));
        QVERIFY(!loopImage.isNull());
        QVERIFY(loopImage.save(outputPath("loop-point-editor.png")));

        // Articulation: a guitar's envelope, a little filter and pan.
        namespace id = tonvero::articulation_id;
        EditorRig::click(editor->control(id::kArticulation));
        const auto enter = [&editor](int field, const QString& text) {
            EditorRig::type(editor->control(field), text);
            editor->m_articulation->onFieldCommitted(field);
        };
        enter(id::kVolumeDelay, "0.01");
        enter(id::kVolumeAttack, "0.005");
        enter(id::kVolumeHold, "0.05");
        enter(id::kVolumeDecay, "4");
        enter(id::kVolumeRelease, "0.6");
        enter(id::kFilterCutoff, "6000");
        enter(id::kPan, "-10");
        enter(id::kVibratoDelay, "0.5");
        enter(id::kVibratoToPitch, "12");
        // The sustain level set by dragging the decay's end down.
        auto* curve = editor->m_envelope;
        const tonvero::PixelPoint decayEnd = curve->geometry().handlePoint(tonvero::EnvelopeHandle::DecayEnd);
        QTest::mousePress(curve, Qt::LeftButton, {}, QPoint(decayEnd.x, decayEnd.y));
        QTest::mouseMove(curve, QPoint(decayEnd.x, curve->geometry().levelY(200)));
        QTest::mouseRelease(curve, Qt::LeftButton, {}, QPoint(decayEnd.x, curve->geometry().levelY(200)));
        QVERIFY(rig.prompter.notices().isEmpty());
        // Middle C held, near the front of the key.
        auto* keys = editor->m_keyboard;
        const tonvero::PixelRect c4 = keys->geometry().keyRect(60);
        QTest::mousePress(keys, Qt::LeftButton, {}, QPoint((c4.left + c4.right) / 2, c4.bottom - 12));
        QVERIFY(keys->noteId() > 0);

        const QImage articulationImage = editor->grab().toImage();
        QTest::mouseRelease(keys, Qt::LeftButton, {}, QPoint((c4.left + c4.right) / 2, c4.bottom - 12));
        QVERIFY(articulationImage.save(outputPath("instrument-editor-articulation.png")));
    }
};

QTEST_MAIN(ScreenshotsTest)
#include "Screenshots_test.moc"
