#pragma once
// The Instrument Editor's program list: "000 - Acoustic Grand" up to
// "127 - Gunshot" for the General MIDI programs and "128 - Drums Collection"
// for the drum set. An entry's position is its program number.
//
// Typing into the list finds an entry by name as well as by number: "fid"
// chooses "110 - Fiddle", "110" too; the typed text is kept while keys come
// less than a second apart.
//
// Threads: user-interface thread only.

#include <QString>

class QComboBox;

namespace tonvero {

constexpr int kProgramListEntries = 129;

// Entry `program` (0..128); empty outside that range.
QString programListEntry(int program);

// The entry (0..128) that `typed` finds: all digits, the program of that
// number; otherwise the first whose name starts with it, else the first whose
// name holds it, ignoring case. -1 when none does.
int findProgramEntry(const QString& typed);

// Makes typing into `list` (holding the entries in program order) choose the
// entry findProgramEntry finds, as if the user had picked it (the list's
// activated signal is sent).
void enableProgramSearch(QComboBox* list);

}  // namespace tonvero
