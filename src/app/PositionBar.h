#pragma once
// The position toolbar under the main toolbar: the song's position slider and
// its "0:42 / 2:15" text, the loop commands (actions the frame owns) and the
// master volume slider (0..100).
//
// Threads: user-interface thread only.

#include <QList>
#include <QToolBar>

class QAction;
class QLabel;
class QSlider;

namespace tonvero {

class PositionSlider;

class PositionBar : public QToolBar {
    Q_OBJECT
public:
    // `loopActions` go between the position text and the volume.
    explicit PositionBar(const QList<QAction*>& loopActions, QWidget* parent = nullptr);

    PositionSlider* slider() const { return slider_; }
    QSlider* volumeSlider() const { return volume_; }
    QString positionText() const;

    // The song's place and length; `loaded` false: no song (the slider is idle and the text empty).
    void showPosition(double positionSeconds, double lengthSeconds, bool loaded);
    // Moves the volume slider without announcing it.
    void showVolume(int percent);

signals:
    void seekRequested(double seconds);
    // The user moved the volume slider (0..100).
    void volumeChanged(int percent);

private:
    PositionSlider* slider_ = nullptr;
    QLabel* time_ = nullptr;
    QSlider* volume_ = nullptr;
    QLabel* volumeText_ = nullptr;
};

}  // namespace tonvero
