#pragma once

// A PostgreSQL server of the test program's own, in a temporary folder: its cluster made by
// initdb, reached through a socket in that folder alone (it listens on no TCP port), every
// local user let in without a password but the roles told to give one. It is quick rather
// than safe: nothing waits for the disk. It stops when the rig goes, and dies with the test
// program however that ends, killed or crashed: the kernel kills it when its parent goes.
//
// initdb and the server refuse to run as root. As root (CI), they run as the user nobody,
// in a folder of nobody's, which root reaches all the same; as any other user, as that user.
// The user is changed in the child between fork and exec rather than by a program such as
// setpriv: a change of user clears the signal asked for at the parent's death, so it is
// asked for after the change.
//
// The kernel ties that signal to the thread that started the server, not to the process:
// the rig belongs to the thread that lives as long as the test, the main one.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <csignal>
#include <grp.h>
#include <libpq-fe.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace qm::test {

class PostgresServer {
public:
    // The superuser initdb makes. The server listens on no TCP port: the port's number only
    // names its socket in the folder, so any will do.
    static QString Superuser() { return QStringLiteral("postgres"); }
    static constexpr int Port = 5432;

    // Makes the cluster and starts the server: Ready() tells whether it did, Problem() why
    // not.
    PostgresServer()
    {
        if (!m_folder.isValid()) {
            m_problem = QStringLiteral("no temporary folder: ") + m_folder.errorString();
            return;
        }
        m_path = m_folder.path();
        if (m_asNobody && ::chown(QFile::encodeName(m_path).constData(), Nobody, Nobody) != 0) {
            m_problem = QStringLiteral("the folder could not be given to the user nobody");
            return;
        }
        m_programs = ServerPrograms();
        if (m_programs.isEmpty()) {
            m_problem = QStringLiteral("PostgreSQL's server (initdb, postgres) is not installed: "
                                       "tools/deps.sh postgres installs it");
            return;
        }
        QProcess initdb;
        Prepare(initdb, QStringLiteral("initdb.log"));
        initdb.start(m_programs + QStringLiteral("/initdb"),
                     {QStringLiteral("-D"), m_path + QStringLiteral("/data"), QStringLiteral("-U"),
                      Superuser(), QStringLiteral("--auth-local=trust"),
                      QStringLiteral("--auth-host=reject"), QStringLiteral("-E"),
                      QStringLiteral("UTF8"), QStringLiteral("--no-locale"),
                      QStringLiteral("--no-sync"), QStringLiteral("--no-instructions")});
        if (!initdb.waitForFinished(60000) || initdb.exitStatus() != QProcess::NormalExit
            || initdb.exitCode() != 0) {
            m_problem = QStringLiteral("initdb failed") + LogTail(QStringLiteral("initdb.log"));
            return;
        }
        m_made = true;
        Start();
    }

    ~PostgresServer() { Stop(); }
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    bool Ready() const { return m_ready; }
    QString Problem() const { return m_problem; }
    // The server's main process while it runs (0 otherwise). Its other processes are its
    // children, each in a session of its own, and end when they find it gone.
    qint64 ProcessId() const { return m_server.processId(); }

    // libpq's keywords that reach `database` as `user` on this server.
    QString ConnInfo(const QString& database = QStringLiteral("postgres"),
                     const QString& user = Superuser()) const
    {
        return QStringLiteral("host=%1 port=%2 dbname=%3 user=%4")
            .arg(Quoted(m_path), QString::number(Port), Quoted(database), Quoted(user));
    }

    // Runs `statements` as the superuser in `database`, all in one transaction as the
    // server takes one text: CREATE DATABASE, which may not be in one, goes in a call of its
    // own.
    bool Sql(const QString& statements, QString* error = nullptr,
             const QString& database = QStringLiteral("postgres")) const
    {
        return Run(statements, database, error, nullptr);
    }

    // The rows `query` gives, as the superuser in `database`, each field as text (empty for
    // NULL); none after an error.
    QList<QStringList> Rows(const QString& query, QString* error = nullptr,
                            const QString& database = QStringLiteral("postgres")) const
    {
        QList<QStringList> rows;
        Run(query, database, error, &rows);
        return rows;
    }

    // Starts the server on the cluster as it was left, and waits until it lets clients in
    // (half a minute at the most).
    bool Start()
    {
        if (m_ready || !m_made)
            return m_ready;
        m_problem.clear();
        Prepare(m_server, QStringLiteral("server.log"));
        m_server.start(
            m_programs + QStringLiteral("/postgres"),
            {QStringLiteral("-D"), m_path + QStringLiteral("/data"), QStringLiteral("-k"), m_path,
             QStringLiteral("-c"), QStringLiteral("listen_addresses="), QStringLiteral("-c"),
             QStringLiteral("port=%1").arg(Port), QStringLiteral("-c"), QStringLiteral("fsync=off"),
             QStringLiteral("-c"), QStringLiteral("full_page_writes=off"), QStringLiteral("-c"),
             QStringLiteral("synchronous_commit=off")});
        if (!m_server.waitForStarted()) {
            m_problem = QStringLiteral("the server did not start: ") + m_server.errorString();
            return false;
        }
        const QByteArray client = ConnInfo().toUtf8();
        for (QDeadlineTimer deadline(30000); !deadline.hasExpired();) {
            const PGPing ping = PQping(client.constData());
            if (ping == PQPING_OK) {
                m_ready = true;
                return true;
            }
            // A moment's wait, which also learns whether the server has ended.
            if (ping == PQPING_NO_ATTEMPT || m_server.waitForFinished(10))
                break;
        }
        m_problem =
            QStringLiteral("the server did not come up") + LogTail(QStringLiteral("server.log"));
        Stop();
        return false;
    }

    // A fast shutdown: the server ends every session, writes what it holds and stops. One
    // that has not within ten seconds is killed, and its other processes end by themselves.
    void Stop()
    {
        m_ready = false;
        if (m_server.state() == QProcess::NotRunning)
            return;
        const auto pid = pid_t(m_server.processId());
        ::kill(pid, SIGINT);
        if (!m_server.waitForFinished(10000)) {
            ::kill(pid, SIGKILL);
            m_server.waitForFinished();
        }
    }

    // From now on `role` gives its password when it connects (SCRAM), whatever the other
    // rules say: its rule goes first. A running server reads the rules again, and this
    // returns once new connections follow them.
    bool RequirePassword(const QString& role)
    {
        // Written over in place, so that the file stays the server's own when root writes it.
        QFile rules(m_path + QStringLiteral("/data/pg_hba.conf"));
        if (!rules.open(QIODevice::ReadWrite))
            return false;
        const QByteArray others = rules.readAll();
        const QByteArray all = "local all " + role.toUtf8() + " scram-sha-256\n" + others;
        if (!rules.seek(0) || rules.write(all) != all.size())
            return false;
        rules.close();
        return !m_ready || Reload();
    }

private:
    static constexpr uid_t Nobody = 65534;

    // The folder holding initdb and postgres: pg_config's (Debian's prints the server's
    // folder even from the client's package), else Debian's for version 15.
    static QString ServerPrograms()
    {
        QStringList folders;
        QProcess config;
        config.start(QStringLiteral("pg_config"), {QStringLiteral("--bindir")});
        if (config.waitForFinished(10000) && config.exitStatus() == QProcess::NormalExit
            && config.exitCode() == 0)
            folders << QString::fromLocal8Bit(config.readAllStandardOutput()).trimmed();
        folders << QStringLiteral("/usr/lib/postgresql/15/bin");
        for (const QString& folder : folders) {
            if (QFileInfo(folder + QStringLiteral("/initdb")).isExecutable()
                && QFileInfo(folder + QStringLiteral("/postgres")).isExecutable())
                return folder;
        }
        return {};
    }

    // A value for libpq's keywords, quoted as it reads them.
    static QString Quoted(QString value)
    {
        value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
        value.replace(QLatin1Char('\''), QStringLiteral("\\'"));
        return QLatin1Char('\'') + value + QLatin1Char('\'');
    }

    // In the child between fork and exec, with only the calls that are safe there: no signal
    // held back (whatever the test holds back for itself), the user nobody when the test is
    // root, and then SIGKILL when its parent goes. A parent gone before that was asked for
    // ends it at once.
    static void BecomeServer(bool asNobody, pid_t parent)
    {
        sigset_t none;
        sigemptyset(&none);
        pthread_sigmask(SIG_SETMASK, &none, nullptr);
        if (asNobody
            && (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)) {
            static const char message[] = "could not become the user nobody (65534)\n";
            [[maybe_unused]] const ssize_t written = ::write(2, message, sizeof message - 1);
            ::_exit(127);
        }
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
    }

    // Both programs run in the folder with their output appended to `log` there, with their
    // messages in English, as the server's user.
    void Prepare(QProcess& process, const QString& log) const
    {
        const QString path = m_path + QLatin1Char('/') + log;
        process.setWorkingDirectory(m_path);
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(path, QIODevice::Append);
        process.setStandardErrorFile(path, QIODevice::Append);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
        process.setProcessEnvironment(environment);
        const bool asNobody = m_asNobody;
        const pid_t parent = ::getpid();
        process.setChildProcessModifier([asNobody, parent] { BecomeServer(asNobody, parent); });
    }

    // The end of `log`, for a problem.
    QString LogTail(const QString& log) const
    {
        QFile file(m_path + QLatin1Char('/') + log);
        if (!file.open(QIODevice::ReadOnly))
            return QStringLiteral(" (no log)");
        const QStringList lines =
            QString::fromLocal8Bit(file.readAll()).trimmed().split(QLatin1Char('\n'));
        return QStringLiteral("; the end of %1:\n").arg(file.fileName())
               + lines.mid(qMax(0, lines.size() - 20)).join(QLatin1Char('\n'));
    }

    bool Run(const QString& sql, const QString& database, QString* error,
             QList<QStringList>* rows) const
    {
        const QByteArray client =
            (ConnInfo(database) + QStringLiteral(" client_encoding=UTF8")).toUtf8();
        PGconn* connection = PQconnectdb(client.constData());
        bool done = PQstatus(connection) == CONNECTION_OK;
        if (done) {
            PGresult* result = PQexec(connection, sql.toUtf8().constData());
            const ExecStatusType status = PQresultStatus(result);
            done = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
            for (int row = 0; done && rows && row < PQntuples(result); ++row) {
                QStringList fields;
                for (int field = 0; field < PQnfields(result); ++field)
                    fields << QString::fromUtf8(PQgetvalue(result, row, field));
                *rows << fields;
            }
            PQclear(result);
        }
        if (error && done)
            error->clear();
        else if (error)
            *error = QString::fromUtf8(PQerrorMessage(connection)).trimmed();
        PQfinish(connection);
        return done;
    }

    // Once a new connection sees the rules read at a later time than before, new connections
    // follow them.
    bool Reload()
    {
        const QString loaded = QStringLiteral("SELECT pg_conf_load_time()");
        const QList<QStringList> before = Rows(loaded);
        if (before.isEmpty() || !Sql(QStringLiteral("SELECT pg_reload_conf()")))
            return false;
        for (QDeadlineTimer deadline(10000); !deadline.hasExpired();) {
            const QList<QStringList> now = Rows(loaded);
            if (!now.isEmpty() && now != before)
                return true;
            if (m_server.waitForFinished(10))
                break;
        }
        return false;
    }

    QTemporaryDir m_folder{QDir::tempPath() + QStringLiteral("/qm6200-pg-XXXXXX")};
    QString m_path;
    const bool m_asNobody = ::geteuid() == 0;
    QString m_programs;
    bool m_made = false;
    bool m_ready = false;
    QString m_problem;
    QProcess m_server; // after the folder, so that it has stopped before the folder goes
};

} // namespace qm::test
