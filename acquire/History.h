#pragma once

#include "journal/Journal.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

namespace qm::acquire {

// The acquisitions as "history" lists them, in the order given, one a line in columns: the
// number first, so that a script takes it as the first word, then the time in UTC, the port,
// the command, the records, how the answer ended and the program.
QString HistoryListing(const std::vector<JournalEntry>& entries);

// A command frame as the operator reads it: "RDD ALL", the frame's control characters left
// out and any other byte that is no printable ASCII escaped.
QString CommandText(const QByteArray& frame);

// The records as CSV: the cells as they were journaled, which are the bytes the file got or
// the table showed then, whatever the locale is now.
std::string JournalCsv(const std::vector<JournalCells>& records);

} // namespace qm::acquire
