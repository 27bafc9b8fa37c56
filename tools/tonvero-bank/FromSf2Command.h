#pragma once
// `tonvero-bank from-sf2 IN.sf2 OUT.map`: builds a Patchmap from a SoundFont 2 file.

#include <iosfwd>
#include <string>
#include <vector>

namespace tonvero::tool {

// `args` are IN.sf2 and OUT.map. Writes a summary line (and a "note:" line for
// anything not carried over as it is) on `out`, refusals on `err`. Returns
// kExitOk, kExitFailed when the SoundFont is refused or the bank cannot be
// written (OUT.map is then left as it was), or kExitUsage for wrong arguments.
int runFromSf2(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tonvero::tool
