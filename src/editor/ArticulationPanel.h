#pragma once
// The Instrument Editor's articulation panel: the chosen sound's articulation
// (bank/Articulation.h), every number in the unit a user reads it in (see
// ArticulationControl), with the check box "Articulation" that gives the Zone
// a new articulation with the SoundFont's defaults or takes it away (the
// Zone then sounds as it always did), "Tail on release", and the stereo link.
// Without articulation the fields show the defaults, greyed.
//
// A field's value is taken when the user presses Enter in it or leaves it
// for another control (Tab, a click), not at every keystroke, so a number
// half typed is never stored. A value the field does not take gets a message
// saying what it takes, through the Prompter, and the focus; nothing is
// stored (and the Enter goes no further: Test is not pressed). When the panel is hidden (the dialog closes), a value typed and
// not yet taken is stored if the field takes it. A value taken is stored at
// once into the bank with the engine lock held, as a step of the bank's
// history (BankHistory.h: a field taken again straight after joins its
// step), and shown again in the field's own form (typing 0.30 s shows 0.3).
//
// The volume envelope's curve (EnvelopeView) follows the fields; its drags
// are stored and shown in the fields; the moves of one drag make one step.
//
// Threads: user-interface thread only.

#include "bank/Articulation.h"
#include "editor/EditedSound.h"

#include <QMap>
#include <QString>
#include <QWidget>

#include <memory>

namespace tonvero {

class DialogTemplate;
class EnvelopeView;
struct ArticulationControl;

class ArticulationPanel : public QWidget {
    Q_OBJECT
public:
    // The panel's size, in the dialog's units.
    static constexpr int kWidth = 454;
    static constexpr int kHeight = 193;

    static const QString kNoLink;  // "Linked to: none"

    // `source` tells the chosen sound each time the panel acts.
    explicit ArticulationPanel(EditedSoundSource source, QWidget* parent = nullptr);
    ~ArticulationPanel() override;

    // The curve that shows, and drags, the volume envelope.
    void attachEnvelopeView(EnvelopeView* view);
    // Shows the chosen sound's articulation, or its absence, afresh.
    void load();

    // The control with this id (articulation_id in ArticulationControl.h).
    QWidget* control(int id) const;

public slots:
    // The check boxes.
    void onArticulationClicked();
    void onTailOnReleaseClicked();
    // The field's value is taken (Enter, or the focus leaving it).
    void onFieldCommitted(int id);
    // A drag on the curve.
    void onEnvelopeDragged(const tonvero::EnvelopeSettings& envelope);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    ZoneArticulation* articulation() const;
    // Stores the field's text if it changed since it was shown; `tell`:
    // a refusal gets its message (else it is dropped in silence). False
    // when the text was refused.
    bool commit(int id, bool tell);
    void showField(const ArticulationControl& field, const ZoneArticulation& values);
    void showEnvelope();
    void showLink();

    EditedSoundSource source_;
    std::unique_ptr<DialogTemplate> layout_;
    EnvelopeView* envelopeView_ = nullptr;
    QMap<int, QString> shown_;  // the text each field was last given
    bool committing_ = false;   // a commit's message is up: the focus it takes commits nothing
    int drag_ = 0;              // counts the curve's drags: the moves of one make one step
};

}  // namespace tonvero
