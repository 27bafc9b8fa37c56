#pragma once
// The status view: a block of fixed-pitch text naming the Patchmap and song,
// the mixer mode and, while a song plays through the software mixer, the
// Wave of each of the 32 mixer voices. Repainted every 500 ms by the frame.
//
// Threads: user-interface thread; reads the engine under its mutex.

#include <QString>
#include <QWidget>

namespace tonvero {

class MixerEngine;

class CTonveroView : public QWidget {
    Q_OBJECT
public:
    explicit CTonveroView(QWidget* parent = nullptr);

    // The text the view draws for this engine (empty when there is none).
    static QString composeText(MixerEngine* engine);

public slots:
    // View menu "&InstrumentEditor": runs the Instrument Editor modally.
    void onInstrumentEditor();

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace tonvero
