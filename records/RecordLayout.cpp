#include "records/RecordLayout.h"

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

} // namespace qm
