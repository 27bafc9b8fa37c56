#pragma once
// FNV-1a, 64 bits (offset basis 14695981039346656037, prime 1099511628211),
// over bytes: the bulk renderer's checksum of files (the bank, each output)
// and the hash that deals songs into shards. Not a cryptographic hash: it
// tells a changed file from the one recorded, it does not resist forgery.
//
// Pure; any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tonvero {

class Fnv1a64 {
public:
    void add(const void* data, size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            hash_ ^= bytes[i];
            hash_ *= 1099511628211ull;
        }
    }
    uint64_t value() const { return hash_; }

private:
    uint64_t hash_ = 14695981039346656037ull;
};

inline uint64_t fnv1a64(std::string_view bytes) {
    Fnv1a64 hash;
    hash.add(bytes.data(), bytes.size());
    return hash.value();
}

// The hash of the file at `path`, read in pieces; false when it cannot be read.
bool fnv1a64OfFile(const std::string& path, uint64_t& hash);

// 16 lower-case hexadecimal digits.
std::string hexText(uint64_t value);

}  // namespace tonvero
