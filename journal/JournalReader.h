#pragma once

#include "base/Result.h"
#include "journal/Journal.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
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

private:
    QString m_path;
    std::unique_ptr<journal::Connection> m_connection;
};

} // namespace qm
