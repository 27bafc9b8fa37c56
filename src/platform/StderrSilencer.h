#pragma once
// Points the process's standard error at /dev/null for as long as it lives.
// The sound libraries under PortAudio (ALSA, JACK) print diagnostics there
// while they probe devices; the user needs none of them, and every failure
// that matters comes back as an error code we report ourselves. Anything
// another thread writes to stderr meanwhile is lost too, so keep it short.

namespace tonvero {

class StderrSilencer {
public:
    StderrSilencer();
    ~StderrSilencer();
    StderrSilencer(const StderrSilencer&) = delete;
    StderrSilencer& operator=(const StderrSilencer&) = delete;

private:
    int saved_ = -1;
};

}  // namespace tonvero
