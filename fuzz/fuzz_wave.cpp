// libFuzzer entry for WAV files: every input goes to checkWave (LoaderChecks.h).

#include "LoaderChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tonvero::fuzz::checkWave(data, size);
    return 0;
}
