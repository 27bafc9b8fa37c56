#pragma once
// How many timer events were how late, in microseconds, in a fixed table so
// that counting an event on the timer thread never allocates.
//
// Bins: one per microsecond below 64 us; above, each doubling (64..127,
// 128..255, ... up to 131071 us) is cut into 32 equal bins, so a bin is at
// most 1/32 (about 3 %) of the values it holds wide. Anything from 131072 us
// (131 ms) on falls into one last bin.

#include <array>
#include <bit>
#include <cstdint>
#include <limits>

namespace tonvero {

class LatenessHistogram {
public:
    static constexpr uint64_t kExactBelow = 64;  // one bin per microsecond under this
    static constexpr uint32_t kBinsPerDoubling = 32;
    static constexpr uint32_t kDoublings = 11;  // 64 us .. 131071 us
    static constexpr uint32_t kOverflowBin = kExactBelow + kDoublings * kBinsPerDoubling;
    static constexpr uint32_t kBinCount = kOverflowBin + 1;
    static constexpr uint64_t kOverflowFrom = kExactBelow << kDoublings;  // 131072 us

    // The bin that counts a lateness of `micros`.
    static constexpr uint32_t binOf(uint64_t micros) {
        if (micros < kExactBelow) return static_cast<uint32_t>(micros);
        if (micros >= kOverflowFrom) return kOverflowBin;
        // Doubling g (1..kDoublings) holds [64 x 2^(g-1), 64 x 2^g) in bins 2^g wide.
        const uint32_t g = static_cast<uint32_t>(std::bit_width(micros)) - 6;
        const uint64_t start = kExactBelow << (g - 1);
        return static_cast<uint32_t>(kExactBelow + (g - 1) * kBinsPerDoubling + ((micros - start) >> g));
    }
    // The smallest and largest lateness bin `bin` counts (the last bin has no
    // upper end: its largest is the largest uint64_t).
    static constexpr uint64_t binLowest(uint32_t bin) {
        if (bin < kExactBelow) return bin;
        if (bin >= kOverflowBin) return kOverflowFrom;
        const uint32_t g = (bin - static_cast<uint32_t>(kExactBelow)) / kBinsPerDoubling + 1;
        const uint32_t within = (bin - static_cast<uint32_t>(kExactBelow)) % kBinsPerDoubling;
        return (kExactBelow << (g - 1)) + (uint64_t{within} << g);
    }
    static constexpr uint64_t binHighest(uint32_t bin) {
        if (bin >= kOverflowBin) return std::numeric_limits<uint64_t>::max();
        return binLowest(bin + 1) - 1;
    }

    void add(uint64_t micros) { ++bins_[binOf(micros)]; }
    void merge(const LatenessHistogram& other) {
        for (uint32_t i = 0; i < kBinCount; ++i) bins_[i] += other.bins_[i];
    }
    uint64_t count() const {
        uint64_t total = 0;
        for (uint64_t n : bins_) total += n;
        return total;
    }
    uint64_t inBin(uint32_t bin) const { return bin < kBinCount ? bins_[bin] : 0; }

    // The lateness that `percent` % of the events (0 < percent <= 100) did
    // not exceed, as the largest value of the bin that holds that event:
    // exact below 64 us, at most about 3 % high above (the largest uint64_t
    // when it lies in the last bin). 0 when nothing was counted.
    uint64_t percentile(double percent) const {
        const uint64_t total = count();
        if (total == 0) return 0;
        if (!(percent > 0)) percent = 0;
        if (percent > 100) percent = 100;
        // The rank of that event, 1..total: the smallest r with r >= percent % of total.
        const double exact = percent / 100.0 * static_cast<double>(total);
        uint64_t rank = static_cast<uint64_t>(exact);
        if (static_cast<double>(rank) < exact) ++rank;
        if (rank < 1) rank = 1;
        if (rank > total) rank = total;
        uint64_t seen = 0;
        for (uint32_t i = 0; i < kBinCount; ++i) {
            seen += bins_[i];
            if (seen >= rank) return binHighest(i);
        }
        return binHighest(kOverflowBin);
    }

private:
    std::array<uint64_t, kBinCount> bins_{};
};

}  // namespace tonvero
