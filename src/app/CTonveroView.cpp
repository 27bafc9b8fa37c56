#include "app/CTonveroView.h"

#include "app/AppGlobals.h"
#include "editor/CInstrumentEditorDlg.h"
#include "engine/MixerEngine.h"

#include <QFontDatabase>
#include <QPainter>

namespace tonvero {

CTonveroView::CTonveroView(QWidget* parent) : QWidget(parent) {
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

QString CTonveroView::composeText(MixerEngine* engine) {
    QString text;
    if (!engine) return text;
    text += QStringLiteral("Tonvero Player - General MIDI with its own sample mixer\n");
    text += QStringLiteral("Patchmap: ") + QString::fromStdString(patchmapPath) + QStringLiteral("  Song: ") +
            QString::fromStdString(songPath) + QStringLiteral("\n");

    EngineLock lock(engine->mutex);
    text += QString::fromLatin1(engine->mixerModeText());
    if (engine->playing && engine->studio) {
        // One line for each sounding voice (taken voices still ramping out included).
        engine->studio->forEachSoundingVoice([&text](const StudioVoice& voice) {
            if (voice.wave) text += QString::fromStdString(voice.wave->name) + QStringLiteral("\n");
        });
    } else if (engine->playing && engine->softwareMixer) {
        for (const MixerVoice& voice : engine->mixerVoices) {
            if (voice.active && voice.wave)
                text += QString::fromStdString(voice.wave->name) + QStringLiteral("\n");
            else
                text += QStringLiteral("---\n");
        }
    }
    return text;
}

void CTonveroView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::Text));
    // One line per "\n", left-aligned from the top, no wrapping; the area is
    // large enough that nothing is cut.
    painter.drawText(QRect(0, 0, 10000, 10000), Qt::AlignLeft | Qt::AlignTop, composeText(theEngine));
}

}  // namespace tonvero

namespace tonvero {

void CTonveroView::onInstrumentEditor() { runInstrumentEditor(nullptr); }

}  // namespace tonvero
