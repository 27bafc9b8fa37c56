#include "engine/MixerEngine.h"

namespace tonvero {

void MixerEngine::startTimer(TimerId& id, uint64_t periodMicros, void (*proc)()) {
    if (id != 0) return;
    // The callback reaches this engine through theEngine on whatever thread
    // the service runs it, and leaves that thread's engine as it found it.
    id = timerService->setPeriodic(periodMicros, [this, proc] {
        MixerEngine* const before = theEngine;
        theEngine = this;
        proc();
        theEngine = before;
    });
}

void MixerEngine::killTimerHere(TimerId& id) {
    if (id == 0) return;
    timerService->kill(id);
    id = 0;
}

MixerEngine::TimerIds MixerEngine::takeTimers(unsigned which) {
    TimerIds ids;
    if (which & kSequencerTimer) std::swap(ids.sequencer, sequencerTimer);
    if (which & kMixerTimer) std::swap(ids.mixer, mixerTimer);
    if (which & kSongEndTimer) std::swap(ids.songEnd, songEndTimer);
    return ids;
}

void MixerEngine::killTimers(const TimerIds& ids) {
    for (const TimerId id : {ids.sequencer, ids.mixer, ids.songEnd})
        if (id != 0) timerService->kill(id);
}

}  // namespace tonvero
