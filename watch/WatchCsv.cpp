#include "watch/WatchCsv.h"

#include "files/Names.h"
#include "journal/JournalReader.h"
#include "protocol/LinkState.h"
#include "records/CsvExport.h"
#include "watch/WatchTime.h"

#include <string_view>
#include <vector>

namespace qm {

namespace {

// A field's text as it goes between the quotes: a quote in it doubled, as CSV readers expect.
// CsvLine writes its cells as they are: the record's cells are numbers, and hold none.
std::string Escaped(std::string text)
{
    for (std::size_t at = text.find('"'); at != std::string::npos; at = text.find('"', at + 2))
        text.insert(at, 1, '"');
    return text;
}

std::string Escaped(const QString& text)
{
    return Escaped(text.toStdString());
}

} // namespace

std::string WatchCsvHeader()
{
    std::vector<std::string> fields{"Time", "Port"};
    for (int column = 1; column < RecordColumns; ++column)
        fields.emplace_back(RecordHeaders[static_cast<std::size_t>(column)]);
    fields.emplace_back("Note");
    return CsvLine(fields);
}

std::optional<DecodedRecord> ReadingRecord(const QByteArray& reply, const std::string& separator)
{
    LinkState link;
    for (const char character : reply) {
        if (link.Receive(std::string_view(&character, 1)) == ChunkOutcome::RecordStored)
            return DecodeRecord(link.RxRecords[0], separator);
    }
    return std::nullopt;
}

std::optional<JournalCells> ReadingCells(const QByteArray& reply, const std::string& separator)
{
    const std::optional<DecodedRecord> record = ReadingRecord(reply, separator);
    if (!record)
        return std::nullopt;
    return CsvCells(*record);
}

std::string WatchCsvLine(const JournalWatch& watch, const JournalReading& reading)
{
    std::vector<std::string> fields;
    fields.reserve(RecordColumns + 2);
    fields.push_back(Escaped(WatchTimeText(reading.time, reading.offsetSeconds)));
    const bool known = reading.port >= 0 && reading.port < watch.ports.size();
    fields.push_back(Escaped(ShownText(known ? watch.ports[reading.port] : QString())));

    ReadingNote note = reading.note;
    std::optional<JournalCells> cells;
    if (note == ReadingNote::None) {
        cells = ReadingCells(reading.reply, watch.decimalSeparator);
        if (!cells)
            note = ReadingNote::NoAnswer;
    }
    for (int column = 1; column < RecordColumns; ++column)
        fields.push_back(cells ? Escaped((*cells)[static_cast<std::size_t>(column)])
                               : std::string());
    fields.push_back(Escaped(ReadingNoteText(note, reading.tornBefore)));
    return CsvLine(fields);
}

Result<std::string> WatchCsvOf(const JournalReader& reader, const JournalWatchEntry& entry)
{
    std::string csv = WatchCsvHeader();
    const Result<> read = reader.Readings(entry.number, [&](const JournalReading& reading) {
        csv += WatchCsvLine(entry.watch, reading);
        return true;
    });
    if (!read)
        return Failure{read.Reason()};
    return csv;
}

} // namespace qm
