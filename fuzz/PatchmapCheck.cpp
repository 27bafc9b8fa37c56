// The Patchmap check: load the bytes into a bank that already holds one; a
// refusal must leave it as it was, and a loaded bank must survive a save to
// a file and a load back from it unchanged.

#include "LoaderChecks.h"

#include "support/BankFixtures.h"

#include "bank/Patchmap.h"

#include <cstdio>

namespace tonvero::fuzz {

Outcome checkPatchmap(const uint8_t* data, size_t size) {
    Bank bank = test::makeExampleBank();
    const std::string before = test::describeBank(bank);
    const LoadResult result = loadPatchmapImage(bank, data, size);
    if (result != LoadOk) {
        if (result != LoadUnknownVersion && result != LoadNotPatchmap)
            checkFailed("an image was refused with result " + std::to_string(result));
        if (test::describeBank(bank) != before) checkFailed("a refused Patchmap changed the bank");
        return Outcome::Refused;
    }
    if (!isSavable(bank)) checkFailed("a loaded Patchmap cannot be saved");
    for (int32_t slot = 0; slot < Bank::kInstrumentSlots; ++slot)
        if ((slot < bank.instrumentCount) != (bank.instruments[static_cast<size_t>(slot)] != nullptr))
            checkFailed("the loaded bank's slots do not match its instrument count");
    bank.forEachWave([](const Wave& wave) {
        if (wave.sampleCount != wave.samples.size()) checkFailed("a loaded Wave's sample count is not its size");
    });

    const std::vector<uint8_t> image = patchmapImage(bank);
    const std::string path = scratchDirectory() + "/round-trip.map";
    if (!savePatchmap(bank, path)) checkFailed("a loaded Patchmap did not save");
    Bank again;
    const LoadResult reloaded = loadPatchmap(again, path);
    std::remove(path.c_str());
    if (reloaded != LoadOk)
        checkFailed("a saved Patchmap did not load again: " + std::string(loadResultMessage(reloaded)));
    if (test::describeBank(again) != test::describeBank(bank)) checkFailed("a saved Patchmap loaded back different");
    if (patchmapImage(again) != image) checkFailed("a saved Patchmap saves again to different bytes");
    return Outcome::Accepted;
}

}  // namespace tonvero::fuzz
