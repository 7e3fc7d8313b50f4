#include "journal/JournalReader.h"

#include "journal/JournalDatabase.h"
#include "journal/JournalStore.h"

#include <array>
#include <sqlite3.h>
#include <string>
#include <string_view>

namespace qm {

namespace {

using namespace journal;

// The reader's statements, prepared once when it opens, by their place.
enum class Sql : std::size_t { Entries, Entry, Records, Reply };

sqlite3_stmt* Prepared(const Connection& connection, Sql which)
{
    return connection.statements[std::size_t(which)].get();
}

// What ReadEntry reads, in its order.
constexpr std::string_view EntryColumns = "SELECT number, sent, port, stable_name, program, "
                                          "version, command, records, outcome FROM acquisitions ";

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
    // By their place in Sql.
    const std::array<std::string_view, 4> sql{
        entries,
        entry,
        "SELECT record_no, cntr1, cntr2, cntr3, cntr4, cntr5, total FROM records "
        "WHERE acquisition = ?1 ORDER BY place",
        "SELECT bytes FROM replies WHERE acquisition = ?1 ORDER BY part",
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

} // namespace qm
