// The PostgreSQL server the lab's tests start for themselves (tests/support/PostgresServer.h):
// it answers, keeps its data over a stop and a start, asks a role for its password once told
// to, and goes with the test program even when that is killed.

#include "tests/support/PostgresServer.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace qm::test;

namespace {

// Set in the copy of this program that the kill case starts.
constexpr char UntilKilled[] = "QM6200_LABSERVER_UNTIL_KILLED";

// How a connection goes: "connected", "password asked", or what libpq says.
QString Connection(const QString& client)
{
    PGconn* connection = PQconnectdb(client.toUtf8().constData());
    const QString outcome = PQstatus(connection) == CONNECTION_OK ? "connected"
                            : PQconnectionNeedsPassword(connection)
                                ? "password asked"
                                : QString::fromUtf8(PQerrorMessage(connection));
    PQfinish(connection);
    return outcome;
}

// The fields of /proc/PID/stat after the name ("state parent ..."), which may hold anything up
// to the last ')'; none once the process is gone.
QList<QByteArray> Stat(const QString& pid)
{
    QFile stat("/proc/" + pid + "/stat");
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray line = stat.readAll();
    return line.mid(line.lastIndexOf(')') + 2).split(' ');
}

// The server's processes: its main one and that one's children.
QStringList ServerProcesses(qint64 server)
{
    QStringList found{QString::number(server)};
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const QList<QByteArray> fields = Stat(entry);
        if (fields.size() > 1 && fields[1].toLongLong() == server)
            found << entry;
    }
    return found;
}

// Whether any of `processes` is alive. A zombie is not: once its parent has gone, nothing may
// be left to reap it.
bool AnyLives(const QStringList& processes)
{
    return std::any_of(processes.begin(), processes.end(), [](const QString& pid) {
        const QList<QByteArray> fields = Stat(pid);
        return !fields.isEmpty() && fields[0] != "Z" && fields[0] != "X";
    });
}

} // namespace

class TestLabServer : public QObject {
    Q_OBJECT

    std::unique_ptr<PostgresServer> m_server;

private slots:
    void initTestCase()
    {
        m_server = std::make_unique<PostgresServer>();
        QVERIFY2(m_server->Ready(), qPrintable(m_server->Problem()));
        if (qEnvironmentVariableIsSet(UntilKilled)) {
            // The copy the kill case starts: it names its server, then waits to be killed.
            std::fputs("postmaster " + QByteArray::number(m_server->ProcessId()) + '\n', stdout);
            std::fflush(stdout);
            for (;;)
                ::pause();
        }
    }

    void aQueryRunsAndAFailureSaysWhy()
    {
        QString error;
        QCOMPARE(m_server->Rows("SELECT 6 * 7, current_setting('server_encoding')", &error),
                 (QList<QStringList>{{"42", "UTF8"}}));
        QVERIFY(error.isEmpty());
        QVERIFY(!m_server->Sql("SELECT n FROM nowhere", &error));
        QVERIFY2(error.contains("\"nowhere\" does not exist"), qPrintable(error));
    }

    void dataOutlastsAStopAndAStart()
    {
        QVERIFY(m_server->Sql("CREATE TABLE kept (n integer); INSERT INTO kept VALUES (7)"));
        m_server->Stop();
        QVERIFY(!m_server->Ready());
        QVERIFY(!m_server->Sql("SELECT 1"));
        QVERIFY2(m_server->Start(), qPrintable(m_server->Problem()));
        QCOMPARE(m_server->Rows("SELECT n FROM kept"), (QList<QStringList>{{"7"}}));
    }

    // The role told to give its password is refused without one and let in with the one in
    // the password file PGPASSFILE names, in the test's own home; the others still need none.
    void aRoleToldToGiveItsPasswordIsAskedForIt()
    {
        QVERIFY(m_server->Sql("CREATE ROLE keeper LOGIN PASSWORD 'secret'"));
        QCOMPARE(Connection(m_server->ConnInfo("postgres", "keeper")), "connected");
        QVERIFY(m_server->RequirePassword("keeper"));
        const QString passwords = QDir::homePath() + "/.pgpass";
        qputenv("PGPASSFILE", QFile::encodeName(passwords));
        const auto unset = qScopeGuard([] { qunsetenv("PGPASSFILE"); });
        QCOMPARE(Connection(m_server->ConnInfo("postgres", "keeper")), "password asked");

        // libpq passes over a password file that others may read.
        QFile file(passwords);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("*:*:*:keeper:secret\n");
        file.close();
        QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(Connection(m_server->ConnInfo("postgres", "keeper")), "connected");
        QCOMPARE(Connection(m_server->ConnInfo()), "connected");
    }

    // A copy of this program starts a server of its own and is killed with SIGKILL: every
    // process of that server ends by itself.
    void aKilledProgramLeavesNoServerBehind()
    {
        // The copy makes its home and its server's folder in here, since a killed program
        // removes neither. As root, its server runs as nobody and must pass through.
        QTemporaryDir temporary;
        QVERIFY(QFile::setPermissions(temporary.path(), QFile::ReadOwner | QFile::WriteOwner
                                                            | QFile::ExeOwner | QFile::ExeGroup
                                                            | QFile::ExeOther));
        QProcess copy;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(UntilKilled, "1");
        environment.insert("TMPDIR", temporary.path());
        copy.setProcessEnvironment(environment);
        copy.start(QCoreApplication::applicationFilePath(), {});

        const QRegularExpression named("^postmaster (\\d+)$", QRegularExpression::MultilineOption);
        QByteArray said;
        qint64 server = 0;
        for (QDeadlineTimer deadline(30000);
             server == 0 && copy.waitForReadyRead(int(deadline.remainingTime()));) {
            said += copy.readAllStandardOutput();
            server = named.match(QString::fromUtf8(said)).captured(1).toLongLong();
        }
        QVERIFY2(server > 0, said.constData());
        // The main process and the ones it starts at once (the checkpointer and the
        // background writer among them), each in a session of its own.
        const QStringList processes = ServerProcesses(server);
        QVERIFY2(processes.size() > 1, qPrintable(processes.join(' ')));
        QVERIFY(AnyLives(processes));

        ::kill(pid_t(copy.processId()), SIGKILL);
        QVERIFY(copy.waitForFinished());
        QTRY_VERIFY_WITH_TIMEOUT(!AnyLives(processes), 10000);
    }
};

QM6200_TEST_GUILESS_MAIN(TestLabServer)
#include "tst_labserver.moc"
