#pragma once
// One row of the channel view, painted: the channel's number, its sound's
// name, a level meter, the keys that sound on a small keyboard, and its
// volume and pan. The meter rises at once and falls by 20 dB a second; a
// peak mark holds for a second and then falls the same way.
//
// Painting is kept cheap: the idle keyboard and the meter's colours are drawn
// once for the row's size, and a row repaints only when what it shows changed.
//
// Threads: user-interface thread only.

#include "engine/ChannelMonitor.h"

#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>

namespace tonvero {

// Where each column of a row lies, for a row (or the header above) `width` wide.
struct ChannelColumns {
    QRect number, name, meter, keys, volume, pan;
    static ChannelColumns forRow(int width, int height);
};

class ChannelStrip : public QWidget {
    Q_OBJECT
public:
    explicit ChannelStrip(int channel, QWidget* parent = nullptr);

    // Takes the channel's state `elapsedSeconds` after the last; repaints when it changed.
    void showActivity(const ChannelActivity& activity, double elapsedSeconds);

    int channel() const { return channel_; }
    const ChannelActivity& activity() const { return shown_; }
    QString soundName() const { return name_; }
    // The meter as drawn, 0..1 of full scale.
    float meterLevel() const { return meter_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void drawBackdrop();

    int channel_;            // 0..15
    ChannelActivity shown_;  // the state drawn
    QString name_;
    float meter_ = 0;     // the falling meter, 0..1
    float peak_ = 0;      // the peak mark, 0..1
    double peakAge_ = 0;  // seconds since the peak was set
    QPixmap backdrop_;    // the idle keyboard and the meter's empty track
    ChannelColumns columns_;
};

}  // namespace tonvero
