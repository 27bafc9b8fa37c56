// The Loop Point Editor's arithmetic without pixels: the scroll scale, the
// heights and columns of the drawing, the marker, scrolling, zoom and clicks.

#include "editor/LoopEditorGeometry.h"

#include <QTest>

#include <vector>

using tonvero::LoopEditorGeometry;
using tonvero::PixelPoint;
using tonvero::ScrollCode;

namespace {

// An area 400 pixels wide and 100 high, 10 pixels in from the dialog's corner.
LoopEditorGeometry area400(uint32_t first = 0, uint32_t zoom = 1) {
    LoopEditorGeometry g;
    g.area = {10, 10, 410, 110};
    g.firstSample = first;
    g.samplesPerPixel = zoom;
    return g;
}

std::vector<int16_t> ramp(uint32_t count) {
    std::vector<int16_t> s(count);
    for (uint32_t i = 0; i < count; ++i) s[i] = static_cast<int16_t>(i);
    return s;
}

}  // namespace

class LoopEditorGeometryTest : public QObject {
    Q_OBJECT
private slots:
    void scrollScaleMapsBothWays() {
        // Dragging the thumb to 16000 on 100000 samples starts the drawing at 50000.
        QCOMPARE(LoopEditorGeometry::sampleForThumb(16000, 100000), 50000u);
        QCOMPARE(LoopEditorGeometry::thumbForSample(50000, 100000), 16000);
        QCOMPARE(LoopEditorGeometry::thumbForSample(100000, 100000), 32000);
        QCOMPARE(LoopEditorGeometry::sampleForThumb(0, 100000), 0u);
        // The thumb's last position: the page of 1000 ends at the range's end.
        QCOMPARE(LoopEditorGeometry::kLastThumb, 31001);
        // Truncation toward zero: 1/32000 of 1000 samples is 0.03125 of a sample.
        QCOMPARE(LoopEditorGeometry::sampleForThumb(31, 1000), 0u);
        QCOMPARE(LoopEditorGeometry::thumbForSample(1, 1000), 32);
    }

    void waveWithoutSamplesKeepsTheThumbAtTheStart() {
        QCOMPARE(LoopEditorGeometry::thumbForSample(0, 0), 0);
        QCOMPARE(LoopEditorGeometry::sampleForThumb(20000, 0), 0u);
        // A first sample far past the end (a loop point beyond the samples) keeps the thumb at the end.
        QCOMPARE(LoopEditorGeometry::thumbForSample(4000000000u, 10), 32000);
    }

    void fullScaleSpansTheAreaWithPositiveValuesBelow() {
        const LoopEditorGeometry g = area400();
        QCOMPARE(g.zeroLineY(), 60);
        QCOMPARE(g.sampleY(0), 60);
        QCOMPARE(g.sampleY(-32768), 10);
        QCOMPARE(g.sampleY(32767), 109);
        QVERIFY(g.sampleY(1000) > g.zeroLineY());
        // An odd height: the zero line rounds toward the top.
        LoopEditorGeometry odd = g;
        odd.area.bottom = 109;
        QCOMPARE(odd.zeroLineY(), 59);
    }

    void traceShowsOneSamplePerColumnAndSkipsTheRest() {
        const std::vector<int16_t> s = ramp(100000);
        LoopEditorGeometry g = area400(1000, 4);
        const std::vector<PixelPoint> points = g.trace(s.data(), 100000);
        // The left edge shows the first sample, the next column the sample
        // after it, then every fourth.
        QCOMPARE(points.size(), size_t{400});
        QCOMPARE(points[0], (PixelPoint{10, g.sampleY(1000)}));
        QCOMPARE(points[1], (PixelPoint{11, g.sampleY(1001)}));
        QCOMPARE(points[2], (PixelPoint{12, g.sampleY(1005)}));
        QCOMPARE(points[399], (PixelPoint{409, g.sampleY(1001 + 398 * 4)}));
    }

    void traceEndsAtTheLastSample() {
        const std::vector<int16_t> s = ramp(50);
        const LoopEditorGeometry g = area400(40);
        const std::vector<PixelPoint> points = g.trace(s.data(), 50);
        QCOMPARE(points.size(), size_t{10});
        QCOMPARE(points.back().x, 19);
        // At or past the end only the zero line remains.
        QVERIFY(area400(50).trace(s.data(), 50).empty());
        QVERIFY(area400(0).trace(s.data(), 0).empty());
    }

    void loopStartAtZoomOneComesToTheMiddle() {
        LoopEditorGeometry g = area400();
        const int32_t thumb = g.centreOn(5000, 100000);
        QCOMPARE(g.firstSample, 4800u);
        QCOMPARE(thumb, LoopEditorGeometry::thumbForSample(4800, 100000));
        QCOMPARE(g.markerX(5000), std::optional<int32_t>(210));
    }

    void loopPointNearTheStartShowsFromSampleZero() {
        LoopEditorGeometry g = area400(7000);
        QCOMPARE(g.centreOn(150, 100000), 0);
        QCOMPARE(g.firstSample, 0u);
        QCOMPARE(g.markerX(150), std::optional<int32_t>(160));
    }

    void atOtherZoomsTheMarkerStandsHalfTheWidthInSamplesRight() {
        LoopEditorGeometry g = area400(0, 4);
        g.centreOn(5000, 100000);
        QCOMPARE(g.firstSample, 4800u);
        QCOMPARE(g.markerX(5000), std::optional<int32_t>(10 + 200 / 4));
    }

    void markerOnlyInsideTheSamplesShown() {
        const LoopEditorGeometry g = area400(1000, 2);
        QCOMPARE(g.markerX(999), std::nullopt);
        QCOMPARE(g.markerX(1000), std::optional<int32_t>(10));
        QCOMPARE(g.markerX(1000 + 400 * 2 - 1), std::optional<int32_t>(409));
        QCOMPARE(g.markerX(1000 + 400 * 2), std::nullopt);
        // A negative loop point, taken as unsigned, lies past everything.
        QCOMPARE(g.markerX(static_cast<uint32_t>(-5)), std::nullopt);
    }

    void clickAtZoomFourTenPixelsIn() {
        const LoopEditorGeometry g = area400(1000, 4);
        QCOMPARE(g.sampleAt(20, 50), std::optional<uint32_t>(1040));
        QCOMPARE(g.sampleAt(10, 10), std::optional<uint32_t>(1000));
        QCOMPARE(g.sampleAt(409, 109), std::optional<uint32_t>(1000 + 399 * 4));
    }

    void clicksOutsideTheAreaHitNothing() {
        const LoopEditorGeometry g = area400(1000, 4);
        QCOMPARE(g.sampleAt(9, 50), std::nullopt);
        QCOMPARE(g.sampleAt(410, 50), std::nullopt);
        QCOMPARE(g.sampleAt(50, 9), std::nullopt);
        QCOMPARE(g.sampleAt(50, 110), std::nullopt);
    }

    void arrowsAndTroughStepByTheZoom() {
        LoopEditorGeometry g = area400(1000, 3);
        QCOMPARE(g.scroll(ScrollCode::LineRight, 0, 100000), LoopEditorGeometry::thumbForSample(1060, 100000));
        QCOMPARE(g.firstSample, 1060u);
        g.scroll(ScrollCode::PageRight, 0, 100000);
        QCOMPARE(g.firstSample, 1660u);
        g.scroll(ScrollCode::LineLeft, 0, 100000);
        QCOMPARE(g.firstSample, 1600u);
        g.scroll(ScrollCode::PageLeft, 0, 100000);
        QCOMPARE(g.firstSample, 1000u);
        // Steps that would pass the start stop at 0.
        g.scroll(ScrollCode::PageLeft, 0, 100000);
        g.scroll(ScrollCode::PageLeft, 0, 100000);
        QCOMPARE(g.firstSample, 0u);
        g.firstSample = 60;
        g.scroll(ScrollCode::LineLeft, 0, 100000);
        QCOMPARE(g.firstSample, 0u);
    }

    void arrowRightAtTheEndGoesToTheSampleCount() {
        LoopEditorGeometry g = area400(99990);
        QCOMPARE(g.scroll(ScrollCode::LineRight, 0, 100000), std::optional<int32_t>(32000));
        QCOMPARE(g.firstSample, 100000u);
        const std::vector<int16_t> s = ramp(100000);
        QVERIFY(g.trace(s.data(), 100000).empty());
        // Further arrows stay there.
        g.scroll(ScrollCode::LineRight, 0, 100000);
        QCOMPARE(g.firstSample, 100000u);
    }

    void thumbDragAndReleaseSetTheFirstSample() {
        LoopEditorGeometry g = area400(5, 7);
        QCOMPARE(g.scroll(ScrollCode::ThumbTrack, 16000, 100000), std::optional<int32_t>(16000));
        QCOMPARE(g.firstSample, 50000u);
        QCOMPARE(g.scroll(ScrollCode::ThumbPosition, 8000, 100000), std::optional<int32_t>(8000));
        QCOMPARE(g.firstSample, 25000u);
        // Home, end and the end of scrolling change nothing.
        QCOMPARE(g.scroll(ScrollCode::Other, 0, 100000), std::nullopt);
        QCOMPARE(g.firstSample, 25000u);
    }

    void zoomKeepsTheFirstSample() {
        LoopEditorGeometry g = area400(1234);
        g.setZoom(20);
        QCOMPARE(g.samplesPerPixel, 20u);
        QCOMPARE(g.firstSample, 1234u);
        g.setZoom(0);
        QCOMPARE(g.samplesPerPixel, 1u);
        g.setZoom(99);
        QCOMPARE(g.samplesPerPixel, 20u);
    }

    void loopRegionAndAxisFollowTheSamplesShown() {
        LoopEditorGeometry g = area400(1000, 5);  // samples 1000 .. 2999 over 400 columns
        using Span = std::optional<std::pair<int32_t, int32_t>>;
        QCOMPARE(g.loopColumns(1500, 2000), Span(std::make_pair(*g.markerX(1500), *g.markerX(2000))));
        // Cut to what is shown; nothing when the loop lies wholly off the area or is reversed.
        QCOMPARE(g.loopColumns(10, 1004), Span(std::make_pair(g.area.left, g.area.left)));
        QCOMPARE(g.loopColumns(2500, 90000), Span(std::make_pair(*g.markerX(2500), g.area.right - 1)));
        QCOMPARE(g.loopColumns(10, 999), Span());
        QCOMPARE(g.loopColumns(3000, 4000), Span());
        QCOMPARE(g.loopColumns(2000, 1500), Span());
        // 60 columns are 300 samples: ticks every 500, each at its sample's column.
        const auto ticks = g.axisTicks(100000, 60);
        QCOMPARE(ticks.size(), size_t{4});
        QCOMPARE(ticks.front().sample, 1000u);
        QCOMPARE(ticks.back().sample, 2500u);
        for (const auto& tick : ticks) QCOMPARE(std::optional<int32_t>(tick.x), g.markerX(tick.sample));
        QVERIFY(g.axisTicks(1800, 60).back().sample < 1800);
        QVERIFY(g.axisTicks(500, 60).empty());
    }
};

QTEST_APPLESS_MAIN(LoopEditorGeometryTest)
#include "LoopEditorGeometry_test.moc"
