#include "app/CTonveroView.h"

#include "app/AppGlobals.h"
#include "editor/CInstrumentEditorDlg.h"
#include "engine/MixerEngine.h"

#include <QFontDatabase>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace tonvero {

namespace {
constexpr int kMargin = 2;  // pixels left of and above the text
}

CTonveroView::CTonveroView(QWidget* parent) : QAbstractScrollArea(parent) {
    setObjectName(QStringLiteral("statusView"));
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFrameShape(QFrame::NoFrame);
}

QString CTonveroView::composeText(MixerEngine* engine) {
    QString text;
    if (!engine) return text;
    text += QStringLiteral("Tonvero Player - General MIDI with its own sample mixer\n");
    text += QStringLiteral("Patchmap: ") + QString::fromStdString(patchmapPath) + QStringLiteral("  Song: ") +
            QString::fromStdString(songPath) + QStringLiteral("\n");

    EngineLock lock(engine->mutex);
    text += QString::fromLatin1(engine->mixerModeText());
    if (engine->studio && (engine->playing || engine->studio->inCallback())) {
        // One line for each sounding voice (taken voices still ramping out
        // included), live notes too when the device's callback renders.
        const StudioMixer::View& view = engine->studio->view();
        for (uint32_t k = 0; k < view.waveCount; ++k)
            if (const Wave* wave = view.waves[k]) text += QString::fromStdString(wave->name) + QStringLiteral("\n");
    } else if (engine->playing && engine->softwareMixer) {
        for (const MixerVoice& voice : engine->custom.mixerVoices) {
            if (voice.active && voice.wave)
                text += QString::fromStdString(voice.wave->name) + QStringLiteral("\n");
            else
                text += QStringLiteral("---\n");
        }
    }
    return text;
}

void CTonveroView::refreshText() {
    QStringList lines = composeText(theEngine).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    if (lines != lines_) {
        lines_ = std::move(lines);
        const QFontMetrics metrics(font());
        textWidth_ = 0;
        for (const QString& line : lines_) textWidth_ = std::max(textWidth_, metrics.horizontalAdvance(line));
        updateScrollRanges();
    }
    viewport()->update();
}

void CTonveroView::updateScrollRanges() {
    const QFontMetrics metrics(font());
    const int lineHeight = metrics.lineSpacing();
    const int textHeight = kMargin + static_cast<int>(lines_.size()) * lineHeight;
    const QSize area = viewport()->size();
    verticalScrollBar()->setPageStep(std::max(1, area.height()));
    verticalScrollBar()->setSingleStep(lineHeight);
    verticalScrollBar()->setRange(0, std::max(0, textHeight - area.height()));
    horizontalScrollBar()->setPageStep(std::max(1, area.width()));
    horizontalScrollBar()->setSingleStep(metrics.averageCharWidth() * 4);
    horizontalScrollBar()->setRange(0, std::max(0, kMargin + textWidth_ - area.width()));
}

void CTonveroView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRanges();
}

void CTonveroView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::Text));
    // One line per "\n", left-aligned from the top, no wrapping, moved by the scroll bars.
    const QFontMetrics metrics(font());
    const int lineHeight = metrics.lineSpacing();
    const int top = kMargin - verticalScrollBar()->value();
    const int left = kMargin - horizontalScrollBar()->value();
    // Only the lines inside the view are drawn.
    const int first = std::max(0, -top / lineHeight);
    const int last = std::min(static_cast<int>(lines_.size()), (viewport()->height() - top) / lineHeight + 1);
    for (int i = first; i < last; ++i) painter.drawText(left, top + i * lineHeight + metrics.ascent(), lines_[i]);
}

void CTonveroView::onInstrumentEditor() { runInstrumentEditor(nullptr); }

}  // namespace tonvero
