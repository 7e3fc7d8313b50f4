// The journal sent to the lab's database: everything once, whatever stops the sync (the server
// going away, the program killed), from two homes into one database, through a role that may
// only insert, at the right instants whatever the server's time zone; and qm6200-acquire sync's
// exit statuses for what an operator gets wrong.

#include "journal/JournalDatabase.h"
#include "journal/JournalReader.h"
#include "journal/JournalWriter.h"
#include "lab/LabSettings.h"
#include "lab/LabSync.h"
#include "tests/journal/Samples.h"
#include "tests/support/Files.h"
#include "tests/support/Frames.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <sqlite3.h>

using namespace qm;
using namespace qm::test;

namespace {

constexpr int Patience = 30000; // ms

// The program under test: the build's, or the copy the environment names (as the user nobody).
QString Acquire()
{
    return qEnvironmentVariable("QM6200_ACQUIRE", QStringLiteral(QM6200_ACQUIRE));
}

// A journal at `path` with `count` acquisitions of 3 records (the first numbered `first`),
// one a watch's reading in five, journaled as the programs do.
void FillJournal(const QString& path, int first, int count)
{
    JournalWriter writer(path);
    const auto watch = writer.WatchStarted(SampleWatch({"/dev/ttyS1", "/dev/ttyS2"}));
    for (int n = first; n < first + count; ++n) {
        if (n % 5 == 0)
            writer.Reading(watch, SampleReading(n, 2));
        else
            Journal(writer, Sample(n, "/dev/ttyS0", 3, ".", JournalOutcome::Records));
    }
    writer.WaitUntilWritten();
}

// The sync of the journal at `path` into `conninfo`, as `host`; `stopAfter` asks it to stop
// (or does something) after that many acquisitions were looked at.
LabSyncReport Sync(const QString& path, const QString& conninfo, const QString& host = "pc1",
                   const std::function<bool(int)>& after = {})
{
    LabServer server;
    server.SetSender(host, "lab");
    const LabServer::Problem opened = server.Open(conninfo);
    if (opened.fault != LabServer::Fault::None) {
        LabSyncReport report;
        report.problem = opened;
        return report;
    }
    JournalWriter writer(path);
    writer.WaitUntilWritten();
    JournalReader reader(path);
    if (!reader.open())
        return {};
    int looked = 0;
    return SyncJournal(server, reader, writer, [&] { return after && after(++looked); });
}

qint64 Count(PostgresServer& server, const QString& query, const QString& database = "postgres")
{
    return server.Rows(query, nullptr, database).value(0).value(0).toLongLong();
}

} // namespace

class TestLabSync : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(m_server.Ready(), qPrintable(m_server.Problem())); }

    // A database of its own for each case.
    void init()
    {
        m_database = QStringLiteral("lab%1").arg(++m_cases);
        QVERIFY(m_server.Sql("CREATE DATABASE " + m_database));
        m_home = std::make_unique<QTemporaryDir>();
    }

    // Many acquisitions, readings among them: each once, with its records' texts and numbers,
    // its reply, and its watch; a second sync sends nothing.
    void everythingArrivesOnce()
    {
        const QString path = m_home->filePath("journal.sqlite3");
        FillJournal(path, 1, 120);
        const LabSyncReport first = Sync(path, conninfo());
        QCOMPARE(first.problem.fault, LabServer::Fault::None);
        QCOMPARE(first.added, 120);
        QCOMPARE(first.left, 0);
        QCOMPARE(count("SELECT count(*) FROM qm6200.acquisitions"), 120);
        QCOMPARE(count("SELECT count(*) FROM qm6200.acquisitions WHERE watch IS NOT NULL"), 24);
        QCOMPARE(count("SELECT count(DISTINCT watch) FROM qm6200.acquisitions"), 1);
        // 96 acquisitions of 3 records, and the readings that brought values.
        QVERIFY(count("SELECT count(*) FROM qm6200.records") >= 96 * 3);
        const QList<QStringList> record = m_server.Rows(
            "SELECT r.cntr1, r.cntr1_value, r.total_value, a.journal_number, a.host FROM "
            "qm6200.records r JOIN qm6200.acquisitions a ON a.uid = r.acquisition WHERE "
            "a.journal_number = 1 AND r.place = 2",
            nullptr, m_database);
        const SampleAcquisition sample = Sample(1, "/dev/ttyS0", 3, ".", JournalOutcome::Records);
        QCOMPARE(record.value(0).value(0), QString::fromStdString(sample.cells[1][1]));
        QCOMPARE(record.value(0).value(1).toDouble(),
                 QString::fromStdString(sample.cells[1][1]).toDouble());
        QCOMPARE(record.value(0).value(4), "pc1");
        QCOMPARE(count("SELECT sum(length(bytes)) FROM qm6200.replies r JOIN "
                       "qm6200.acquisitions a ON a.uid = r.acquisition WHERE a.journal_number = 1"),
                 sample.Reply().size());

        const LabSyncReport again = Sync(path, conninfo());
        QCOMPARE(again.added + again.alreadyThere, 0);
        QCOMPARE(count("SELECT count(*) FROM qm6200.acquisitions"), 120);
    }

    // The server stops in the middle of a sync, or the sync is killed: what went is marked
    // or found there, the rest goes next time, and nothing is there twice.
    void aSyncCutShortIsTakenUpAgain_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("the server stopped") << false;
        QTest::newRow("qm6200-acquire sync killed") << true;
    }
    void aSyncCutShortIsTakenUpAgain()
    {
        QFETCH(bool, killed);
        const QString path =
            QDir(qEnvironmentVariable("XDG_DATA_HOME")).filePath("qm6200/journal.sqlite3");
        QFile::remove(path);
        const int total = killed ? 3000 : 400;
        FillJournal(path, 1, total);
        if (killed) {
            QProcess sync;
            sync.start(Acquire(), {"sync", "-q", "--database", conninfo()});
            QTRY_VERIFY_WITH_TIMEOUT(count("SELECT count(*) FROM qm6200.acquisitions") > 20
                                         || sync.state() == QProcess::NotRunning,
                                     Patience);
            ::kill(pid_t(sync.processId()), SIGKILL);
            QVERIFY(sync.waitForFinished(Patience));
        } else {
            const LabSyncReport cut = Sync(path, conninfo(), "pc1", [&](int looked) {
                if (looked == 50)
                    m_server.Stop();
                return false;
            });
            QCOMPARE(cut.problem.fault, LabServer::Fault::Unreachable);
            QVERIFY(cut.left > 0);
            QVERIFY(m_server.Start());
        }
        const qint64 before = count("SELECT count(*) FROM qm6200.acquisitions");
        QVERIFY2(before > 0 && before < total, qPrintable(QString::number(before)));
        const LabSyncReport rest = Sync(path, conninfo());
        QCOMPARE(rest.problem.fault, LabServer::Fault::None);
        QCOMPARE(rest.left, 0);
        QCOMPARE(count("SELECT count(*) FROM qm6200.acquisitions"), total);
        QCOMPARE(count("SELECT count(DISTINCT journal_number) FROM qm6200.acquisitions"), total);
    }

    // Two computers' journals into one database, each row saying whose; through a role that
    // may only insert and select, in a schema the administrator made.
    void twoHomesThroughARoleThatMayOnlyInsert()
    {
        const QString first = m_home->filePath("pc1.sqlite3");
        const QString second = m_home->filePath("pc2.sqlite3");
        FillJournal(first, 1, 10);
        FillJournal(second, 1, 10);
        // The administrator's schema: the program's own, made by a sync as the superuser.
        QCOMPARE(Sync(m_home->filePath("none.sqlite3"), conninfo()).problem.fault,
                 LabServer::Fault::None);
        QVERIFY(m_server.Sql("DO $$ BEGIN CREATE ROLE inserter LOGIN; EXCEPTION WHEN "
                             "duplicate_object THEN NULL; END $$; "
                             "GRANT USAGE ON SCHEMA qm6200 TO inserter; "
                             "GRANT SELECT, INSERT ON ALL TABLES IN SCHEMA qm6200 TO inserter",
                             nullptr, m_database));
        const QString asInserter = m_server.ConnInfo(m_database, "inserter");
        QCOMPARE(Sync(first, asInserter, "pc1").added, 10);
        QCOMPARE(Sync(second, asInserter, "pc2").added, 10);
        QCOMPARE(count("SELECT count(*) FROM qm6200.acquisitions"), 20);
        QCOMPARE(count("SELECT count(DISTINCT host) FROM qm6200.acquisitions"), 2);
        // Sent again, the marks lost (a journal put back from a copy): found there, not doubled.
        {
            const auto db = journal::Open(first, SQLITE_OPEN_READWRITE, 1000);
            QVERIFY(db);
            QVERIFY(journal::Exec(db->get(), "UPDATE acquisitions SET lab_sent = NULL; "
                                             "UPDATE readings SET lab_sent = NULL"));
        }
        const LabSyncReport again = Sync(first, asInserter, "pc1");
        QCOMPARE(again.added, 0);
        QCOMPARE(again.alreadyThere, 10);
        QCOMPARE(count("SELECT count(*) FROM qm6200.acquisitions"), 20);
    }

    // A journal from before uids: brought up to date as the sync opens it, its acquisitions
    // sent with the uids they got then, once.
    void aJournalFromBeforeUidsIsSent()
    {
        const QString path = m_home->filePath("journal.sqlite3");
        {
            const auto db = journal::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, 1000);
            QVERIFY(db);
            QVERIFY(journal::Exec(db->get(), journal::SchemaSteps()[0]));
            QVERIFY(journal::Exec(db->get(), journal::SchemaSteps()[1]));
            QVERIFY(journal::Exec(
                db->get(), "PRAGMA user_version = 2; INSERT INTO acquisitions (number, sent, port, "
                           "program, version, command, records, outcome) VALUES (1, "
                           "'2025-01-02T03:04:05.678Z', '/dev/ttyS0', 'qm6200-acquire', '1.0', "
                           "X'02', 1, 'records'), (2, '2025-01-02T03:05:05.678Z', '/dev/ttyS0', "
                           "'qm6200-acquire', '1.0', X'02', 0, 'no-answer'); INSERT INTO records "
                           "VALUES (1, 1, '01', '1', '2', '3', '4', '5', '15')"));
        }
        QCOMPARE(Sync(path, conninfo()).added, 2);
        QCOMPARE(Sync(path, conninfo()).added, 0);
        JournalReader reader(path);
        QVERIFY(reader.open());
        QCOMPARE(count("SELECT count(*) FROM qm6200.acquisitions WHERE uid = '"
                       + reader.Entry(1)->uid.toString(QUuid::WithoutBraces) + "'"),
                 1);
        QCOMPARE(count("SELECT count(*) FROM qm6200.records WHERE total = '15' AND total_value "
                       "IS NULL"),
                 1); // no reply kept to read the number from
    }

    // The instant each was sent, across a change of the clocks, whatever zone the server and
    // its sessions are in.
    void timesAcrossADaylightSavingChange()
    {
        QVERIFY(
            m_server.Sql("ALTER DATABASE " + m_database + " SET TimeZone = 'America/New_York'"));
        const QString path = m_home->filePath("journal.sqlite3");
        const QDateTime change(QDate(2026, 10, 25), QTime(0, 30), QTimeZone::utc()); // Europe
        {
            JournalWriter writer(path);
            for (int i = 0; i < 4; ++i) {
                SampleAcquisition sample =
                    Sample(i + 1, "/dev/ttyS0", 1, ".", JournalOutcome::Records);
                sample.command.sent = change.addSecs(i * 1800);
                Journal(writer, sample);
            }
            writer.WaitUntilWritten();
        }
        qputenv("TZ", "Europe/Berlin");
        QCOMPARE(Sync(path, conninfo()).added, 4);
        qunsetenv("TZ");
        const QList<QStringList> rows = m_server.Rows(
            "SELECT (extract(epoch FROM sent) * 1000)::bigint FROM qm6200.acquisitions ORDER BY "
            "journal_number",
            nullptr, m_database);
        QCOMPARE(rows.size(), 4);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(rows[i].value(0).toLongLong(), change.addSecs(i * 1800).toMSecsSinceEpoch());
    }

    // What qm6200-acquire sync says with its status when the operator's setting or the server
    // is wrong; nothing is marked sent.
    void syncTellsWhatIsWrong_data()
    {
        QTest::addColumn<QString>("setting"); // [lab] database=, or --database with "option:"
        QTest::addColumn<QString>("sql");     // run first, in the case's database
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("told");

        QTest::newRow("all is in") << ""
                                   << "" << 0 << "sync: 3 sent";
        QTest::newRow("no server there") << "option:host=/nonexistent-qm6200 dbname=lab"
                                         << "" << 69 << "cannot be reached";
        QTest::newRow("a password asked, none in ~/.pgpass")
            << "user=keyed"
            << "keyed" << 77 << "asks for a password";
        QTest::newRow("a password in the settings") << "user=keyed password=secret"
                                                    << "" << 78 << "~/.pgpass";
        QTest::newRow("a newer schema on the server")
            << ""
            << "CREATE SCHEMA qm6200; CREATE TABLE qm6200.schema_version (version integer); "
               "INSERT INTO qm6200.schema_version VALUES (2)"
            << 78 << "newer";
        QTest::newRow("commas unquoted in the settings") << "host=a,b"
                                                         << "" << 78 << "double quotes";
        QTest::newRow("commas quoted") << "\"host=/nonexistent-a,/nonexistent-b dbname=x\""
                                       << "" << 69 << "cannot be reached";
        QTest::newRow("none set") << "none"
                                  << "" << 78 << "no lab database is set";
    }
    void syncTellsWhatIsWrong()
    {
        QFETCH(QString, setting);
        QFETCH(QString, sql);
        QFETCH(int, status);
        QFETCH(QString, told);

        const QString path =
            QDir(qEnvironmentVariable("XDG_DATA_HOME")).filePath("qm6200/journal.sqlite3");
        QFile::remove(path);
        FillJournal(path, 1, 3);
        if (sql == QLatin1String("keyed")) {
            QVERIFY(m_server.Sql("DO $$ BEGIN CREATE ROLE keyed LOGIN PASSWORD 'k3y'; EXCEPTION "
                                 "WHEN duplicate_object THEN NULL; END $$"));
            QVERIFY(m_server.RequirePassword("keyed"));
        } else if (!sql.isEmpty()) {
            QVERIFY(m_server.Sql(sql, nullptr, m_database));
        }
        QStringList arguments{"sync"};
        QString value = conninfo();
        if (setting.startsWith("option:"))
            arguments << "--database" << setting.mid(7);
        else if (setting == QLatin1String("none"))
            value.clear();
        else if (setting.startsWith('"'))
            value = setting;
        else if (!setting.isEmpty())
            value += ' ' + setting;
        WriteLabSetting(value);

        QProcess sync;
        sync.start(Acquire(), arguments);
        QVERIFY(sync.waitForFinished(Patience));
        const QString said = QString::fromUtf8(sync.readAllStandardError());
        QVERIFY2(said.contains(told), qPrintable(said));
        QVERIFY2(!said.contains("secret") && !said.contains("k3y"), qPrintable(said));
        QCOMPARE(sync.exitCode(), status);
        JournalReader reader(path);
        QVERIFY(reader.open());
        QCOMPARE(reader.UnsentCount(), status == 0 ? 0 : 3);
    }

    // The administrator's guide works as written: its schema and roles, made by hand, take a
    // sync through the sender's role, and its example queries run for the reader's and give
    // rows.
    void theAdministratorsGuideRuns()
    {
        const QString guide = QString::fromUtf8(Read(QM6200_SOURCE_DIR "/docs/lab-database.md"));
        QStringList blocks;
        for (const QString& fenced : guide.split("```sql\n").mid(1))
            blocks << fenced.section("```", 0, 0);
        QCOMPARE(blocks.size(), 5); // the schema, the roles, three queries
        QVERIFY(m_server.Sql("DROP DATABASE IF EXISTS lab"));
        QVERIFY(m_server.Sql("CREATE DATABASE lab"));
        for (int i = 0; i < 2; ++i) {
            QString error;
            QVERIFY2(m_server.Sql(blocks[i], &error, "lab"), qPrintable(error));
        }
        const QString path = m_home->filePath("journal.sqlite3");
        FillJournal(path, 1, 60);
        {
            // A watch whose counters rise, a reading a minute.
            JournalWriter writer(path);
            const auto watch = writer.WatchStarted(SampleWatch({"/dev/ttyS4"}));
            for (int k = 0; k < 10; ++k)
                writer.Reading(watch, {0, SampleWatch({}).started.addSecs(60 * k), 0,
                                       ReadingNote::None, false, DataFrame(0, {k, k, k, k, k})});
            writer.WaitUntilWritten();
        }
        QCOMPARE(Sync(path, m_server.ConnInfo("lab", "qm6200_sender")).added, 70);
        for (int i = 2; i < blocks.size(); ++i) {
            QString error;
            const QList<QStringList> rows =
                m_server.Rows("SET ROLE qm6200_reader; " + blocks[i], &error, "lab");
            QVERIFY2(error.isEmpty(), qPrintable(error));
            QVERIFY2(i == 4 || !rows.isEmpty(), qPrintable(blocks[i]));
        }
    }

    // One the server refuses for what it holds (here a rule of the lab's on port names) is
    // told by number and kept, the rest go; "history" marks what the lab's database has not
    // confirmed, and why it refused one. A zero byte in a name goes as \x00, never cut short.
    void aRefusedAcquisitionIsToldAndKept()
    {
        const QString path =
            QDir(qEnvironmentVariable("XDG_DATA_HOME")).filePath("qm6200/journal.sqlite3");
        QFile::remove(path);
        {
            JournalWriter writer(path);
            for (int n = 1; n <= 3; ++n)
                Journal(writer, Sample(n,
                                       n == 2   ? QString("/dev/refuse-me")
                                       : n == 3 ? QString::fromUtf8("/dev/tty\0X", 10)
                                                : QString("/dev/ttyS0"),
                                       1, ".", JournalOutcome::Records));
            writer.WaitUntilWritten();
        }
        WriteLabSetting(conninfo());
        QCOMPARE(Sync(m_home->filePath("none.sqlite3"), conninfo()).problem.fault,
                 LabServer::Fault::None); // the schema, to put the rule on
        QVERIFY(m_server.Sql("ALTER TABLE qm6200.acquisitions ADD CONSTRAINT no_test_ports "
                             "CHECK (port NOT LIKE '%refuse-me%')",
                             nullptr, m_database));
        const auto run = [](const QStringList& arguments, int* status = nullptr) {
            QProcess program;
            program.start(Acquire(), arguments);
            program.waitForFinished(Patience);
            if (status)
                *status = program.exitCode();
            return QString::fromUtf8(program.readAllStandardOutput()
                                     + program.readAllStandardError());
        };
        QCOMPARE(run({"history"}).count("not sent to the lab"), 3);
        int status = 0;
        const QString said = run({"sync"}, &status);
        QCOMPARE(status, 65);
        QVERIFY2(said.contains("refused acquisition 2:"), qPrintable(said));
        QVERIFY2(said.contains("sync: 2 sent, 0 there already, 1 refused, 1 left"),
                 qPrintable(said));
        const QStringList listed = run({"history"}).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(listed.size(), 3);
        QVERIFY2(listed[1].startsWith("2 ") && listed[1].contains("refused by the lab: "),
                 qPrintable(listed[1]));
        QVERIFY(!listed[0].contains("lab") && !listed[2].contains("lab"));
        QCOMPARE(count("SELECT count(*) FROM qm6200.acquisitions WHERE port = '/dev/tty\\x00X'"),
                 1);
    }

    // The option over the user's settings over the lab-wide ones, the first folder that sets
    // it; none set is none.
    void whereTheDatabaseIsSet_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("lab"); // the second of two lab-wide folders
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("setIn"); // "option", "user" or "lab"

        QTest::newRow("the option first") << "dbname=a"
                                          << "dbname=b"
                                          << "dbname=c"
                                          << "dbname=a"
                                          << "option";
        QTest::newRow("the user's over the lab's") << ""
                                                   << "dbname=b"
                                                   << "dbname=c"
                                                   << "dbname=b"
                                                   << "user";
        QTest::newRow("the lab's") << ""
                                   << ""
                                   << "dbname=c"
                                   << "dbname=c"
                                   << "lab";
        QTest::newRow("none") << ""
                              << ""
                              << ""
                              << ""
                              << "";
    }
    void whereTheDatabaseIsSet()
    {
        QFETCH(QString, option);
        QFETCH(QString, user);
        QFETCH(QString, lab);
        QFETCH(QString, found);
        QFETCH(QString, setIn);
        const QString userFolder = m_home->filePath("user");
        QDir().mkpath(userFolder);
        QFile::setPermissions(userFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString userFile = userFolder + "/qm6200.conf";
        QVERIFY(
            Write(userFile, user.isEmpty() ? QByteArray() : "[lab]\ndatabase=" + user.toUtf8()));
        QFile::setPermissions(userFile, QFile::ReadOwner | QFile::WriteOwner);
        const QString labFolder = m_home->filePath("xdg2");
        QDir().mkpath(labFolder + "/qm6200");
        QVERIFY(Write(labFolder + "/qm6200/qm6200.conf",
                      "[other]\nx=1\n[lab]\ndatabase=" + lab.toUtf8() + "\n"));

        const auto got = FindLabDatabase(option, userFile, {m_home->filePath("xdg1"), labFolder});
        QVERIFY2(got, qPrintable(got.Reason()));
        QCOMPARE(got->has_value(), !found.isEmpty());
        if (!found.isEmpty()) {
            QCOMPARE((*got)->conninfo, found);
            const QString where = setIn == "option" ? "--database"
                                  : setIn == "user" ? userFile
                                                    : labFolder + "/qm6200/qm6200.conf";
            QCOMPARE((*got)->setIn, where);
        }
    }

    void cleanup()
    {
        m_home.reset();
        QVERIFY(m_server.Start() || m_server.Ready());
    }

private:
    // [lab] database= in the user's settings; none for an empty value.
    static void WriteLabSetting(const QString& value)
    {
        QVERIFY(WriteSettings(LabSettings(value)));
    }

    QString conninfo() const { return m_server.ConnInfo(m_database); }
    qint64 count(const QString& query) { return Count(m_server, query, m_database); }

    PostgresServer m_server;
    QString m_database;
    int m_cases = 0;
    std::unique_ptr<QTemporaryDir> m_home;
};

QM6200_TEST_GUILESS_MAIN(TestLabSync)
#include "tst_labsync.moc"
