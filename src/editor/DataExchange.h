#pragma once
// Moves values between a dialog's controls and its members, one field after
// another in the order of the dialog's exchange table. A load writes members
// into controls (integers in plain decimal, numbers in the shortest general
// form with up to six significant digits). A save parses and checks each
// control's text: the first field that fails gets a message saying what it
// takes and the focus, and the save stops there, so earlier members have
// their new values and the failing and later ones keep their old ones.
//
// Threads: user-interface thread only.

#include <QString>

#include <cstdint>
#include <optional>

class QCheckBox;
class QLineEdit;
class QWidget;

namespace tonvero {

class FieldUnit;

class DataExchange {
public:
    enum Direction { Load, Save };

    // The messages of a failed save.
    static const QString kEnterInteger;
    static const QString kEnterIntegerInRange;
    static const QString kEnterUnsigned;
    static const QString kEnterNumber;

    // `owner` owns the messages.
    DataExchange(QWidget* owner, Direction direction) : owner_(owner), direction_(direction) {}

    bool saving() const { return direction_ == Save; }
    // A save met a field that failed; nothing after it was read.
    bool failed() const { return failed_; }

    // Signed decimal integer (32-bit).
    void signedInteger(QLineEdit* edit, int32_t& value);
    // Unsigned decimal integer (32-bit); a minus sign is refused.
    void unsignedInteger(QLineEdit* edit, uint32_t& value);
    // Decimal number, then minimum <= value <= maximum.
    void number(QLineEdit* edit, float& value, float minimum, float maximum);
    // An integer held in one unit and shown in another (seconds for
    // timecents, decibels for centibels: see FieldUnit). A load shows `held`
    // through `unit`; a save reads a number (a whole one when the unit is
    // integral), converts it and checks the integer it becomes against the
    // unit's range.
    void unitValue(QLineEdit* edit, int32_t& held, const FieldUnit& unit);
    // Check state: 1 when checked.
    void checkBox(QCheckBox* box, int32_t& value);
    // Plain text, with no check.
    void text(QLineEdit* edit, QString& value);

    // The parsers: the value, or nothing when the text is not of that kind.
    // Spaces around the text are allowed.
    static std::optional<int64_t> parseInteger(const QString& text);
    static std::optional<double> parseNumber(const QString& text);
    // A number as the controls show it: up to six significant digits, shortest form.
    static QString formatNumber(float value);

private:
    void fail(QLineEdit* edit, const QString& message);

    QWidget* owner_;
    Direction direction_;
    bool failed_ = false;
};

}  // namespace tonvero
