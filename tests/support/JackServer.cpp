#include "support/JackServer.h"

#include <jack/jack.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace test {

namespace {

std::atomic<int> serverCount{0};

// Quiet libjack: a test opening a client before the server is up would print each failure.
void ignoreJackMessage(const char*) {}

}  // namespace

JackServer::JackServer(uint32_t rate, uint32_t period) {
    name_ = "tonvero-test-" + std::to_string(getpid()) + "-" + std::to_string(serverCount.fetch_add(1));
    jack_set_error_function(&ignoreJackMessage);
    jack_set_info_function(&ignoreJackMessage);
    const std::string rateText = std::to_string(rate);
    const std::string periodText = std::to_string(period);
    pid_ = fork();
    if (pid_ < 0) {
        error_ = "cannot fork for jackd";
        return;
    }
    if (pid_ == 0) {
        // The server's chatter would fill the test log.
        if (std::freopen("/dev/null", "w", stdout) == nullptr || std::freopen("/dev/null", "w", stderr) == nullptr)
            _exit(126);
        execlp("jackd", "jackd", "--no-realtime", "-n", name_.c_str(), "-d", "dummy", "-r", rateText.c_str(), "-p",
               periodText.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    for (int attempt = 0; attempt < 200; ++attempt) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = WIFEXITED(status) && WEXITSTATUS(status) == 127 ? "jackd is not installed"
                                                                     : "jackd exited before it answered";
            return;
        }
        jack_status_t jackStatus{};
        if (jack_client_t* probe = jack_client_open("probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName),
                                                    &jackStatus, name_.c_str())) {
            jack_client_close(probe);
            ready_ = true;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    error_ = "jackd did not answer";
}

JackServer::~JackServer() { stop(); }

void JackServer::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int attempt = 0; attempt < 100; ++attempt) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            ready_ = false;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    ready_ = false;
}

}  // namespace test
