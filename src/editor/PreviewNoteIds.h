#pragma once
// The note ids of the editors' last test notes. They outlive the dialogs, so
// Stop after reopening a dialog still releases the note started before.
//
// Threads: user-interface thread only.

#include <cstdint>

namespace tonvero {

// The last test note started by the Instrument Editor (0: none yet).
extern int32_t editorPreviewId;
// The last test note started by the Loop Point Editor (0: none yet).
extern int32_t loopEditorPreviewId;

}  // namespace tonvero
