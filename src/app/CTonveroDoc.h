#pragma once
// The document: an empty placeholder. Every piece of state lives in the
// engine and the two file names; the document gives the window its title,
// and tells whether the bank has changes not saved (the bank's history,
// editor/BankHistory.h, knows it for the window and the editors alike).

#include <QString>

namespace tonvero {

class CTonveroDoc {
public:
    // A new, empty document: "Untitled".
    void onNewDocument() { title_ = QStringLiteral("Untitled"); }
    // A file named on the command line that is neither a song nor a Patchmap
    // becomes the document's name and nothing more.
    void setPathName(const QString& path);
    const QString& title() const { return title_; }
    // Whether the bank differs from the Patchmap loaded or saved last.
    bool isModified() const;

private:
    QString title_ = QStringLiteral("Untitled");
};

}  // namespace tonvero
