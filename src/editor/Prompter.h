#pragma once
// Every message box and file dialog of the application goes through the
// Prompter, so a test (or a script) can answer them without a person.
//
// Threads: user-interface thread only.

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

class QDialog;
class QWidget;

namespace tonvero {

// A file dialog's set-up, in the terms the commands use: the initial file
// name, the default extension and the filter in "Description (*.ext)|*.ext||" form.
struct FileDialogRequest {
    QString initialName;
    QString defaultExtension;
    QString filter;
};

// The Qt name filter for a "Description (*.ext)|*.ext||" filter string.
QString qtNameFilter(const QString& filter);

class Prompter {
public:
    virtual ~Prompter() = default;
    // A notice or refusal: caption "Message", exclamation icon, OK.
    virtual void notify(QWidget* owner, const QString& text) = 0;
    // A question: caption "Confirmation", question icon, Yes and No. True for Yes.
    virtual bool confirm(QWidget* owner, const QString& text) = 0;
    // A question with a way back ("Save changes to gmpatch.map?"): caption
    // "Confirmation", question icon, Yes, No and Cancel. The real prompter
    // shows that message box; a prompter that answers only Yes or No
    // (confirm) answers this one the same way.
    enum class Choice { Yes, No, Cancel };
    virtual Choice ask(QWidget* owner, const QString& text);
    // The chosen path, or an empty string when the user cancels.
    virtual QString openFile(QWidget* owner, const FileDialogRequest& request) = 0;
    virtual QString saveFile(QWidget* owner, const FileDialogRequest& request) = 0;
    // Runs one of the application's own modal dialogs (a name dialog, the
    // Loop Point Editor) and returns its result (QDialog::Accepted or
    // Rejected). The real prompter runs its modal loop.
    virtual int runModal(QDialog& dialog);
};

// The real dialogs.
class QtPrompter final : public Prompter {
public:
    void notify(QWidget* owner, const QString& text) override;
    bool confirm(QWidget* owner, const QString& text) override;
    Choice ask(QWidget* owner, const QString& text) override;
    QString openFile(QWidget* owner, const FileDialogRequest& request) override;
    QString saveFile(QWidget* owner, const FileDialogRequest& request) override;
};

// Answers from a script, and a record of everything asked: for tests.
class ScriptedPrompter final : public Prompter {
public:
    struct Shown {
        enum Kind { Notice, Question, OpenDialog, SaveDialog, ModalDialog } kind;
        QString text;  // the message, the file dialog's filter, or the modal dialog's title
        QString initialName;
    };

    void notify(QWidget* owner, const QString& text) override;
    bool confirm(QWidget* owner, const QString& text) override;
    // Recorded as a Question; answered from its own queue (answerChoice), Cancel when it is empty.
    Choice ask(QWidget* owner, const QString& text) override;
    QString openFile(QWidget* owner, const FileDialogRequest& request) override;
    QString saveFile(QWidget* owner, const FileDialogRequest& request) override;
    // Hands the dialog, made and ready but not shown, to the next queued
    // handler, which works it as a user would (it may show it, set its
    // controls, click its buttons) and returns its result; with no handler
    // queued the dialog is cancelled.
    int runModal(QDialog& dialog) override;

    // Queued answers, used in order; an empty queue answers No / cancel.
    void answerYes(bool yes) { answers_.push_back(yes); }
    void answerChoice(Choice choice) { choices_.push_back(choice); }
    void answerFile(const QString& path) { files_.push_back(path); }
    void answerDialog(std::function<int(QDialog&)> handler) { dialogs_.push_back(std::move(handler)); }

    const std::vector<Shown>& shown() const { return shown_; }
    // The texts of the notices shown, in order.
    QStringList notices() const;
    void clear() { shown_.clear(); }

private:
    std::deque<bool> answers_;
    std::deque<Choice> choices_;
    std::deque<QString> files_;
    std::deque<std::function<int(QDialog&)>> dialogs_;
    std::vector<Shown> shown_;
};

// The prompter the application uses (a QtPrompter unless replaced).
Prompter& prompter();
// Replaces it (tests); null restores the real dialogs. Not owned.
void setPrompter(Prompter* replacement);

}  // namespace tonvero
