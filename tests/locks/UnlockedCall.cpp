// Compiled only by `make check-locks`, which expects the compiler to refuse
// it: a note started without the engine lock, the mistake the lock marks are
// there to catch. Never built into a program.

#include "engine/MixerEngine.h"

namespace tonvero {

void startsANoteWithoutTheLock(MixerEngine& engine) {
    engine.noteOn(60, 100, 0);  // refused: noteOn requires engine.mutex
}

void startsANoteUnderTheLock(MixerEngine& engine) {
    EngineLock lock(engine.mutex);
    engine.noteOn(60, 100, 0);  // accepted
}

}  // namespace tonvero
