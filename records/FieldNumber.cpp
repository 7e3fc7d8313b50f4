#include "records/FieldNumber.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

namespace qm {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int DigitValue(char c, int radix)
{
    int value = -1;
    if (c >= '0' && c <= '9')
        value = c - '0';
    else if (c >= 'a' && c <= 'f')
        value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        value = c - 'A' + 10;
    return value < radix ? value : -1;
}

FieldReading ReadWholeNumber(const std::string& s, int radix)
{
    FieldReading reading;
    reading.text = s.substr(0, 2);
    for (std::size_t i = 2; i < s.size(); ++i) {
        const int digit = DigitValue(s[i], radix);
        if (digit < 0)
            break;
        reading.value = reading.value * radix + digit;
        reading.text += s[i];
    }
    reading.inRange = std::isfinite(reading.value);
    return reading;
}

std::size_t SkipDigits(const std::string& s, std::size_t i)
{
    while (i < s.size() && IsDigit(s[i]))
        ++i;
    return i;
}

// Length of the longest leading part of s that forms a decimal number; 0 if none.
std::size_t DecimalNumberLength(const std::string& s)
{
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        ++i;
    const std::size_t intStart = i;
    i = SkipDigits(s, i);
    bool haveDigits = i > intStart;
    if (i + 1 < s.size() && s[i] == '.' && IsDigit(s[i + 1])) {
        i = SkipDigits(s, i + 1);
        haveDigits = true;
    }
    if (!haveDigits)
        return 0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        std::size_t e = i + 1;
        if (e < s.size() && (s[e] == '+' || s[e] == '-'))
            ++e;
        if (e < s.size() && IsDigit(s[e]))
            i = SkipDigits(s, e);
    }
    return i;
}

void ReplaceAll(std::string& s, char from, std::string_view to)
{
    std::string out;
    out.reserve(s.size() + to.size());
    for (const char c : s) {
        if (c == from)
            out += to;
        else
            out += c;
    }
    s.swap(out);
}

} // namespace

FieldReading ReadField(std::string_view field)
{
    std::string s;
    s.reserve(field.size());
    for (const char c : field) {
        if (!IsBlank(c))
            s += c;
    }

    if (s.size() >= 2 && s[0] == '&') {
        if (s[1] == 'H' || s[1] == 'h')
            return ReadWholeNumber(s, 16);
        if (s[1] == 'O' || s[1] == 'o')
            return ReadWholeNumber(s, 8);
    }

    FieldReading reading;
    const std::size_t length = DecimalNumberLength(s);
    if (length == 0)
        return reading;
    reading.text = s.substr(0, length);

    // from_chars reads with a full stop whatever the locale, but takes no plus sign.
    const char* first = reading.text.data();
    const char* last = first + reading.text.size();
    if (*first == '+')
        ++first;
    const auto [ptr, ec] = std::from_chars(first, last, reading.value);
    if (ec == std::errc::result_out_of_range || !std::isfinite(reading.value)) {
        reading.inRange = false;
        reading.value = 0.0;
    } else if (ec != std::errc{} || ptr != last) {
        // Cannot happen for the text checked above; read it as no number at all.
        reading = FieldReading{};
    }
    return reading;
}

std::string WriteNumber(double value, std::string_view decimalSeparator)
{
    if (value == 0.0 || !std::isfinite(value))
        return "0"; // no "-0"; callers never pass a value out of range
    const double magnitude = std::fabs(value);
    char buffer[64];
    std::to_chars_result result{};
    if (magnitude < 1e15 && value == std::trunc(value)) {
        result =
            std::to_chars(std::begin(buffer), std::end(buffer), static_cast<std::int64_t>(value));
    } else if (magnitude >= 1e-4 && magnitude < 1e15) {
        result =
            std::to_chars(std::begin(buffer), std::end(buffer), value, std::chars_format::fixed);
    } else {
        result = std::to_chars(std::begin(buffer), std::end(buffer), value,
                               std::chars_format::scientific);
    }
    std::string text(buffer, result.ptr);
    for (char& c : text) {
        if (c == 'e')
            c = 'E';
    }
    ReplaceAll(text, '.', decimalSeparator);
    return text;
}

std::string FieldText(std::string_view field, std::string_view decimalSeparator)
{
    return FieldText(ReadField(field), decimalSeparator);
}

std::string FieldText(const FieldReading& reading, std::string_view decimalSeparator)
{
    if (reading.inRange)
        return WriteNumber(reading.value, decimalSeparator);
    std::string text = reading.text;
    for (char& c : text) {
        if (c == 'e')
            c = 'E';
    }
    ReplaceAll(text, '.', decimalSeparator);
    return text;
}

} // namespace qm
