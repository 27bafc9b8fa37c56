#pragma once
// The channel view: one row per MIDI channel 1..16 (its sound, a level meter,
// the keys that sound, volume and pan) with a Mute and a Solo button each.
//
// Every 40 ms, while it is shown, it copies the engine's channel activity in
// one short step under the engine mutex and paints from the copy. The mutes
// and solos are the listener's: kept here, sent to the engine when a button
// is pressed, and given again to an engine made anew (applyToEngine).
//
// Threads: user-interface thread only.

#include "engine/ChannelMonitor.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>

class QToolButton;

namespace tonvero {

class ChannelStrip;
class MixerEngine;

class ChannelView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMillis = 40;

    explicit ChannelView(QWidget* parent = nullptr);

    // What the timer does: one copy of the channels, and the rows updated from
    // it, the meters falling for the time since the last poll.
    void poll();
    // The same, the meters falling for `elapsedSeconds` (for a picture made on a virtual clock).
    void poll(double elapsedSeconds);
    bool refreshing() const { return timer_.isActive(); }

    ChannelStrip* strip(int channel) const { return rowOf(channel).strip; }
    QToolButton* muteButton(int channel) const { return rowOf(channel).mute; }
    QToolButton* soloButton(int channel) const { return rowOf(channel).solo; }

    uint16_t mutedMask() const { return muted_; }
    uint16_t soloedMask() const { return soloed_; }
    // Gives `engine` the mutes and solos set here. Takes the engine mutex.
    void applyToEngine(MixerEngine& engine) const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Row {
        ChannelStrip* strip = nullptr;
        QToolButton* mute = nullptr;
        QToolButton* solo = nullptr;
    };

    void setMuted(int channel, bool on);
    void setSoloed(int channel, bool on);
    Row& rowOf(int channel) { return rows_[static_cast<size_t>(channel)]; }
    const Row& rowOf(int channel) const { return rows_[static_cast<size_t>(channel)]; }

    std::array<Row, kMidiChannels> rows_{};
    ChannelActivities activities_{};
    uint16_t muted_ = 0;
    uint16_t soloed_ = 0;
    QTimer timer_;
    QElapsedTimer sinceLastPoll_;
};

}  // namespace tonvero
