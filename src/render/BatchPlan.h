#pragma once
// What a bulk render renders: the songs named on the command line or in a
// list file, each with the name of its output inside the output folder, and
// the share of them one machine takes.
//
// Output names follow each song's path relative to the folder all the songs
// have in common, without its extension ("a/x.mid" and "b/x.mid" give "a/x"
// and "b/x"), so songs of the same name in different folders never collide;
// two songs that would still give one name are refused before anything renders.
//
// Shards: song S belongs to shard K of N (K from 1 to N) when
// FNV-1a 64 of the bytes of S's path, as given, modulo N equals K - 1. So every
// song is in exactly one shard whatever the order of the list, and every
// machine that is given the same list and N agrees on the shares.
//
// Pure functions but for reading the list; any thread.

#include <cstdint>
#include <string>
#include <vector>

namespace tonvero {

struct BatchSong {
    std::string source;  // the song's path as given
    std::string name;    // its output's path inside the output folder, without extension
};

// Appends the paths in the list file `path`, one a line (a line's final
// carriage return dropped, empty lines skipped), to `songs`. False with
// `problem` in words for the user when the file cannot be read.
bool readSongList(const std::string& path, std::vector<std::string>& songs, std::string& problem);

// The songs with their output names; false with `problem` naming the songs
// that collide (or a song given twice).
bool planOutputNames(const std::vector<std::string>& sources, std::vector<BatchSong>& songs, std::string& problem);

// Whether the song at `source` is in shard `k` of `n` (1 <= k <= n).
bool inShard(const std::string& source, int32_t k, int32_t n);

// Reads "K/N" (1 <= K <= N <= 1000000); false for anything else.
bool parseShard(const std::string& text, int32_t& k, int32_t& n);

}  // namespace tonvero
