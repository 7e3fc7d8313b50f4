#pragma once

#include "journal/Journal.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <string>
#include <vector>

namespace qm::acquire {

// The acquisitions and the watches as "history" lists them, newest first, one a line in
// columns: the number first, so that a script takes it as the first word, then the time in
// UTC, the port, the command, the records, how the answer ended and the program. A watch is
// one line under its first reading's number: its ports, the command and its interval, its
// readings, until when it ran. With a lab's database set (`lab`), what it has not confirmed is
// marked at the end of its line: "not sent to the lab", why it refused one, a watch's readings
// not sent.
QString HistoryListing(const std::vector<JournalEntry>& entries,
                       const std::vector<JournalWatchEntry>& watches = {}, bool lab = false);
// An interval as people write it: "1 s", "1.500 s", "5 min", "2 h".
QString EveryText(std::chrono::milliseconds every);

// A command frame as the operator reads it: "RDD ALL", the frame's control characters left
// out and any other byte that is no printable ASCII escaped.
QString CommandText(const QByteArray& frame);

// The records as CSV: the cells as they were journaled, which are the bytes the file got or
// the table showed then, whatever the locale is now.
std::string JournalCsv(const std::vector<JournalCells>& records);

} // namespace qm::acquire
