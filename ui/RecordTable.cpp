#include "ui/RecordTable.h"

#include "records/CsvExport.h"
#include "records/RecordLayout.h"

#include <algorithm>

namespace qm {

void InitGrid(QmtData& grid)
{
    static constexpr int widths[RecordColumns] = {660, 800, 800, 800, 800, 800, 1050};
    grid.setCols(RecordColumns);
    grid.setRows(TableRows);
    for (int col = 0; col < RecordColumns; ++col)
        grid.setColWidth(col, widths[col]);
    for (int col = 0; col < RecordColumns; ++col)
        grid.setColAlignment(col, QmtData::flexAlignCenterCenter);
    for (int col = 0; col < RecordColumns; ++col)
        grid.setTextMatrix(0, col, QString::fromLatin1(RecordHeaders[std::size_t(col)]));
}

bool ShowRecord(QmtData& grid, int place, const std::array<std::string, RecordColumns>& cells)
{
    const int row = place;
    if (row < 1 || row >= grid.Rows())
        return false;
    for (int col = 0; col < RecordColumns; ++col)
        grid.setTextMatrix(row, col, QString::fromStdString(cells[static_cast<std::size_t>(col)]));
    return true;
}

void BlankDataRows(QmtData& grid)
{
    for (int row = 1; row < grid.Rows(); ++row) {
        for (int col = 0; col < grid.Cols(); ++col)
            grid.setTextMatrix(row, col, QString());
    }
}

std::vector<QString> DataRowTexts(const QmtData& grid)
{
    std::vector<QString> texts;
    for (int row = 1; row < grid.Rows(); ++row) {
        for (int col = 0; col < grid.Cols(); ++col)
            texts.push_back(grid.TextMatrix(row, col));
    }
    return texts;
}

void RestoreDataRows(QmtData& grid, const std::vector<QString>& texts)
{
    std::size_t next = 0;
    for (int row = 1; row < grid.Rows(); ++row) {
        for (int col = 0; col < grid.Cols() && next < texts.size(); ++col)
            grid.setTextMatrix(row, col, texts[next++]);
    }
}

std::int64_t RecordsNotInTable(const QmtData& grid, std::int64_t kept, std::int64_t dropped)
{
    const int dataRows = std::max(grid.Rows() - 1, 0);
    return std::max<std::int64_t>(kept - dataRows, 0) + dropped;
}

std::string TableCsv(const QmtData& grid, int rows)
{
    const QAbstractItemModel* cells = grid.model();
    // Data row r is the model's row r - 1: the header row is the view's header.
    return CsvContent(std::min(rows, grid.Rows() - 1), grid.Cols(), [cells](int row, int col) {
        const QByteArray text = cells->index(row - 1, col).data().toString().toLatin1();
        return std::string(text.constData(), static_cast<std::size_t>(text.size()));
    });
}

} // namespace qm
