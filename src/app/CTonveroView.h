#pragma once
// The status view: a block of fixed-pitch text naming the Patchmap and song,
// the mixer mode and, while a song plays, one line per voice (the Custom
// Mixer's 32 voices, or each voice the Studio mixer sounds). The frame
// refreshes it every 500 ms; the text scrolls when it is taller or wider than
// the view.
//
// Threads: user-interface thread; reads the engine under its mutex.

#include <QAbstractScrollArea>
#include <QString>
#include <QStringList>

namespace tonvero {

class MixerEngine;

class CTonveroView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CTonveroView(QWidget* parent = nullptr);

    // The text the view draws for this engine (empty when there is none).
    static QString composeText(MixerEngine* engine);
    // Composes the text for theEngine again, sets the scroll ranges for it and repaints.
    void refreshText();
    // The lines drawn now.
    const QStringList& shownLines() const { return lines_; }

public slots:
    // View menu "&InstrumentEditor": runs the Instrument Editor modally.
    void onInstrumentEditor();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateScrollRanges();

    QStringList lines_;
    int textWidth_ = 0;  // the widest line, in pixels
};

}  // namespace tonvero
