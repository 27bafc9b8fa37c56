#pragma once
// Whole-file reading, mapping and safe replacing, shared by the bank, WAV,
// SoundFont and song loaders.
//
// Threads: any thread; nothing here holds state between calls.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
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

// A regular file mapped read-only, for reading a large file without a copy of
// it in memory: its pages come from the page cache as they are read, and
// `release` gives back the memory of a range that has been read, so reading a
// file once through holds only a window of it at a time. The mapping is
// private: another program writing the file cannot change the bytes read,
// though one that truncates it while it is read is not guarded against.
// Threads: the bytes may be read from any thread while the object lives.
class MappedFile {
public:
    // Maps `path`. Null when it cannot be opened or mapped, is not a regular
    // file, or is longer than `maxBytes`. An empty file maps to no bytes.
    static std::unique_ptr<MappedFile> open(const std::string& path, size_t maxBytes);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    // Gives back the memory of the whole pages inside [from, from + count);
    // reading them again later reads them from the file again.
    void release(const uint8_t* from, size_t count) const;

private:
    MappedFile(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    const uint8_t* data_;
    size_t size_;
};

// Writes `size` bytes to `path` through a temporary file in the same directory,
// which is flushed to disk and then renamed over `path`. An existing file at
// `path` is replaced only when every byte was written, and keeps its
// permission bits; on any failure it is left as it was and false is returned.
// When `path` is a symbolic link, the file it points at is replaced.
bool replaceFileContents(const std::string& path, const uint8_t* data, size_t size);
// The same, with the contents written as they are made: `write` is given a
// function that appends bytes to the temporary file (false once a write has
// failed) and returns whether it wrote everything.
bool replaceFileWith(const std::string& path,
                     const std::function<bool(const std::function<bool(const uint8_t*, size_t)>& append)>& write);

}  // namespace tonvero
