#include "records/CsvExport.h"

namespace qm {

std::array<std::string, RecordColumns> CsvCells(std::string_view record,
                                                const QString& decimalSeparator)
{
    return CsvCells(DecodeRecord(record, decimalSeparator.toStdString()));
}

std::array<std::string, RecordColumns> CsvCells(const DecodedRecord& record)
{
    auto cells = record.cells;
    // The table holds these texts as its cells' text, and the export reads that back one
    // byte per character: the same way here gives the same bytes.
    for (std::string& cell : cells) {
        const QByteArray bytes = QString::fromStdString(cell).toLatin1();
        cell.assign(bytes.constData(), std::size_t(bytes.size()));
    }
    return cells;
}

std::string CsvLine(const std::vector<std::string>& cells)
{
    std::string line;
    for (std::size_t column = 0; column < cells.size(); ++column) {
        if (column > 0)
            line += ',';
        line += '"';
        line += cells[column];
        line += '"';
    }
    line += "\r\n";
    return line;
}

std::string CsvContent(int rows, int columns, const std::function<std::string(int, int)>& cell)
{
    std::string content;
    std::vector<std::string> cells(static_cast<std::size_t>(columns));
    for (int row = 1; row <= rows; ++row) {
        for (int column = 0; column < columns; ++column)
            cells[static_cast<std::size_t>(column)] = cell(row, column);
        content += CsvLine(cells);
    }
    return content;
}

} // namespace qm
