#include "FromSf2Command.h"

#include "bank/Patchmap.h"
#include "bank/Sf2Import.h"

#include <cstdio>
#include <string>

namespace tonvero {
namespace {

void printUsage(std::FILE* out) {
    std::fputs("Usage: tonvero-bank from-sf2 IN.sf2 OUT.map\n"
               "Builds a Patchmap from a SoundFont 2 file: one Instrument per General MIDI\n"
               "program (bank 0) and one for the standard drum kit (bank 128, preset 0).\n",
               out);
}

}  // namespace

int runFromSf2(int argc, char** argv) {
    if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
        printUsage(stdout);
        return 0;
    }
    if (argc != 3) {
        printUsage(stderr);
        return 2;
    }
    const std::string in = argv[1];
    const std::string out = argv[2];

    Bank bank;
    std::string error;
    Sf2ImportReport report;
    if (!importSoundFont(in, bank, error, &report)) {
        std::fprintf(stderr, "tonvero-bank: %s: %s\n", in.c_str(), error.c_str());
        return 1;
    }
    if (!savePatchmap(bank, out)) {
        std::fprintf(stderr, "tonvero-bank: cannot write the Patchmap %s.\n", out.c_str());
        return 1;
    }
    for (const std::string& note : report.notes) std::printf("note: %s\n", note.c_str());
    std::printf("%s: %d Instruments, %d Zones, %llu samples; %d of 129 program entries mapped.\n",
                out.c_str(), report.instruments, report.zones,
                static_cast<unsigned long long>(report.sampleFrames), report.mappedEntries);
    return 0;
}

}  // namespace tonvero
