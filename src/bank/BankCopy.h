#pragma once
// A copy of a bank for another engine: every Instrument, kit, Zone,
// articulation and Wave field copied, the ProgramMap and counts as they are,
// and each Wave's samples shared with the original (SampleData's immutable
// storage), so a copy costs the bank's structure, never its samples. The
// engine-side state a Wave carries (its device buffer, its buffer slot) starts
// empty in the copy: each engine makes its own.
//
// Threads: reads `bank` only; any number of threads may copy one bank at once
// while nobody changes it.

#include "bank/Bank.h"

namespace tonvero {

Bank copyBank(const Bank& bank);

}  // namespace tonvero
