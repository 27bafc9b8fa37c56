// The SoundFont check: read the bytes as a SoundFont 2 file, hold what was
// read to the promises of Sf2Font.h, build a bank from it, and save that bank
// as a Patchmap image that must load again.

#include "LoaderChecks.h"

#include "support/BankFixtures.h"

#include "bank/Patchmap.h"
#include "bank/Sf2Import.h"
#include "bank/Sf2Reader.h"

#include <span>

namespace tonvero::fuzz {

namespace {

// Every index points at an existing record and every sample in the file lies
// inside the sample data: the importer follows them unchecked.
void checkFontRecords(const Sf2Font& font) {
    for (const Sf2Preset& preset : font.presets)
        for (const Sf2Zone& zone : preset.zones)
            for (const Sf2Generator& gen : zone.generators)
                if (gen.oper == Sf2Gen::Instrument && gen.amount >= font.instruments.size())
                    checkFailed("a preset zone names an instrument the font does not have");
    for (const Sf2Instrument& instrument : font.instruments)
        for (const Sf2Zone& zone : instrument.zones)
            for (const Sf2Generator& gen : zone.generators)
                if (gen.oper == Sf2Gen::SampleID && gen.amount >= font.samples.size())
                    checkFailed("an instrument zone names a sample the font does not have");
    for (const Sf2Sample& sample : font.samples) {
        if ((sample.type & Sf2SampleType::Rom) != 0) continue;
        if (sample.start > sample.end || sample.end > font.sampleData.size())
            checkFailed("a sample header reaches outside the sample data");
        if (sample.sampleRate == 0) checkFailed("a sample with a rate of 0 was read");
    }
}

void checkBuiltBank(const Bank& bank, const Sf2ImportReport& report) {
    if (!isSavable(bank)) checkFailed("a bank built from a SoundFont cannot be saved");
    if (bank.instrumentCount != report.instruments)
        checkFailed("the import report counts other Instruments than the bank holds");
    for (int32_t slot = 0; slot < bank.instrumentCount; ++slot)
        if (!bank.instruments[static_cast<size_t>(slot)]) checkFailed("a built bank has a gap among its Instruments");
    int32_t zones = 0, kits = 0;
    for (const auto& kit : bank.kits)
        if (kit) ++kits;
    if (kits != report.kits) checkFailed("the import report counts other drum kits than the bank holds");
    bank.forEachInstrument([&zones](const Instrument& instrument) {
        zones += instrument.zones.count();
        for (int32_t z = 0; z < instrument.zones.count(); ++z) {
            const Zone& zone = *instrument.zones[z];
            if (zone.rangeStart < 0 || zone.rangeStart > zone.rangeEnd || zone.rangeEnd > 127)
                checkFailed("a built Zone's key range is not inside 0..127");
            const Wave* wave = zone.wave.get();
            if (!wave) checkFailed("a built Zone has no Wave");
            if (wave->sampleCount != wave->samples.size()) checkFailed("a built Wave's sample count is not its size");
            if (wave->frequency == 0) checkFailed("a built Wave has a frequency of 0");
            if (wave->looped && (wave->loopBegin < 0 || wave->loopBegin > wave->loopEnd ||
                                 static_cast<uint32_t>(wave->loopEnd) >= wave->sampleCount))
                checkFailed("a built Wave loops outside its samples");
            const ZoneArticulation* a = zone.articulation.get();
            if (!a) checkFailed("a built Zone has no articulation");
            if (a->linkedZone < -1 || a->linkedZone >= instrument.zones.count() || a->linkedZone == z ||
                (a->linkedZone >= 0 && instrument.zones[a->linkedZone]->articulation->linkedZone != z))
                checkFailed("a built Zone's stereo link does not name a Zone that names it back");
            if (a->velocityLow < 0 || a->velocityLow > a->velocityHigh || a->velocityHigh > 127)
                checkFailed("a built Zone's velocity range is not inside 0..127");
        }
    });
    if (zones != report.zones) checkFailed("the import report counts other Zones than the bank holds");

    const std::vector<uint8_t> image = patchmapImage(bank);
    Bank again;
    if (loadPatchmapImage(again, image.data(), image.size()) != LoadOk)
        checkFailed("the Patchmap of a bank built from a SoundFont does not load");
    if (test::describeBank(again) != test::describeBank(bank))
        checkFailed("the Patchmap of a bank built from a SoundFont loads back different");
}

}  // namespace

Outcome checkSoundFont(const uint8_t* data, size_t size) {
    Sf2Font font;
    font.name = "kept";
    std::string error;
    if (!Sf2Reader::parse(std::span<const uint8_t>(data, size), font, error)) {
        if (error.empty()) checkFailed("a SoundFont was refused without a message");
        if (font.name != "kept" || !font.samples.empty() || !font.presets.empty())
            checkFailed("a refused SoundFont changed the font record");
        return Outcome::Refused;
    }
    checkFontRecords(font);

    Bank bank = test::makeExampleBank();
    const std::string before = test::describeBank(bank);
    Sf2ImportReport report;
    error.clear();
    if (!buildBankFromSoundFont(font, bank, error, &report)) {
        if (error.empty()) checkFailed("a bank was not built, without a message");
        if (test::describeBank(bank) != before) checkFailed("a failed import changed the bank");
        return Outcome::Refused;
    }
    checkBuiltBank(bank, report);
    return Outcome::Accepted;
}

}  // namespace tonvero::fuzz
