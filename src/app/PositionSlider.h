#pragma once
// The song's position as a slider, in milliseconds of song time, with the
// A-B loop range drawn over its groove.
//
// A press anywhere on the groove puts the handle there and starts a drag;
// `seekRequested` comes once the button is let go (a click or a drag alike),
// and at once for a move made with the keyboard or the wheel. Positions set
// by the program (`showPosition`) never ask for a seek, and are not shown
// while the user holds the handle, so the refresh does not fight a drag.
//
// Threads: user-interface thread only.

#include <QSlider>

namespace tonvero {

class PositionSlider : public QSlider {
    Q_OBJECT
public:
    explicit PositionSlider(QWidget* parent = nullptr);

    // Shows the song's place and length (seconds); nothing while the user drags.
    void showPosition(double positionSeconds, double lengthSeconds);
    // Where the handle is, in seconds of song time.
    double handleSeconds() const { return sliderPosition() / 1000.0; }
    // Marks of the A-B range in seconds; below 0: not set.
    void setLoopMarks(double startSeconds, double endSeconds);
    // True while the user holds the handle (with the mouse or by the program's setSliderDown).
    bool userHolds() const { return isSliderDown() || pressed_; }

signals:
    void seekRequested(double seconds);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The x of a song time (milliseconds) at the middle of where the handle would stand.
    int pixelOf(int milliseconds) const;

    bool pressed_ = false;  // a mouse button went down on the slider and is not up yet
    bool showing_ = false;  // the program is moving the handle
    int loopStart_ = -1;    // milliseconds, -1: not set
    int loopEnd_ = -1;
};

}  // namespace tonvero
