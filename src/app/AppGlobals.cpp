#include "app/AppGlobals.h"

namespace tonvero {

std::string patchmapPath;
std::string songPath;

}  // namespace tonvero
