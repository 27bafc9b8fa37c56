#pragma once
// Draws the volume envelope's curve as EnvelopeGeometry lays it out: the
// level lines (0 to 96 dB down) with their labels on the left, the curve with
// its area filled, a square on every point that can be dragged, and each
// stage's name under it where there is room. Knows nothing of the mouse: it
// paints into any QPainter, so the drawing can be made without a screen.
//
// Threads: user-interface thread (fonts and painting).

#include "editor/EnvelopeGeometry.h"

#include <optional>

class QFontMetrics;
class QPainter;

namespace tonvero {

class EnvelopePainter {
public:
    // The side of a point's square, in pixels.
    static constexpr int32_t kHandleSize = 7;

    // The curve's area in a drawing `width` x `height` pixels large, in the
    // painter's font: room on the left for the level labels, below for the
    // stage names, and around for the squares of the points at the edges.
    static PixelRect curveArea(int32_t width, int32_t height, const QFontMetrics& metrics);

    EnvelopeGeometry geometry;
    // False: the Zone has no articulation; the curve is drawn in grey.
    bool enabled = true;
    // The point under the mouse or being dragged, drawn filled.
    std::optional<EnvelopeHandle> hot;

    // Draws into `painter` over a drawing `width` x `height` pixels large.
    void paint(QPainter& painter, int32_t width, int32_t height) const;
};

}  // namespace tonvero
