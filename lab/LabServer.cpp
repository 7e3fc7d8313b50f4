#include "lab/LabServer.h"

#include "files/Names.h"
#include "lab/LabSettings.h"

#include <QObject>

#include <cstdlib>
#include <libpq-fe.h>
#include <optional>
#include <string>
#include <vector>

namespace qm {

namespace {

// The schema, made in one transaction by a role that may: the acquisitions, their records with
// the texts the table shows and their numbers, their replies as received, and the version.
constexpr const char* SchemaSql = R"sql(
CREATE SCHEMA IF NOT EXISTS qm6200;
CREATE TABLE IF NOT EXISTS qm6200.acquisitions (
    uid uuid PRIMARY KEY,
    host text NOT NULL,
    os_user text NOT NULL,
    journal_number bigint NOT NULL,
    sent timestamptz NOT NULL,
    port text NOT NULL,
    stable_name text,
    program text NOT NULL,
    version text NOT NULL,
    command bytea NOT NULL,
    outcome text NOT NULL,
    watch uuid
);
CREATE TABLE IF NOT EXISTS qm6200.records (
    acquisition uuid NOT NULL REFERENCES qm6200.acquisitions (uid),
    place integer NOT NULL,
    record_no text NOT NULL,
    cntr1 text NOT NULL,
    cntr2 text NOT NULL,
    cntr3 text NOT NULL,
    cntr4 text NOT NULL,
    cntr5 text NOT NULL,
    total text NOT NULL,
    cntr1_value double precision,
    cntr2_value double precision,
    cntr3_value double precision,
    cntr4_value double precision,
    cntr5_value double precision,
    total_value double precision,
    PRIMARY KEY (acquisition, place)
);
CREATE TABLE IF NOT EXISTS qm6200.replies (
    acquisition uuid NOT NULL REFERENCES qm6200.acquisitions (uid),
    part integer NOT NULL,
    bytes bytea NOT NULL,
    PRIMARY KEY (acquisition, part)
);
CREATE TABLE IF NOT EXISTS qm6200.schema_version (version integer NOT NULL);
INSERT INTO qm6200.schema_version SELECT 1 WHERE NOT EXISTS (SELECT FROM qm6200.schema_version);
)sql";

constexpr int RecordColumnsSent = 15; // acquisition, place, seven texts, six numbers

struct ClearResult {
    void operator()(PGresult* result) const { PQclear(result); }
};
using ResultPtr = std::unique_ptr<PGresult, ClearResult>;

// One statement's parameters: text, or bytes sent as they are.
class Parameters {
public:
    // Texts go as they read: a control character as \xNN (ShownText), never cut short.
    void Text(const QString& text) { Add(ShownText(text).toUtf8(), 0); }
    void Bytes(const QByteArray& bytes) { Add(bytes, 1); }
    void Null() { Add(QByteArray(), 0, true); }
    int Count() const { return int(m_values.size()); }

    ResultPtr Run(PGconn* connection, const std::string& sql) const
    {
        std::vector<const char*> values;
        std::vector<int> lengths;
        for (std::size_t i = 0; i < m_values.size(); ++i) {
            values.push_back(m_null[i] ? nullptr : m_values[i].constData());
            lengths.push_back(int(m_values[i].size()));
        }
        return ResultPtr(PQexecParams(connection, sql.c_str(), Count(), nullptr, values.data(),
                                      lengths.data(), m_formats.data(), 0));
    }

private:
    void Add(const QByteArray& value, int format, bool null = false)
    {
        m_values.push_back(value);
        m_formats.push_back(format);
        m_null.push_back(null);
    }

    std::vector<QByteArray> m_values;
    std::vector<int> m_formats;
    std::vector<bool> m_null;
};

QString Uid(const QUuid& uid)
{
    return uid.toString(QUuid::WithoutBraces);
}

// A record's text: its bytes, each the character of that code, as the table shows them. A
// control character (a zero byte, which text cannot hold and libpq would cut the text at) is
// written as \xNN: the reply's bytes keep it as it came.
QString CellText(const std::string& cell)
{
    return ShownText(QString::fromLatin1(cell.data(), qsizetype(cell.size())));
}

bool Succeeded(const PGresult* result)
{
    const ExecStatusType status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

QString ErrorText(const PGresult* result, PGconn* connection)
{
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    return QString::fromUtf8(primary ? primary : PQerrorMessage(connection)).trimmed();
}

QString StateOf(const PGresult* result)
{
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    return QString::fromLatin1(state ? state : "");
}

} // namespace

void LabServer::Finish::operator()(pg_conn* connection) const
{
    PQfinish(connection);
}

LabServer::LabServer() = default;
LabServer::~LabServer() = default;

void LabServer::SetSender(const QString& host, const QString& user)
{
    m_host = host;
    m_user = user;
}

LabServer::Problem LabServer::Fail(Fault fault, const QString& text)
{
    m_problem = Problem{fault, text};
    return m_problem;
}

LabServer::Problem LabServer::Open(const QString& conninfo)
{
    Close();
    const QString shown = ShownConnInfo(conninfo);
    // libpq's own keywords around the string given (which is read as a whole, and wins): a
    // time limit on connecting, and the program's name for the server's lists.
    const QByteArray given = conninfo.toUtf8();
    const char* const keywords[] = {"connect_timeout", "dbname", "fallback_application_name",
                                    nullptr};
    const char* const values[] = {"10", given.constData(), "qm6200", nullptr};
    switch (PQpingParams(keywords, values, 1)) {
    case PQPING_OK:
        break;
    case PQPING_REJECT:
        return Fail(Fault::Unreachable,
                    QObject::tr("The lab's database (%1) does not take connections now: it is "
                                "starting or stopping. Try again later.")
                        .arg(shown));
    case PQPING_NO_RESPONSE:
        return Fail(Fault::Unreachable,
                    QObject::tr("The lab's database (%1) cannot be reached: no server answers "
                                "there. Check the network and that the server runs, then try "
                                "again.")
                        .arg(shown));
    case PQPING_NO_ATTEMPT:
        return Fail(Fault::Settings,
                    QObject::tr("The lab's database (%1) cannot be reached with these settings.")
                        .arg(shown));
    }
    m_connection.reset(PQconnectdbParams(keywords, values, 1));
    if (!m_connection)
        return Fail(Fault::Unreachable, QObject::tr("There is not enough memory to connect."));
    if (PQstatus(m_connection.get()) != CONNECTION_OK) {
        const QString why = QString::fromUtf8(PQerrorMessage(m_connection.get())).trimmed();
        const bool password = PQconnectionNeedsPassword(m_connection.get()) != 0;
        Close();
        if (password)
            return Fail(Fault::Refused,
                        QObject::tr("The lab's database (%1) asks for a password, and none was "
                                    "found: put it in ~/.pgpass (or the file PGPASSFILE names) "
                                    "or a service file.")
                            .arg(shown));
        if (why.contains(QLatin1String("does not exist")))
            return Fail(Fault::Settings,
                        QObject::tr("The lab's database (%1) refused: %2").arg(shown, why));
        return Fail(
            Fault::Refused,
            QObject::tr("The lab's database (%1) refused the connection: %2").arg(shown, why));
    }
    PQsetClientEncoding(m_connection.get(), "UTF8");
    const Problem schema = EnsureSchema();
    if (schema.fault != Fault::None)
        Close();
    return schema;
}

void LabServer::Close()
{
    m_connection.reset();
}

LabServer::Problem LabServer::EnsureSchema()
{
    PGconn* connection = m_connection.get();
    const auto version = [&]() -> std::optional<int> {
        const ResultPtr found(PQexec(connection, "SELECT max(version) FROM qm6200.schema_version"));
        if (PQresultStatus(found.get()) != PGRES_TUPLES_OK || PQntuples(found.get()) != 1
            || PQgetisnull(found.get(), 0, 0))
            return std::nullopt;
        return std::atoi(PQgetvalue(found.get(), 0, 0));
    };
    std::optional<int> found = version();
    if (!found) {
        // None yet, or none this role may read: made here when the role may.
        const ResultPtr made(
            PQexec(connection, (std::string("BEGIN;") + SchemaSql + "COMMIT;").c_str()));
        if (!Succeeded(made.get())) {
            const QString state = StateOf(made.get());
            const QString why = ErrorText(made.get(), connection);
            PQclear(PQexec(connection, "ROLLBACK"));
            // Another sender may have made it meanwhile.
            found = version();
            if (!found && state == QLatin1String("42501"))
                return Fail(Fault::Refused,
                            QObject::tr("The lab's database has no schema qm6200, and this role "
                                        "may not make it (%1). Ask the lab's administrator to "
                                        "make it as docs/lab-database.md shows.")
                                .arg(why));
            if (!found)
                return Fail(PQstatus(connection) == CONNECTION_OK ? Fault::Settings
                                                                  : Fault::Unreachable,
                            QObject::tr("The schema qm6200 could not be made in the lab's "
                                        "database: %1")
                                .arg(why));
        } else {
            found = version();
        }
    }
    if (!found)
        return Fail(Fault::Refused, QObject::tr("The schema qm6200's version cannot be read in "
                                                "the lab's database."));
    if (*found > SchemaVersion)
        return Fail(Fault::Settings,
                    QObject::tr("The lab's database holds the schema qm6200 of version %1, newer "
                                "than this program's %2: nothing was sent, and the schema is "
                                "left as it is. Install the newer version of this program.")
                        .arg(*found)
                        .arg(SchemaVersion));
    m_problem = {};
    return m_problem;
}

LabServer::Sent LabServer::Send(const LabAcquisition& acquisition)
{
    PGconn* connection = m_connection.get();
    if (!connection) {
        Fail(Fault::Unreachable, QObject::tr("The lab's database is not connected."));
        return Sent::LineLost;
    }
    // What a failed statement means for this one and the rest.
    const auto failed = [&](const PGresult* result) {
        const QString state = StateOf(result);
        const QString why = ErrorText(result, connection);
        if (PQstatus(connection) != CONNECTION_OK || state.startsWith(QLatin1String("08"))) {
            Fail(Fault::Unreachable,
                 QObject::tr("The connection to the lab's database was lost: %1").arg(why));
            Close();
            return Sent::LineLost;
        }
        PQclear(PQexec(connection, "ROLLBACK"));
        if (state.startsWith(QLatin1String("42")) || state.startsWith(QLatin1String("28"))) {
            Fail(Fault::Refused, QObject::tr("The lab's database refused: %1").arg(why));
            return Sent::Stopped;
        }
        Fail(Fault::None, why);
        return Sent::RefusedContent;
    };

    const ResultPtr begun(PQexec(connection, "BEGIN"));
    if (!Succeeded(begun.get()))
        return failed(begun.get());

    Parameters row;
    row.Text(Uid(acquisition.uid));
    row.Text(m_host);
    row.Text(m_user);
    row.Text(QString::number(acquisition.number));
    row.Text(acquisition.sent.toUTC().toString(Qt::ISODateWithMs));
    row.Text(acquisition.port);
    if (acquisition.stableName.isEmpty())
        row.Null();
    else
        row.Text(acquisition.stableName);
    row.Text(acquisition.program);
    row.Text(acquisition.version);
    row.Bytes(acquisition.command);
    row.Text(acquisition.outcome);
    if (acquisition.watch.isNull())
        row.Null();
    else
        row.Text(Uid(acquisition.watch));
    // A row that is there already was sent before: nothing of it is sent again.
    const ResultPtr inserted(row.Run(
        connection, "INSERT INTO qm6200.acquisitions (uid, host, os_user, journal_number, sent, "
                    "port, stable_name, program, version, command, outcome, watch) VALUES ($1, $2, "
                    "$3, $4, $5, $6, $7, $8, $9, $10, $11, $12) ON CONFLICT (uid) DO NOTHING "
                    "RETURNING 1"));
    if (!Succeeded(inserted.get()))
        return failed(inserted.get());
    const bool added = PQntuples(inserted.get()) == 1;

    if (added && !acquisition.records.empty()) {
        Parameters records;
        std::string sql = "INSERT INTO qm6200.records VALUES ";
        for (const LabRecord& record : acquisition.records) {
            const int first = records.Count();
            sql += first == 0 ? "(" : ", (";
            for (int column = 0; column < RecordColumnsSent; ++column)
                sql += (column == 0 ? "$" : ", $") + std::to_string(first + column + 1);
            sql += ")";
            records.Text(Uid(acquisition.uid));
            records.Text(QString::number(record.place));
            for (const std::string& cell : record.cells)
                records.Text(CellText(cell));
            for (const std::optional<double>& value : record.values) {
                if (value)
                    records.Text(QString::number(*value, 'g', 17));
                else
                    records.Null();
            }
        }
        const ResultPtr done(records.Run(connection, sql));
        if (!Succeeded(done.get()))
            return failed(done.get());
    }
    if (added && !acquisition.replies.empty()) {
        Parameters parts;
        std::string sql = "INSERT INTO qm6200.replies VALUES ";
        int part = 0;
        for (const QByteArray& bytes : acquisition.replies) {
            const int first = parts.Count();
            sql += (first == 0 ? "($" : ", ($") + std::to_string(first + 1) + ", $"
                   + std::to_string(first + 2) + ", $" + std::to_string(first + 3) + ")";
            parts.Text(Uid(acquisition.uid));
            parts.Text(QString::number(part++));
            parts.Bytes(bytes);
        }
        const ResultPtr done(parts.Run(connection, sql));
        if (!Succeeded(done.get()))
            return failed(done.get());
    }
    const ResultPtr committed(PQexec(connection, "COMMIT"));
    if (!Succeeded(committed.get()))
        return failed(committed.get());
    m_problem = {};
    return added ? Sent::Added : Sent::AlreadyThere;
}

} // namespace qm
