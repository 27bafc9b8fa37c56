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

namespace tonvero {

namespace {

// Digits then an optional fraction ("23", "23.5"); false for anything else.
bool parseField(const std::string& text, bool allowFraction, double& value) {
    if (text.empty() || text.size() > 18) return false;
    double whole = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) whole = whole * 10 + (text[i] - '0');
    if (i == 0) return false;
    double fraction = 0;
    if (i < text.size()) {
        if (!allowFraction || text[i] != '.' || i + 1 == text.size()) return false;
        double scale = 0.1;
        for (++i; i < text.size(); ++i, scale *= 0.1) {
            if (text[i] < '0' || text[i] > '9') return false;
            fraction += (text[i] - '0') * scale;
        }
    }
    value = whole + fraction;
    return true;
}

}  // namespace

bool parseSongTime(const std::string& text, double& seconds) {
    std::string parts[3];
    int count = 0;
    size_t start = 0;
    for (;;) {
        const size_t colon = text.find(':', start);
        if (count == 3) return false;
        parts[count++] = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    double total = 0;
    for (int k = 0; k < count; ++k) {
        double value = 0;
        const bool last = k == count - 1;
        if (!parseField(parts[k], last, value)) return false;
        // Minutes and seconds after the first field stay below 60.
        if (k > 0 && value >= 60) return false;
        total = total * 60 + value;
    }
    seconds = total;
    return std::isfinite(total);
}

std::string songDamageText(double damagedAfterSeconds) {
    return "the song is damaged after " + formatSongTime(damagedAfterSeconds) + "; playing what is there";
}

}  // namespace tonvero
