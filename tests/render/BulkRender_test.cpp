// tonvero-render with many songs (-d): the outputs the same whatever the
// number of jobs, a damaged song failing alone, resuming, shards, loudness
// and an interrupted run, all through the built program and small songs
// written by code.

#include "render/ProgramRun.h"
#include "render/BatchSongRender.h"
#include "render/JsonText.h"
#include "render/LoudnessMeter.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <fcntl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tonvero::test {
namespace {

namespace fs = std::filesystem;

using Fields = std::map<std::string, JsonValue>;

// A song of `beats` quarter-second notes from `key` at `velocity` on `program`.
std::string writeSong(const std::string& path, int beats, int key, int velocity, int program = 0) {
    MidiWriter w(0, 480);
    MidiWriter::Track& t = w.track();
    t.program(0, 0, program);
    for (int beat = 0; beat < beats; ++beat) t.noteOn(0, 0, key + beat % 5, velocity).noteOff(240, 0, key + beat % 5);
    t.endOfTrack(0);
    fs::create_directories(fs::path(path).parent_path());
    EXPECT_TRUE(w.write(path));
    return path;
}

// The manifest's whole lines, each read as JSON.
std::vector<Fields> readManifest(const std::string& path) {
    std::vector<Fields> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        Fields fields;
        EXPECT_TRUE(parseJsonObjectLine(line, fields)) << line;
        lines.push_back(std::move(fields));
    }
    return lines;
}

std::map<std::string, Fields> bySource(const std::vector<Fields>& lines) {
    std::map<std::string, Fields> out;
    for (const Fields& f : lines) out[f.at("source").text] = f;
    return out;
}

// FNV-1a 64, written here again so the tests check the documented hash.
uint64_t fnv(const std::string& bytes) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
    return h;
}

std::string fileText(const std::string& path) {
    const std::vector<uint8_t> bytes = readFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

std::string hex(uint64_t v) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

// Every file under `dir`, as paths inside it.
std::set<std::string> filesUnder(const std::string& dir) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), dir).generic_string());
    return files;
}

double integratedLoudness(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return 0;
    LoudnessMeter meter(info.samplerate, false);
    std::vector<float> frames(2 * 4096);
    sf_count_t n = 0;
    while ((n = sf_readf_float(f, frames.data(), 4096)) > 0) meter.addFloat(frames.data(), static_cast<uint32_t>(n));
    sf_close(f);
    return meter.integratedLufs();
}

class BulkRender : public ::testing::Test {
protected:
    static void SetUpTestSuite() { bank_ = writeToneBank("bulk-tone.map"); }
    static ProgramRun render(const std::vector<std::string>& songs, const std::string& outDir,
                             const std::vector<std::string>& more = {}) {
        std::vector<std::string> args = songs;
        for (const std::string& a : {std::string("--patchmap"), bank_, std::string("-d"), outDir}) args.push_back(a);
        args.insert(args.end(), more.begin(), more.end());
        return runProgram(TONVERO_RENDER_PROGRAM, args);
    }
    static std::string bank_;
};

std::string BulkRender::bank_;

// The same songs give the same bytes with one job and four, in either order
// of the list, and as the one-song form writes them; a song that is no MIDI
// file and one that is missing fail alone with their reasons; names that
// need escaping come back from the manifest byte for byte.
TEST_F(BulkRender, SameBytesWhateverTheJobsAndADamagedSongFailsAlone) {
    const std::string dir = tempPath("bulk-same");
    std::vector<std::string> songs;
    for (int i = 0; i < 6; ++i)
        songs.push_back(writeSong(dir + "/songs/" + (i % 2 ? "a/" : "b/") + "s" + std::to_string(i / 2) + ".mid", 3 + i,
                                  55 + 3 * i, 60 + 10 * i, i));
    songs.push_back(writeSong(dir + "/songs/we\"ird\\ \xff\x01.mid", 2, 70, 90));
    // A song with a status byte that has no place in a track, and one cut short: both render, with warnings.
    MidiWriter odd(0, 480);
    odd.track().noteOn(0, 0, 60, 100).raw({0x00, 0xF4}).noteOff(480, 0, 60).noteOn(0, 0, 62, 100).noteOff(480, 0, 62);
    songs.push_back(dir + "/songs/odd.mid");
    ASSERT_TRUE(odd.write(songs.back()));
    Bytes cut = odd.bytes();
    cut.resize(cut.size() - 6);
    songs.push_back(dir + "/songs/cut.mid");
    ASSERT_TRUE(writeFileBytes(songs.back(), cut));
    const std::string bad = dir + "/songs/bad.mid";
    ASSERT_TRUE(writeFileBytes(bad, {'n', 'o', 't', ' ', 'M', 'I', 'D', 'I'}));
    const std::string missing = dir + "/songs/missing.mid";
    std::vector<std::string> all = songs;
    all.insert(all.begin() + 2, bad);
    all.push_back(missing);

    const ProgramRun one = render(all, dir + "/one", {"--jobs", "1"});
    EXPECT_EQ(one.code, 1) << one.err;
    std::vector<std::string> reversed(all.rbegin(), all.rend());
    const std::string list = dir + "/list.txt";
    {
        std::ofstream out(list, std::ios::binary);
        for (const std::string& s : reversed) out << s << "\n";
    }
    const ProgramRun four =
        runProgram(TONVERO_RENDER_PROGRAM, {"--list", list, "--patchmap", bank_, "-d", dir + "/four", "--jobs", "4"});
    EXPECT_EQ(four.code, 1) << four.err;
    EXPECT_NE(four.out.find("11 songs: 9 rendered, 2 failed"), std::string::npos) << four.out;
    EXPECT_NE(four.err.find("bad.mid\" failed: cannot read the song"), std::string::npos) << four.err;

    const auto lines = bySource(readManifest(dir + "/one/manifest.jsonl"));
    ASSERT_EQ(lines.size(), all.size());
    for (const std::string& song : songs) {
        ASSERT_TRUE(lines.count(song)) << song;
        const Fields& f = lines.at(song);
        EXPECT_EQ(f.at("status").text, "rendered");
        ASSERT_EQ(f.at("outputs").items.size(), 1u);
        const std::string name = f.at("outputs").items[0].text;
        const std::string a = fileText(dir + "/one/" + name);
        const std::string b = fileText(dir + "/four/" + name);
        EXPECT_GT(a.size(), 44u * 1000) << name;
        EXPECT_TRUE(a == b) << name << " differs between --jobs 1 and --jobs 4";
        EXPECT_EQ(f.at("output_fnv1a64").items[0].text, hex(fnv(a))) << name;
        EXPECT_GT(std::stod(f.at("notes_played").text), 0) << name;
        EXPECT_GT(std::stod(f.at("rendered_seconds").text), std::stod(f.at("song_seconds").text)) << name;
        EXPECT_LT(std::stod(f.at("loudness_lufs").text), 0) << name;
    }
    Fields oddWarnings, cutShort;
    ASSERT_TRUE(parseJsonObjectLine(lines.at(dir + "/songs/odd.mid").at("warnings").text, oddWarnings));
    ASSERT_TRUE(parseJsonObjectLine(lines.at(dir + "/songs/cut.mid").at("warnings").text, cutShort));
    EXPECT_EQ(oddWarnings.at("skipped_status_bytes").text, "1");
    EXPECT_EQ(oddWarnings.at("damaged_after_seconds").kind, JsonValue::Kind::Null);
    EXPECT_EQ(cutShort.at("damaged_after_seconds").kind, JsonValue::Kind::Number);
    // Songs of one name in two folders keep their folders.
    EXPECT_TRUE(fs::exists(dir + "/one/a/s0.wav"));
    EXPECT_TRUE(fs::exists(dir + "/one/b/s0.wav"));
    for (const std::string& failed : {bad, missing}) {
        ASSERT_TRUE(lines.count(failed)) << failed;
        EXPECT_EQ(lines.at(failed).at("status").text, "failed");
        EXPECT_NE(lines.at(failed).at("reason").text.find("cannot read the song"), std::string::npos);
        EXPECT_TRUE(lines.at(failed).at("outputs").items.empty());
    }
    EXPECT_FALSE(fs::exists(dir + "/one/bad.wav"));
    // The one-song form writes the same bytes.
    const ProgramRun single =
        runProgram(TONVERO_RENDER_PROGRAM, {songs[0], "--patchmap", bank_, "-o", dir + "/single.wav"});
    EXPECT_EQ(single.code, 0) << single.err;
    EXPECT_TRUE(fileText(dir + "/single.wav") == fileText(dir + "/one/b/s0.wav"));
    // Two songs that would share an output name are refused before anything renders.
    const ProgramRun clash = render({songs[0], songs[0]}, dir + "/clash");
    EXPECT_EQ(clash.code, 2);
    EXPECT_NE(clash.err.find("listed twice"), std::string::npos) << clash.err;
    EXPECT_FALSE(fs::exists(dir + "/clash"));
}

// Resume skips exactly the songs whose output and line are there; a song
// whose file went is rendered again, a line cut off is ignored, and changed
// options render everything again.
TEST_F(BulkRender, ResumeSkipsExactlyWhatIsDone) {
    const std::string dir = tempPath("bulk-resume");
    std::vector<std::string> songs;
    for (int i = 0; i < 3; ++i) songs.push_back(writeSong(dir + "/r" + std::to_string(i) + ".mid", 2, 60 + i, 100));
    const std::string out = dir + "/out";
    const std::string manifest = out + "/manifest.jsonl";
    ASSERT_EQ(render(songs, out).code, 0);
    ASSERT_EQ(readManifest(manifest).size(), 3u);

    ProgramRun again = render(songs, out, {"--resume"});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.out.find("3 songs: 0 rendered, 0 failed, 3 already done"), std::string::npos) << again.out;
    EXPECT_EQ(readManifest(manifest).size(), 3u);

    fs::remove(out + "/r1.wav");
    {
        std::ofstream cut(manifest, std::ios::binary | std::ios::app);
        cut << "{\"source\":\"" << songs[2] << "\",\"status\":\"rend";  // a line a crash cut off
    }
    again = render(songs, out, {"--resume"});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.out.find("3 songs: 1 rendered, 0 failed, 2 already done"), std::string::npos) << again.out;
    EXPECT_TRUE(fs::exists(out + "/r1.wav"));
    // The cut line stays unread; the line after it is whole.
    std::ifstream in(manifest, std::ios::binary);
    std::string line;
    int whole = 0;
    int broken = 0;
    while (std::getline(in, line)) {
        Fields f;
        (parseJsonObjectLine(line, f) ? whole : broken) += 1;
    }
    EXPECT_EQ(whole, 4);
    EXPECT_EQ(broken, 1);

    again = render(songs, out, {"--resume", "--gain", "-6"});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_NE(again.out.find("3 songs: 3 rendered, 0 failed, 0 already done"), std::string::npos) << again.out;
}

// Every song is in exactly one of N shards, by FNV-1a 64 of its path modulo N.
TEST_F(BulkRender, ShardsPartitionTheList) {
    const std::string dir = tempPath("bulk-shards");
    std::vector<std::string> songs;
    for (int i = 0; i < 12; ++i) songs.push_back(writeSong(dir + "/x" + std::to_string(i) + ".mid", 1, 60, 100));
    std::set<std::string> seen;
    size_t count = 0;
    for (int k = 1; k <= 3; ++k) {
        const std::string shard = std::to_string(k) + "/3";
        const ProgramRun run = render(songs, dir + "/out", {"--shard", shard, "--jobs", "2"});
        EXPECT_EQ(run.code, 0) << run.err;
        for (const Fields& f : readManifest(dir + "/out/manifest-" + std::to_string(k) + "-of-3.jsonl")) {
            const std::string& source = f.at("source").text;
            EXPECT_EQ(fnv(source) % 3, static_cast<uint64_t>(k - 1)) << source;
            seen.insert(source);
            ++count;
        }
    }
    EXPECT_EQ(count, songs.size());  // no song in two shards
    EXPECT_EQ(seen, std::set<std::string>(songs.begin(), songs.end()));
    EXPECT_EQ(render(songs, dir + "/out", {"--shard", "4/3"}).code, 2);

    // The README's GNU parallel line on one machine, and its merge.
    if (!fs::exists("/usr/bin/parallel")) GTEST_SKIP() << "GNU parallel is not installed";
    const std::string list = dir + "/songs.txt";
    {
        std::ofstream out(list, std::ios::binary);
        for (const std::string& s : songs) out << s << "\n";
    }
    const std::string out = dir + "/parallel";
    const std::string command = std::string("parallel -j2 ") + TONVERO_RENDER_PROGRAM + " --list " + list +
                                " --patchmap " + bank_ + " -d " + out + " --jobs 1 --shard {}/2 ::: 1 2 && cat " + out +
                                "/manifest-*-of-2.jsonl > " + out + "/manifest.jsonl";
    const ProgramRun run = runProgram("/bin/sh", {"-c", command});
    EXPECT_EQ(run.code, 0) << run.err;
    const std::vector<Fields> merged = readManifest(out + "/manifest.jsonl");
    EXPECT_EQ(merged.size(), songs.size());
    EXPECT_EQ(bySource(merged).size(), songs.size());
}

// The text of the README's code block that follows `marker`, with the
// shared folder it names replaced by `outDir`; empty when not found.
std::string readmeBlock(const std::string& marker, const std::string& outDir) {
    const char* source = std::getenv("TONVERO_SOURCE_DIR");
    if (!source) return {};
    const std::string readme = fileText(std::string(source) + "/README.md");
    const size_t at = readme.find(marker);
    const size_t begin = readme.find("```sh\n", at == std::string::npos ? readme.size() : at);
    const size_t end = begin == std::string::npos ? begin : readme.find("```", begin + 6);
    if (end == std::string::npos) return {};
    std::string block = readme.substr(begin + 6, end - begin - 6);
    for (size_t p = 0; (p = block.find("/shared/out", p)) != std::string::npos; p += outDir.size())
        block.replace(p, 11, outDir);
    return block;
}

// The README's Slurm array script, each task run as Slurm would run it, and
// its merge: every song rendered once.
TEST_F(BulkRender, TheReadmesSlurmScriptRendersEveryShareOnce) {
    const std::string dir = tempPath("bulk-slurm");
    const std::string out = dir + "/out";
    const std::string script = readmeBlock("(`sbatch render.sh`):", out);
    const std::string merge = readmeBlock("merge them with", out);
    if (script.empty() || merge.empty()) GTEST_SKIP() << "the README is not beside the tests";
    const size_t array = script.find("#SBATCH --array=1-");
    ASSERT_NE(array, std::string::npos) << script;
    const int tasks = std::stoi(script.substr(array + 18));
    std::vector<std::string> songs;
    for (int i = 0; i < 10; ++i) songs.push_back(writeSong(dir + "/s" + std::to_string(i) + ".mid", 1, 60, 100));
    {
        std::ofstream list(dir + "/songs.txt", std::ios::binary);
        for (const std::string& s : songs) list << s << "\n";
        std::ofstream(dir + "/render.sh", std::ios::binary) << script;
    }
    const std::string programDir = fs::path(TONVERO_RENDER_PROGRAM).parent_path().string();
    for (int task = 1; task <= tasks; ++task) {
        const std::string command = "cd " + dir + " && PATH=" + programDir +
                                    ":$PATH SLURM_ARRAY_TASK_ID=" + std::to_string(task) +
                                    " SLURM_CPUS_PER_TASK=1 bash render.sh";
        const ProgramRun run = runProgram("/bin/sh", {"-c", command});
        EXPECT_EQ(run.code, 0) << "task " << task << ": " << run.err;
    }
    EXPECT_EQ(runProgram("/bin/sh", {"-c", merge}).code, 0);
    const std::vector<Fields> merged = readManifest(out + "/manifest.jsonl");
    EXPECT_EQ(merged.size(), songs.size());
    std::set<std::string> sources;
    for (const Fields& f : merged) sources.insert(f.at("source").text);
    EXPECT_EQ(sources, std::set<std::string>(songs.begin(), songs.end()));
}

// --loudness brings songs of different levels to the target, in FLAC as in
// WAV; Opus is refused at a rate other than 48000 Hz.
TEST_F(BulkRender, LoudnessReachesTheTarget) {
    const std::string dir = tempPath("bulk-loud");
    const std::vector<std::string> songs = {writeSong(dir + "/soft.mid", 8, 60, 30),
                                            writeSong(dir + "/loud.mid", 8, 64, 127)};
    for (const char* format : {"wav", "flac"}) {
        const std::string out = dir + "/" + format;
        const ProgramRun run = render(songs, out, {"--loudness", "-30", "--format", format, "--bits", "24"});
        EXPECT_EQ(run.code, 0) << run.err;
        for (const Fields& f : readManifest(out + "/manifest.jsonl")) {
            const std::string file = out + "/" + f.at("outputs").items.at(0).text;
            EXPECT_NEAR(integratedLoudness(file), -30.0, 0.5) << file;
            EXPECT_NEAR(std::stod(f.at("loudness_lufs").text), -30.0, 0.5) << file;
            EXPECT_EQ(f.at("gain_limited_by_true_peak").text, "false");
        }
    }
    const ProgramRun opus = render(songs, dir + "/opus", {"--format", "opus"});
    EXPECT_EQ(opus.code, 2);
    EXPECT_NE(opus.err.find("48000 Hz"), std::string::npos) << opus.err;

    // A song too long to keep in memory between measuring and writing is
    // rendered a second time: to the same bytes, with the same gain.
    Bank bank;
    ASSERT_EQ(loadPatchmap(bank, bank_), LoadOk);
    BatchSettings settings;
    settings.normalise = true;
    settings.loudnessTarget = -30;
    std::vector<SongOutcome> outcomes;
    for (const size_t kept : {settings.keptSamples, size_t{0}}) {
        settings.keptSamples = kept;
        const std::atomic<bool> stop{false};
        std::atomic<uint64_t> frames{0};
        outcomes.push_back(renderBatchSong(bank, BatchSong{songs[1], "loud"}, dir + "/kept-" + std::to_string(kept),
                                           settings, stop, frames));
        ASSERT_EQ(outcomes.back().status, SongOutcome::Status::Rendered) << outcomes.back().reason;
    }
    EXPECT_EQ(outcomes[0].outputHashes, outcomes[1].outputHashes);
    EXPECT_EQ(outcomes[0].gainDb, outcomes[1].gainDb);
    EXPECT_NEAR(outcomes[1].loudnessLufs, -30.0, 0.5);
}

std::vector<float> readFloats(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<float> samples(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, samples.data(), info.frames);
    sf_close(f);
    return samples;
}

// Stems by channel and by program, normalised with the mix: as long as the
// mix, adding up to it, only for what sounds, named by channel, program and
// the drums, and listed in the manifest.
TEST_F(BulkRender, StemsAddUpToTheMix) {
    const std::string dir = tempPath("bulk-stems");
    MidiWriter w(0, 480);
    MidiWriter::Track& t = w.track();
    t.program(0, 0, 0).program(0, 2, 5);
    for (int beat = 0; beat < 6; ++beat)
        t.noteOn(0, 0, 60 + beat, 110)
            .noteOn(0, 2, 67, 90)
            .noteOn(0, 9, 36, 120)
            .noteOff(240, 0, 60 + beat)
            .noteOff(0, 2, 67)
            .noteOff(0, 9, 36);
    // Channel 3 starts late, on program 6.
    t.program(0, 2, 6).noteOn(0, 2, 72, 100).noteOff(480, 2, 72).endOfTrack(0);
    const std::string song = dir + "/band.mid";
    fs::create_directories(dir);
    ASSERT_TRUE(w.write(song));

    const std::map<std::string, std::set<std::string>> expected = {
        {"channel", {"band.wav", "band.channel-01.wav", "band.channel-03.wav", "band.channel-10.wav"}},
        {"program",
         {"band.wav", "band.program-001.wav", "band.program-006.wav", "band.program-007.wav", "band.drums.wav"}}};
    for (const auto& [mode, names] : expected) {
        const std::string out = dir + "/" + mode;
        const ProgramRun run = render({song}, out, {"--stems", mode, "--bits", "24", "--loudness", "-20"});
        ASSERT_EQ(run.code, 0) << run.err;
        const std::vector<Fields> lines = readManifest(out + "/manifest.jsonl");
        ASSERT_EQ(lines.size(), 1u);
        std::set<std::string> listed;
        for (const JsonValue& item : lines[0].at("outputs").items) listed.insert(item.text);
        EXPECT_EQ(listed, names);
        const std::vector<float> mix = readFloats(out + "/band.wav");
        ASSERT_FALSE(mix.empty());
        std::vector<double> sum(mix.size(), 0.0);
        for (const std::string& name : names) {
            if (name == "band.wav") continue;
            const std::vector<float> stem = readFloats(out + "/" + name);
            ASSERT_EQ(stem.size(), mix.size()) << name;
            for (size_t i = 0; i < stem.size(); ++i) sum[i] += stem[i];
        }
        double worst = 0, peak = 0;
        for (size_t i = 0; i < mix.size(); ++i) {
            worst = std::max(worst, std::abs(sum[i] - mix[i]));
            peak = std::max(peak, static_cast<double>(std::abs(mix[i])));
        }
        EXPECT_GT(peak, 0.05) << mode;
        EXPECT_LT(worst, 1e-5) << mode;  // 24-bit rounding of four or five files
        EXPECT_NEAR(integratedLoudness(out + "/band.wav"), -20.0, 0.5) << mode;
    }
    const ProgramRun custom = render({song}, dir + "/custom", {"--stems", "channel", "--mixer", "software"});
    EXPECT_EQ(custom.code, 2);
    EXPECT_NE(custom.err.find("Studio mixer"), std::string::npos) << custom.err;
}

// SIGTERM in the middle of a run: what is there is whole (every file named
// in the manifest, with its checksum), no half-written file, and a resumed
// run finishes the rest.
TEST_F(BulkRender, InterruptedRunLeavesNoPartialFile) {
    const std::string dir = tempPath("bulk-stop");
    std::vector<std::string> songs;
    for (int i = 0; i < 4; ++i) songs.push_back(writeSong(dir + "/long" + std::to_string(i) + ".mid", 120, 60, 100));
    const std::string out = dir + "/out";
    const std::string manifest = out + "/manifest.jsonl";
    std::vector<std::string> words{TONVERO_RENDER_PROGRAM};
    words.insert(words.end(), songs.begin(), songs.end());
    for (const char* w : {"--patchmap", bank_.c_str(), "-d", out.c_str(), "--jobs", "1"}) words.emplace_back(w);
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    // Stop it once the first song is done, while the second is being written.
    for (int wait = 0; wait < 60000 && readManifest(manifest).empty(); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);

    const std::vector<Fields> lines = readManifest(manifest);
    std::set<std::string> named{"manifest.jsonl"};
    for (const Fields& f : lines) {
        const std::string name = f.at("outputs").items.at(0).text;
        named.insert(name);
        EXPECT_EQ(f.at("output_fnv1a64").items.at(0).text, hex(fnv(fileText(out + "/" + name)))) << name;
    }
    EXPECT_EQ(filesUnder(out), named);  // nothing half written, no .part left
    EXPECT_LT(lines.size(), songs.size());
    const ProgramRun rest = render(songs, out, {"--resume"});
    EXPECT_EQ(rest.code, 0) << rest.err;
    EXPECT_EQ(bySource(readManifest(manifest)).size(), songs.size());
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(fs::exists(out + "/long" + std::to_string(i) + ".wav"));
}

}  // namespace
}  // namespace tonvero::test
