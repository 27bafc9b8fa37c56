// libFuzzer entry for SoundFont 2 files: every input goes to checkSoundFont (LoaderChecks.h).

#include "LoaderChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tonvero::fuzz::checkSoundFont(data, size);
    return 0;
}
