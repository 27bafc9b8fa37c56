#include "platform/SoundTypes.h"

namespace tonvero {

const char* soundResultText(SoundResult r) {
    switch (r) {
    case SoundResult::Ok: return "ok";
    case SoundResult::Failed: return "the sound device refused the request";
    case SoundResult::InvalidParam: return "a value out of range, or an operation this buffer does not support";
    case SoundResult::BufferLost: return "the sound buffer was lost and must be restored";
    case SoundResult::OutOfMemory: return "no room for another sound buffer";
    case SoundResult::NoDevice: return "no output device";
    }
    return "unknown sound result";
}

}  // namespace tonvero
