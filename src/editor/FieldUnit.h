#pragma once
// How a field shows a value the bank holds as an integer in another unit:
// seconds for timecents, hertz for absolute cents, decibels for centibels,
// per cent for tenths of a per cent, or the integer itself. Converts both
// ways and knows the integers the field takes.
//
// A value typed is rounded to the nearest integer held. A value held is shown
// with the fewest significant digits that read back as that same integer, so
// a value typed and stored shows the same again as far as the integer can
// tell values apart: 0.3 s is held as -2084 timecents (0.30006 s) and shows
// as 0.3; 6000 Hz is held as 11423 cents (5999.08 Hz) and shows as 6000, and
// so does 5998 Hz, which the cents cannot tell from it.
//
// Threads: any (plain values).

#include <QString>

#include <cstdint>
#include <optional>

namespace tonvero {

class FieldUnit {
public:
    // The integer itself (semitones, cents, a class, a velocity).
    static FieldUnit integer(int32_t minimum, int32_t maximum);
    // Seconds for timecents (2^(tc / 1200) s). 0 s is the shortest time held
    // (`minimum`, kInstantTimecents), and so is any time shorter than it.
    static FieldUnit seconds(int32_t minimum, int32_t maximum);
    // Hz for absolute cents (8.176 Hz x 2^(c / 1200)).
    static FieldUnit hertz(int32_t minimum, int32_t maximum);
    // shown = offset + sign x held / 10: decibels for centibels (sign 1),
    // a level in dB below full for centibels of attenuation (sign -1), per
    // cent for tenths of a per cent, a level in per cent of full for tenths
    // of a per cent below full (offset 100, sign -1).
    static FieldUnit tenths(int32_t minimum, int32_t maximum, int32_t sign = 1, int32_t offset = 0);

    // Only whole numbers are typed (they are held as they are).
    bool integral() const { return kind_ == Kind::Integer; }
    int32_t minimum() const { return minimum_; }
    int32_t maximum() const { return maximum_; }
    bool holds(int64_t value) const { return value >= minimum_ && value <= maximum_; }

    // What a field's text holds: the number typed (a whole one for an
    // integral unit), or nothing when the text is not one.
    std::optional<double> parse(const QString& text) const;
    // The integer held for the text, when it is a number the field takes.
    std::optional<int32_t> read(const QString& text) const;
    // The integer held for a value shown, rounded; nothing when the unit has
    // no integer for it (a negative time, a frequency of 0 Hz or below).
    // Not limited to the range: holds() says whether the field takes it.
    std::optional<int64_t> toHeld(double shown) const;
    double toShown(int32_t held) const;
    // The text with the fewest significant digits (up to nine) that reads back as `held`.
    QString format(int32_t held) const;
    // The lowest and highest values shown, in that order.
    QString lowestText() const;
    QString highestText() const;
    // What a refused value gets: "Please enter a number between 0 and 17.96."
    // (or "an integer" for an integral unit).
    QString rangeMessage() const;

private:
    enum class Kind { Integer, Seconds, Hertz, Tenths };
    FieldUnit(Kind kind, int32_t minimum, int32_t maximum, int32_t sign = 1, int32_t offset = 0)
        : kind_(kind), minimum_(minimum), maximum_(maximum), sign_(sign), offset_(offset) {}

    Kind kind_;
    int32_t minimum_;
    int32_t maximum_;
    int32_t sign_;
    int32_t offset_;
};

}  // namespace tonvero
