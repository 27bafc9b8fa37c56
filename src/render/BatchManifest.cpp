#include "render/BatchManifest.h"

#include "render/Fnv1a.h"
#include "render/JsonText.h"
#include "render/LoudnessMeter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace tonvero {

namespace {

std::string number(double value, const char* format = "%.3f") {
    if (!std::isfinite(value)) return "null";
    char text[48];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string integer(int64_t value) { return std::to_string(value); }
std::string integer(uint64_t value) { return std::to_string(value); }

}  // namespace

std::string manifestLine(const BatchSong& song, const SongOutcome& outcome, const BatchSettings& settings,
                         const std::string& bankPath, uint64_t bankHash) {
    const bool rendered = outcome.status == SongOutcome::Status::Rendered;
    std::string line = "{\"source\":" + jsonString(song.source);
    line += std::string(",\"status\":") + (rendered ? "\"rendered\"" : "\"failed\"");
    if (!rendered) line += ",\"reason\":" + jsonString(outcome.reason);
    line += ",\"outputs\":[";
    for (size_t i = 0; i < outcome.outputs.size(); ++i) line += (i ? "," : "") + jsonString(outcome.outputs[i]);
    line += "],\"output_fnv1a64\":[";
    for (size_t i = 0; i < outcome.outputHashes.size(); ++i)
        line += (i ? ",\"" : "\"") + hexText(outcome.outputHashes[i]) + "\"";
    line += "]";
    line += ",\"song_seconds\":" + number(outcome.songSeconds);
    line += ",\"rendered_seconds\":" + number(outcome.renderedSeconds);
    line += ",\"notes_played\":" + integer(outcome.notes.played);
    line += ",\"notes_without_instrument\":" + integer(outcome.notes.withoutInstrument);
    line += ",\"notes_without_zone\":" + integer(outcome.notes.withoutZone);
    line += ",\"warnings\":{\"skipped_status_bytes\":" + integer(outcome.skippedStatuses);
    line += ",\"late_events\":" + integer(outcome.lateEvents);
    line += ",\"dropped_events\":" + integer(outcome.droppedEvents);
    line += ",\"stolen_voices\":" + integer(outcome.stolenVoices);
    line += ",\"damaged_after_seconds\":" +
            (outcome.damagedAfterSeconds >= 0 ? number(outcome.damagedAfterSeconds) : std::string("null")) + "}";
    line += ",\"peak_dbfs\":" + (rendered ? number(decibelsOf(outcome.peak), "%.2f") : std::string("null"));
    line += ",\"true_peak_dbtp\":" +
            (rendered && settings.normalise ? number(decibelsOf(outcome.truePeak), "%.2f") : std::string("null"));
    line += ",\"loudness_lufs\":" + (rendered ? number(outcome.loudnessLufs, "%.2f") : std::string("null"));
    line += ",\"loudness_target_lufs\":" +
            (settings.normalise ? number(settings.loudnessTarget, "%.2f") : std::string("null"));
    line += ",\"gain_db\":" + number(outcome.gainDb, "%.2f");
    line += std::string(",\"gain_limited_by_true_peak\":") + (outcome.gainLimited ? "true" : "false");
    line += ",\"options\":" + jsonString(settings.text());
    line += ",\"bank\":" + jsonString(bankPath);
    line += ",\"bank_fnv1a64\":\"" + hexText(bankHash) + "\"";
    line += ",\"seconds_taken\":" + number(outcome.secondsTaken);
    line += "}";
    return line;
}

std::map<std::string, RenderedSong> readRenderedSongs(const std::string& path) {
    std::map<std::string, RenderedSong> songs;
    std::ifstream in(path, std::ios::binary);
    if (!in) return songs;
    std::string line;
    while (std::getline(in, line)) {
        // The last line without its newline was cut off.
        if (in.eof()) break;
        std::map<std::string, JsonValue> fields;
        if (!parseJsonObjectLine(line, fields)) continue;
        const auto text = [&](const char* key) -> const JsonValue* {
            const auto it = fields.find(key);
            return it != fields.end() ? &it->second : nullptr;
        };
        const JsonValue* source = text("source");
        const JsonValue* status = text("status");
        if (!source || source->kind != JsonValue::Kind::String || !status) continue;
        if (status->text != "rendered") {
            songs.erase(source->text);
            continue;
        }
        RenderedSong song;
        if (const JsonValue* v = text("options")) song.options = v->text;
        if (const JsonValue* v = text("bank_fnv1a64")) song.bankHash = v->text;
        if (const JsonValue* v = text("outputs"))
            for (const JsonValue& item : v->items) song.outputs.push_back(item.text);
        if (const JsonValue* v = text("output_fnv1a64"))
            for (const JsonValue& item : v->items) song.outputHashes.push_back(item.text);
        songs[source->text] = std::move(song);
    }
    return songs;
}

ManifestWriter::~ManifestWriter() {
    if (fd_ >= 0) ::close(fd_);
}

bool ManifestWriter::open(const std::string& path, bool keep, std::string& error) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | (keep ? 0 : O_TRUNC), 0644);
    if (fd_ < 0) {
        error = "cannot write the manifest \"" + path + "\": " + std::strerror(errno);
        return false;
    }
    // A line cut off at the end is left as it is; what follows starts on a line of its own.
    const off_t size = ::lseek(fd_, 0, SEEK_END);
    if (size > 0) {
        char last = '\n';
        if (::pread(fd_, &last, 1, size - 1) != 1) last = '\n';
        if (last != '\n' && ::write(fd_, "\n", 1) != 1) {
            error = "cannot write the manifest \"" + path + "\": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

bool ManifestWriter::append(const std::string& line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) return false;
    const std::string whole = line + "\n";
    size_t done = 0;
    while (done < whole.size()) {
        const ssize_t n = ::write(fd_, whole.data() + done, whole.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return ::fdatasync(fd_) == 0;
}

}  // namespace tonvero
