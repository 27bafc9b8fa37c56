#pragma once
// The samples of a Wave: signed 16-bit mono values in immutable storage that
// every Wave made from the same samples shares. Copying a SampleData copies
// the reference, never the samples; nothing can change samples in place, so a
// Wave that gets new samples gets storage of its own and every other Wave
// keeps what it had. The storage lives as long as the last Wave (or voice
// owner) holding it.
//
// Threads: the storage is never written after it is made, so any number of
// threads may read it; a SampleData object itself is as thread-safe as the
// std::shared_ptr it holds (copies on different threads are fine, assigning
// one object while another thread reads that same object is not).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace tonvero {

class SampleData {
public:
    using value_type = int16_t;
    using const_iterator = const int16_t*;
    using iterator = const_iterator;

    SampleData() = default;
    // Storage of its own holding `values`.
    explicit SampleData(const std::vector<int16_t>& values);
    // Storage of `count` samples written once by `fill(int16_t* out)`, without
    // first clearing them: fill must write all `count`. For sample data read
    // straight into its final place.
    template <typename Fill>
    static SampleData make(size_t count, Fill&& fill) {
        SampleData made;
        if (count == 0) return made;
        std::shared_ptr<int16_t[]> storage = std::make_shared_for_overwrite<int16_t[]>(count);
        fill(storage.get());
        made.peak_ = peakOf(storage.get(), count);
        made.storage_ = std::move(storage);
        made.size_ = count;
        return made;
    }

    // Storage of `count` samples read from 2·count bytes of little-endian
    // 16-bit values at any alignment (a file's bytes in place).
    static SampleData fromLittleEndian(const uint8_t* bytes, size_t count);

    const int16_t* data() const { return storage_.get(); }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // The largest magnitude among the samples (0..32768), found once when the
    // storage was made: how loud a voice of them can be at most.
    int32_t peak() const { return peak_; }
    int16_t operator[](size_t i) const { return data()[i]; }
    const int16_t* begin() const { return data(); }
    const int16_t* end() const { return data() + size_; }
    std::span<const int16_t> span() const { return {data(), size_}; }
    std::vector<int16_t> copy() const { return {begin(), end()}; }

    // Whether both refer to one storage (two empty ones share nothing).
    bool sharesStorageWith(const SampleData& other) const { return storage_ != nullptr && storage_ == other.storage_; }
    // Identifies the storage, for finding every Wave that shares it; null when empty.
    const void* storageId() const { return storage_.get(); }

    // Equal samples, whether shared or not.
    friend bool operator==(const SampleData& a, const SampleData& b);
    friend bool operator==(const SampleData& a, const std::vector<int16_t>& values) {
        return a.size_ == values.size() && std::equal(a.begin(), a.end(), values.begin());
    }

private:
    static int32_t peakOf(const int16_t* samples, size_t count);

    std::shared_ptr<const int16_t[]> storage_;
    size_t size_ = 0;
    int32_t peak_ = 0;
};

}  // namespace tonvero
