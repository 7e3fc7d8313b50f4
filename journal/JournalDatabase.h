#pragma once

// The journal's SQLite side, shared by the writer and the reader: connections and
// statements that close themselves, what went wrong in an operator's words, and the schema
// with its upgrade steps and the words it stores.

#include "base/Result.h"
#include "journal/Journal.h"

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

#include <memory>
#include <span>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace qm::journal {

// Diagnostics for maintainers: SQLite's own words, and what could not be told to the operator
// because a message had already been given.
Q_DECLARE_LOGGING_CATEGORY(lcJournal)

struct CloseDatabase {
    void operator()(sqlite3* db) const;
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const;
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// A connection and the statements its user prepared on it, once: they are finalized before
// it is closed.
struct Connection {
    Database db;
    std::vector<Statement> statements;
};

// What SQLite said went wrong. `code` is the extended result code; `systemError` the errno
// behind it, where the system had one.
struct Error {
    int code = 0;
    int systemError = 0;
    QString detail; // SQLite's own message

    // SQLite's own verdict that the file is not a sound database.
    bool IsDamage() const;
    // In an operator's words: "the disk is full", "Permission denied", ...
    QString Reason() const;
};

// What a call that gave SQLite's result `code` came to: SQLITE_OK, SQLITE_ROW and SQLITE_DONE
// are success, anything else the error the connection last reported (the connection may be
// none, when opening failed for want of memory).
Result<void, Error> Check(sqlite3* db, int code);

// Opens with the given SQLITE_OPEN_* flags, extended result codes on, the busy timeout set.
Result<Database, Error> Open(const QString& path, int flags, int busyTimeoutMs);
// Runs SQL with no result rows.
Result<void, Error> Exec(sqlite3* db, const char* sql);
// Prepared to be run many times.
Result<Statement, Error> Prepare(sqlite3* db, std::string_view sql);
// Each of `sql` prepared, in their order.
Result<std::vector<Statement>, Error> PrepareAll(sqlite3* db,
                                                 std::span<const std::string_view> sql);
// Runs a statement with no result rows and makes it ready for the next run.
Result<void, Error> Step(sqlite3* db, sqlite3_stmt* statement);
// PRAGMA user_version: the journal's schema version.
Result<int, Error> UserVersion(sqlite3* db);

// The schema this program writes and reads: the steps that bring a journal from version N to
// N + 1, at index N, and so the version of a journal brought up to date is their number. A
// change to the schema is a new step at the end; a step once released never changes.
std::span<const char* const> SchemaSteps();
int SchemaVersion();

// What a journal's version number says of it, read one way by the writer and the reader, for a
// program whose schema has `target` steps.
struct VersionFound {
    enum State {
        New,     // an empty database: version 0, no tables
        Older,   // an earlier program's, to be brought up to date
        Current, // at the target
        Newer,   // a newer program's
        Damaged, // a number no program writes: below 0, or 0 with tables
    };
    State state = Damaged;
    int number = 0;
};
Result<VersionFound, Error> ReadVersion(sqlite3* db, int target);
// The error that tells a damaged version: damage, in SQLite's terms.
Error DamagedVersion(int number);

struct Upgrade {
    // False: it is at the steps' version now (it was, or it was brought there). True: a newer
    // program's, left as it was.
    bool newer = false;
    int found = 0; // the version it had
};
// Brings the database to the version of `steps`, all steps in one transaction, which takes
// the write lock first, so that of two programs starting at once one upgrades and the other
// finds it done. A failure leaves it as it was; a damaged version is told as damage
// (SQLITE_CORRUPT).
Result<Upgrade, Error> UpgradeSchema(sqlite3* db, std::span<const char* const> steps);

// How an outcome is stored: a word that stays the same whatever the enumeration's order and
// whatever language the history is shown in. An outcome a later version added reads as
// pending.
std::string_view OutcomeKeyword(JournalOutcome outcome);
JournalOutcome OutcomeOfKeyword(std::string_view keyword);

// Logs SQLite's own words for what failed while `doing` something with the journal at `path`.
void LogError(const char* doing, const QString& path, const Error& error);

} // namespace qm::journal
