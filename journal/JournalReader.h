#pragma once

#include "base/Result.h"
#include "journal/Journal.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace qm {

namespace journal {
struct Connection;
}

// Reads the journal, read-only; the writers may go on meanwhile. Each call sees what was
// committed when it began.
class JournalReader {
public:
    explicit JournalReader(const QString& path = DefaultJournalPath());
    ~JournalReader();
    JournalReader(const JournalReader&) = delete;
    JournalReader& operator=(const JournalReader&) = delete;

    // Why not, in an operator's words, when there is no journal or it cannot be read.
    Result<> open();
    // Newest first.
    std::vector<JournalEntry> Entries() const;
    std::optional<JournalEntry> Entry(qint64 number) const;
    // The records of an acquisition, in the order they came; none for an unknown number.
    std::vector<JournalCells> Records(qint64 number) const;
    // Every byte the instrument answered to it, as received.
    QByteArray Reply(qint64 number) const;

    // The same, in the parts it was kept in, each a run received at once.
    std::vector<QByteArray> ReplyParts(qint64 number) const;

    // What the lab's database has not confirmed: the numbers of acquisitions and readings
    // above `after`, in order, at most `most` of them (each reading: true). Read in steps, a
    // long backlog is never held whole.
    std::vector<std::pair<qint64, bool>> Unsent(qint64 after, int most) const;
    qint64 UnsentCount() const;
    // The reading numbered `number`; none when that is no reading.
    std::optional<JournalReading> Reading(qint64 number) const;

    // The watches, newest first: by their first reading's number. A watch with no reading yet
    // is not listed; it has no number to be asked for by.
    std::vector<JournalWatchEntry> Watches() const;
    // The watch that the reading numbered `number` belongs to; none when that is no reading.
    std::optional<JournalWatchEntry> WatchOf(qint64 number) const;
    // The readings of the watch that the reading numbered `number` belongs to, in the order
    // they were journaled, handed to `each` one at a time until it returns false; none when
    // that is no reading. Fails only when the journal cannot be read (then `each` may have
    // had some). `each` may not call this reader's Readings.
    Result<> Readings(qint64 number, const std::function<bool(const JournalReading&)>& each) const;

private:
    QString m_path;
    std::unique_ptr<journal::Connection> m_connection;
};

} // namespace qm
