#pragma once

// Opening the journal's file, for the writer and the reader alike: in its folder resolved, so
// that no link on the way is followed and SQLite is told to follow none at the file's own
// name, and only when it and the files SQLite keeps beside it are the user's own. Opening it
// to write also makes it the user's alone, brings its schema up to date, and moves a damaged
// journal aside to start a new one.

#include "base/Result.h"
#include "journal/JournalDatabase.h"

#include <QString>

#include <optional>
#include <span>
#include <string_view>
#include <sys/types.h>
#include <utility>

namespace qm::journal {

// The journal at `path` opened to be read, with `statements` prepared on it; or why it cannot
// be read, in an operator's words (there is none yet, it is of another version, it is
// damaged, it is not the user's own).
Result<Connection> OpenToRead(const QString& path, std::span<const std::string_view> statements);

// The journal as its writer holds it: the connection, with the writer's statements prepared
// once it is open, and what it takes to replace it when it is found damaged.
class JournalStore {
public:
    JournalStore(const QString& path, std::span<const std::string_view> statements);

    // Opened, brought up to date, with the statements prepared. What it gives is what to tell
    // the operator of a damaged journal moved aside on the way, if one was. A failure says,
    // in the operator's words, that the run goes on without the journal and why.
    Result<std::optional<QString>> Open();
    // Whether a journal found damaged while it was written may be replaced: not again and
    // again.
    bool MayReplace() const;
    // The journal found damaged while it was written: closed as it is, moved aside and a new
    // one opened, as Open.
    Result<std::optional<QString>> Replace();
    void Close();

    // Only while open.
    sqlite3* Db() const { return m_connection.db.get(); }
    // The statement at `index` of those given.
    sqlite3_stmt* Prepared(std::size_t index) const { return m_connection.statements[index].get(); }
    // As given, for messages.
    QString Path() const;

private:
    struct NotOpened;
    Result<std::optional<QString>> OpenAfter(std::optional<QString> movedAside);
    Result<void, NotOpened> TryOpen();
    Result<void, NotOpened> MakeReady();
    void CloseDamaged();
    Result<std::optional<QString>> MoveAside();

    const QString m_path; // as given, for messages
    const std::span<const std::string_view> m_statements;
    QString m_file; // as opened: in its folder resolved
    Connection m_connection;
    std::pair<dev_t, ino_t> m_identity{};
    int m_replacements = 0;
};

} // namespace qm::journal
