#include "render/BatchPlan.h"

#include "render/Fnv1a.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

namespace tonvero {

namespace fs = std::filesystem;

bool fnv1a64OfFile(const std::string& path, uint64_t& hash) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    Fnv1a64 h;
    char buffer[1 << 16];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) h.add(buffer, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) return false;
    hash = h.value();
    return true;
}

std::string hexText(uint64_t value) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

bool readSongList(const std::string& path, std::vector<std::string>& songs, std::string& problem) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        problem = "cannot read the list \"" + path + "\"";
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) songs.push_back(line);
    }
    if (in.bad()) {
        problem = "cannot read the list \"" + path + "\"";
        return false;
    }
    return true;
}

bool planOutputNames(const std::vector<std::string>& sources, std::vector<BatchSong>& songs, std::string& problem) {
    songs.clear();
    if (sources.empty()) return true;
    std::vector<fs::path> paths;
    paths.reserve(sources.size());
    for (const std::string& s : sources) {
        std::error_code error;
        fs::path p = fs::absolute(fs::path(s), error);
        paths.push_back((error ? fs::path(s) : p).lexically_normal());
    }
    // The folder every song lies in: the longest run of leading components
    // that all the songs' folders share.
    const fs::path first = paths[0].parent_path();
    std::vector<fs::path> common(first.begin(), first.end());
    for (const fs::path& p : paths) {
        const fs::path folder = p.parent_path();
        size_t k = 0;
        for (auto it = folder.begin(); it != folder.end() && k < common.size() && *it == common[k]; ++it) ++k;
        common.resize(k);
    }
    fs::path base;
    for (const fs::path& part : common) base /= part;
    std::map<std::string, size_t> taken;
    for (size_t i = 0; i < sources.size(); ++i) {
        fs::path name = paths[i].lexically_relative(base);
        if (name.empty()) name = paths[i].filename();
        name.replace_extension();
        BatchSong song{sources[i], name.generic_string()};
        const auto [at, added] = taken.emplace(song.name, i);
        if (!added) {
            problem = "\"" + sources[at->second] + "\" and \"" + sources[i] + "\" would both be rendered to \"" +
                      song.name + "\"" + (paths[at->second] == paths[i] ? " (the song is listed twice)" : "");
            return false;
        }
        songs.push_back(std::move(song));
    }
    return true;
}

bool inShard(const std::string& source, int32_t k, int32_t n) {
    return n > 0 && fnv1a64(source) % static_cast<uint64_t>(n) == static_cast<uint64_t>(k - 1);
}

bool parseShard(const std::string& text, int32_t& k, int32_t& n) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 >= text.size()) return false;
    long values[2];
    const std::string parts[2] = {text.substr(0, slash), text.substr(slash + 1)};
    for (int p = 0; p < 2; ++p) {
        if (parts[p].size() > 7 || parts[p].find_first_not_of("0123456789") != std::string::npos) return false;
        values[p] = std::stol(parts[p]);
    }
    if (values[0] < 1 || values[1] < 1 || values[0] > values[1] || values[1] > 1000000) return false;
    k = static_cast<int32_t>(values[0]);
    n = static_cast<int32_t>(values[1]);
    return true;
}

}  // namespace tonvero
