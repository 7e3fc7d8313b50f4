#include "records/RecordLayout.h"

#include "records/FieldNumber.h"

#include <cmath>

namespace qm {

std::string_view RecordField(std::string_view record, int column)
{
    if (column < 0 || column >= RecordColumns)
        return {};
    const FieldSpan span = RecordFieldLayout[static_cast<std::size_t>(column)];
    if (span.offset >= record.size())
        return {};
    return record.substr(span.offset, span.length);
}

std::array<std::string, RecordColumns> RecordCells(std::string_view record,
                                                   std::string_view decimalSeparator)
{
    std::array<std::string, RecordColumns> cells;
    for (int column = 0; column < RecordColumns; ++column)
        cells[static_cast<std::size_t>(column)] =
            FieldText(RecordField(record, column), decimalSeparator);
    return cells;
}

DecodedRecord DecodeRecord(std::string_view record, std::string_view decimalSeparator)
{
    DecodedRecord decoded;
    for (int column = 0; column < RecordColumns; ++column) {
        const FieldReading reading = ReadField(RecordField(record, column));
        const auto at = static_cast<std::size_t>(column);
        decoded.cells[at] = FieldText(reading, decimalSeparator);
        const bool radixPrefixOnly = reading.text.size() == 2 && reading.text[0] == '&';
        if (column > 0 && !reading.text.empty() && !radixPrefixOnly && reading.inRange
            && std::isfinite(reading.value))
            decoded.values[at - 1] = reading.value;
    }
    return decoded;
}

} // namespace qm
