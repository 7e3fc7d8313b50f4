#pragma once

#include <string>
#include <string_view>

namespace qm {

// A record field read as a number.
struct FieldReading {
    double value = 0.0;
    // False when the number does not fit a double (a huge value, or an exponent so far
    // out that the value cannot be told apart from zero); `text` then says what was sent.
    bool inRange = true;
    // The characters that formed the number, blanks removed.
    std::string text;
};

// Reads a field the way the table does: spaces, tabs and line feeds anywhere are ignored;
// the number is the longest leading part made of an optional sign, digits, a decimal
// point with digits, and an exponent (E, optional sign, digits); a field starting with
// &H or &O (either case) is a hexadecimal or octal whole number. No number reads as 0.
FieldReading ReadField(std::string_view field);

// Writes a value as the table shows it: plain digits, no leading zeros, no grouping, a
// minus sign when negative, no decimal point for a whole number; a fractional part with
// the given decimal separator. Values too large or too small for plain digits are
// written with an exponent (1.5E+20).
std::string WriteNumber(double value, std::string_view decimalSeparator);

// ReadField then WriteNumber; a number out of range shows as it was sent.
std::string FieldText(std::string_view field, std::string_view decimalSeparator);
// The same of a field read already.
std::string FieldText(const FieldReading& reading, std::string_view decimalSeparator);

} // namespace qm
