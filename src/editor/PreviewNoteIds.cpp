#include "editor/PreviewNoteIds.h"

namespace tonvero {

int32_t editorPreviewId = 0;
int32_t loopEditorPreviewId = 0;

}  // namespace tonvero
