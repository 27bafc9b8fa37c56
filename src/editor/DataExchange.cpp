#include "editor/DataExchange.h"

#include "editor/FieldUnit.h"
#include "editor/Prompter.h"

#include <QCheckBox>
#include <QLineEdit>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace tonvero {

const QString DataExchange::kEnterInteger = QStringLiteral("Please enter an integer.");
const QString DataExchange::kEnterIntegerInRange =
    QStringLiteral("Please enter an integer between -2147483648 and 2147483647.");
const QString DataExchange::kEnterUnsigned = QStringLiteral("Please enter an integer between 0 and 4294967295.");
const QString DataExchange::kEnterNumber = QStringLiteral("Please enter a number.");

namespace {

QString numberRangeMessage(float minimum, float maximum) {
    return QStringLiteral("Please enter a number between %1 and %2.")
        .arg(DataExchange::formatNumber(minimum), DataExchange::formatNumber(maximum));
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<int64_t> DataExchange::parseInteger(const QString& text) {
    const std::string s = text.trimmed().toStdString();
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    if (i == s.size()) return std::nullopt;
    int64_t value = 0;
    for (; i < s.size(); ++i) {
        if (!isDigit(s[i])) return std::nullopt;
        value = value * 10 + (s[i] - '0');
        // Anything past the 32-bit ranges is out of range either way; stop
        // growing before the 64-bit value could overflow.
        if (value > (int64_t{1} << 40)) value = int64_t{1} << 40;
    }
    return negative ? -value : value;
}

std::optional<double> DataExchange::parseNumber(const QString& text) {
    const std::string s = text.trimmed().toStdString();
    // Only plain decimal forms: sign, digits, point, digits, exponent. No
    // "inf", "nan" or hexadecimal, which a number field does not take.
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const size_t mantissa = i;
    size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        size_t exponentDigits = 0;
        while (i < s.size() && isDigit(s[i])) ++i, ++exponentDigits;
        if (exponentDigits == 0) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    double value = 0;
    const char* begin = s.data() + mantissa;
    const auto [end, error] = std::from_chars(begin, s.data() + s.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Beyond what a double holds: no field takes it, so it fails the range check.
        value = std::numeric_limits<double>::infinity();
    } else if (error != std::errc() || end != s.data() + s.size()) {
        return std::nullopt;
    }
    return s[0] == '-' ? -value : value;
}

QString DataExchange::formatNumber(float value) { return QString::number(static_cast<double>(value), 'g', 6); }

void DataExchange::fail(QLineEdit* edit, const QString& message) {
    failed_ = true;
    prompter().notify(owner_, message);
    if (edit) {
        edit->setFocus();
        edit->selectAll();
    }
}

void DataExchange::signedInteger(QLineEdit* edit, int32_t& value) {
    if (failed_ || !edit) return;
    if (!saving()) {
        edit->setText(QString::number(value));
        return;
    }
    const auto parsed = parseInteger(edit->text());
    if (!parsed) return fail(edit, kEnterInteger);
    if (*parsed < std::numeric_limits<int32_t>::min() || *parsed > std::numeric_limits<int32_t>::max())
        return fail(edit, kEnterIntegerInRange);
    value = static_cast<int32_t>(*parsed);
}

void DataExchange::unsignedInteger(QLineEdit* edit, uint32_t& value) {
    if (failed_ || !edit) return;
    if (!saving()) {
        edit->setText(QString::number(value));
        return;
    }
    const QString text = edit->text().trimmed();
    const auto parsed = parseInteger(text);
    if (!parsed || text.startsWith(QLatin1Char('-')) || *parsed < 0 || *parsed > std::numeric_limits<uint32_t>::max())
        return fail(edit, kEnterUnsigned);
    value = static_cast<uint32_t>(*parsed);
}

void DataExchange::number(QLineEdit* edit, float& value, float minimum, float maximum) {
    if (failed_ || !edit) return;
    if (!saving()) {
        edit->setText(formatNumber(value));
        return;
    }
    const auto parsed = parseNumber(edit->text());
    if (!parsed) return fail(edit, kEnterNumber);
    // The range is checked on the value as it will be held, in single precision.
    if (std::fabs(*parsed) > static_cast<double>(std::numeric_limits<float>::max()))
        return fail(edit, numberRangeMessage(minimum, maximum));
    const float held = static_cast<float>(*parsed);
    if (held < minimum || held > maximum) return fail(edit, numberRangeMessage(minimum, maximum));
    value = held;
}

void DataExchange::unitValue(QLineEdit* edit, int32_t& held, const FieldUnit& unit) {
    if (failed_ || !edit) return;
    if (!saving()) {
        edit->setText(unit.format(held));
        return;
    }
    const QString text = edit->text();
    if (const auto value = unit.read(text)) {
        held = *value;
        return;
    }
    if (unit.parse(text)) return fail(edit, unit.rangeMessage());
    fail(edit, unit.integral() ? kEnterInteger : kEnterNumber);
}

void DataExchange::checkBox(QCheckBox* box, int32_t& value) {
    if (failed_ || !box) return;
    if (saving())
        value = box->isChecked() ? 1 : 0;
    else
        box->setChecked(value != 0);
}

void DataExchange::text(QLineEdit* edit, QString& value) {
    if (failed_ || !edit) return;
    if (saving())
        value = edit->text();
    else
        edit->setText(value);
}

}  // namespace tonvero
