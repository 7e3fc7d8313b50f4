#include "journal/JournalDatabase.h"

#include <QDir>
#include <QFile>
#include <QObject>

#include <array>
#include <sqlite3.h>
#include <string>

namespace qm::journal {

namespace {

// Version 1: an acquisition is a row of its own (the command, when and where it went, how
// its answer ended and how many records it has, kept there so that the history lists the
// acquisitions without counting); its reply is kept in the parts that came one batch each,
// and its records with their seven cell texts as the bytes the CSV holds. Both are keyed by
// the acquisition first, so that what belongs to one is read in one stretch.
constexpr const char* Version1 = R"sql(
CREATE TABLE acquisitions (
    number INTEGER PRIMARY KEY,
    sent TEXT NOT NULL,
    port TEXT NOT NULL,
    stable_name TEXT,
    program TEXT NOT NULL,
    version TEXT NOT NULL,
    command BLOB NOT NULL,
    records INTEGER NOT NULL DEFAULT 0,
    outcome TEXT NOT NULL DEFAULT 'pending'
);
CREATE TABLE replies (
    acquisition INTEGER NOT NULL REFERENCES acquisitions (number),
    part INTEGER NOT NULL,
    bytes BLOB NOT NULL,
    PRIMARY KEY (acquisition, part)
) WITHOUT ROWID;
CREATE TABLE records (
    acquisition INTEGER NOT NULL REFERENCES acquisitions (number),
    place INTEGER NOT NULL,
    record_no BLOB NOT NULL,
    cntr1 BLOB NOT NULL,
    cntr2 BLOB NOT NULL,
    cntr3 BLOB NOT NULL,
    cntr4 BLOB NOT NULL,
    cntr5 BLOB NOT NULL,
    total BLOB NOT NULL,
    PRIMARY KEY (acquisition, place)
) WITHOUT ROWID;
)sql";

// Version 2: watches. A watch is a row of its own, with what the history lists of it kept
// there as its readings are committed (the first reading's number, the first and last
// reading's times, how many readings and how many of them carry a note; NULL and 0 until the
// first), so that listing the watches reads this table alone. Its ports are one blob, each
// name in UTF-8 followed by a zero byte, in the order given. A reading is a row keyed by its
// number, which comes from the count the acquisitions' numbers come from: the writer takes the next
// one above both tables inside its write transaction. A reading is small and many: times are
// milliseconds since 1970 (UTC) and the offset from UTC seconds, as integers; what it shares with
// the other readings of its watch is kept once, in the watch; its values are not kept apart from
// the reply they are read from. The index finds a watch's readings, in the order of their numbers
// (a rowid table's index holds the rowid after its own columns).
constexpr const char* Version2 = R"sql(
CREATE TABLE watches (
    id INTEGER PRIMARY KEY,
    started INTEGER NOT NULL,
    program TEXT NOT NULL,
    version TEXT NOT NULL,
    command BLOB NOT NULL,
    every_ms INTEGER NOT NULL,
    ports BLOB NOT NULL,
    output TEXT NOT NULL,
    decimal_separator BLOB NOT NULL,
    first_number INTEGER,
    first_time INTEGER,
    last_time INTEGER,
    readings INTEGER NOT NULL DEFAULT 0,
    noted INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX watches_by_number ON watches (first_number);
CREATE TABLE readings (
    number INTEGER PRIMARY KEY,
    watch INTEGER NOT NULL REFERENCES watches (id),
    port INTEGER NOT NULL,
    time INTEGER NOT NULL,
    utc_offset INTEGER NOT NULL,
    note INTEGER NOT NULL,
    torn INTEGER NOT NULL,
    reply BLOB NOT NULL
);
CREATE INDEX readings_by_watch ON readings (watch);
)sql";

// Version 3: the lab's database. Acquisitions and watches get a uid (a UUID's 36 characters),
// which follows them wherever they are sent, so that one sent twice is still one; those
// journaled before get one here (random, version 4: a subquery that names the row is made
// again for each row). A reading's uid is made from its watch's and its number. What the lab's
// server confirmed is marked with when (ms since 1970, UTC); what it has not is found by an
// index of the unmarked alone. What it refused for what it holds keeps why, until it is taken.
// A watch counts its readings not yet confirmed, for the history to list without counting.
constexpr const char* Version3 = R"sql(
ALTER TABLE acquisitions ADD COLUMN uid TEXT;
ALTER TABLE acquisitions ADD COLUMN lab_sent INTEGER;
ALTER TABLE acquisitions ADD COLUMN lab_refused TEXT;
ALTER TABLE watches ADD COLUMN uid TEXT;
ALTER TABLE watches ADD COLUMN lab_waiting INTEGER NOT NULL DEFAULT 0;
ALTER TABLE readings ADD COLUMN lab_sent INTEGER;
ALTER TABLE readings ADD COLUMN lab_refused TEXT;
UPDATE watches SET lab_waiting = readings;
UPDATE acquisitions SET uid = (
    SELECT lower(substr(h, 1, 8) || '-' || substr(h, 9, 4) || '-4' || substr(h, 14, 3) || '-'
                 || substr('89ab', 1 + (abs(random()) % 4), 1) || substr(h, 18, 3) || '-'
                 || substr(h, 21, 12))
    FROM (SELECT hex(randomblob(16)) AS h, acquisitions.number AS row));
UPDATE watches SET uid = (
    SELECT lower(substr(h, 1, 8) || '-' || substr(h, 9, 4) || '-4' || substr(h, 14, 3) || '-'
                 || substr('89ab', 1 + (abs(random()) % 4), 1) || substr(h, 18, 3) || '-'
                 || substr(h, 21, 12))
    FROM (SELECT hex(randomblob(16)) AS h, watches.id AS row));
CREATE INDEX acquisitions_unsent ON acquisitions (number) WHERE lab_sent IS NULL;
CREATE INDEX readings_unsent ON readings (number) WHERE lab_sent IS NULL;
)sql";

constexpr std::array<const char*, 3> Steps{Version1, Version2, Version3};

struct Keyword {
    JournalOutcome outcome;
    std::string_view word;
};
constexpr std::array<Keyword, 10> Keywords{{
    {JournalOutcome::Pending, "pending"},
    {JournalOutcome::Records, "records"},
    {JournalOutcome::Accepted, "accepted"},
    {JournalOutcome::Cleared, "cleared"},
    {JournalOutcome::ErrorReply, "error-reply"},
    {JournalOutcome::NoAnswer, "no-answer"},
    {JournalOutcome::CutShort, "cut-short"},
    {JournalOutcome::NotSent, "not-sent"},
    {JournalOutcome::LostLine, "lost-line"},
    {JournalOutcome::Stopped, "stopped"},
}};

void RollBack(sqlite3* db)
{
    if (!sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

} // namespace

Q_LOGGING_CATEGORY(lcJournal, "qm6200.journal", QtCriticalMsg)

void CloseDatabase::operator()(sqlite3* db) const
{
    sqlite3_close_v2(db);
}

void FinalizeStatement::operator()(sqlite3_stmt* statement) const
{
    sqlite3_finalize(statement);
}

bool Error::IsDamage() const
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

QString Error::Reason() const
{
    switch (code & 0xff) {
    case SQLITE_FULL:
        return QObject::tr("the disk is full");
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return QObject::tr("it is damaged");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return QObject::tr("another program kept it busy for too long");
    case SQLITE_NOMEM:
        return QObject::tr("the memory ran out");
    case SQLITE_READONLY:
        // The journal needs files beside it while it is written.
        if (code == SQLITE_READONLY_DIRECTORY)
            return QObject::tr("its folder may only be read");
        return QObject::tr("it may only be read");
    case SQLITE_IOERR:
        // SQLite keeps the system's error for the database file, not for its log, where
        // most writing goes.
        if (systemError != 0)
            return qt_error_string(systemError);
        if (code == SQLITE_IOERR_READ || code == SQLITE_IOERR_SHORT_READ)
            return QObject::tr("reading from the disk failed");
        return QObject::tr("writing to the disk failed");
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        return systemError != 0 ? qt_error_string(systemError) : detail;
    default:
        return detail;
    }
}

Result<void, Error> Check(sqlite3* db, int code)
{
    if (code == SQLITE_OK || code == SQLITE_ROW || code == SQLITE_DONE)
        return {};
    Error error;
    error.code = code;
    if (db == nullptr) {
        error.detail = QString::fromUtf8(sqlite3_errstr(code));
        return error;
    }
    const int extended = sqlite3_extended_errcode(db);
    if ((extended & 0xff) == (code & 0xff))
        error.code = extended;
    error.systemError = sqlite3_system_errno(db);
    error.detail = QString::fromUtf8(sqlite3_errmsg(db));
    return error;
}

Result<Database, Error> Open(const QString& path, int flags, int busyTimeoutMs)
{
    sqlite3* raw = nullptr;
    const int code = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, flags, nullptr);
    Database db(raw);
    if (const Result<void, Error> opened = Check(raw, code); !opened)
        return opened.Error();
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, busyTimeoutMs);
    return db;
}

Result<void, Error> Exec(sqlite3* db, const char* sql)
{
    return Check(db, sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

Result<Statement, Error> Prepare(sqlite3* db, std::string_view sql)
{
    sqlite3_stmt* raw = nullptr;
    const int code = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                        SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    Statement statement(raw);
    if (const Result<void, Error> prepared = Check(db, code); !prepared)
        return prepared.Error();
    return statement;
}

Result<std::vector<Statement>, Error> PrepareAll(sqlite3* db, std::span<const std::string_view> sql)
{
    std::vector<Statement> statements;
    for (const std::string_view one : sql) {
        Result<Statement, Error> prepared = Prepare(db, one);
        if (!prepared)
            return prepared.Error();
        statements.push_back(std::move(*prepared));
    }
    return statements;
}

Result<void, Error> Step(sqlite3* db, sqlite3_stmt* statement)
{
    const int code = sqlite3_step(statement);
    Result<void, Error> stepped = Check(db, code);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return stepped;
}

Result<int, Error> UserVersion(sqlite3* db)
{
    const Result<Statement, Error> statement = Prepare(db, "PRAGMA user_version");
    if (!statement)
        return statement.Error();
    const int code = sqlite3_step(statement->get());
    if (code == SQLITE_ROW)
        return sqlite3_column_int(statement->get(), 0);
    if (const Result<void, Error> stepped = Check(db, code); !stepped)
        return stepped.Error();
    return 0;
}

std::span<const char* const> SchemaSteps()
{
    return Steps;
}

int SchemaVersion()
{
    return static_cast<int>(Steps.size());
}

Result<VersionFound, Error> ReadVersion(sqlite3* db, int target)
{
    // One statement, one snapshot: another program may make the tables and set the version
    // in between two.
    const Result<Statement, Error> read =
        Prepare(db, "SELECT (SELECT user_version FROM pragma_user_version), "
                    "(SELECT count(*) FROM sqlite_master)");
    if (!read)
        return read.Error();
    const int code = sqlite3_step(read->get());
    if (code != SQLITE_ROW) {
        if (const Result<void, Error> stepped = Check(db, code); !stepped)
            return stepped.Error();
        return VersionFound{};
    }
    VersionFound found;
    found.number = sqlite3_column_int(read->get(), 0);
    const bool tables = sqlite3_column_int(read->get(), 1) > 0;
    sqlite3_reset(read->get());
    if (found.number > target)
        found.state = VersionFound::Newer;
    else if (found.number == target && target > 0)
        found.state = VersionFound::Current;
    else if (found.number > 0)
        found.state = VersionFound::Older;
    else if (found.number == 0)
        // Every step sets the version in the transaction that makes its tables: tables with
        // none mean the number was lost.
        found.state = tables ? VersionFound::Damaged : VersionFound::New;
    return found;
}

Error DamagedVersion(int number)
{
    return Error{SQLITE_CORRUPT, 0,
                 QObject::tr("its version number (%1) is none this program writes").arg(number)};
}

Result<Upgrade, Error> UpgradeSchema(sqlite3* db, std::span<const char* const> steps)
{
    if (const Result<void, Error> begun = Exec(db, "BEGIN IMMEDIATE"); !begun)
        return begun.Error();
    const auto failed = [db](const Error& error) {
        RollBack(db);
        return error;
    };
    const int target = static_cast<int>(steps.size());
    const Result<VersionFound, Error> found = ReadVersion(db, target);
    if (!found)
        return failed(found.Error());
    const Upgrade upgrade{found->state == VersionFound::Newer, found->number};
    if (found->state == VersionFound::Damaged)
        return failed(DamagedVersion(found->number));
    if (found->state == VersionFound::Current || found->state == VersionFound::Newer) {
        RollBack(db);
        return upgrade;
    }
    for (int version = found->number; version < target; ++version) {
        if (const auto done = Exec(db, steps[static_cast<std::size_t>(version)]); !done)
            return failed(done.Error());
    }
    const std::string setVersion = "PRAGMA user_version = " + std::to_string(target);
    for (const char* sql : {setVersion.c_str(), "COMMIT"}) {
        if (const auto done = Exec(db, sql); !done)
            return failed(done.Error());
    }
    return upgrade;
}

std::string_view OutcomeKeyword(JournalOutcome outcome)
{
    for (const auto& [known, word] : Keywords) {
        if (known == outcome)
            return word;
    }
    return "pending";
}

JournalOutcome OutcomeOfKeyword(std::string_view keyword)
{
    for (const auto& [outcome, word] : Keywords) {
        if (word == keyword)
            return outcome;
    }
    return JournalOutcome::Pending;
}

void LogError(const char* doing, const QString& path, const Error& error)
{
    qCWarning(lcJournal).noquote()
        << doing << QDir::toNativeSeparators(path) << "failed:" << error.detail << "(code"
        << error.code << "errno" << error.systemError << ")";
}

} // namespace qm::journal
