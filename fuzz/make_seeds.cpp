// Writes the seed files the fuzz corpora start from: a handful of valid files
// per loader, made with the fixture writers of the test suites, each using a
// different part of its format. Run as `make_seeds DIR`; the files go to
// DIR/song, DIR/patchmap, DIR/wave and DIR/soundfont (fuzz/corpus holds the
// committed copies, with what fuzzing added to them).

#include "support/BankFixtures.h"
#include "support/MidiWriter.h"
#include "support/Sf2Writer.h"
#include "support/WavWriter.h"

#include "bank/ByteWriter.h"
#include "bank/Patchmap.h"
#include "bank/Sf2Font.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace tonvero::test {
namespace {

using Files = std::vector<std::pair<std::string, Bytes>>;

// ---- songs ----

Bytes everyKindOfEvent() {
    MidiWriter w(1, 96);
    w.track()
        .meta(0, 0x03, {'S', 'e', 'e', 'd'})
        .meta(0, 0x58, {4, 2, 24, 8})
        .meta(0, 0x59, {0, 0})
        .tempo(0, 450000)
        .tempo(96, 600000)
        .meta(0, 0x20, {1})
        .endOfTrack(96);
    w.track()
        .program(0, 0, 3)
        .controller(0, 0, 7, 100)
        .controller(0, 0, 10, 30)
        .noteOn(0, 0, 60, 100)
        .running(12, {64, 90})
        .pitchBend(12, 0, 9000)
        .sysex(0, {0x41, 0x10, 0x42, 0xF7})
        .noteOn(6, 9, 36, 120)
        .controller(0, 0, 64, 127)
        .noteOff(24, 0, 60)
        .raw({0x00, 0xA0, 60, 10, 0x00, 0xD0, 20})
        .noteOff(0, 0, 64)
        .controller(24, 0, 64, 0)
        .noteOff(48, 9, 36)
        .endOfTrack(12);
    return w.bytes();
}

// Format 0 at division 480: every program of the song bank on its own
// channel, chords, and the drum channel.
Bytes formatZeroChords() {
    MidiWriter w(0, 480);
    MidiWriter::Track& t = w.track();
    t.tempo(0, 400000);
    for (int channel = 0; channel < 4; ++channel) t.program(0, channel, channel);
    for (int step = 0; step < 4; ++step) {
        t.noteOn(0, step, 48 + step * 7, 90).noteOn(0, step, 55 + step * 7, 80).noteOn(0, 9, 38 + step, 100);
        t.noteOff(240, step, 48 + step * 7).noteOff(0, step, 55 + step * 7).noteOff(0, 9, 38 + step);
    }
    t.endOfTrack(0);
    return w.bytes();
}

// An SMPTE division (25 frames a second, 40 ticks a frame), and notes still
// held when the track ends.
Bytes smpteHeldNotes() {
    MidiWriter w(1, 0xE728);
    w.track().program(0, 0, 3).noteOn(0, 0, 72, 110).noteOn(100, 0, 76, 110).controller(0, 0, 11, 64).endOfTrack(200);
    w.track().program(0, 1, 1).noteOn(50, 1, 40, 70).pitchBend(50, 1, 0).pitchBend(50, 1, 16383).endOfTrack(10);
    return w.bytes();
}

// Three tracks with another kind of chunk between them, a key signature of
// an unusual length and the tempo changed in the middle of a note.
Bytes tracksAndOtherChunks() {
    MidiWriter w(1, 120);
    w.track().tempo(0, 300000).meta(0, 0x59, {1, 0, 0}).tempo(60, 900000).endOfTrack(120);
    w.otherChunk("XTRA", {1, 2, 3});
    w.track().program(0, 2, 0).noteOn(0, 2, 60, 64).noteOff(180, 2, 60).endOfTrack(0);
    w.track().program(0, 3, 2).noteOn(30, 3, 84, 127).running(30, {86, 127}).noteOff(30, 3, 84).noteOff(30, 3, 86);
    return w.bytes();
}

// One variant of `song` per mixer: the check takes the mixer from the low
// two bits of the last byte, and a byte after the last chunk is ignored by
// the loader (0 software, 1 hardware, 2 software writing the primary buffer).
void addSong(Files& files, const std::string& name, const Bytes& song) {
    files.push_back({name + "-software.mid", song});
    for (uint8_t mixer : {1, 2}) {
        Bytes variant = song;
        variant.push_back(mixer);
        files.push_back({name + (mixer == 1 ? "-hardware.mid" : "-primary.mid"), variant});
    }
}

Files songs() {
    Files files;
    addSong(files, "every-kind-of-event", everyKindOfEvent());
    addSong(files, "format0-chords", formatZeroChords());
    addSong(files, "smpte-held-notes", smpteHeldNotes());
    addSong(files, "tracks-and-other-chunks", tracksAndOtherChunks());
    files.push_back({"rmid-wrapped.mid", rmidFile(formatZeroChords())});
    return files;
}

// ---- Patchmaps ----

void waveRecord(ByteWriter& out, uint32_t version, const std::string& name, const std::vector<int16_t>& samples) {
    out.u32(version);
    out.u32(static_cast<uint32_t>(samples.size()));
    out.i32(1);                                         // loop begin
    out.i32(static_cast<int32_t>(samples.size()) - 1);  // loop end
    if (version == 1) out.i32(1);                       // hold position
    out.u32(11025);
    out.i32(1);  // looped
    out.u32(0);  // spare
    out.u8(42);  // reserved
    out.i32(static_cast<int32_t>(name.size()));
    out.text(name);
    for (int16_t v : samples) out.u16(static_cast<uint16_t>(v));
}

// One Instrument record of `version` with one Zone and its Wave of `waveVersion`.
Bytes olderRecords(uint32_t version, uint32_t waveVersion) {
    ByteWriter out = patchmapStart(2, {0, 1, 0, 1});
    out.u32(version);
    out.i32(4);
    out.text("Harp");
    if (version >= 1) {
        out.u32(0x11111);
        out.u32(0x22222);
    }
    if (version == 3) out.u32(0x33333);
    out.i32(0);          // index
    out.i32(1);          // zones
    if (version <= 1) {  // keys stored as offsets from 60
        out.i32(-60);
        out.i32(60);
        out.i32(0);
    } else {
        out.i32(10);
        out.i32(90);
        out.i32(57);
    }
    waveRecord(out, waveVersion, "harp.wav", {7, -7, 8, 300, -300});
    // A second Instrument of an unknown version: its record ends after the version.
    out.u32(9);
    return out.take();
}

// Version 4 with kits alone: no Instrument records, the kits section right
// after the instrument count.
Bytes kitsOnly() {
    Bank bank;
    bank.kits[25] = std::make_unique<Instrument>("Snare Kit", 0);
    Zone* zone = Bank::addZone(*bank.kits[25], makeWave("snare", {400, -800, 1200, -1600}, 16000));
    zone->rangeStart = 38;
    zone->rangeEnd = 40;
    zone->articulation = std::make_unique<ZoneArticulation>(makeArticulation(3));
    zone->articulation->exclusiveClass = 1;
    return patchmapImage(bank);
}

Files patchmaps() {
    Files files;
    files.push_back({"small-bank.map", patchmapImage(makeSmallBank())});
    files.push_back({"example-bank.map", patchmapImage(makeExampleBank())});
    files.push_back({"no-instruments.map", patchmapStart(0, {5, 6, 7}).take()});
    files.push_back({"instrument-v0-wave-v0.map", olderRecords(0, 0)});
    files.push_back({"instrument-v1-wave-v1.map", olderRecords(1, 1)});
    files.push_back({"instrument-v2-wave-v0.map", olderRecords(2, 0)});
    files.push_back({"instrument-v3-wave-unknown.map", olderRecords(3, 5)});
    files.push_back({"v4-articulation-and-kits.map", patchmapImage(makeArticulatedBank())});
    files.push_back({"v4-kits-only.map", kitsOnly()});
    return files;
}

// ---- WAV files ----

std::vector<int16_t> sine(size_t count, int16_t peak) {
    std::vector<int16_t> values(count);
    for (size_t i = 0; i < count; ++i)
        values[i] = static_cast<int16_t>(peak * ((i % 16) < 8 ? 1 : -1) * static_cast<int>(i % 8) / 8);
    return values;
}

Files waves() {
    Files files;
    files.push_back({"pcm16-mono.wav", WavWriter::pcm16(sine(64, 20000), 1, 22050)});
    files.push_back({"pcm16-stereo-loud.wav", WavWriter::pcm16(sine(64, 30000), 2, 44100)});
    std::vector<uint8_t> bytes(48);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 5);
    files.push_back({"pcm8-mono.wav", WavWriter::pcm8(bytes, 1, 8000)});
    files.push_back({"pcm8-stereo.wav", WavWriter::pcm8(bytes, 2, 11025)});
    files.push_back({"extensible-pcm.wav", WavWriter().fmtExtensible(1, 32000, 16).data16(sine(32, 1000)).image()});
    files.push_back({"fmt14-no-bits-field.wav", WavWriter().fmt(1, 2, 8000, 16, 14).data16(sine(20, 500)).image()});
    files.push_back({"fmt18-with-extra.wav", WavWriter().fmt(1, 1, 16000, 8, 18).data8(bytes).image()});
    files.push_back({"chunks-before-fmt.wav", WavWriter()
                                                  .chunk("LIST", {'I', 'N', 'F', 'O', 'x'})
                                                  .data16(sine(16, 3000))
                                                  .chunk("fact", {16, 0, 0, 0})
                                                  .fmt(1, 1, 44100, 16)
                                                  .image()});
    files.push_back({"pcm8-three-channels.wav", WavWriter().fmt(1, 3, 8000, 8).data8(bytes).image()});
    return files;
}

// ---- SoundFonts ----

std::vector<int16_t> ramp(size_t count, int16_t step) {
    std::vector<int16_t> values(count);
    for (size_t i = 0; i < count; ++i) values[i] = static_cast<int16_t>(static_cast<int>(i) * step - 1000);
    return values;
}

Sf2TestSample sample(const std::string& name, std::vector<int16_t> data, uint32_t rate = 22050, uint8_t pitch = 60) {
    Sf2TestSample s;
    s.name = name;
    s.data = std::move(data);
    s.sampleRate = rate;
    s.originalPitch = pitch;
    return s;
}

Sf2TestZone instrumentZone(uint16_t instrument) { return Sf2TestZone{}.gen(Sf2Gen::Instrument, instrument); }

// Program 0 with two key ranges and velocity layers, a looped sample in
// both loop modes, a stereo pair, tuning, attenuation and an envelope, a
// program with half-semitone keys, and the drum kit.
Bytes generalMidiFont() {
    Sf2Writer w;
    Sf2TestSample loop = sample("Loop", ramp(120, 20));
    loop.loopStart = 20;
    loop.loopEnd = 100;
    const uint16_t looped = w.addSample(loop);
    Sf2TestSample left = sample("Pad L", ramp(40, 50), 44100, 64);
    left.type = Sf2SampleType::Left;
    left.link = 2;
    Sf2TestSample right = sample("Pad R", ramp(40, -50), 44100, 64);
    right.type = Sf2SampleType::Right;
    right.link = 1;
    const uint16_t leftId = w.addSample(left);
    w.addSample(right);
    const uint16_t kick = w.addSample(sample("Kick", ramp(30, 90), 32000, 36));
    const uint16_t snare = w.addSample(sample("Snare", ramp(30, -90), 30000, 38));

    const uint16_t piano =
        w.addInstrument("Piano", {Sf2TestZone{}.gen(Sf2Gen::ReleaseVolEnv, 1200).gen(Sf2Gen::SustainVolEnv, 300),
                                  Sf2TestZone{}
                                      .range(Sf2Gen::KeyRange, 0, 59)
                                      .range(Sf2Gen::VelRange, 0, 90)
                                      .gen(Sf2Gen::SampleModes, 1)
                                      .gen(Sf2Gen::CoarseTune, -2)
                                      .gen(Sf2Gen::FineTune, 30)
                                      .gen(Sf2Gen::SampleID, looped),
                                  Sf2TestZone{}
                                      .range(Sf2Gen::KeyRange, 0, 59)
                                      .range(Sf2Gen::VelRange, 91, 127)
                                      .gen(Sf2Gen::SampleModes, 3)
                                      .gen(Sf2Gen::StartloopAddrsOffset, 5)
                                      .gen(Sf2Gen::EndloopAddrsOffset, -5)
                                      .gen(Sf2Gen::SampleID, looped),
                                  Sf2TestZone{}
                                      .range(Sf2Gen::KeyRange, 60, 127)
                                      .gen(Sf2Gen::InitialAttenuation, 60)
                                      .gen(Sf2Gen::OverridingRootKey, 67)
                                      .gen(Sf2Gen::StartAddrsOffset, 2)
                                      .gen(Sf2Gen::SampleID, leftId)});
    const uint16_t harp = w.addInstrument("Harp", {Sf2TestZone{}
                                                       .gen(Sf2Gen::ScaleTuning, 50)
                                                       .gen(Sf2Gen::DecayVolEnv, -1200)
                                                       .gen(Sf2Gen::KeynumToVolEnvDecay, 50)
                                                       .gen(Sf2Gen::SampleID, looped)});
    const uint16_t kit = w.addInstrument(
        "Kit",
        {Sf2TestZone{}.range(Sf2Gen::KeyRange, 35, 36).gen(Sf2Gen::SampleID, kick),
         Sf2TestZone{}.range(Sf2Gen::KeyRange, 38, 40).gen(Sf2Gen::ScaleTuning, 0).gen(Sf2Gen::SampleID, snare)});
    w.addPreset("Piano", 0, 0, {Sf2TestZone{}.range(Sf2Gen::KeyRange, 12, 115), instrumentZone(piano)});
    w.addPreset("Harp", 46, 0, {Sf2TestZone{}.gen(Sf2Gen::FineTune, -20).gen(Sf2Gen::Instrument, harp)});
    w.addPreset("Standard", 0, 128, {instrumentZone(kit)});
    return w.image();
}

// The smallest font a bank can be made from: one preset, one sample.
Bytes onePresetFont() {
    Sf2Writer w;
    const uint16_t s = w.addSample(sample("Tone", ramp(24, 100)));
    const uint16_t i = w.addInstrument("Tone", {Sf2TestZone{}.gen(Sf2Gen::SampleID, s)});
    w.addPreset("Tone", 0, 0, {instrumentZone(i)});
    return w.image();
}

// Several programs playing the same instrument, with a version 2.04 header.
Bytes sharedInstrumentFont() {
    Sf2Writer w;
    w.version(2, 4);
    const uint16_t s = w.addSample(sample("Saw", ramp(32, 64), 11025, 48));
    const uint16_t i = w.addInstrument("Saw", {Sf2TestZone{}.gen(Sf2Gen::Pan, 200).gen(Sf2Gen::SampleID, s)});
    for (uint16_t program : {0, 1, 8, 80})
        w.addPreset("Saw " + std::to_string(program), program, 0, {instrumentZone(i)});
    return w.image();
}

Files soundFonts() {
    return {{"general-midi.sf2", generalMidiFont()},
            {"one-preset.sf2", onePresetFont()},
            {"shared-instrument.sf2", sharedInstrumentFont()}};
}

bool writeAll(const std::filesystem::path& dir, const Files& files) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "make_seeds: cannot make %s: %s\n", dir.c_str(), error.message().c_str());
        return false;
    }
    for (const auto& [name, bytes] : files) {
        if (!writeBytes((dir / name).string(), bytes)) {
            std::fprintf(stderr, "make_seeds: cannot write %s\n", (dir / name).c_str());
            return false;
        }
    }
    std::printf("%s: %zu seed files\n", dir.c_str(), files.size());
    return true;
}

}  // namespace
}  // namespace tonvero::test

int main(int argc, char** argv) {
    using namespace tonvero::test;
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds DIR (writes DIR/song, DIR/patchmap, DIR/wave, DIR/soundfont)\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    const bool ok = writeAll(out / "song", songs()) && writeAll(out / "patchmap", patchmaps()) &&
                    writeAll(out / "wave", waves()) && writeAll(out / "soundfont", soundFonts());
    return ok ? 0 : 1;
}
