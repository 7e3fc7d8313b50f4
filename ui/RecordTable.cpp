#include "ui/RecordTable.h"

#include "records/RecordLayout.h"

#include <QLocale>

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

bool ShowRecord(QmtData& grid, const LinkState& link)
{
    const int index = link.RxCount - 1;
    const int row = index + 1;
    if (index < 0 || row >= grid.Rows())
        return false;
    const std::string& record = link.RxRecords[static_cast<std::size_t>(index)];
    const auto cells = RecordCells(record, QLocale().decimalPoint().toStdString());
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

std::int64_t RecordsNotInTable(const QmtData& grid, const LinkState& link)
{
    const int dataRows = std::max(grid.Rows() - 1, 0);
    return std::max<std::int64_t>(link.RxCount - dataRows, 0) + link.RxDropped;
}

} // namespace qm
