#include "editor/CLoopPointEditorDlg.h"

#include "bank/Wave.h"
#include "editor/DataExchange.h"
#include "editor/DialogFont.h"
#include "editor/DialogTemplate.h"
#include "editor/EditorEngine.h"
#include "editor/PreviewNoteIds.h"

#include <QFontMetrics>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QSlider>

#include <algorithm>
#include <vector>

namespace tonvero {

namespace {

using D = CLoopPointEditorDlg;

DialogLayout loopEditorLayout() {
    return {
        QStringLiteral("Loop Point Editor"),
        253,
        162,
        {
            {ControlKind::Custom, D::kWaveFrame, {}, 7, 7, 239, 73},
            {ControlKind::HScrollBar, D::kScrollBar, {}, 7, 87, 239, 11},
            {ControlKind::Trackbar, D::kZoomSlider, QStringLiteral("Slider1"), 7, 102, 239, 15},
            {ControlKind::RadioButton, D::kLoopStartRadio, QStringLiteral("&Loop Start"), 10, 123, 49, 10, false, true},
            {ControlKind::Edit, D::kLoopBeginEdit, {}, 60, 121, 40, 14},
            {ControlKind::RadioButton, D::kLoopEndRadio, QStringLiteral("Loop &End / Release"), 103, 123, 80, 10},
            {ControlKind::Edit, D::kLoopEndEdit, {}, 185, 121, 40, 14},
            {ControlKind::DefaultButton, D::kTest, QStringLiteral("&Test"), 7, 141, 50, 14},
            {ControlKind::PushButton, D::kStop, QStringLiteral("&Stop"), 70, 141, 50, 14},
            {ControlKind::PushButton, D::kOk, QStringLiteral("&OK"), 133, 141, 50, 14},
            {ControlKind::PushButton, D::kCancel, QStringLiteral("Cancel"), 196, 141, 50, 14},
        }};
}

// What a scroll bar action means to the waveform.
ScrollCode scrollCodeOf(int action) {
    switch (action) {
    case QAbstractSlider::SliderSingleStepSub: return ScrollCode::LineLeft;
    case QAbstractSlider::SliderSingleStepAdd: return ScrollCode::LineRight;
    case QAbstractSlider::SliderPageStepSub: return ScrollCode::PageLeft;
    case QAbstractSlider::SliderPageStepAdd: return ScrollCode::PageRight;
    case QAbstractSlider::SliderMove: return ScrollCode::ThumbTrack;
    default: return ScrollCode::Other;
    }
}

}  // namespace

CLoopPointEditorDlg::CLoopPointEditorDlg(QWidget* parent) : QDialog(parent) {
    setFont(editorDialogFont());
    layout_ = std::make_unique<DialogTemplate>(*this, loopEditorLayout());

    // The black frame the waveform is drawn in. It lets clicks through to
    // the dialog, which places the marker.
    m_waveFrame = new QFrame(this);
    m_waveFrame->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_waveFrame->setLineWidth(1);
    QPalette black = m_waveFrame->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    m_waveFrame->setPalette(black);
    m_waveFrame->setAttribute(Qt::WA_TransparentForMouseEvents);
    layout_->place(m_waveFrame, kWaveFrame);
    m_waveFrame->lower();

    m_scrollBar = layout_->get<QScrollBar>(kScrollBar);
    m_zoomSlider = layout_->get<QSlider>(kZoomSlider);
    m_zoomSlider->setTickPosition(QSlider::NoTicks);
    m_scrollBar->setFocusPolicy(Qt::StrongFocus);
    m_zoomSlider->setFocusPolicy(Qt::StrongFocus);
    for (int id : {kLoopBeginEdit, kLoopEndEdit}) {
        auto* edit = layout_->get<QLineEdit>(id);
        edit->setReadOnly(true);
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    }

    connect(m_scrollBar, &QScrollBar::actionTriggered, this, &CLoopPointEditorDlg::onScrollAction);
    connect(m_scrollBar, &QScrollBar::sliderReleased, this,
            [this] { onScroll(ScrollCode::ThumbPosition, m_scrollBar->sliderPosition()); });
    connect(m_zoomSlider, &QSlider::valueChanged, this, &CLoopPointEditorDlg::onZoom);
    connect(layout_->get<QRadioButton>(kLoopStartRadio), &QRadioButton::clicked, this,
            &CLoopPointEditorDlg::onChooseLoopBegin);
    connect(layout_->get<QRadioButton>(kLoopEndRadio), &QRadioButton::clicked, this,
            &CLoopPointEditorDlg::onChooseLoopEnd);
    connect(layout_->get<QPushButton>(kTest), &QPushButton::clicked, this, &CLoopPointEditorDlg::onTest);
    connect(layout_->get<QPushButton>(kStop), &QPushButton::clicked, this, &CLoopPointEditorDlg::onStop);
    connect(layout_->get<QPushButton>(kOk), &QPushButton::clicked, this, &CLoopPointEditorDlg::accept);
    connect(layout_->get<QPushButton>(kCancel), &QPushButton::clicked, this, &CLoopPointEditorDlg::reject);
}

CLoopPointEditorDlg::~CLoopPointEditorDlg() = default;

QWidget* CLoopPointEditorDlg::control(int id) const {
    if (id == kWaveFrame) return m_waveFrame;
    return layout_->control(id);
}

void CLoopPointEditorDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!initialised_) {
        initialised_ = true;
        onInitDialog();
    }
}

void CLoopPointEditorDlg::onInitDialog() {
    doDataExchange(false);
    // The frame's rectangle in the dialog's coordinates, then one pixel in
    // on every side so the drawing stays inside the black frame.
    const QRect frame = m_waveFrame->geometry();
    m_waveRect = {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()};
    if (m_wave) {
        m_loopBeginValue = static_cast<uint32_t>(m_wave->loopBegin);
        m_savedLoopBegin = m_wave->loopBegin;
        m_loopEndValue = static_cast<uint32_t>(m_wave->loopEnd);
        m_savedLoopEnd = m_wave->loopEnd;
    }
    m_waveRect.left += 1;
    m_waveRect.top += 1;
    m_waveRect.right -= 1;
    m_waveRect.bottom -= 1;
    // Range 0..32000 with a page of 1000: the thumb's last position is 31001.
    m_scrollBar->setRange(0, LoopEditorGeometry::kLastThumb);
    m_scrollBar->setPageStep(LoopEditorGeometry::kScrollPage);
    setThumb(0);
    {
        const QSignalBlocker quiet(m_zoomSlider);
        m_zoomSlider->setRange(LoopEditorGeometry::kMinZoom, LoopEditorGeometry::kMaxZoom);
        m_zoomSlider->setValue(1);
    }
    m_firstSample = 0;
    m_markerMode = 0;
    m_samplesPerPixel = 1;
    doDataExchange(false);
}

void CLoopPointEditorDlg::doDataExchange(bool save, bool* ok) {
    DataExchange dx(this, save ? DataExchange::Save : DataExchange::Load);
    dx.unsignedInteger(layout_->get<QLineEdit>(kLoopEndEdit), m_loopEndValue);
    dx.unsignedInteger(layout_->get<QLineEdit>(kLoopBeginEdit), m_loopBeginValue);
    if (ok) *ok = !dx.failed();
}

void CLoopPointEditorDlg::accept() {
    bool ok = false;
    doDataExchange(true, &ok);
    if (ok) QDialog::accept();
}

void CLoopPointEditorDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    if (!m_wave) return;
    const LoopEditorGeometry g = geometry();
    const uint32_t count = static_cast<uint32_t>(m_wave->samples.size());
    const uint32_t loopBegin = static_cast<uint32_t>(m_wave->loopBegin);
    const uint32_t loopEnd = static_cast<uint32_t>(m_wave->loopEnd);
    // The loop region shaded behind the trace: what plays again and again.
    if (const auto span = g.loopColumns(loopBegin, loopEnd))
        painter.fillRect(QRect(QPoint(span->first, m_waveRect.top), QPoint(span->second, m_waveRect.bottom - 1)),
                         m_wave->looped ? QColor(255, 236, 170) : QColor(232, 232, 232));
    painter.setPen(QPen(Qt::black, 1, Qt::SolidLine));
    const int32_t mid = g.zeroLineY();
    painter.drawLine(m_waveRect.left, mid, m_waveRect.right, mid);
    const std::vector<PixelPoint> trace = g.trace(m_wave->samples.data(), count);
    if (trace.size() > 1) {
        std::vector<QPoint> points;
        points.reserve(trace.size());
        for (const PixelPoint& p : trace) points.emplace_back(p.x, p.y);
        painter.drawPolyline(points.data(), static_cast<int>(points.size()));
    }
    // Both markers, begin green and end red; the chosen one is two columns
    // wide (its own and the next).
    for (const int32_t mode : {1, 2}) {
        if (const auto x = g.markerX(mode == 1 ? loopBegin : loopEnd)) {
            painter.setPen(QPen(mode == 1 ? kLoopBeginColour : kLoopEndColour, 1, Qt::SolidLine));
            const int32_t last = m_markerMode == mode ? std::min(*x + 1, m_waveRect.right - 1) : *x;
            for (int32_t column = *x; column <= last; ++column)
                painter.drawLine(column, m_waveRect.top, column, m_waveRect.bottom - 1);
        }
    }
    // The sample axis along the bottom: a tick and its sample number.
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
    painter.setFont(small);
    painter.setPen(QPen(QColor(90, 90, 90), 1, Qt::SolidLine));
    const QFontMetrics metrics(small);
    for (const LoopEditorGeometry::AxisTick& tick : g.axisTicks(count, 70)) {
        painter.drawLine(tick.x, m_waveRect.bottom - 5, tick.x, m_waveRect.bottom - 1);
        const QString label = QString::number(tick.sample);
        if (tick.x + 2 + metrics.horizontalAdvance(label) < m_waveRect.right)
            painter.drawText(tick.x + 2, m_waveRect.bottom - 3, label);
    }
}

void CLoopPointEditorDlg::keyPressEvent(QKeyEvent* event) {
    // P plays the loop for as long as it is held.
    if (event->key() == Qt::Key_P && event->modifiers() == Qt::NoModifier) {
        if (!event->isAutoRepeat()) onTest();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CLoopPointEditorDlg::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_P && event->modifiers() == Qt::NoModifier) {
        if (!event->isAutoRepeat()) onStop();
        return;
    }
    QDialog::keyReleaseEvent(event);
}

void CLoopPointEditorDlg::onScrollAction(int action) {
    if (settingThumb_) return;
    const ScrollCode code = scrollCodeOf(action);
    if (code == ScrollCode::Other) {
        // Home and end move nothing: the thumb stays where the waveform is.
        m_scrollBar->setSliderPosition(m_scrollBar->value());
        return;
    }
    onScroll(code, m_scrollBar->sliderPosition());
}

void CLoopPointEditorDlg::onScroll(ScrollCode code, int position) {
    const uint32_t count = m_wave ? m_wave->sampleCount : 0;
    LoopEditorGeometry g = geometry();
    if (const auto thumb = g.scroll(code, position, count)) {
        m_firstSample = g.firstSample;
        setThumb(*thumb);
    }
    invalidateWave();
}

void CLoopPointEditorDlg::onZoom(int position) {
    LoopEditorGeometry g = geometry();
    g.setZoom(position);
    m_samplesPerPixel = g.samplesPerPixel;
    invalidateWave();
}

void CLoopPointEditorDlg::setThumb(int32_t position) {
    settingThumb_ = true;
    m_scrollBar->setSliderPosition(position);
    m_scrollBar->setValue(m_scrollBar->sliderPosition());
    settingThumb_ = false;
}

void CLoopPointEditorDlg::invalidateWave() {
    update(QRect(QPoint(m_waveRect.left, m_waveRect.top), QPoint(m_waveRect.right, m_waveRect.bottom)));
}

void CLoopPointEditorDlg::onChooseLoopBegin() { chooseMarker(1); }
void CLoopPointEditorDlg::onChooseLoopEnd() { chooseMarker(2); }

void CLoopPointEditorDlg::chooseMarker(int32_t mode) {
    m_markerMode = mode;
    if (m_wave) {
        LoopEditorGeometry g = geometry();
        const int32_t thumb = g.centreOn(mode == 1 ? m_wave->loopBegin : m_wave->loopEnd, m_wave->sampleCount);
        m_firstSample = g.firstSample;
        setThumb(thumb);
    }
    invalidateWave();
    doDataExchange(false);
}

void CLoopPointEditorDlg::mousePressEvent(QMouseEvent* event) {
    QDialog::mousePressEvent(event);
    if (m_markerMode == 0 || !m_wave) return;
    const QPoint at = event->position().toPoint();
    const auto sample = geometry().sampleAt(at.x(), at.y());
    if (!sample) return;
    // Only a plain left click places a marker.
    if (event->button() != Qt::LeftButton || event->buttons() != Qt::LeftButton) return;
    if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) return;
    {
        EditorEngineLock lock;
        if (m_markerMode == 1)
            m_wave->loopBegin = static_cast<int32_t>(*sample);
        else
            m_wave->loopEnd = static_cast<int32_t>(*sample);
    }
    m_loopBeginValue = static_cast<uint32_t>(m_wave->loopBegin);
    m_loopEndValue = static_cast<uint32_t>(m_wave->loopEnd);
    invalidateWave();
    doDataExchange(false);
}

void CLoopPointEditorDlg::onTest() {
    if (!m_instrument) return;
    loopEditorPreviewId = startTestNote(m_instrument, m_zone);
}

void CLoopPointEditorDlg::onStop() { stopTestNote(loopEditorPreviewId); }

}  // namespace tonvero
