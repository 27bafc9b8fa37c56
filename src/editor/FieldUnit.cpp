#include "editor/FieldUnit.h"

#include "editor/DataExchange.h"

#include <algorithm>
#include <cmath>

namespace tonvero {

namespace {

constexpr double kCentsPerOctave = 1200.0;
constexpr double kZeroCentsHz = 8.17579891564;  // absolute cents 0
// Beyond any field's range, yet far from where rounding to 64 bits overflows.
constexpr double kFarOutside = 1e12;

int64_t roundHeld(double value) {
    if (!(value > -kFarOutside)) return static_cast<int64_t>(-kFarOutside);
    if (!(value < kFarOutside)) return static_cast<int64_t>(kFarOutside);
    return std::llround(value);
}

}  // namespace

FieldUnit FieldUnit::integer(int32_t minimum, int32_t maximum) { return {Kind::Integer, minimum, maximum}; }
FieldUnit FieldUnit::seconds(int32_t minimum, int32_t maximum) { return {Kind::Seconds, minimum, maximum}; }
FieldUnit FieldUnit::hertz(int32_t minimum, int32_t maximum) { return {Kind::Hertz, minimum, maximum}; }
FieldUnit FieldUnit::tenths(int32_t minimum, int32_t maximum, int32_t sign, int32_t offset) {
    return {Kind::Tenths, minimum, maximum, sign < 0 ? -1 : 1, offset};
}

std::optional<double> FieldUnit::parse(const QString& text) const {
    if (!integral()) return DataExchange::parseNumber(text);
    if (const auto whole = DataExchange::parseInteger(text)) return static_cast<double>(*whole);
    return std::nullopt;
}

std::optional<int32_t> FieldUnit::read(const QString& text) const {
    const auto shown = parse(text);
    if (!shown) return std::nullopt;
    const auto held = toHeld(*shown);
    if (!held || !holds(*held)) return std::nullopt;
    return static_cast<int32_t>(*held);
}

std::optional<int64_t> FieldUnit::toHeld(double shown) const {
    if (std::isnan(shown)) return std::nullopt;
    switch (kind_) {
    case Kind::Integer: return roundHeld(shown);
    case Kind::Seconds: {
        if (shown < 0) return std::nullopt;
        if (shown == 0) return minimum_;
        // A time shorter than the shortest held is held as the shortest.
        const int64_t held = roundHeld(kCentsPerOctave * std::log2(shown));
        return held < minimum_ ? int64_t{minimum_} : held;
    }
    case Kind::Hertz:
        if (!(shown > 0)) return std::nullopt;
        return roundHeld(kCentsPerOctave * std::log2(shown / kZeroCentsHz));
    case Kind::Tenths: return roundHeld((shown - offset_) * 10.0 * sign_);
    }
    return std::nullopt;
}

double FieldUnit::toShown(int32_t held) const {
    switch (kind_) {
    case Kind::Integer: return held;
    case Kind::Seconds: return held <= minimum_ ? 0.0 : std::exp2(held / kCentsPerOctave);
    case Kind::Hertz: return kZeroCentsHz * std::exp2(held / kCentsPerOctave);
    case Kind::Tenths: return offset_ + sign_ * (held / 10.0);
    }
    return 0;
}

QString FieldUnit::format(int32_t held) const {
    if (kind_ == Kind::Integer) return QString::number(held);
    const double shown = toShown(held);
    if (shown == 0) return QStringLiteral("0");
    // The value with the fewest significant digits that reads back as the
    // same integer: where the integer is coarser than the digits (a cent is
    // 3.5 Hz at 6 kHz), the round number typed is the one shown.
    const int exponent = static_cast<int>(std::floor(std::log10(std::fabs(shown))));
    for (int digits = 1; digits <= 9; ++digits) {
        const int decimals = std::max(0, digits - 1 - exponent);
        const double scale = std::pow(10.0, digits - 1 - exponent);
        const double rounded = std::round(shown * scale) / scale;
        QString text = QString::number(rounded, 'f', decimals);
        if (text.contains(QLatin1Char('.'))) {
            while (text.endsWith(QLatin1Char('0'))) text.chop(1);
            if (text.endsWith(QLatin1Char('.'))) text.chop(1);
        }
        if (text == QStringLiteral("-0")) continue;
        bool parsed = false;
        const double back = text.toDouble(&parsed);
        if (parsed && toHeld(back) == held) return text;
    }
    // A value outside what the unit reads back (a time below the shortest).
    return QString::number(shown, 'g', 6);
}

QString FieldUnit::lowestText() const { return format(toShown(minimum_) <= toShown(maximum_) ? minimum_ : maximum_); }

QString FieldUnit::highestText() const { return format(toShown(minimum_) <= toShown(maximum_) ? maximum_ : minimum_); }

QString FieldUnit::rangeMessage() const {
    const QString pattern = integral() ? QStringLiteral("Please enter an integer between %1 and %2.")
                                       : QStringLiteral("Please enter a number between %1 and %2.");
    return pattern.arg(lowestText(), highestText());
}

}  // namespace tonvero
