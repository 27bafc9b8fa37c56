#include "editor/EditorEngine.h"

#include "engine/MixerEngine.h"
#include "song/Transport.h"

namespace tonvero {

// The analysis cannot follow a lock taken only when there is an engine;
// callers see the mark on the declaration.
EditorEngineLock::EditorEngineLock() NO_THREAD_SAFETY_ANALYSIS : engine_(theEngine) {
    if (engine_) engine_->mutex.lock();
}

EditorEngineLock::~EditorEngineLock() NO_THREAD_SAFETY_ANALYSIS {
    if (engine_) engine_->mutex.unlock();
}

Bank* editedBank() { return theEngine ? &theEngine->bank : nullptr; }

Instrument* programSlotInstrument(int program) {
    const Bank* bank = editedBank();
    if (!bank || program < 0 || program >= Bank::kProgramEntries) return nullptr;
    const int32_t slot = bank->programMap[static_cast<size_t>(program)];
    if (slot < 0 || slot >= Bank::kInstrumentSlots) return nullptr;
    return bank->instruments[static_cast<size_t>(slot)].get();
}

int32_t startTestNote(Instrument* instrument, Zone* zone) {
    MixerEngine* engine = theEngine;
    if (!engine) return -1;
    bool songRuns = false;
    {
        EngineLock lock(engine->mutex);
        const TransportStatus status = transportStatus(*engine);
        songRuns = status == TransportStatus::Playing || status == TransportStatus::Paused ||
                   status == TransportStatus::Ending;
    }
    // stop takes the lock itself and waits for the timer callbacks.
    if (songRuns) stop(*engine);
    EngineLock lock(engine->mutex);
    engine->silenceAll();
    rewindSong(*engine);
    return engine->previewNote(instrument, zone);
}

int32_t startKeyNote(Instrument* instrument, int32_t key, int32_t velocity) {
    MixerEngine* engine = theEngine;
    if (!engine || !instrument) return -1;
    EngineLock lock(engine->mutex);
    return engine->previewKey(instrument, key, velocity);
}

void stopTestNote(int32_t noteId) {
    MixerEngine* engine = theEngine;
    if (!engine) return;
    EngineLock lock(engine->mutex);
    engine->stopPreview(noteId);
}

}  // namespace tonvero
