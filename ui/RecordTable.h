#pragma once

#include "link/LinkState.h"
#include "ui/QmtData.h"

#include <vector>

namespace qm {

// The record table: a header row and one data row for each of the first 100 records.
inline constexpr int TableRows = 101;
inline constexpr int TableDataRows = TableRows - 1;

// Shape, column widths, alignment and header texts.
void InitGrid(QmtData& grid);

// Decodes the newest stored record (index RxCount - 1) into its row, RxCount. Returns
// false, writing nothing, when that record has no row in the table.
bool ShowRecord(QmtData& grid, const LinkState& link);

// Blanks every data row; the header row stays.
void BlankDataRows(QmtData& grid);

// The texts of every data row, row by row, and putting them back: what a command blanks
// is restored when the command could not be sent after all.
std::vector<QString> DataRowTexts(const QmtData& grid);
void RestoreDataRows(QmtData& grid, const std::vector<QString>& texts);

// Received data records that the table does not show: those stored beyond its last row
// and those that arrived when the store was full.
std::int64_t RecordsNotInTable(const QmtData& grid, const LinkState& link);

} // namespace qm
