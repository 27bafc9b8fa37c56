#pragma once
// A JACK server of a test's own: jackd with the dummy driver (no sound card),
// under a name no other test uses, started in non-real-time mode so it runs
// unprivileged. Clients reach it by that name (JACK_DEFAULT_SERVER is set
// for the process while it runs, so libjack and RtMidi's JACK API find it).
//
// Readiness is waited for by opening a client until the server answers
// (bounded; never asserted on as a time).

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace test {

class JackServer {
public:
    // Starts `jackd -n NAME -d dummy -r RATE -p PERIOD`; running() says whether it answered.
    explicit JackServer(uint32_t rate = 48000, uint32_t period = 1024);
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    bool running() const { return pid_ > 0 && ready_; }
    const std::string& name() const { return name_; }
    // Why it did not start (empty when it did).
    const std::string& error() const { return error_; }
    // Stops the server (SIGTERM, then SIGKILL if it lingers) and waits for it.
    void stop();

private:
    std::string name_;
    std::string error_;
    pid_t pid_ = -1;
    bool ready_ = false;
};

}  // namespace test
