#pragma once
// The bank's history: every change the editors make to the bank is a
// BankEdit (EditCommands.h) recorded here, which applies it with the engine
// lock held and keeps it as a step that Undo takes back and Redo makes
// again. The history also knows whether the bank has changed since it was
// loaded or saved: the steps done since then are the difference, so undoing
// back to the saved state leaves the bank unmodified again.
//
// One history serves the one bank of theEngine (it outlives a change of
// mixer, which moves the bank to a new engine); loading another bank forgets
// it (clear). Its steps hold pointers into the bank and the Instruments,
// Zones and Waves they took out of it, so a step runs only on the state it
// was recorded on: the steps run strictly in order, and nothing changes the
// bank outside the history while it holds steps (a bank loaded clears it).
//
// How a change is recorded: make its BankEdit and call
// bankHistory().record(std::move(edit)); the edit's apply() is the change.
// Several changes that the user makes as one ("Delete Instrument Piano"
// deletes and assigns another Instrument) go between beginStep and endStep
// (or in the scope of a BankHistory::Step).
//
// Threads: user-interface thread only.

#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class QAction;
class QUndoStack;

namespace tonvero {

class BankEdit;
class BankHistory;
class EditGroup;

// The application's one history.
BankHistory& bankHistory();

class BankHistory : public QObject {
    Q_OBJECT
public:
    BankHistory();
    ~BankHistory() override;

    // Applies `edit` to theEngine's bank with the engine lock held and keeps
    // it: as the next undo step, joined with the one before when that is the
    // same field of the same sound (QUndoCommand::mergeWith), or as part of
    // the step begun. Without an engine nothing happens.
    void record(std::unique_ptr<BankEdit> edit);
    // The edits recorded from here to endStep make one step named `text`;
    // a step begun inside another joins it. A step with no edits is dropped.
    void beginStep(const QString& text);
    void endStep();
    class Step {
    public:
        explicit Step(const QString& text) { bankHistory().beginStep(text); }
        ~Step() { bankHistory().endStep(); }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;
    };

    bool canUndo() const;
    bool canRedo() const;
    // The name of the step Undo / Redo takes ("Import Violin Gb4.wav"); empty when none.
    QString undoText() const;
    QString redoText() const;
    // Takes back the last step / makes the last one taken back again, each
    // change with the engine lock held; then `restored` tells the editors.
    void undo();
    void redo();

    // Whether the bank differs from the one loaded or saved last.
    bool isModified() const;
    // The bank was saved: its present state is the unmodified one.
    void markSaved();
    // Another bank was loaded (or the bank is going): forgets every step, unmodified.
    void clear();

    // An Edit menu item "&Undo NAME" (Ctrl+Z) / "&Redo NAME" (Ctrl+Shift+Z)
    // that follows the history, enabled when there is a step to take.
    QAction* makeUndoAction(QObject* parent);
    QAction* makeRedoAction(QObject* parent);

    QUndoStack& stack() { return *stack_; }

signals:
    // The bank became modified or unmodified.
    void modifiedChanged(bool modified);
    // An undo or redo changed the bank: an open editor shows it afresh.
    void restored();

private:
    std::unique_ptr<QUndoStack> stack_;
    std::unique_ptr<EditGroup> open_;  // the step begun, collecting its edits
    int depth_ = 0;                    // how many beginSteps are open
};

}  // namespace tonvero
