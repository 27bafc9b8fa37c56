#pragma once
// Whole-file reading and safe replacing, shared by the bank, WAV and song loaders.
//
// Threads: any thread; nothing here holds state between calls.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tonvero {

// The largest file any loader takes in: the length must fit the signed 32-bit
// value fileLength returns.
constexpr size_t kMaxFileBytes = 0x7FFFFFFF;

// Opens `path` read-only, returns its length in bytes and closes it again.
// -1 when it cannot be opened, is not a regular file (a directory, or a FIFO,
// which is never waited on), or is longer than
// kMaxFileBytes (2 GiB - 1): such a file cannot be told apart from one that
// does not open, because no loader could take it in anyway.
int32_t fileLength(const std::string& path);

// Reads the whole of `path` into `out` (replacing its contents). Returns false,
// with `out` empty, when the file cannot be opened, is not a regular file, is
// longer than `maxBytes`, or cannot be read to its end.
bool readWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes = kMaxFileBytes);

// Writes `size` bytes to `path` through a temporary file in the same directory,
// which is flushed to disk and then renamed over `path`. An existing file at
// `path` is replaced only when every byte was written, and keeps its
// permission bits; on any failure it is left as it was and false is returned.
// When `path` is a symbolic link, the file it points at is replaced.
bool replaceFileContents(const std::string& path, const uint8_t* data, size_t size);

}  // namespace tonvero
