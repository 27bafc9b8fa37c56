#include "editor/BankHistory.h"

#include "bank/Bank.h"
#include "editor/EditCommands.h"
#include "editor/EditorEngine.h"

#include <QAction>
#include <QKeySequence>
#include <QUndoStack>

namespace tonvero {

BankHistory::BankHistory() : stack_(std::make_unique<QUndoStack>()) {
    connect(stack_.get(), &QUndoStack::cleanChanged, this, [this](bool clean) { emit modifiedChanged(!clean); });
}

BankHistory::~BankHistory() = default;

BankHistory& bankHistory() {
    static BankHistory history;
    return history;
}

void BankHistory::record(std::unique_ptr<BankEdit> edit) {
    Bank* bank = editedBank();
    if (!edit || !bank) return;
    {
        EditorEngineLock lock;
        edit->apply(*bank);
    }
    if (open_) {
        open_->add(std::move(edit));
        return;
    }
    edit->markApplied();
    stack_->push(edit.release());
}

void BankHistory::beginStep(const QString& text) {
    if (depth_++ == 0) open_ = std::make_unique<EditGroup>(text);
}

void BankHistory::endStep() {
    if (depth_ == 0 || --depth_ > 0) return;
    std::unique_ptr<EditGroup> group = std::move(open_);
    if (!group || group->empty()) return;
    group->markApplied();
    stack_->push(group.release());
}

bool BankHistory::canUndo() const { return stack_->canUndo(); }
bool BankHistory::canRedo() const { return stack_->canRedo(); }
QString BankHistory::undoText() const { return stack_->undoText(); }
QString BankHistory::redoText() const { return stack_->redoText(); }

void BankHistory::undo() {
    if (open_ || !stack_->canUndo()) return;
    stack_->undo();
    emit restored();
}

void BankHistory::redo() {
    if (open_ || !stack_->canRedo()) return;
    stack_->redo();
    emit restored();
}

bool BankHistory::isModified() const { return !stack_->isClean(); }

void BankHistory::markSaved() { stack_->setClean(); }

void BankHistory::clear() {
    open_.reset();
    depth_ = 0;
    stack_->clear();  // clean afterwards; cleanChanged tells whoever shows the mark
}

namespace {

QAction* historyAction(BankHistory& history, QObject* parent, bool undo) {
    const QString prefix = undo ? QStringLiteral("&Undo") : QStringLiteral("&Redo");
    auto* action = new QAction(prefix, parent);
    action->setShortcut(undo ? QKeySequence(Qt::CTRL | Qt::Key_Z) : QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    action->setStatusTip(undo ? QStringLiteral("Take back the last change to the bank")
                              : QStringLiteral("Make the change taken back again"));
    const auto follow = [&history, action, prefix, undo] {
        const QString step = undo ? history.undoText() : history.redoText();
        action->setText(step.isEmpty() ? prefix : prefix + QLatin1Char(' ') + step);
        action->setEnabled(undo ? history.canUndo() : history.canRedo());
    };
    QUndoStack* stack = &history.stack();
    QObject::connect(stack, &QUndoStack::indexChanged, action, follow);
    QObject::connect(stack, &QUndoStack::cleanChanged, action, follow);
    QObject::connect(stack, undo ? &QUndoStack::undoTextChanged : &QUndoStack::redoTextChanged, action, follow);
    QObject::connect(action, &QAction::triggered, &history, [&history, undo] {
        if (undo)
            history.undo();
        else
            history.redo();
    });
    follow();
    return action;
}

}  // namespace

QAction* BankHistory::makeUndoAction(QObject* parent) { return historyAction(*this, parent, true); }
QAction* BankHistory::makeRedoAction(QObject* parent) { return historyAction(*this, parent, false); }

}  // namespace tonvero
