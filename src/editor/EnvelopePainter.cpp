#include "editor/EnvelopePainter.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

#include <array>

namespace tonvero {

namespace {

constexpr int32_t kLevelStep = 240;  // a level line every 24 dB
constexpr const char* kStageNames[6] = {"delay", "attack", "hold", "decay", "sustain", "release"};

}  // namespace

PixelRect EnvelopePainter::curveArea(int32_t width, int32_t height, const QFontMetrics& metrics) {
    const int32_t edge = kHandleSize / 2 + 2;
    const int32_t labels = metrics.horizontalAdvance(QStringLiteral("-96 dB")) + 8;
    return {labels, edge + metrics.height() / 2, width - edge, height - metrics.height() - 4};
}

void EnvelopePainter::paint(QPainter& painter, int32_t width, int32_t height) const {
    const PixelRect& a = geometry.area;
    const QColor ink = enabled ? QColor(20, 60, 150) : QColor(150, 150, 150);
    const QColor fill = enabled ? QColor(200, 220, 250) : QColor(232, 232, 232);
    const QColor text = enabled ? QColor(60, 60, 60) : QColor(150, 150, 150);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.fillRect(0, 0, width, height, Qt::white);
    painter.setPen(QColor(120, 120, 120));
    painter.drawRect(0, 0, width - 1, height - 1);

    // Level lines and their labels.
    const QFontMetrics metrics = painter.fontMetrics();
    for (int32_t level = 0; level <= EnvelopeGeometry::kFloorCentibels; level += kLevelStep) {
        const int32_t y = geometry.levelY(level);
        painter.setPen(QPen(QColor(215, 215, 215), 1, Qt::DotLine));
        painter.drawLine(a.left, y, a.right - 1, y);
        const QString label = level == 0 ? QStringLiteral("0 dB") : QStringLiteral("-%1 dB").arg(level / 10);
        painter.setPen(text);
        painter.drawText(QRect(0, y - metrics.height() / 2, a.left - 4, metrics.height()),
                         Qt::AlignRight | Qt::AlignVCenter, label);
    }

    // The curve: flat through the delay, the attack's rise, then straight
    // lines (a fall at an even rate in decibels is straight on this scale).
    const std::array<PixelPoint, 7> p = geometry.points();
    QPolygon curve;
    curve << QPoint(p[0].x, p[0].y);
    for (const PixelPoint& q : geometry.attackCurve(48)) curve << QPoint(q.x, q.y);
    for (size_t i = 3; i < p.size(); ++i) curve << QPoint(p[i].x, p[i].y);
    QPainterPath area;
    area.addPolygon(curve);
    area.closeSubpath();
    painter.fillPath(area, fill);
    painter.setPen(QPen(ink, 2));
    painter.drawPolyline(curve);

    // The points that can be dragged.
    for (EnvelopeHandle h : {EnvelopeHandle::DelayEnd, EnvelopeHandle::AttackEnd, EnvelopeHandle::HoldEnd,
                             EnvelopeHandle::DecayEnd, EnvelopeHandle::SustainEnd, EnvelopeHandle::ReleaseEnd}) {
        const PixelPoint q = geometry.handlePoint(h);
        const QRect square(q.x - kHandleSize / 2, q.y - kHandleSize / 2, kHandleSize, kHandleSize);
        painter.setPen(QPen(ink, 1));
        painter.fillRect(square, hot == h ? ink : QColor(Qt::white));
        painter.drawRect(square.adjusted(0, 0, -1, -1));
    }

    // Each stage's name under it, where it fits.
    painter.setPen(text);
    const int32_t nameTop = a.bottom + 2;
    for (size_t stage = 0; stage < 6; ++stage) {
        const QString name = QString::fromLatin1(kStageNames[stage]);
        const int32_t from = p[stage].x;
        const int32_t to = p[stage + 1].x;
        if (to - from < metrics.horizontalAdvance(name) + 4) continue;
        painter.drawText(QRect(from, nameTop, to - from, metrics.height()), Qt::AlignHCenter | Qt::AlignTop, name);
    }
    painter.restore();
}

}  // namespace tonvero
