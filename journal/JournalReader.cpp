#include "journal/JournalReader.h"

#include "journal/JournalDatabase.h"
#include "journal/JournalStore.h"

#include <QDir>
#include <QObject>

#include <algorithm>
#include <array>
#include <sqlite3.h>
#include <string>
#include <string_view>

namespace qm {

namespace {

using namespace journal;

// The reader's statements, prepared once when it opens, by their place.
enum class Sql : std::size_t {
    Entries,
    Entry,
    Records,
    Reply,
    Watches,
    WatchOf,
    Readings,
    UnsentAcquisitions,
    UnsentReadings,
    UnsentCount,
    Reading,
};

sqlite3_stmt* Prepared(const Connection& connection, Sql which)
{
    return connection.statements[std::size_t(which)].get();
}

// What ReadEntry reads, in its order.
constexpr std::string_view EntryColumns = "SELECT number, sent, port, stable_name, program, "
                                          "version, command, records, outcome, uid, "
                                          "lab_sent, lab_refused FROM acquisitions ";

QByteArray ColumnBytes(sqlite3_stmt* statement, int column)
{
    const auto* data = static_cast<const char*>(sqlite3_column_blob(statement, column));
    return QByteArray(data, data == nullptr ? 0 : sqlite3_column_bytes(statement, column));
}

QString ColumnText(sqlite3_stmt* statement, int column)
{
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(data, data == nullptr ? 0 : sqlite3_column_bytes(statement, column));
}

// What ReadWatch reads, in its order.
constexpr std::string_view WatchColumns =
    "SELECT first_number, started, program, version, command, every_ms, ports, output, "
    "decimal_separator, first_time, last_time, readings, noted, uid, lab_waiting FROM watches ";

QDateTime ColumnTime(sqlite3_stmt* statement, int column)
{
    if (sqlite3_column_type(statement, column) == SQLITE_NULL)
        return {};
    return QDateTime::fromMSecsSinceEpoch(sqlite3_column_int64(statement, column), Qt::UTC);
}

JournalWatchEntry ReadWatch(sqlite3_stmt* statement)
{
    JournalWatchEntry entry;
    entry.number = sqlite3_column_int64(statement, 0);
    JournalWatch& watch = entry.watch;
    watch.started = ColumnTime(statement, 1);
    watch.program = ColumnText(statement, 2);
    watch.version = ColumnText(statement, 3);
    watch.frame = ColumnBytes(statement, 4);
    watch.every = std::chrono::milliseconds(sqlite3_column_int64(statement, 5));
    // Each name ended by a zero byte.
    const QByteArray ports = ColumnBytes(statement, 6);
    for (qsizetype from = 0; from < ports.size();) {
        qsizetype end = ports.indexOf('\0', from);
        if (end < 0)
            end = ports.size();
        watch.ports.append(QString::fromUtf8(ports.mid(from, end - from)));
        from = end + 1;
    }
    watch.output = ColumnText(statement, 7);
    const QByteArray separator = ColumnBytes(statement, 8);
    watch.decimalSeparator.assign(separator.constData(), std::size_t(separator.size()));
    entry.first = ColumnTime(statement, 9);
    entry.last = ColumnTime(statement, 10);
    entry.readings = sqlite3_column_int64(statement, 11);
    entry.noted = sqlite3_column_int64(statement, 12);
    watch.uid = QUuid::fromString(ColumnText(statement, 13));
    entry.labWaiting = sqlite3_column_int64(statement, 14);
    return entry;
}

// A note a later version of the program may have added reads as none that holds values.
ReadingNote NoteOf(int stored)
{
    return stored >= int(ReadingNote::None) && stored <= int(ReadingNote::Missed)
               ? ReadingNote(stored)
               : ReadingNote::NoAnswer;
}

// A reading's row: port, time, utc_offset, note, torn, reply, in that order.
void ReadReading(sqlite3_stmt* statement, JournalReading& reading)
{
    reading.port = sqlite3_column_int(statement, 0);
    reading.time = ColumnTime(statement, 1);
    reading.offsetSeconds = sqlite3_column_int(statement, 2);
    reading.note = NoteOf(sqlite3_column_int(statement, 3));
    reading.tornBefore = sqlite3_column_int(statement, 4) != 0;
    reading.reply = ColumnBytes(statement, 5);
}

JournalEntry ReadEntry(sqlite3_stmt* statement)
{
    JournalEntry entry;
    entry.number = sqlite3_column_int64(statement, 0);
    entry.sent = QDateTime::fromString(ColumnText(statement, 1), Qt::ISODateWithMs);
    entry.port = ColumnText(statement, 2);
    entry.stableName = ColumnText(statement, 3);
    entry.program = ColumnText(statement, 4);
    entry.version = ColumnText(statement, 5);
    entry.frame = ColumnBytes(statement, 6);
    entry.records = sqlite3_column_int(statement, 7);
    const auto* outcome = reinterpret_cast<const char*>(sqlite3_column_text(statement, 8));
    entry.outcome = OutcomeOfKeyword(outcome == nullptr ? std::string_view() : outcome);
    entry.uid = QUuid::fromString(ColumnText(statement, 9));
    entry.labSent = ColumnTime(statement, 10);
    entry.labRefused = ColumnText(statement, 11);
    return entry;
}

// Resets a statement when the reading of its rows ends, however it ends: a statement left
// part-read would keep its snapshot, and with it the journal's log from being folded in.
struct ResetWhenDone {
    sqlite3_stmt* statement;
    ~ResetWhenDone()
    {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};

// The rows of a statement, each handed to `row`; a failure on the way is for maintainers: the
// caller gets what was read.
template<typename Row>
void Rows(sqlite3* db, sqlite3_stmt* statement, Row row)
{
    const ResetWhenDone reset{statement};
    int code = SQLITE_ROW;
    while ((code = sqlite3_step(statement)) == SQLITE_ROW)
        row(statement);
    if (const Result<void, Error> done = Check(db, code); !done)
        qCWarning(lcJournal).noquote() << "reading the journal:" << done.Error().detail;
}

} // namespace

JournalReader::JournalReader(const QString& path)
    : m_path(path)
{
}

JournalReader::~JournalReader() = default;

Result<> JournalReader::open()
{
    m_connection.reset();
    const std::string entries = std::string(EntryColumns) + "ORDER BY number DESC";
    const std::string entry = std::string(EntryColumns) + "WHERE number = ?1";
    const std::string watches =
        std::string(WatchColumns) + "WHERE first_number IS NOT NULL ORDER BY first_number DESC";
    const std::string watchOf =
        std::string(WatchColumns) + "WHERE id = (SELECT watch FROM readings WHERE number = ?1)";
    // By their place in Sql.
    const std::array<std::string_view, 11> sql{
        entries,
        entry,
        "SELECT record_no, cntr1, cntr2, cntr3, cntr4, cntr5, total FROM records "
        "WHERE acquisition = ?1 ORDER BY place",
        "SELECT bytes FROM replies WHERE acquisition = ?1 ORDER BY part",
        watches,
        watchOf,
        "SELECT port, time, utc_offset, note, torn, reply FROM readings "
        "WHERE watch = (SELECT watch FROM readings WHERE number = ?1) ORDER BY number",
        // Each through its index of the unsent alone.
        "SELECT number FROM acquisitions WHERE lab_sent IS NULL AND number > ?1 ORDER BY number "
        "LIMIT ?2",
        "SELECT number FROM readings WHERE lab_sent IS NULL AND number > ?1 ORDER BY number "
        "LIMIT ?2",
        "SELECT (SELECT count(*) FROM acquisitions WHERE lab_sent IS NULL) + (SELECT count(*) "
        "FROM readings WHERE lab_sent IS NULL)",
        "SELECT port, time, utc_offset, note, torn, reply FROM readings WHERE number = ?1",
    };
    Result<Connection> opened = OpenToRead(m_path, sql);
    if (!opened)
        return opened.Error();
    m_connection = std::make_unique<Connection>(std::move(*opened));
    return {};
}

std::vector<JournalEntry> JournalReader::Entries() const
{
    std::vector<JournalEntry> entries;
    if (!m_connection)
        return entries;
    Rows(m_connection->db.get(), Prepared(*m_connection, Sql::Entries),
         [&](sqlite3_stmt* statement) { entries.push_back(ReadEntry(statement)); });
    return entries;
}

std::optional<JournalEntry> JournalReader::Entry(qint64 number) const
{
    std::optional<JournalEntry> entry;
    if (!m_connection)
        return entry;
    sqlite3_stmt* statement = Prepared(*m_connection, Sql::Entry);
    sqlite3_bind_int64(statement, 1, number);
    Rows(m_connection->db.get(), statement, [&](sqlite3_stmt* row) { entry = ReadEntry(row); });
    return entry;
}

std::vector<JournalCells> JournalReader::Records(qint64 number) const
{
    std::vector<JournalCells> records;
    if (!m_connection)
        return records;
    sqlite3_stmt* statement = Prepared(*m_connection, Sql::Records);
    sqlite3_bind_int64(statement, 1, number);
    Rows(m_connection->db.get(), statement, [&](sqlite3_stmt* row) {
        JournalCells& cells = records.emplace_back();
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const QByteArray bytes = ColumnBytes(row, int(i));
            cells[i].assign(bytes.constData(), std::size_t(bytes.size()));
        }
    });
    return records;
}

QByteArray JournalReader::Reply(qint64 number) const
{
    QByteArray reply;
    if (!m_connection)
        return reply;
    sqlite3_stmt* statement = Prepared(*m_connection, Sql::Reply);
    sqlite3_bind_int64(statement, 1, number);
    Rows(m_connection->db.get(), statement,
         [&](sqlite3_stmt* row) { reply += ColumnBytes(row, 0); });
    return reply;
}

std::vector<QByteArray> JournalReader::ReplyParts(qint64 number) const
{
    std::vector<QByteArray> parts;
    if (!m_connection)
        return parts;
    sqlite3_stmt* statement = Prepared(*m_connection, Sql::Reply);
    sqlite3_bind_int64(statement, 1, number);
    Rows(m_connection->db.get(), statement,
         [&](sqlite3_stmt* row) { parts.push_back(ColumnBytes(row, 0)); });
    return parts;
}

std::vector<std::pair<qint64, bool>> JournalReader::Unsent(qint64 after, int most) const
{
    std::vector<std::pair<qint64, bool>> unsent;
    if (!m_connection || most <= 0)
        return unsent;
    // The first `most` of each table, merged: the first `most` of both are among them.
    for (const Sql which : {Sql::UnsentAcquisitions, Sql::UnsentReadings}) {
        sqlite3_stmt* statement = Prepared(*m_connection, which);
        sqlite3_bind_int64(statement, 1, after);
        sqlite3_bind_int(statement, 2, most);
        Rows(m_connection->db.get(), statement, [&](sqlite3_stmt* row) {
            unsent.emplace_back(sqlite3_column_int64(row, 0), which == Sql::UnsentReadings);
        });
    }
    std::sort(unsent.begin(), unsent.end());
    if (unsent.size() > std::size_t(most))
        unsent.resize(std::size_t(most));
    return unsent;
}

qint64 JournalReader::UnsentCount() const
{
    qint64 count = 0;
    if (!m_connection)
        return count;
    Rows(m_connection->db.get(), Prepared(*m_connection, Sql::UnsentCount),
         [&](sqlite3_stmt* row) { count = sqlite3_column_int64(row, 0); });
    return count;
}

std::optional<JournalReading> JournalReader::Reading(qint64 number) const
{
    std::optional<JournalReading> reading;
    if (!m_connection)
        return reading;
    sqlite3_stmt* statement = Prepared(*m_connection, Sql::Reading);
    sqlite3_bind_int64(statement, 1, number);
    Rows(m_connection->db.get(), statement, [&](sqlite3_stmt* row) {
        reading.emplace();
        ReadReading(row, *reading);
    });
    return reading;
}

std::vector<JournalWatchEntry> JournalReader::Watches() const
{
    std::vector<JournalWatchEntry> watches;
    if (!m_connection)
        return watches;
    Rows(m_connection->db.get(), Prepared(*m_connection, Sql::Watches),
         [&](sqlite3_stmt* statement) { watches.push_back(ReadWatch(statement)); });
    return watches;
}

std::optional<JournalWatchEntry> JournalReader::WatchOf(qint64 number) const
{
    std::optional<JournalWatchEntry> watch;
    if (!m_connection)
        return watch;
    sqlite3_stmt* statement = Prepared(*m_connection, Sql::WatchOf);
    sqlite3_bind_int64(statement, 1, number);
    Rows(m_connection->db.get(), statement, [&](sqlite3_stmt* row) { watch = ReadWatch(row); });
    return watch;
}

Result<> JournalReader::Readings(qint64 number,
                                 const std::function<bool(const JournalReading&)>& each) const
{
    if (!m_connection)
        return Failure{
            QObject::tr("The journal %1 is not open.").arg(QDir::toNativeSeparators(m_path))};
    sqlite3* db = m_connection->db.get();
    sqlite3_stmt* statement = Prepared(*m_connection, Sql::Readings);
    const ResetWhenDone reset{statement};
    sqlite3_bind_int64(statement, 1, number);
    int code = SQLITE_ROW;
    JournalReading reading;
    while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
        ReadReading(statement, reading);
        if (!each(reading))
            return {};
    }
    if (const Result<void, Error> done = Check(db, code); !done) {
        qCWarning(lcJournal).noquote() << "reading the journal:" << done.Error().detail;
        return Failure{QObject::tr("The journal %1 cannot be read (%2).")
                           .arg(QDir::toNativeSeparators(m_path), done.Error().Reason())};
    }
    return {};
}

} // namespace qm
