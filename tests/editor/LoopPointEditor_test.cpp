// The Loop Point Editor as a widget: opening, choosing a marker, zoom,
// clicks, the scroll bar, Test and Stop, and OK and Cancel as the Instrument
// Editor's Loop Edit runs them.

#include "EditorRig.h"
#include "editor/CLoopPointEditorDlg.h"
#include "editor/PreviewNoteIds.h"

#include <QImage>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QTest>

using tonvero::CInstrumentEditorDlg;
using tonvero::CLoopPointEditorDlg;
using tonvero::EngineLock;
using tonvero::LoopEditorGeometry;
using tonvero::Wave;
using tonvero::test::EditorRig;
using L = CLoopPointEditorDlg;

namespace {

constexpr uint32_t kSamples = 100000;

// A rig with one Instrument whose one sound has 100000 samples, loop 5000..20000.
struct LoopSession {
    EditorRig rig;
    Wave* wave = nullptr;
    LoopSession() {
        rig.addInstrument("Pad", {"/w/pad.wav"}, kSamples);
        wave = rig.instrument(0).zones[0]->wave.get();
        wave->loopBegin = 5000;
        wave->loopEnd = 20000;
    }
    // A Loop Point Editor on that sound, opened.
    std::unique_ptr<CLoopPointEditorDlg> open() {
        auto dialog = std::make_unique<CLoopPointEditorDlg>();
        dialog->m_wave = wave;
        dialog->m_instrument = &rig.instrument(0);
        dialog->m_zone = rig.instrument(0).zones[0];
        dialog->show();
        return dialog;
    }
};

QString shown(const CLoopPointEditorDlg& d, int id) { return EditorRig::text(d.control(id)); }
QPoint inArea(const CLoopPointEditorDlg& d, int dx, int dy = 5) {
    return {d.m_waveRect.left + dx, d.m_waveRect.top + dy};
}
bool hasColumn(CLoopPointEditorDlg& d, int x, const QColor& colour) {
    const QImage image = d.grab().toImage();
    return image.pixelColor(x, d.m_waveRect.top + 3) == colour;
}
int columns(CLoopPointEditorDlg& d, const QColor& colour) {
    const QImage image = d.grab().toImage();
    int count = 0;
    for (int x = d.m_waveRect.left; x < d.m_waveRect.right; ++x)
        if (image.pixelColor(x, d.m_waveRect.top + 3) == colour) ++count;
    return count;
}

}  // namespace

class LoopPointEditorTest : public QObject {
    Q_OBJECT
private slots:
    void opensWithNoMarkerAndIgnoresClicksUntilOneIsChosen() {
        LoopSession s;
        auto d = s.open();
        QCOMPARE(d->windowTitle(), QString("Loop Point Editor"));
        QCOMPARE(shown(*d, L::kLoopBeginEdit), QString("5000"));
        QCOMPARE(shown(*d, L::kLoopEndEdit), QString("20000"));
        QCOMPARE(d->m_savedLoopBegin, 5000);
        QCOMPARE(d->m_savedLoopEnd, 20000);
        QCOMPARE(d->m_markerMode, 0);
        QVERIFY(!static_cast<QRadioButton*>(d->control(L::kLoopStartRadio))->isChecked());
        QVERIFY(!static_cast<QRadioButton*>(d->control(L::kLoopEndRadio))->isChecked());
        // The area lies one pixel inside the frame.
        const QRect frame = d->control(L::kWaveFrame)->geometry();
        QCOMPARE(d->m_waveRect.left, frame.left() + 1);
        QCOMPARE(d->m_waveRect.right, frame.left() + frame.width() - 1);
        QCOMPARE(d->m_waveRect.bottom, frame.top() + frame.height() - 1);
        QCOMPARE(d->m_scrollBar->maximum(), 31001);
        QCOMPARE(d->m_scrollBar->pageStep(), 1000);
        QCOMPARE(d->m_zoomSlider->minimum(), 1);
        QCOMPARE(d->m_zoomSlider->maximum(), 20);
        QCOMPARE(d->m_zoomSlider->value(), 1);
        QCOMPARE(columns(*d, CLoopPointEditorDlg::kLoopBeginColour) + columns(*d, CLoopPointEditorDlg::kLoopEndColour),
                 0);
        QTest::mouseClick(d.get(), Qt::LeftButton, Qt::NoModifier, inArea(*d, 10));
        QCOMPARE(s.wave->loopBegin, 5000);
        QCOMPARE(s.wave->loopEnd, 20000);
    }

    void choosingLoopStartBringsTheMarkerToTheMiddle() {
        LoopSession s;
        auto d = s.open();
        const int width = d->m_waveRect.right - d->m_waveRect.left;
        QTest::mouseClick(d->control(L::kLoopStartRadio), Qt::LeftButton);
        QCOMPARE(d->m_markerMode, 1);
        QCOMPARE(d->m_firstSample, uint32_t(5000 - width / 2));
        QCOMPARE(d->m_scrollBar->value(), LoopEditorGeometry::thumbForSample(5000 - width / 2, kSamples));
        const int x = d->m_waveRect.left + width / 2;
        const QColor begin = CLoopPointEditorDlg::kLoopBeginColour, end = CLoopPointEditorDlg::kLoopEndColour;
        QVERIFY(hasColumn(*d, x, begin));
        QCOMPARE(columns(*d, begin), 2);  // the chosen marker is two columns wide
        // Loop End moves the view to 20000, its marker the chosen one.
        QTest::mouseClick(d->control(L::kLoopEndRadio), Qt::LeftButton);
        QCOMPARE(d->m_markerMode, 2);
        QCOMPARE(d->m_firstSample, uint32_t(20000 - width / 2));
        QVERIFY(hasColumn(*d, x, end));
        QCOMPARE(columns(*d, end), 2);
        // With both in view at zoom 20, both markers show, the loop region shaded between them.
        d->m_zoomSlider->setValue(20);
        d->m_firstSample = 0;
        s.wave->loopBegin = 20 * (width / 4);
        s.wave->loopEnd = 20 * (3 * width / 4);
        d->update();
        QCOMPARE(columns(*d, begin), 1);
        QCOMPARE(columns(*d, end), 2);
        const QImage image = d->grab().toImage();
        const int inside = d->m_waveRect.left + width / 2, outside = d->m_waveRect.left + width / 8;
        QCOMPARE(image.pixelColor(inside, d->m_waveRect.top + 3),
                 s.wave->looped ? QColor(255, 236, 170) : QColor(232, 232, 232));
        QCOMPARE(image.pixelColor(outside, d->m_waveRect.top + 3), d->palette().color(QPalette::Window));
    }

    void zoomChangesTheStepButNotTheFirstSample() {
        LoopSession s;
        auto d = s.open();
        QTest::mouseClick(d->control(L::kLoopStartRadio), Qt::LeftButton);
        const uint32_t first = d->m_firstSample;
        d->m_zoomSlider->setValue(4);
        QCOMPARE(d->m_samplesPerPixel, 4u);
        QCOMPARE(d->m_firstSample, first);
    }

    void aPlainLeftClickAtZoomFourPlacesTheMarker() {
        LoopSession s;
        auto d = s.open();
        QTest::mouseClick(d->control(L::kLoopStartRadio), Qt::LeftButton);
        d->m_zoomSlider->setValue(4);
        d->m_firstSample = 1000;
        QTest::mouseClick(d.get(), Qt::LeftButton, Qt::NoModifier, inArea(*d, 10));
        QCOMPARE(s.wave->loopBegin, 1040);
        QCOMPARE(d->m_loopBeginValue, 1040u);
        QCOMPARE(shown(*d, L::kLoopBeginEdit), QString("1040"));
        QVERIFY(hasColumn(*d, d->m_waveRect.left + 10, CLoopPointEditorDlg::kLoopBeginColour));
        // Shift, Ctrl, another button or a place outside the area change nothing.
        QTest::mouseClick(d.get(), Qt::LeftButton, Qt::ShiftModifier, inArea(*d, 20));
        QTest::mouseClick(d.get(), Qt::LeftButton, Qt::ControlModifier, inArea(*d, 20));
        QTest::mouseClick(d.get(), Qt::RightButton, Qt::NoModifier, inArea(*d, 20));
        QTest::mouseClick(d.get(), Qt::LeftButton, Qt::NoModifier, inArea(*d, -1));
        QTest::mouseClick(d.get(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(d->m_waveRect.left + 5, d->m_waveRect.bottom));
        QCOMPARE(s.wave->loopBegin, 1040);
        // Clicks are not checked against the Wave: a loop begin after the loop end is taken.
        QTest::mouseClick(d->control(L::kLoopEndRadio), Qt::LeftButton);
        d->m_firstSample = 0;
        QTest::mouseClick(d.get(), Qt::LeftButton, Qt::NoModifier, inArea(*d, 3));
        QCOMPARE(s.wave->loopEnd, 12);
        QCOMPARE(shown(*d, L::kLoopEndEdit), QString("12"));
        QCOMPARE(s.wave->loopBegin, 1040);
    }

    void draggingTheThumbTo16000ShowsSample50000() {
        LoopSession s;
        auto d = s.open();
        d->m_scrollBar->setSliderDown(true);
        d->m_scrollBar->setSliderPosition(16000);
        QCOMPARE(d->m_firstSample, 50000u);
        d->m_scrollBar->setSliderDown(false);
        QCOMPARE(d->m_firstSample, 50000u);
        QCOMPARE(d->m_scrollBar->value(), 16000);
    }

    void arrowsAndTroughStepAndArrowRightAtTheEndReachesTheCount() {
        LoopSession s;
        auto d = s.open();
        d->m_scrollBar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(d->m_firstSample, 20u);
        d->m_scrollBar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(d->m_firstSample, 220u);
        QCOMPARE(d->m_scrollBar->value(), LoopEditorGeometry::thumbForSample(220, kSamples));
        d->m_scrollBar->triggerAction(QAbstractSlider::SliderPageStepSub);
        d->m_scrollBar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(d->m_firstSample, 0u);
        // Home and end change nothing.
        d->m_scrollBar->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(d->m_firstSample, 0u);
        QCOMPARE(d->m_scrollBar->value(), 0);

        d->m_firstSample = kSamples - 5;
        d->m_scrollBar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(d->m_firstSample, kSamples);
        QCOMPARE(d->m_scrollBar->value(), 31001);
        // Only the zero line is left: one black row, nothing above or below it.
        const QImage image = d->grab().toImage();
        const int mid = d->geometry().zeroLineY();
        const int x = d->m_waveRect.left + 50;
        QCOMPARE(image.pixelColor(x, mid), QColor(Qt::black));
        QVERIFY(image.pixelColor(x, mid - 3) != QColor(Qt::black));
        QVERIFY(image.pixelColor(x, d->m_waveRect.top + 1) != QColor(Qt::black));
    }

    void testAndStopUseTheLoopEditorsOwnNoteId() {
        LoopSession s;
        auto d = s.open();
        tonvero::editorPreviewId = 0;
        EditorRig::click(d->control(L::kTest));
        const int32_t id = tonvero::loopEditorPreviewId;
        QVERIFY(id > 0);
        QCOMPARE(tonvero::editorPreviewId, 0);
        const auto playing = [&s, id] {
            EngineLock lock(s.rig.engine().mutex);
            for (const auto& v : s.rig.engine().voices)
                if (v.active && v.noteId == id) return true;
            return false;
        };
        QVERIFY(playing());
        EditorRig::click(d->control(L::kStop));
        QVERIFY(!playing());
        // Enter presses Test.
        QTest::keyClick(d.get(), Qt::Key_Return);
        QCOMPARE(tonvero::loopEditorPreviewId, id + 1);
    }

    void testPlaysTheLoopAsItIsNow() {
        LoopSession s;
        auto d = s.open();
        QTest::mouseClick(d->control(L::kLoopStartRadio), Qt::LeftButton);
        d->m_firstSample = 0;
        QTest::mouseClick(d.get(), Qt::LeftButton, Qt::NoModifier, inArea(*d, 30));
        {
            EngineLock lock(s.rig.engine().mutex);
            s.wave->looped = 1;
        }
        EditorRig::click(d->control(L::kTest));
        bool found = false;
        {
            EngineLock lock(s.rig.engine().mutex);
            for (const auto& m : s.rig.engine().custom.mixerVoices)
                if (m.active && m.wave == s.wave) {
                    QCOMPARE(m.loopBegin, 30);
                    found = true;
                }
        }
        QVERIFY(found);
    }

    void testWithoutAnInstrumentDoesNothing() {
        LoopSession s;
        CLoopPointEditorDlg d;
        d.m_wave = s.wave;
        d.show();
        tonvero::loopEditorPreviewId = 0;
        EditorRig::click(d.control(L::kTest));
        QCOMPARE(tonvero::loopEditorPreviewId, 0);
    }

    void okKeepsTheNewLoopPointsAndTheEditorShowsThem() {
        LoopSession s;
        auto editor = s.rig.openEditor();
        s.rig.prompter.answerDialog([](QDialog& dialog) {
            auto& d = static_cast<CLoopPointEditorDlg&>(dialog);
            d.show();
            QTest::mouseClick(d.control(L::kLoopEndRadio), Qt::LeftButton);
            d.m_firstSample = 30000;
            QTest::mouseClick(&d, Qt::LeftButton, Qt::NoModifier, inArea(d, 7));
            EditorRig::click(d.control(L::kOk));
            return d.result();
        });
        EditorRig::click(editor->control(CInstrumentEditorDlg::kLoopEdit));
        QCOMPARE(s.wave->loopEnd, 30007);
        QCOMPARE(s.wave->loopBegin, 5000);
        QCOMPARE(EditorRig::text(editor->control(CInstrumentEditorDlg::kLoopEnd)), QString("30007"));
        QCOMPARE(EditorRig::text(editor->control(CInstrumentEditorDlg::kLoopBegin)), QString("5000"));
    }

    void okWithUnchangedLoopPointsLeavesTheWaveAsItWas() {
        LoopSession s;
        auto editor = s.rig.openEditor();
        s.rig.prompter.answerDialog([](QDialog& dialog) {
            dialog.show();
            EditorRig::click(static_cast<CLoopPointEditorDlg&>(dialog).control(L::kOk));
            return dialog.result();
        });
        EditorRig::click(editor->control(CInstrumentEditorDlg::kLoopEdit));
        QCOMPARE(s.wave->loopBegin, 5000);
        QCOMPARE(s.wave->loopEnd, 20000);
    }

    void cancelRestoresTheLoopPointsTheWaveHadAtOpening() {
        LoopSession s;
        auto editor = s.rig.openEditor();
        bool changedAtOnce = false;
        s.rig.prompter.answerDialog([&s, &changedAtOnce](QDialog& dialog) {
            auto& d = static_cast<CLoopPointEditorDlg&>(dialog);
            d.show();
            QTest::mouseClick(d.control(L::kLoopStartRadio), Qt::LeftButton);
            QTest::mouseClick(&d, Qt::LeftButton, Qt::NoModifier, inArea(d, 1));
            QTest::mouseClick(d.control(L::kLoopEndRadio), Qt::LeftButton);
            QTest::mouseClick(&d, Qt::LeftButton, Qt::NoModifier, inArea(d, 2));
            // The bank changes at once, so Test plays the new loop.
            changedAtOnce = s.wave->loopBegin != 5000 && s.wave->loopEnd != 20000;
            QTest::keyClick(&d, Qt::Key_Escape);
            return d.result();
        });
        EditorRig::click(editor->control(CInstrumentEditorDlg::kLoopEdit));
        QVERIFY(changedAtOnce);
        QCOMPARE(s.wave->loopBegin, 5000);
        QCOMPARE(s.wave->loopEnd, 20000);
        QCOMPARE(EditorRig::text(editor->control(CInstrumentEditorDlg::kLoopBegin)), QString("5000"));
    }

    void aWaveWithoutSamplesDrawsOnlyTheZeroLine() {
        LoopSession s;
        Wave empty;
        CLoopPointEditorDlg d;
        d.m_wave = &empty;
        d.show();
        QTest::mouseClick(d.control(L::kLoopStartRadio), Qt::LeftButton);
        d.m_scrollBar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(d.m_firstSample, 0u);
        QCOMPARE(d.m_scrollBar->value(), 0);
        const QImage image = d.grab().toImage();
        QCOMPARE(image.pixelColor(d.m_waveRect.left + 5, d.geometry().zeroLineY()), QColor(Qt::black));
    }
};

QTEST_MAIN(LoopPointEditorTest)
#include "LoopPointEditor_test.moc"
