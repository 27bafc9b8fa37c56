#pragma once
// Reads little-endian fields from a file image held in memory, never past its
// end. A read that does not fit sets the reader's failed state, which sticks:
// every later read fails too and yields 0, so a parser can read a whole record
// and check once. Reads may start at any byte offset. An image that is a
// mapped file can give back the memory of what has been read (release).
//
// Threads: one reader belongs to one caller.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tonvero {

class MappedFile;

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size, const MappedFile* mapping = nullptr)
        : data_(data), size_(size), mapping_(mapping) {}

    bool ok() const { return !failed_; }
    size_t position() const { return pos_; }
    size_t size() const { return size_; }
    // Bytes left from the current position (0 once failed).
    size_t remaining() const { return failed_ ? 0 : size_ - pos_; }

    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    int32_t i32() { return static_cast<int32_t>(u32()); }
    // The next 32-bit field without moving past it: false, the reader
    // unchanged (not failed), when four bytes are not there.
    bool peekU32(uint32_t& value) const;
    // Copies `count` bytes to `out`; on failure `out` is left untouched.
    bool bytes(void* out, size_t count);
    // `count` bytes as text, cut at the first NUL byte, as names are stored.
    std::string text(size_t count);
    // The next `count` bytes in place (any alignment), or null when they are not there.
    const uint8_t* view(size_t count);
    bool skip(size_t count);
    // The bytes [from, from + count) of the image, already read, are not
    // needed again: a mapped file's memory for them is given back.
    void release(const uint8_t* from, size_t count) const;
    // Fails the reader on purpose, for a value the caller refuses.
    void fail() { failed_ = true; }

private:
    // Whether `count` more bytes are there; fails the reader when not.
    bool take(size_t count);

    const uint8_t* data_;
    size_t size_;
    const MappedFile* mapping_;
    size_t pos_ = 0;
    bool failed_ = false;
};

}  // namespace tonvero
