// libFuzzer entry for Patchmap files: every input goes to checkPatchmap (LoaderChecks.h).

#include "LoaderChecks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tonvero::fuzz::checkPatchmap(data, size);
    return 0;
}
