// libFuzzer entry for Standard MIDI Files: every input goes to checkSong (LoaderChecks.h).

#include "LoaderChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tonvero::fuzz::checkSong(data, size);
    return 0;
}
