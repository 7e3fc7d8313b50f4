#pragma once

#include "records/RecordLayout.h"
#include "ui/QmtData.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qm {

// The record table: a header row and one data row for each of the first 100 records.
inline constexpr int TableRows = 101;
inline constexpr int TableDataRows = TableRows - 1;

// Shape, column widths, alignment and header texts.
void InitGrid(QmtData& grid);

// Shows the record at `place` in the answer (1 for the first) in its row, `place`: its
// texts as read. Returns false, writing nothing, when that record has no row in the table.
bool ShowRecord(QmtData& grid, int place, const std::array<std::string, RecordColumns>& cells);

// Blanks every data row; the header row stays.
void BlankDataRows(QmtData& grid);

// The texts of every data row, row by row, and putting them back: what a command blanks
// is restored when the command could not be sent after all.
std::vector<QString> DataRowTexts(const QmtData& grid);
void RestoreDataRows(QmtData& grid, const std::vector<QString>& texts);

// Received data records that the table does not show: of `kept` those beyond its last row,
// and the `dropped` that arrived when the store was full.
std::int64_t RecordsNotInTable(const QmtData& grid, std::int64_t kept, std::int64_t dropped);

// The texts of data rows 1 to `rows`, as the table's model holds them (what it shows: CLR's
// blanks too), one byte per character: the export's content.
std::string TableCsv(const QmtData& grid, int rows);

} // namespace qm
