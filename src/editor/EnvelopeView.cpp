#include "editor/EnvelopeView.h"

#include "editor/EnvelopePainter.h"

#include <QMouseEvent>
#include <QPainter>

namespace tonvero {

EnvelopeView::EnvelopeView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    // A click takes the focus, so a value typed into a field is taken before the drag.
    setFocusPolicy(Qt::ClickFocus);
    setToolTip(QStringLiteral("Drag a point to change the volume envelope's times and its sustain level"));
}

void EnvelopeView::setEnvelope(const EnvelopeSettings& envelope, bool enabled) {
    envelope_ = envelope;
    editable_ = enabled;
    if (!editable_) {
        dragging_.reset();
        hot_.reset();
    }
    update();
}

EnvelopeGeometry EnvelopeView::geometry() const {
    EnvelopeGeometry g;
    g.area = EnvelopePainter::curveArea(width(), height(), fontMetrics());
    g.envelope = envelope_;
    return g;
}

void EnvelopeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    EnvelopePainter drawing;
    drawing.geometry = geometry();
    drawing.enabled = editable_;
    drawing.hot = dragging_ ? dragging_ : hot_;
    drawing.paint(painter, width(), height());
}

void EnvelopeView::mousePressEvent(QMouseEvent* event) {
    if (!editable_ || event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const QPoint at = event->position().toPoint();
    const EnvelopeGeometry g = geometry();
    dragging_ = g.handleAt(at.x(), at.y());
    if (dragging_) {
        const PixelPoint p = g.handlePoint(*dragging_);
        grabDx_ = at.x() - p.x;
        grabDy_ = at.y() - p.y;
        emit dragStarted();
    }
    update();
}

void EnvelopeView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    // The button went up where the curve did not see it: the drag is over.
    if (dragging_ && !(event->buttons() & Qt::LeftButton)) dragging_.reset();
    if (!dragging_) {
        setHot(editable_ ? geometry().handleAt(at.x(), at.y()) : std::nullopt);
        return;
    }
    const EnvelopeSettings moved = geometry().dragged(*dragging_, at.x() - grabDx_, at.y() - grabDy_);
    if (moved == envelope_) return;
    envelope_ = moved;
    update();
    emit dragged(envelope_);
}

void EnvelopeView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && dragging_) {
        dragging_.reset();
        update();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void EnvelopeView::leaveEvent(QEvent* event) {
    setHot(std::nullopt);
    QWidget::leaveEvent(event);
}

void EnvelopeView::setHot(std::optional<EnvelopeHandle> handle) {
    if (handle == hot_) return;
    hot_ = handle;
    if (hot_)
        setCursor(*hot_ == EnvelopeHandle::SustainEnd ? Qt::SizeVerCursor
                  : *hot_ == EnvelopeHandle::DecayEnd ? Qt::SizeAllCursor
                                                      : Qt::SizeHorCursor);
    else
        unsetCursor();
    update();
}

}  // namespace tonvero
