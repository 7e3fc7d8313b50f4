#pragma once

#include "base/Result.h"
#include "journal/Journal.h"
#include "records/RecordLayout.h"

#include <QByteArray>

#include <optional>
#include <string>

namespace qm {

class JournalReader;

// The CSV of a watch: a header, then a line for each reading, quoted as the record CSV is.
// The live watch and the export from the journal both write it with these, so the two are
// equal byte for byte.

// "\"Time\",\"Port\",\"CNTR1\",\"CNTR2\",\"CNTR3\",\"CNTR4\",\"CNTR5\",\"TOTAL\",\"Note\"\r\n"
std::string WatchCsvHeader();

// The reply's first data record, decoded (`separator` for decimals) as a live answer's is:
// framed a character at a time (LinkState); none when the reply holds no data record.
std::optional<DecodedRecord> ReadingRecord(const QByteArray& reply, const std::string& separator);

// The values of a reading: its reply's first data record decoded as the record table shows it
// (`separator` for decimals), or none when the reply holds no data record. Framed a character
// at a time as a live answer is (LinkState, DecodeRecord, CsvCells), so that a reading
// journaled and read again gives the same cells.
std::optional<JournalCells> ReadingCells(const QByteArray& reply, const std::string& separator);

// One CSV line, CR LF ended, every field quoted as in the record CSV: Time (WatchTimeText),
// Port (watch.ports[reading.port]), CNTR1..CNTR5 and TOTAL (cells 1..6 of ReadingCells, with
// the watch's decimal separator; empty when the reading carries a note or has no values), Note
// (ReadingNoteText(note, tornBefore)). A reading with no note whose reply holds no data record
// is written with the note "no answer".
//
// A quote inside a field is doubled, and the port's control characters are written as \xNN
// (ShownText), so that a name with a quote, a comma or a line break stays one field of one line.
// Texts are UTF-8.
std::string WatchCsvLine(const JournalWatch& watch, const JournalReading& reading);

// The whole CSV of the watch `entry` from the journal: the header, then every reading's line,
// as the watch wrote them (all its days in one, for a file a day); or why the journal could
// not give them.
Result<std::string> WatchCsvOf(const JournalReader& reader, const JournalWatchEntry& entry);

} // namespace qm
