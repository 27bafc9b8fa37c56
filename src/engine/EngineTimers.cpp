#include "engine/MixerEngine.h"

namespace tonvero {

void MixerEngine::startTimer(TimerId& id, uint64_t periodMicros, void (*proc)()) {
    if (id == 0) id = timerService->setPeriodic(periodMicros, proc);
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
