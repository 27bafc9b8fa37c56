#include "platform/StderrSilencer.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace tonvero {

StderrSilencer::StderrSilencer() {
    std::fflush(stderr);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull < 0) return;
    saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved_ >= 0 && ::dup2(devNull, STDERR_FILENO) < 0) {
        ::close(saved_);
        saved_ = -1;
    }
    ::close(devNull);
}

StderrSilencer::~StderrSilencer() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
}

}  // namespace tonvero
