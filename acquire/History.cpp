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

QString EveryText(std::chrono::milliseconds every)
{
    const qint64 ms = every.count();
    if (ms % 1000 != 0)
        return QStringLiteral("%1 s").arg(double(ms) / 1000, 0, 'f', 3);
    const qint64 s = ms / 1000;
    if (s % 3600 == 0)
        return QStringLiteral("%1 h").arg(s / 3600);
    if (s % 60 == 0)
        return QStringLiteral("%1 min").arg(s / 60);
    return QStringLiteral("%1 s").arg(s);
}

QString HistoryListing(const std::vector<JournalEntry>& entries,
                       const std::vector<JournalWatchEntry>& watches, bool lab)
{
    constexpr std::size_t Columns = 8;
    using Row = std::array<QString, Columns>;
    // Both newest first; merged by number, as they were journaled.
    std::vector<std::pair<qint64, Row>> rows;
    for (const JournalEntry& entry : entries) {
        rows.push_back(
            {entry.number,
             {
                 QString::number(entry.number),
                 entry.sent.toUTC().toString(Qt::ISODate),
                 // A port's name is what was typed, escape sequences and all: shown,
                 // never acted on.
                 ShownText(entry.port),
                 CommandText(entry.frame),
                 entry.records == 1 ? QStringLiteral("1 record")
                                    : QStringLiteral("%1 records").arg(entry.records),
                 JournalOutcomeText(entry.outcome),
                 ShownText(entry.program),
                 !lab                      ? QString()
                 : entry.labSent.isValid() ? QString()
                 : entry.labRefused.isEmpty()
                     ? QStringLiteral("not sent to the lab")
                     : QStringLiteral("refused by the lab: %1").arg(ShownText(entry.labRefused)),
             }});
    }
    for (const JournalWatchEntry& entry : watches) {
        QStringList ports;
        for (const QString& port : entry.watch.ports)
            ports << ShownText(port);
        QString outcome =
            QStringLiteral("watch to %1").arg(entry.last.toUTC().toString(Qt::ISODate));
        if (entry.noted > 0)
            outcome += QStringLiteral(", %1 with a note").arg(entry.noted);
        rows.push_back({entry.number,
                        {
                            QString::number(entry.number),
                            entry.first.toUTC().toString(Qt::ISODate),
                            ports.join(QLatin1Char(',')),
                            QStringLiteral("%1 every %2")
                                .arg(CommandText(entry.watch.frame), EveryText(entry.watch.every)),
                            entry.readings == 1 ? QStringLiteral("1 reading")
                                                : QStringLiteral("%1 readings").arg(entry.readings),
                            outcome,
                            ShownText(entry.watch.program),
                            !lab || entry.labWaiting == 0
                                ? QString()
                                : QStringLiteral("%1 not sent to the lab").arg(entry.labWaiting),
                        }});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    std::array<qsizetype, Columns> widths{};
    for (const auto& [number, row] : rows) {
        for (std::size_t column = 0; column < Columns; ++column)
            widths[column] = std::max(widths[column], row[column].size());
    }
    QString listing;
    for (const auto& [number, row] : rows) {
        QString line;
        for (std::size_t column = 0; column + 1 < Columns; ++column)
            line += row[column].leftJustified(widths[column] + 2);
        listing += (line + row[Columns - 1]).trimmed() + QLatin1Char('\n');
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
