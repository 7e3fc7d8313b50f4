#pragma once

#include "records/RecordLayout.h"

#include <QString>

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// One line of the export: the seven cell texts, each in double quotes, separated by commas
// with no spaces, then CR LF. Texts are written as they are, one byte per character.
std::string CsvLine(const std::vector<std::string>& cells);

// A data record's seven cells as "Save Data" writes them: the texts the table shows (each
// field read as a number and written back with the decimal separator of the moment), one
// byte per character, as the export reads the table's text back.
std::array<std::string, RecordColumns> CsvCells(std::string_view record,
                                                const QString& decimalSeparator);
// The same of a record read already: its texts as the table holds them, as bytes.
std::array<std::string, RecordColumns> CsvCells(const DecodedRecord& record);

// The whole file: a line for each of the rows 1 to `rows`, in order; nothing for 0 rows.
// `cell` gives the text of a cell (row, column).
std::string CsvContent(int rows, int columns, const std::function<std::string(int, int)>& cell);

} // namespace qm
