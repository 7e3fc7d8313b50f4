#include "acquire/History.h"

#include "files/Names.h"
#include "records/CsvExport.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace qm::acquire {

QString CommandText(const QByteArray& frame)
{
    QByteArray text = frame;
    if (text.startsWith('\x02'))
        text.remove(0, 1);
    if (text.endsWith('\r'))
        text.chop(1);
    if (text.endsWith('\x03'))
        text.chop(1);
    return EscapedName(text);
}

QString HistoryListing(const std::vector<JournalEntry>& entries)
{
    constexpr std::size_t Columns = 7;
    std::vector<std::array<QString, Columns>> rows;
    std::array<qsizetype, Columns> widths{};
    for (const JournalEntry& entry : entries) {
        const std::array<QString, Columns> row{
            QString::number(entry.number),
            entry.sent.toUTC().toString(Qt::ISODate),
            // A port's name is what was typed, escape sequences and all: shown, never acted on.
            ShownText(entry.port),
            CommandText(entry.frame),
            entry.records == 1 ? QStringLiteral("1 record")
                               : QStringLiteral("%1 records").arg(entry.records),
            JournalOutcomeText(entry.outcome),
            ShownText(entry.program),
        };
        for (std::size_t column = 0; column < Columns; ++column)
            widths[column] = std::max(widths[column], row[column].size());
        rows.push_back(row);
    }
    QString listing;
    for (const auto& row : rows) {
        QString line;
        for (std::size_t column = 0; column + 1 < Columns; ++column)
            line += row[column].leftJustified(widths[column] + 2);
        listing += line + row[Columns - 1] + QLatin1Char('\n');
    }
    return listing;
}

std::string JournalCsv(const std::vector<JournalCells>& records)
{
    std::string csv;
    for (const JournalCells& cells : records)
        csv += CsvLine(std::vector<std::string>(cells.begin(), cells.end()));
    return csv;
}

} // namespace qm::acquire
