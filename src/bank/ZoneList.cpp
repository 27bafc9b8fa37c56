#include "bank/ZoneList.h"

#include <utility>

namespace tonvero {

ZoneList::ZoneList() { zones_.reserve(static_cast<size_t>(capacity_)); }

int32_t ZoneList::count() const { return static_cast<int32_t>(zones_.size()); }

Zone* ZoneList::at(int32_t position) const {
    if (position < 0 || position >= count()) return nullptr;
    return zones_[static_cast<size_t>(position)].get();
}

Zone* ZoneList::append(std::unique_ptr<Zone> zone) {
    if (count() == capacity_) {
        capacity_ = count() + 10;
        zones_.reserve(static_cast<size_t>(capacity_));
    }
    zones_.push_back(std::move(zone));
    return zones_.back().get();
}

void ZoneList::remove(int32_t position) {
    if (position < 0 || position >= count()) return;
    // The last Zone takes the freed place, so the list keeps no gaps; the
    // order of the remaining Zones changes when a Zone other than the last goes.
    const size_t place = static_cast<size_t>(position);
    const int32_t last = count() - 1;
    zones_[place] = std::move(zones_.back());
    zones_.pop_back();
    if (capacity_ - count() > 10) capacity_ -= 10;
    // Stereo links name Zones by position: a link to the removed Zone goes,
    // one to the Zone that moved follows it.
    for (auto& zone : zones_) {
        if (!zone || !zone->articulation) continue;
        int32_t& linked = zone->articulation->linkedZone;
        if (linked == position)
            linked = -1;
        else if (linked == last)
            linked = position;
    }
}

}  // namespace tonvero
