#include "platform/AudioBackend.h"

#include <cstdlib>

namespace tonvero {

bool isBackendName(const std::string& name) { return name == "portaudio" || name == "jack" || name == "null" || name == "offline"; }

std::string chooseBackendName(const std::string& requested, const std::string& fallback) {
    if (!requested.empty()) return requested;
    const char* fromEnvironment = std::getenv("TONVERO_AUDIO");
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') return fromEnvironment;
    return fallback;
}

}  // namespace tonvero
