#pragma once
// The volume envelope's curve in the Instrument Editor: shows the chosen
// sound's envelope and lets the user drag its points with the left button
// (the delay, attack, hold, decay and release ends sideways for their times;
// the decay's and the held note's ends up and down for the sustain level).
// Each move of a drag reports the envelope it makes (dragged); the
// articulation panel stores it. The drawing is EnvelopePainter's, the
// arithmetic EnvelopeGeometry's.
//
// Threads: user-interface thread only.

#include "editor/EnvelopeGeometry.h"

#include <QWidget>

#include <optional>

namespace tonvero {

class EnvelopeView : public QWidget {
    Q_OBJECT
public:
    explicit EnvelopeView(QWidget* parent = nullptr);

    // The envelope shown; `enabled` false (a Zone without articulation, or no
    // sound chosen) shows it in grey and takes no drags.
    void setEnvelope(const EnvelopeSettings& envelope, bool enabled);
    const EnvelopeSettings& envelope() const { return envelope_; }
    bool editable() const { return editable_; }
    // The curve's layout at the widget's present size.
    EnvelopeGeometry geometry() const;
    // The point being dragged, if a drag is on.
    std::optional<EnvelopeHandle> dragging() const { return dragging_; }

signals:
    // A drag took hold of a point: the moves that follow, up to the button's release, are one drag.
    void dragStarted();
    // A drag moved a point: the envelope it makes, already shown.
    void dragged(const tonvero::EnvelopeSettings& envelope);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setHot(std::optional<EnvelopeHandle> handle);

    EnvelopeSettings envelope_;
    bool editable_ = false;
    std::optional<EnvelopeHandle> dragging_;
    std::optional<EnvelopeHandle> hot_;  // under the mouse
    // Where in the point's square the drag took hold, so the point does not jump to the mouse.
    int32_t grabDx_ = 0;
    int32_t grabDy_ = 0;
};

}  // namespace tonvero
