#include "render/SongTimeText.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace tonvero {

std::string formatSongTime(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0;
    if (seconds > 359999999.0) seconds = 359999999.0;  // 99999:59:59
    const int64_t whole = static_cast<int64_t>(seconds);
    const int64_t h = whole / 3600;
    const int64_t m = (whole / 60) % 60;
    const int64_t s = whole % 60;
    char text[32];
    if (h > 0)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(h), static_cast<long long>(m),
                      static_cast<long long>(s));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(m), static_cast<long long>(s));
    return text;
}

std::string formatSongPosition(double positionSeconds, double lengthSeconds) {
    return formatSongTime(positionSeconds) + " / " + formatSongTime(lengthSeconds);
}

}  // namespace tonvero
