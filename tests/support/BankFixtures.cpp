#include "BankFixtures.h"

#include "bank/ArticulationField.h"
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

ZoneArticulation makeArticulation(int32_t n) {
    ZoneArticulation a;
    a.volumeEnvelope = {.delay = -7000 + n,
                        .attack = -3000 + n,
                        .hold = -2000 + n,
                        .decay = 2400 + n,
                        .sustain = 960 + n,
                        .release = 1800 + n,
                        .keyToHold = -20 + n,
                        .keyToDecay = 35 + n};
    a.modulationEnvelope = {.delay = -6000 + n,
                            .attack = -1200 + n,
                            .hold = -900 + n,
                            .decay = 1200 + n,
                            .sustain = 500 + n,
                            .release = 600 + n,
                            .keyToHold = 10 + n,
                            .keyToDecay = -45 + n};
    a.modulationEnvelopeToPitch = -300 + n;
    a.modulationEnvelopeToFilter = 2000 + n;
    a.modulationLfo = {
        .delay = -5000 + n, .frequency = -700 + n, .toPitch = 25 + n, .toFilter = -600 + n, .toVolume = 30 + n};
    a.vibratoLfo = {.delay = -4000 + n, .frequency = 200 + n, .toPitch = 50 + n, .toFilter = 3 + n, .toVolume = 4 + n};
    a.attenuation = 60 + n;
    a.pan = -250 + n;
    a.coarseTune = -2 - n;
    a.fineTune = 30 + n;
    a.scaleTuning = 50 + n;
    a.filterCutoff = 9000 + n;
    a.filterResonance = 120 + n;
    a.exclusiveClass = 3 + n;
    a.velocityLow = 20 + n;
    a.velocityHigh = 100 + n;
    a.tailOnRelease = n % 2 == 0;
    a.reverbSend = 70 + n;
    a.chorusSend = 250 + n;
    return a;
}

Bank makeArticulatedBank() {
    Bank bank = makeSmallBank();
    ZoneList& piano = bank.instruments[0]->zones;
    piano[0]->articulation = std::make_unique<ZoneArticulation>(makeArticulation(0));
    piano[0]->articulation->linkedZone = 1;
    piano[1]->articulation = std::make_unique<ZoneArticulation>(makeArticulation(1));
    piano[1]->articulation->linkedZone = 0;

    bank.kits[1] = std::make_unique<Instrument>("Room Kit", 0);
    Instrument& room = *bank.kits[1];
    room.cutoffFading = 0x300;
    Zone* kick = Bank::addZone(room, makeWave("kick", {9000, -9000, 4500, 0}, 32000));
    kick->rangeStart = 35;
    kick->rangeEnd = 36;
    kick->basicNote = 36;
    kick->articulation = std::make_unique<ZoneArticulation>(makeArticulation(2));
    Bank::addZone(room, makeWave("click", {-1}, 8000))->rangeStart = 40;
    bank.kits[127] = std::make_unique<Instrument>("Silent Kit", 127);
    return bank;
}

ByteWriter patchmapStart(int32_t instrumentCount, const std::vector<int32_t>& programMap) {
    ByteWriter out;
    out.bytes(patchmapHeader.data(), patchmapHeader.size());
    for (size_t p = 0; p < Bank::kProgramEntries; ++p) out.i32(p < programMap.size() ? programMap[p] : 0);
    out.i32(instrumentCount);
    return out;
}

namespace {

void describeInstrument(std::ostringstream& s, const Instrument* in) {
    s << " name '" << in->name << "' index " << in->index << " fading " << in->loopFading << ' ' << in->sustainFading
      << ' ' << in->cutoffFading << " zones " << in->zones.count() << '\n';
    for (int32_t z = 0; z < in->zones.count(); ++z) {
        const Zone* zone = in->zones[z];
        s << "  zone " << z << " range " << zone->rangeStart << ".." << zone->rangeEnd << " basic " << zone->basicNote
          << '\n';
        if (const Wave* w = zone->wave.get()) {
            int64_t sum = 0;
            uint64_t hash = 1469598103934665603ull;
            for (int16_t v : w->samples) {
                sum += v;
                hash = (hash ^ static_cast<uint16_t>(v)) * 1099511628211ull;
            }
            s << "    wave '" << w->name << "' count " << w->sampleCount << " size " << w->samples.size() << " loop "
              << w->looped << ' ' << w->loopBegin << ".." << w->loopEnd << " hold " << w->holdPos << " freq "
              << w->frequency << " reserved " << w->reserved << " sum " << sum << " hash " << hash << " format "
              << w->format.formatTag << '/' << w->format.channels << '/' << w->format.samplesPerSec << '/'
              << w->format.avgBytesPerSec << '/' << w->format.blockAlign << '/' << w->format.bitsPerSample << '/'
              << w->format.extraSize << " slot " << w->bufferSlot << '\n';
        }
        if (const ZoneArticulation* a = zone->articulation.get()) {
            s << "    articulation";
            for (const ArticulationField& field : articulationFields())
                s << ' ' << field.group << (field.group.empty() ? "" : ".") << field.name << '=' << field.get(*a);
            s << '\n';
        }
    }
}

}  // namespace

std::string describeBank(const Bank& bank) {
    std::ostringstream s;
    s << "instrumentCount " << bank.instrumentCount << "\nprogramMap";
    for (int32_t entry : bank.programMap) s << ' ' << entry;
    s << '\n';
    for (int32_t slot = 0; slot < Bank::kInstrumentSlots; ++slot) {
        const Instrument* in = bank.instruments[static_cast<size_t>(slot)].get();
        if (!in) continue;
        s << "slot " << slot;
        describeInstrument(s, in);
    }
    for (int32_t program = 0; program < Bank::kKitSlots; ++program) {
        const Instrument* kit = bank.kits[static_cast<size_t>(program)].get();
        if (!kit) continue;
        s << "kit " << program;
        describeInstrument(s, kit);
    }
    return s.str();
}

}  // namespace tonvero::test
