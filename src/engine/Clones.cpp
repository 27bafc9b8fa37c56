#include "engine/Clones.h"

namespace tonvero {

namespace {

bool detectAvx2() {
#if defined(__x86_64__) && defined(__GNUC__)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

const bool kProcessorHasAvx2 = detectAvx2();

}  // namespace tonvero
