#pragma once
// `tonvero-bank from-sf2 IN.sf2 OUT.map`: builds a Patchmap from a SoundFont 2 file.

namespace tonvero {

// argv[0] is the command's own name ("from-sf2"), argv[1..] its arguments.
// Prints a summary and any notes on standard output and refusals on standard
// error. Returns 0 on success, 1 when the SoundFont is refused or the bank
// cannot be written (OUT.map is then left as it was), 2 for wrong arguments.
int runFromSf2(int argc, char** argv);

}  // namespace tonvero
