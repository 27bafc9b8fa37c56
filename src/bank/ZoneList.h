#pragma once
// An Instrument's Zones in the order they were added, with the count and
// capacity steps the bank has always used: capacity 5 at first; appending to
// a full list makes the capacity count + 10; removing moves the last Zone into
// the freed place and shrinks the capacity by 10 once it exceeds the count by
// more than 10.

#include "bank/Zone.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tonvero {

class ZoneList {
public:
    ZoneList();
    int32_t count() const;
    int32_t capacity() const { return capacity_; }
    // The Zone at `position`, or null outside 0 .. count - 1.
    Zone* at(int32_t position) const;
    Zone* operator[](int32_t position) const { return at(position); }
    // Appends, growing as described above; returns the Zone.
    Zone* append(std::unique_ptr<Zone> zone);
    // Destroys the Zone (and its Wave) at `position`; nothing outside the range.
    void remove(int32_t position);

private:
    std::vector<std::unique_ptr<Zone>> zones_;
    int32_t capacity_ = 5;
};

}  // namespace tonvero
