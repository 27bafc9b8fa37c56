// The volume envelope's curve: where its points lie, which one a click
// grabs, what a drag does to the times and the sustain level (through the
// geometry, and through the widget's mouse handlers in the Instrument
// Editor, the fields following), and the drawing made without a screen.

#include "EditorRig.h"
#include "editor/ArticulationControl.h"
#include "editor/EnvelopeGeometry.h"
#include "editor/EnvelopePainter.h"
#include "editor/EnvelopeView.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <array>
#include <vector>

using tonvero::EnvelopeGeometry;
using tonvero::EnvelopeHandle;
using tonvero::EnvelopePainter;
using tonvero::EnvelopeSettings;
using tonvero::PixelPoint;
using tonvero::test::EditorRig;
namespace id = tonvero::articulation_id;

namespace {

// 1060 pixels for the 106000 timecents of every stage at its longest: a
// pixel is 100 timecents. 97 rows for 96 dB: a row is a decibel.
EnvelopeGeometry curve(const EnvelopeSettings& e) {
    EnvelopeGeometry g;
    g.area = {10, 5, 1071, 102};
    g.envelope = e;
    return g;
}

// Delay 0.25 s (2400 tc past the shortest), attack 2^-5 s (6000), no hold,
// decay 1 s (12000), sustain 48 dB down, release 2 s (13200).
EnvelopeSettings sample() {
    EnvelopeSettings e;
    e.delay = -9600;
    e.attack = -6000;
    e.hold = tonvero::kInstantTimecents;
    e.decay = 0;
    e.sustain = 480;
    e.release = 1200;
    return e;
}

}  // namespace

class EnvelopeCurveTest : public QObject {
    Q_OBJECT
private slots:
    void pointsLieWhereTheTimesAndTheSustainLevelPutThem() {
        const EnvelopeGeometry g = curve(sample());
        const std::array<PixelPoint, 7> expected = {{
            {10, 101},   // the start, silent
            {34, 101},   // the delay's end
            {94, 5},     // the attack's end, at full level
            {94, 5},     // no hold
            {214, 53},   // the decay's end, 48 dB down
            {334, 53},   // the held note
            {466, 101},  // the release's end
        }};
        QCOMPARE(g.points(), expected);
        // The attack's amplitude rises evenly: half way it is 6 dB down.
        QCOMPARE(g.attackCurve(2), (std::vector<PixelPoint>{{34, 101}, {64, 11}, {94, 5}}));
        // A sustain below 96 dB is drawn at the floor; times beyond the longest at the longest.
        EnvelopeSettings deep = sample();
        deep.sustain = 1440;
        deep.delay = 99999;
        QCOMPARE(curve(deep).points()[4].y, 101);
        QCOMPARE(curve(deep).points()[1].x, 10 + 170);
    }

    void aClickGrabsTheNearestPointAndTheLaterStageWhereTheyMeet() {
        const EnvelopeGeometry g = curve(sample());
        QCOMPARE(g.handleAt(35, 99), std::optional(EnvelopeHandle::DelayEnd));
        QCOMPARE(g.handleAt(212, 56), std::optional(EnvelopeHandle::DecayEnd));
        QCOMPARE(g.handleAt(334 + 6, 53), std::nullopt);
        QCOMPARE(g.handleAt(94, 5), std::optional(EnvelopeHandle::HoldEnd));  // on the attack's end
        // A new articulation has no time anywhere: the decay's end comes first,
        // and dragging it out uncovers the hold's and then the attack's.
        EnvelopeGeometry fresh = curve(EnvelopeSettings{});
        QCOMPARE(fresh.handleAt(10, 5), std::optional(EnvelopeHandle::DecayEnd));
        fresh.envelope = fresh.dragged(EnvelopeHandle::DecayEnd, 130, 5);
        QCOMPARE(fresh.handleAt(10, 5), std::optional(EnvelopeHandle::HoldEnd));
        fresh.envelope = fresh.dragged(EnvelopeHandle::HoldEnd, 70, 5);
        QCOMPARE(fresh.handleAt(10, 5), std::optional(EnvelopeHandle::AttackEnd));
    }

    void draggingAPointSetsItsStageWithinItsLimits() {
        const EnvelopeGeometry g = curve(sample());
        const auto changed = [](auto change) {
            EnvelopeSettings e = sample();
            change(e);
            return e;
        };
        // The decay's end 12 pixels right: 1200 timecents more, 2 s; the later points follow.
        const EnvelopeSettings longer = g.dragged(EnvelopeHandle::DecayEnd, 214 + 12, 53);
        QVERIFY(longer == changed([](auto& e) { e.decay = 1200; }));
        QCOMPARE(curve(longer).points()[6].x, 466 + 12);
        // The attack's end 12 pixels left: 2^-6 s, rounded to 0.016 s.
        QVERIFY(g.dragged(EnvelopeHandle::AttackEnd, 94 - 12, 5) == changed([](auto& e) { e.attack = -7159; }));
        // The held note's end 30 rows down: 78 dB down; the times stay.
        QVERIFY(g.dragged(EnvelopeHandle::SustainEnd, 400, 83) == changed([](auto& e) { e.sustain = 780; }));
        // To the stage's start and beyond: the shortest; far right: the longest,
        // rounded to two digits (100 s; a delay 18 s, above its longest 17.96 s).
        QCOMPARE(g.dragged(EnvelopeHandle::AttackEnd, -500, 5).attack, tonvero::kInstantTimecents);
        QCOMPARE(g.dragged(EnvelopeHandle::ReleaseEnd, 5000, 101).release, 7973);
        QCOMPARE(g.dragged(EnvelopeHandle::DelayEnd, 5000, 101).delay, 5000);
        QCOMPARE(g.dragged(EnvelopeHandle::SustainEnd, 334, 900).sustain, 960);
        // A drag sideways keeps a sustain level the curve cannot show.
        EnvelopeSettings deep = sample();
        deep.sustain = 1440;
        QCOMPARE(curve(deep).dragged(EnvelopeHandle::DecayEnd, 226, 101).sustain, 1440);
        QCOMPARE(curve(deep).dragged(EnvelopeHandle::DecayEnd, 226, 100).sustain, 950);
    }

    void thePainterDrawsTheCurveWithoutAScreen() {
        EnvelopePainter drawing;
        const auto draw = [&drawing] {
            QImage image(600, 120, QImage::Format_RGB32);
            QPainter painter(&image);
            drawing.geometry.area = EnvelopePainter::curveArea(600, 120, painter.fontMetrics());
            drawing.geometry.envelope = sample();
            drawing.paint(painter, 600, 120);
            return image;
        };
        const QImage image = draw();
        const auto p = drawing.geometry.points();
        // The held note's line at the sustain level, filled below and empty above.
        const int mid = (p[4].x + p[5].x) / 2;
        QCOMPARE(image.pixelColor(mid, p[4].y), QColor(20, 60, 150));
        QCOMPARE(image.pixelColor(mid, (p[4].y + p[0].y) / 2 + 3), QColor(200, 220, 250));
        QCOMPARE(image.pixelColor(mid, p[4].y - 8), QColor(Qt::white));
        // A Zone without articulation: the same curve in grey.
        drawing.enabled = false;
        QCOMPARE(draw().pixelColor(mid, p[4].y), QColor(150, 150, 150));
    }

    void theMouseDragsTheCurveInTheEditorAndTheFieldsFollow() {
        EditorRig rig;
        rig.addInstrument("Pad", {"/w/pad.wav"});
        auto editor = rig.openEditor();
        auto* view = editor->m_envelope;
        const auto point = [view](EnvelopeHandle h) {
            const PixelPoint p = view->geometry().handlePoint(h);
            return QPoint(p.x, p.y);
        };
        const auto drag = [view](QPoint from, QPoint to) {
            QTest::mousePress(view, Qt::LeftButton, {}, from);
            QTest::mouseMove(view, to);
            QTest::mouseRelease(view, Qt::LeftButton, {}, to);
        };
        // No articulation: the curve takes no drag.
        drag(point(EnvelopeHandle::DecayEnd), point(EnvelopeHandle::DecayEnd) + QPoint(40, 20));
        QVERIFY(!rig.instrument(0).zones[0]->articulation);
        QVERIFY(view->envelope() == EnvelopeSettings{});

        EditorRig::click(editor->control(id::kArticulation));
        EditorRig::enter(*editor, id::kVolumeDecay, "1");
        EditorRig::enter(*editor, id::kVolumeSustain, "-6");
        const auto& stored = rig.instrument(0).zones[0]->articulation->volumeEnvelope;
        // Grabbed a little off the point's centre (the point does not jump to
        // the mouse) and moved two octaves of time to the right.
        EnvelopeGeometry before = view->geometry();
        const QPoint to = point(EnvelopeHandle::DecayEnd) +
                          QPoint(static_cast<int>(std::lround(2400 * before.pixelsPerTimecent())), 0);
        drag(point(EnvelopeHandle::DecayEnd) + QPoint(2, 1), to + QPoint(2, 1));
        QVERIFY(!view->dragging());
        // About 4 s (a pixel is some 90 timecents here): what the geometry gives for that point.
        QCOMPARE(stored.decay, before.dragged(EnvelopeHandle::DecayEnd, to.x(), to.y()).decay);
        QVERIFY2(std::abs(stored.decay - 2400) <= 150, qPrintable(QString::number(stored.decay)));
        QCOMPARE(stored.sustain, 60);
        QCOMPARE(EditorRig::text(editor->control(id::kVolumeDecay)),
                 tonvero::articulationControl(id::kVolumeDecay)->unit.format(stored.decay));

        // The held note's end dragged down to 30 dB below full: the sustain field follows.
        const QPoint held = point(EnvelopeHandle::SustainEnd);
        drag(held, QPoint(held.x() + 15, view->geometry().levelY(300)));
        QCOMPARE(stored.sustain, 300);
        QCOMPARE(EditorRig::text(editor->control(id::kVolumeSustain)), QString("-30"));
        QVERIFY(view->envelope() == stored);
        QVERIFY(rig.prompter.shown().empty());
    }
};

QTEST_MAIN(EnvelopeCurveTest)
#include "EnvelopeCurve_test.moc"
