#include "app/PositionSlider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionSlider>

#include <algorithm>
#include <cmath>

namespace tonvero {

namespace {

// A press with the left button jumps the handle to the press and drags it from
// there, as media players' position bars do (instead of a page step).
class JumpingSliderStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* answer) const override {
        if (hint == QStyle::SH_Slider_AbsoluteSetButtons) return Qt::LeftButton;
        return QProxyStyle::styleHint(hint, option, widget, answer);
    }
};

int toMilliseconds(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) return 0;
    return static_cast<int>(std::min(seconds * 1000.0, 2.0e9));
}

}  // namespace

PositionSlider::PositionSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    auto* style = new JumpingSliderStyle;
    style->setParent(this);
    setStyle(style);
    setRange(0, 0);
    setSingleStep(1000);
    setPageStep(10000);
    setMinimumWidth(160);
    setToolTip(QStringLiteral("Song position: click or drag to move in the song"));
    connect(this, &QSlider::valueChanged, this, [this](int value) {
        // Keyboard and wheel moves seek at once; mouse moves wait for the release.
        if (!showing_ && !userHolds()) emit seekRequested(value / 1000.0);
    });
    // The seek for a drag (or a click, which starts one): once, where it was let go.
    connect(this, &QSlider::sliderReleased, this, [this] { emit seekRequested(handleSeconds()); });
}

void PositionSlider::showPosition(double positionSeconds, double lengthSeconds) {
    if (userHolds()) return;
    showing_ = true;
    setMaximum(toMilliseconds(lengthSeconds));
    setValue(toMilliseconds(positionSeconds));
    showing_ = false;
}

void PositionSlider::setLoopMarks(double startSeconds, double endSeconds) {
    const int start = startSeconds < 0 ? -1 : toMilliseconds(startSeconds);
    const int end = endSeconds < 0 ? -1 : toMilliseconds(endSeconds);
    if (start == loopStart_ && end == loopEnd_) return;
    loopStart_ = start;
    loopEnd_ = end;
    update();
}

void PositionSlider::mousePressEvent(QMouseEvent* event) {
    pressed_ = true;
    QSlider::mousePressEvent(event);
    if (!isSliderDown()) pressed_ = false;  // the press did not take the handle
}

void PositionSlider::mouseReleaseEvent(QMouseEvent* event) {
    pressed_ = false;  // before the release, which lets the handle go and asks for the seek
    QSlider::mouseReleaseEvent(event);
}

int PositionSlider::pixelOf(int milliseconds) const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = std::max(1, groove.width() - handle.width());
    return groove.left() + handle.width() / 2 +
           QStyle::sliderPositionFromValue(minimum(), maximum(), std::clamp(milliseconds, minimum(), maximum()), span);
}

void PositionSlider::paintEvent(QPaintEvent* event) {
    QSlider::paintEvent(event);
    if ((loopStart_ < 0 && loopEnd_ < 0) || maximum() <= 0) return;
    QPainter painter(this);
    const QColor mark(215, 120, 20);
    const int top = height() / 2 + 3;
    if (loopStart_ >= 0 && loopEnd_ > loopStart_) {
        // The range as a band under the groove's middle.
        const int left = pixelOf(loopStart_);
        const int right = pixelOf(loopEnd_);
        painter.fillRect(QRect(left, top, std::max(1, right - left), 3), mark);
    }
    painter.setPen(QPen(mark, 2));
    for (int edge : {loopStart_, loopEnd_})
        if (edge >= 0) painter.drawLine(pixelOf(edge), 2, pixelOf(edge), height() - 2);
}

}  // namespace tonvero
