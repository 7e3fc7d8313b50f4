#include "lab/LabRows.h"

#include "journal/JournalDatabase.h"
#include "journal/JournalReader.h"
#include "protocol/LinkState.h"
#include "records/CsvExport.h"
#include "records/RecordLayout.h"
#include "watch/WatchCsv.h"

#include <string_view>

namespace qm {

namespace {

QString OutcomeWord(JournalOutcome outcome)
{
    const std::string_view word = journal::OutcomeKeyword(outcome);
    return QString::fromLatin1(word.data(), qsizetype(word.size()));
}

} // namespace

QString LabNoteWord(ReadingNote note, bool hasRecord)
{
    switch (note) {
    case ReadingNote::None:
        return hasRecord ? QStringLiteral("records") : QStringLiteral("no-answer");
    case ReadingNote::NoAnswer:
        return QStringLiteral("no-answer");
    case ReadingNote::ErrorReply:
        return QStringLiteral("error-reply");
    case ReadingNote::LineLost:
        return QStringLiteral("line-lost");
    case ReadingNote::WaitingForPort:
        return QStringLiteral("waiting-for-port");
    case ReadingNote::Skipped:
        return QStringLiteral("skipped");
    case ReadingNote::NotSent:
        return QStringLiteral("not-sent");
    case ReadingNote::Missed:
        return QStringLiteral("missed");
    }
    return QStringLiteral("no-answer");
}

std::optional<LabAcquisition> LabAcquisitionOf(const JournalReader& reader, qint64 number)
{
    const std::optional<JournalEntry> entry = reader.Entry(number);
    if (!entry)
        return std::nullopt;
    LabAcquisition sent;
    sent.uid = entry->uid;
    sent.number = number;
    sent.sent = entry->sent;
    sent.port = entry->port;
    sent.stableName = entry->stableName;
    sent.program = entry->program;
    sent.version = entry->version;
    sent.command = entry->frame;
    sent.outcome = OutcomeWord(entry->outcome);
    sent.replies = reader.ReplyParts(number);

    // The numbers are read from the records' frames, framed again from the reply as they were
    // as it came: the texts the journal kept show 0 where a field held none.
    LinkState link;
    for (const QByteArray& part : sent.replies) {
        for (const char character : part)
            (void)link.Receive(std::string_view(&character, 1));
    }
    int place = 0;
    for (const JournalCells& cells : reader.Records(number)) {
        LabRecord& record = sent.records.emplace_back();
        record.place = ++place;
        record.cells = cells;
        if (place <= link.RxCount)
            record.values = DecodeRecord(link.RxRecords[std::size_t(place - 1)], ".").values;
    }
    return sent;
}

std::optional<LabAcquisition> LabReadingOf(const JournalReader& reader,
                                           const JournalWatchEntry& watch, qint64 number)
{
    const std::optional<JournalReading> reading = reader.Reading(number);
    if (!reading)
        return std::nullopt;
    LabAcquisition sent;
    sent.uid = ReadingUid(watch.watch.uid, number);
    sent.number = number;
    sent.sent = reading->time;
    sent.port = watch.watch.ports.value(reading->port);
    sent.program = watch.watch.program;
    sent.version = watch.watch.version;
    sent.command = watch.watch.frame;
    sent.watch = watch.watch.uid;
    std::optional<DecodedRecord> record;
    if (reading->note == ReadingNote::None)
        record = ReadingRecord(reading->reply, watch.watch.decimalSeparator);
    sent.outcome = LabNoteWord(reading->note, record.has_value());
    if (record) {
        LabRecord& kept = sent.records.emplace_back();
        kept.place = 1;
        kept.cells = CsvCells(*record);
        kept.values = record->values;
    }
    if (!reading->reply.isEmpty())
        sent.replies.push_back(reading->reply);
    return sent;
}

} // namespace qm
