#pragma once
// Drop-down lists that keep their entries sorted as the dialogs' sorted
// lists always have: letters compared without regard to case, and an entry
// equal to others placed after them.
//
// Threads: user-interface thread only.

#include <QString>

class QComboBox;

namespace tonvero {

// Adds `text` at its sorted position and returns that position. The
// selection stays on the entry it was on.
int insertSorted(QComboBox& list, const QString& text);
// Selects the first entry, in the list's order, whose text begins with
// `text`, letters compared without regard to case. Returns its position, or
// -1 (the selection unchanged) when none does.
int selectByPrefix(QComboBox& list, const QString& text);
// The selected entry's text; empty when nothing is selected.
QString selectedText(const QComboBox& list);

}  // namespace tonvero
