#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTimeZone>

namespace qm {

// The times of a watch's readings, as its CSV gives them: local time with its offset from UTC,
// so that every line names one instant, whatever the clocks did (an hour repeated in autumn
// reads twice with different offsets), and a day's file is the local day's.

// "2026-12-08T16:30:00.012+01:00": local time at `utc` with that offset, to the millisecond;
// "Z" never, "+00:00" for zero. An offset with seconds (some zones' times before 1900) is
// written "+00:53:28". Empty for an invalid time.
QString WatchTimeText(const QDateTime& utc, int offsetSeconds);

// The offset from UTC in force at `utc`: in `zone`, or in the system's local time.
int OffsetAt(const QDateTime& utc, const QTimeZone& zone);
int LocalOffsetAt(const QDateTime& utc);

// A time as people read it: local, with its offset from UTC, to the second, since a journal
// outlives a change of the clocks ("2026-12-08 15:30:00+01:00").
QString LocalTimeText(const QDateTime& utc);

// The local date at `utc` with that offset (the %F of a file per day).
QDate LocalDate(const QDateTime& utc, int offsetSeconds);

} // namespace qm
