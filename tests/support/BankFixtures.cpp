#include "BankFixtures.h"

#include "bank/Patchmap.h"

#include <sstream>

namespace tonvero::test {

std::unique_ptr<Wave> makeWave(const std::string& name, std::vector<int16_t> samples, uint32_t frequency) {
    auto wave = std::make_unique<Wave>();
    wave->name = name;
    wave->frequency = frequency;
    wave->setSamples(std::move(samples));
    wave->updateFormat();
    return wave;
}

Bank makeSmallBank() {
    Bank bank;
    bank.insertInstrument("Grand Piano");
    bank.insertInstrument("Str");
    bank.insertInstrument("");  // no Zones, empty name

    Instrument& piano = *bank.instruments[0];
    piano.loopFading = 0x1234;
    piano.sustainFading = 0x56789;
    piano.cutoffFading = 0x20000;
    Zone* low = Bank::addZone(piano, makeWave("/sounds/piano low.wav", {0, 100, -100, 32767, -32768}, 44100));
    low->rangeStart = 0;
    low->rangeEnd = 64;
    low->basicNote = 48;
    low->wave->looped = 1;
    low->wave->loopBegin = 1;
    low->wave->loopEnd = 4;
    low->wave->holdPos = 2;
    low->wave->reserved = 7;
    Zone* high = Bank::addZone(piano, makeWave("hi", {5, 4, 3}, 22050));
    high->rangeStart = 60;
    high->rangeEnd = 127;
    high->basicNote = 72;
    high->wave->reserved = 255;

    Instrument& strings = *bank.instruments[1];
    Zone* all = Bank::addZone(strings, makeWave("strings.wav", {-1, -2, -3, -4, -5, -6, -7}, 11025));
    all->wave->looped = 1;
    all->wave->loopEnd = 6;
    all->wave->reserved = 0;
    Bank::addZone(strings, makeWave("silent", {}, 8000));

    for (int32_t p = 0; p < Bank::kProgramEntries; ++p) bank.programMap[static_cast<size_t>(p)] = p % 3;
    bank.programMap[128] = 1;
    return bank;
}

Bank makeExampleBank() {
    Bank bank;
    bank.insertInstrument("Piano");
    Bank::addZone(*bank.instruments[0], makeWave("Sound", {1000, -1000}, 22050));
    return bank;
}

ByteWriter patchmapStart(int32_t instrumentCount, const std::vector<int32_t>& programMap) {
    ByteWriter out;
    out.bytes(patchmapHeader.data(), patchmapHeader.size());
    for (size_t p = 0; p < Bank::kProgramEntries; ++p) out.i32(p < programMap.size() ? programMap[p] : 0);
    out.i32(instrumentCount);
    return out;
}

std::string describeBank(const Bank& bank) {
    std::ostringstream s;
    s << "instrumentCount " << bank.instrumentCount << "\nprogramMap";
    for (int32_t entry : bank.programMap) s << ' ' << entry;
    s << '\n';
    for (int32_t slot = 0; slot < Bank::kInstrumentSlots; ++slot) {
        const Instrument* in = bank.instruments[static_cast<size_t>(slot)].get();
        if (!in) continue;
        s << "slot " << slot << " name '" << in->name << "' index " << in->index << " fading " << in->loopFading
          << ' ' << in->sustainFading << ' ' << in->cutoffFading << " zones " << in->zones.count() << '\n';
        for (int32_t z = 0; z < in->zones.count(); ++z) {
            const Zone* zone = in->zones[z];
            s << "  zone " << z << " range " << zone->rangeStart << ".." << zone->rangeEnd << " basic "
              << zone->basicNote << '\n';
            if (const Wave* w = zone->wave.get()) {
                int64_t sum = 0;
                uint64_t hash = 1469598103934665603ull;
                for (int16_t v : w->samples) {
                    sum += v;
                    hash = (hash ^ static_cast<uint16_t>(v)) * 1099511628211ull;
                }
                s << "    wave '" << w->name << "' count " << w->sampleCount << " size " << w->samples.size()
                  << " loop " << w->looped << ' ' << w->loopBegin << ".." << w->loopEnd << " hold " << w->holdPos
                  << " freq " << w->frequency << " reserved " << w->reserved << " sum " << sum << " hash "
                  << hash << " format " << w->format.formatTag << '/' << w->format.channels << '/'
                  << w->format.samplesPerSec << '/' << w->format.avgBytesPerSec << '/' << w->format.blockAlign
                  << '/' << w->format.bitsPerSample << '/' << w->format.extraSize << " slot " << w->bufferSlot
                  << '\n';
            }
        }
    }
    return s.str();
}

}  // namespace tonvero::test
