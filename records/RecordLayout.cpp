#include "records/RecordLayout.h"

#include "records/FieldNumber.h"

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

} // namespace qm
