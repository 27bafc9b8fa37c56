#pragma once
// The Instrument Editor's keyboard: all 128 keys, to hear the chosen
// Instrument at any key and velocity. Pressing a key with the left button
// plays it (lower on a key is louder: see KeyboardGeometry) through the
// engine's current mixer on the preview channel; sliding to another key
// plays that one instead; the note is released when the button is let go,
// when the mouse leaves the keys, when the strip is hidden (the dialog
// closes) and when it is destroyed, so no note is left hanging.
//
// Keys that no Zone of the Instrument holds are drawn grey; the chosen
// sound's key range is tinted.
//
// Threads: user-interface thread only.

#include "editor/EditedSound.h"
#include "editor/KeyboardGeometry.h"

#include <QWidget>

#include <cstdint>

namespace tonvero {

class KeyboardStrip : public QWidget {
    Q_OBJECT
public:
    explicit KeyboardStrip(EditedSoundSource source, QWidget* parent = nullptr);
    ~KeyboardStrip() override;

    KeyboardGeometry geometry() const;
    // The key that sounds (-1: none), its velocity and the engine's note id.
    int32_t soundingKey() const { return key_; }
    int32_t soundingVelocity() const { return velocity_; }
    int32_t noteId() const { return noteId_; }

    // Releases the note that sounds, if any.
    void release();

signals:
    // A key began to sound (key and velocity), or the note ended (key -1).
    void played(int key, int velocity);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void play(int32_t key, int32_t velocity);
    // The key the mouse is on while the button is held: plays it, or releases when off the keys.
    void follow(const QPoint& at);

    EditedSoundSource source_;
    int32_t key_ = -1;
    int32_t velocity_ = 0;
    int32_t noteId_ = 0;
    bool held_ = false;  // the left button went down on the strip and is still down
};

}  // namespace tonvero
