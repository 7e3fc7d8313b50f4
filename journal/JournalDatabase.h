#pragma once

// The journal's SQLite side, shared by the writer and the reader: connections and
// statements that close themselves, what went wrong in an operator's words, and the schema
// with its upgrade steps.

#include <QByteArray>
#include <QString>

#include <memory>
#include <span>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace qm::journal {

struct CloseDatabase {
    void operator()(sqlite3* db) const;
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

struct FinalizeStatement {
    void operator()(sqlite3_stmt* statement) const;
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// What SQLite said went wrong. `code` is the extended result code; `systemError` the errno
// behind it, where the system had one.
struct Error {
    int code = 0;
    int systemError = 0;
    QString detail; // SQLite's own message

    explicit operator bool() const { return code != 0; }
    // SQLite's own verdict that the file is not a sound database.
    bool IsDamage() const;
    // In an operator's words: "the disk is full", "Permission denied", ...
    QString Reason() const;
};

// The error the connection last reported, with `code` as returned (the connection may have
// none, when opening failed for want of memory).
Error LastError(sqlite3* db, int code);

// Opens with the given SQLITE_OPEN_* flags, extended result codes on, the busy timeout set.
Database Open(const QString& path, int flags, int busyTimeoutMs, Error* error);
// Runs SQL with no result rows.
Error Exec(sqlite3* db, const char* sql);
Statement Prepare(sqlite3* db, std::string_view sql, Error* error);
// PRAGMA user_version: the journal's schema version.
int UserVersion(sqlite3* db, Error* error);

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
VersionFound ReadVersion(sqlite3* db, int target, Error* error);
// The error that tells a damaged version: damage, in SQLite's terms.
Error DamagedVersion(int number);

struct Upgrade {
    enum State {
        Current, // it is at the steps' version now (it was, or it was brought there)
        Newer,   // a newer program's: left as it was
        Failed,  // left as it was; a damaged version is told as damage (SQLITE_CORRUPT)
    };
    State state = Failed;
    int found = 0; // the version it had
    Error error;
};
// Brings the database to the version of `steps`, all steps in one transaction, which takes
// the write lock first, so that of two programs starting at once one upgrades and the other
// finds it done.
Upgrade UpgradeSchema(sqlite3* db, std::span<const char* const> steps);

} // namespace qm::journal
