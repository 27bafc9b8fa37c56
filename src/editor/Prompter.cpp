#include "editor/Prompter.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace tonvero {

QString qtNameFilter(const QString& filter) {
    // "MIDI music files (*.mid)|*.mid||": the description already names the pattern.
    const QStringList parts = filter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString description = parts[i];
        if (!description.contains(QLatin1Char('(')))
            description += QStringLiteral(" (") + parts[i + 1] + QLatin1Char(')');
        filters << description;
    }
    if (filters.isEmpty() && !parts.isEmpty()) filters << parts.front();
    return filters.join(QStringLiteral(";;"));
}

namespace {

QString withoutDot(QString extension) {
    // "*.mid" -> "mid"
    while (extension.startsWith(QLatin1Char('*')) || extension.startsWith(QLatin1Char('.'))) extension.remove(0, 1);
    return extension;
}

QString runFileDialog(QWidget* owner, const FileDialogRequest& request, bool save) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(qtNameFilter(request.filter));
    dialog.setDefaultSuffix(withoutDot(request.defaultExtension));
    // A wildcard initial name ("*.mid") only selects the filter; a real name is proposed.
    if (!request.initialName.isEmpty() && !request.initialName.contains(QLatin1Char('*')))
        dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.front();
}

QtPrompter realPrompter;
Prompter* current = nullptr;

}  // namespace

void QtPrompter::notify(QWidget* owner, const QString& text) {
    QMessageBox::warning(owner, QStringLiteral("Message"), text, QMessageBox::Ok);
}

bool QtPrompter::confirm(QWidget* owner, const QString& text) {
    return QMessageBox::question(owner, QStringLiteral("Confirmation"), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

int Prompter::runModal(QDialog& dialog) { return dialog.exec(); }

Prompter::Choice Prompter::ask(QWidget* owner, const QString& text) {
    return confirm(owner, text) ? Choice::Yes : Choice::No;
}

Prompter::Choice QtPrompter::ask(QWidget* owner, const QString& text) {
    switch (QMessageBox::question(owner, QStringLiteral("Confirmation"), text,
                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes)) {
    case QMessageBox::Yes: return Choice::Yes;
    case QMessageBox::No: return Choice::No;
    default: return Choice::Cancel;  // Cancel, Escape or the window closed
    }
}

QString QtPrompter::openFile(QWidget* owner, const FileDialogRequest& request) {
    return runFileDialog(owner, request, false);
}

QString QtPrompter::saveFile(QWidget* owner, const FileDialogRequest& request) {
    return runFileDialog(owner, request, true);
}

void ScriptedPrompter::notify(QWidget*, const QString& text) { shown_.push_back({Shown::Notice, text, {}}); }

bool ScriptedPrompter::confirm(QWidget*, const QString& text) {
    shown_.push_back({Shown::Question, text, {}});
    if (answers_.empty()) return false;
    const bool yes = answers_.front();
    answers_.pop_front();
    return yes;
}

Prompter::Choice ScriptedPrompter::ask(QWidget*, const QString& text) {
    shown_.push_back({Shown::Question, text, {}});
    if (choices_.empty()) return Choice::Cancel;
    const Choice choice = choices_.front();
    choices_.pop_front();
    return choice;
}

QString ScriptedPrompter::openFile(QWidget*, const FileDialogRequest& request) {
    shown_.push_back({Shown::OpenDialog, request.filter, request.initialName});
    if (files_.empty()) return {};
    QString path = files_.front();
    files_.pop_front();
    return path;
}

QString ScriptedPrompter::saveFile(QWidget*, const FileDialogRequest& request) {
    shown_.push_back({Shown::SaveDialog, request.filter, request.initialName});
    if (files_.empty()) return {};
    QString path = files_.front();
    files_.pop_front();
    return path;
}

int ScriptedPrompter::runModal(QDialog& dialog) {
    shown_.push_back({Shown::ModalDialog, dialog.windowTitle(), {}});
    if (dialogs_.empty()) {
        dialog.reject();
        return dialog.result();
    }
    auto handler = std::move(dialogs_.front());
    dialogs_.pop_front();
    return handler(dialog);
}

QStringList ScriptedPrompter::notices() const {
    QStringList texts;
    for (const Shown& s : shown_)
        if (s.kind == Shown::Notice) texts << s.text;
    return texts;
}

Prompter& prompter() { return current ? *current : realPrompter; }

void setPrompter(Prompter* replacement) { current = replacement; }

}  // namespace tonvero
