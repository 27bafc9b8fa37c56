// The WAV check: the chunk walk with every combination of wanted results,
// then the import and the conversion to 16-bit mono, each held to what
// WaveImport.h says of it.

#include "LoaderChecks.h"

#include "support/BankFixtures.h"

#include "bank/WaveImport.h"

namespace tonvero::fuzz {

namespace {

struct Chunks {
    int found = 0;
    size_t fmtStart = 0;
    size_t dataStart = 0;
    uint32_t dataSize = 0;
};

// findWaveChunks asked for the results whose bit is set in `wanted` (1 the
// "fmt " body, 2 the "data" body, 4 its size).
Chunks findChunks(const uint8_t* data, size_t size, int wanted) {
    Chunks c;
    c.found = findWaveChunks(data, size, (wanted & 1) ? &c.fmtStart : nullptr, (wanted & 2) ? &c.dataStart : nullptr,
                             (wanted & 4) ? &c.dataSize : nullptr);
    if (c.found != 0 && c.found != 1) checkFailed("findWaveChunks returned " + std::to_string(c.found));
    return c;
}

void checkChunkWalk(const uint8_t* data, size_t size) {
    const Chunks all = findChunks(data, size, 7);
    if (all.found) {
        if (all.fmtStart < 20 || all.fmtStart > size) checkFailed("the \"fmt \" body found starts outside the image");
        if (all.dataStart < 20 || all.dataStart > size || all.dataSize > size - all.dataStart)
            checkFailed("the \"data\" body found runs outside the image");
    }
    for (int wanted = 1; wanted < 7; ++wanted) {
        const Chunks some = findChunks(data, size, wanted);
        // Whatever the whole walk found, a walk wanting less finds too, at the same places.
        if (!all.found) continue;
        if (!some.found)
            checkFailed("findWaveChunks found all results but not a part of them (" + std::to_string(wanted) + ")");
        if (((wanted & 1) && some.fmtStart != all.fmtStart) || ((wanted & 2) && some.dataStart != all.dataStart) ||
            ((wanted & 4) && some.dataSize != all.dataSize))
            checkFailed("findWaveChunks gives other places when asked for fewer results");
    }
}

bool sameWave(const Wave& a, const Wave& b) {
    return a.samples == b.samples && a.sampleCount == b.sampleCount && a.format == b.format &&
           a.frequency == b.frequency && a.name == b.name;
}

}  // namespace

Outcome checkWave(const uint8_t* data, size_t size) {
    checkChunkWalk(data, size);

    const auto kept = test::makeWave("kept", {1, 2, 3}, 22050);
    Wave wave;
    wave.setSamples(kept->samples);
    wave.format = kept->format;
    wave.frequency = kept->frequency;
    wave.name = kept->name;
    if (!loadWaveImage(wave, data, size, "fuzz.wav")) {
        if (!sameWave(wave, *kept)) checkFailed("a refused WAV file changed the Wave");
        return Outcome::Refused;
    }
    if (findChunks(data, size, 7).found != 1) checkFailed("a WAV file without both chunks was imported");
    const WaveFormat format = wave.format;
    if (format.channels == 0 || format.formatTag != 1) checkFailed("a WAV file that is not PCM was imported");
    if (wave.name != "fuzz.wav" || wave.frequency != format.samplesPerSec)
        checkFailed("the Wave's name or rate is not the file's");
    if (wave.sampleCount != wave.samples.size()) checkFailed("an imported Wave's sample count is not its size");
    if (format.bitsPerSample == 8)
        for (int16_t value : wave.samples)
            if (value < 0 || value > 255) checkFailed("an 8-bit value outside 0..255");

    const size_t count = wave.samples.size();
    const bool eightBit = format.bitsPerSample == 8;
    size_t expected = count;
    if (format.channels == 2)
        expected = count / 2;
    else if (eightBit && format.channels != 1)
        expected = 0;
    convertToMono16(wave);
    if (wave.sampleCount != wave.samples.size() || wave.samples.size() != expected)
        checkFailed("the conversion gave " + std::to_string(wave.samples.size()) + " samples for " +
                    std::to_string(count) + " values of " + std::to_string(format.channels) + " channels");
    if (eightBit || format.channels == 2) {
        if (wave.format.channels != 1 || wave.format.bitsPerSample != 16 || wave.format.blockAlign != 2 ||
            wave.format.samplesPerSec != format.samplesPerSec)
            checkFailed("a converted Wave's format is not 16-bit mono at the file's rate");
    } else if (!(wave.format == format)) {
        checkFailed("the conversion changed a Wave it cannot convert");
    }
    return Outcome::Accepted;
}

}  // namespace tonvero::fuzz
