#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Where the table's seven fields sit in a data frame, counted from 0 at the STX:
// record number, counters 1 to 5, total. Each field follows one character the table skips.
struct FieldSpan {
    std::size_t offset;
    std::size_t length;
};

inline constexpr int RecordColumns = 7;
inline constexpr std::array<FieldSpan, RecordColumns> RecordFieldLayout{{
    {2, 2},
    {5, 5},
    {11, 5},
    {17, 5},
    {23, 5},
    {29, 5},
    {35, 6},
}};

// The table's column headers, in the order of the fields.
inline constexpr std::array<const char*, RecordColumns> RecordHeaders{
    "No.", "CNTR1", "CNTR2", "CNTR3", "CNTR4", "CNTR5", "TOTAL"};

// The field of a table column; only the part that exists when the frame ends early.
std::string_view RecordField(std::string_view record, int column);

// A data record as the table shows it and the export writes it: each field read as a
// number and written back, with the given decimal separator.
std::array<std::string, RecordColumns> RecordCells(std::string_view record,
                                                   std::string_view decimalSeparator);

// A data record read once, for all who show, keep or draw it.
struct DecodedRecord {
    // The seven texts the table shows (RecordCells).
    std::array<std::string, RecordColumns> cells;
    // The counters and the total as numbers: none where the field holds no number (&H alone
    // has no digits), or a number no double holds.
    std::array<std::optional<double>, RecordColumns - 1> values;
};
DecodedRecord DecodeRecord(std::string_view record, std::string_view decimalSeparator);

} // namespace qm
