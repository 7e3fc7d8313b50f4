#include "journal/JournalStore.h"

#include "files/OwnFiles.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace qm::journal {

namespace {

// How long a writer waits while another program writes the journal. A commit of a batch
// takes milliseconds; a program holding the journal longer than this is stuck.
constexpr int BusyTimeoutMs = 10000;
// The reader answers a window: it waits less.
constexpr int ReaderBusyTimeoutMs = 2000;
// A journal found damaged again and again is not started anew without end.
constexpr int MaxReplacements = 2;

// The journal and the files SQLite keeps beside it while it is written.
constexpr std::array<const char*, 3> Beside{"", "-wal", "-shm"};

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Why the user's journal has no path.
QString NoPath()
{
    const OwnPath folder = ProgramFolder(UserFolderKind::Data);
    return folder ? QObject::tr("this user has no folder for data") : folder.Reason();
}

// Each of the journal's files absent, or a regular file of the user's own, never a link.
Result<> CheckOwn(const QString& file)
{
    for (const char* beside : Beside) {
        if (Result<> own = CheckOwnFile(file + QLatin1String(beside)); !own)
            return own;
    }
    return {};
}

Error CannotOpen(const QString& why)
{
    return Error{SQLITE_CANTOPEN, 0, why};
}

// WAL mode, which the journal keeps once set.
Result<void, Error> SetWal(sqlite3* db)
{
    const Result<Statement, Error> wal = Prepare(db, "PRAGMA journal_mode = WAL");
    if (!wal)
        return wal.Error();
    if (const auto stepped = Check(db, sqlite3_step(wal->get())); !stepped)
        return stepped.Error();
    const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(wal->get(), 0));
    if (mode == nullptr || std::string_view(mode) != "wal")
        return CannotOpen(QObject::tr("it cannot be put in WAL mode"));
    return {};
}

} // namespace

Result<Connection> OpenToRead(const QString& path, std::span<const std::string_view> statements)
{
    const QString shown = Native(path);
    const auto unreadable = [&](const QString& why) {
        return Failure{QObject::tr("The journal %1 cannot be read (%2).").arg(shown, why)};
    };
    if (path.isEmpty())
        return Failure{QObject::tr("There is no journal: %1").arg(NoPath())};
    const QFileInfo named(path);
    const OwnPath folder = PrepareOwnFolder(named.absolutePath(), false);
    if (!folder)
        return unreadable(folder.Reason());
    const QString file = *folder + QLatin1Char('/') + named.fileName();
    if (folder->isEmpty() || !QFileInfo(file).isFile())
        return Failure{QObject::tr("There is no journal yet (%1).").arg(shown)};
    if (const Result<> own = CheckOwn(file); !own)
        return unreadable(own.Reason());

    Result<Database, Error> db =
        Open(file, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
             ReaderBusyTimeoutMs);
    if (!db)
        return unreadable(db.Error().Reason());
    const Result<VersionFound, Error> version = ReadVersion(db->get(), SchemaVersion());
    if (!version)
        return unreadable(version.Error().Reason());
    switch (version->state) {
    case VersionFound::Newer:
        return Failure{QObject::tr("The journal %1 was written by a newer version of this "
                                   "program, which this one cannot read.")
                           .arg(shown)};
    case VersionFound::New:
        return Failure{QObject::tr("The journal %1 holds no acquisitions yet.").arg(shown)};
    case VersionFound::Older:
        return Failure{QObject::tr("The journal %1 is of an older version of this program; it "
                                   "is brought up to date when this program next journals an "
                                   "acquisition.")
                           .arg(shown)};
    case VersionFound::Damaged:
        return Failure{QObject::tr("The journal %1 is damaged (%2). The next acquisition moves "
                                   "it aside and starts a new one.")
                           .arg(shown, DamagedVersion(version->number).detail)};
    case VersionFound::Current:
        break;
    }
    Result<std::vector<Statement>, Error> prepared = PrepareAll(db->get(), statements);
    if (!prepared)
        return unreadable(prepared.Error().Reason());
    return Connection{std::move(*db), std::move(*prepared)};
}

// Why an attempt gave no journal to write: what went wrong, or a newer program's journal.
struct JournalStore::NotOpened {
    Error error;
    std::optional<int> newer; // the version of a newer program's journal, left as it is
};

JournalStore::JournalStore(const QString& path, std::span<const std::string_view> statements)
    : m_path(path)
    , m_statements(statements)
{
}

QString JournalStore::Path() const
{
    return Native(m_path);
}

Result<std::optional<QString>> JournalStore::Open()
{
    return OpenAfter(std::nullopt);
}

bool JournalStore::MayReplace() const
{
    return m_replacements < MaxReplacements;
}

Result<std::optional<QString>> JournalStore::Replace()
{
    CloseDamaged();
    const Result<std::optional<QString>> moved = MoveAside();
    if (!moved)
        return moved.Error();
    return OpenAfter(*moved);
}

void JournalStore::Close()
{
    m_connection.statements.clear();
    m_connection.db.reset();
}

// `movedAside` tells of a journal moved aside before.
Result<std::optional<QString>> JournalStore::OpenAfter(std::optional<QString> movedAside)
{
    QElapsedTimer busy;
    busy.start();
    for (;;) {
        const Result<void, NotOpened> opened = TryOpen();
        if (opened) {
            if (movedAside)
                *movedAside += QLatin1Char(' ') + QObject::tr("A new journal was started.");
            return movedAside;
        }
        const Error& error = opened.Error().error;
        // Two programs making the journal at once: changing to WAL mode is refused at
        // once rather than waited for while the other holds the file.
        if ((error.code & 0xff) == SQLITE_BUSY && busy.elapsed() < BusyTimeoutMs) {
            Close();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        if (error.IsDamage())
            CloseDamaged();
        Close();
        if (const std::optional<int> newer = opened.Error().newer) {
            return Failure{QObject::tr("The journal %1 was written by a newer version of this "
                                       "program (journal version %2; this one knows up to %3). "
                                       "It is left as it is, and this run keeps no journal.")
                               .arg(Path())
                               .arg(*newer)
                               .arg(SchemaVersion())};
        }
        if (!error.IsDamage() || !MayReplace()) {
            LogError("opening", m_path, error);
            const QString failure =
                QObject::tr("The journal %1 could not be opened (%2), and this run keeps no "
                            "journal.")
                    .arg(Path(), error.Reason());
            return Failure{movedAside ? *movedAside + QLatin1Char(' ') + failure : failure};
        }
        const Result<std::optional<QString>> moved = MoveAside();
        if (!moved)
            return moved.Error();
        if (*moved)
            movedAside = **moved;
    }
}

Result<void, JournalStore::NotOpened> JournalStore::TryOpen()
{
    const auto failed = [](const Error& error) {
        return NotOpened{error, std::nullopt};
    };
    // SQLite would take an empty name for a temporary database of its own.
    if (m_path.isEmpty())
        return failed(CannotOpen(NoPath()));
    // The folder resolved first, so that the journal is opened by a name with no link in it
    // and SQLite is told to follow none: not even a home reached through a link loses its
    // journal, and a link in the journal's place leads nowhere.
    const QFileInfo named(m_path);
    const OwnPath folder = PrepareOwnFolder(named.absolutePath(), true);
    if (!folder || folder->isEmpty())
        return failed(CannotOpen(folder.Reason()));
    m_file = *folder + QLatin1Char('/') + named.fileName();
    if (const Result<> own = CheckOwn(m_file); !own)
        return failed(CannotOpen(own.Reason()));
    // Made here, the user's alone: SQLite gives its files beside it the same rights.
    const QByteArray file = QFile::encodeName(m_file);
    const int made =
        ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (made >= 0) {
        ::fchmod(made, 0600);
        ::close(made);
    }
    Result<Database, Error> db = journal::Open(m_file,
                                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE
                                                   | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                                               BusyTimeoutMs);
    if (!db) {
        Error error = db.Error();
        // SQLite tries again to read a file it may not write; for a journal not there yet
        // that leaves "no such file" as the reason, when the folder is what refused.
        const QByteArray inFolder = QFile::encodeName(*folder);
        if ((error.code & 0xff) == SQLITE_CANTOPEN && !QFileInfo::exists(m_file)
            && ::faccessat(AT_FDCWD, inFolder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
            error.systemError = errno;
        return failed(error);
    }
    m_connection.db = std::move(*db);
    // A journal that may only be read is told before anything is read from it, so that
    // it gets no files beside it.
    if (sqlite3_db_readonly(Db(), "main") == 1)
        return failed(Error{SQLITE_READONLY, 0, {}});
    struct stat opened {};
    m_identity = ::stat(file.constData(), &opened) == 0
                     ? std::make_pair(opened.st_dev, opened.st_ino)
                     : std::make_pair(dev_t(0), ino_t(0));
    return MakeReady();
}

// The journal just opened brought up to date, with the statements prepared.
Result<void, JournalStore::NotOpened> JournalStore::MakeReady()
{
    const auto failed = [](const Error& error) {
        return NotOpened{error, std::nullopt};
    };
    sqlite3* db = Db();
    // Before anything is changed: a newer program's journal is not even put in WAL mode, and
    // one whose version is damaged is moved aside as it is.
    const Result<VersionFound, Error> version = ReadVersion(db, SchemaVersion());
    if (!version)
        return failed(version.Error());
    if (version->state == VersionFound::Damaged)
        return failed(DamagedVersion(version->number));
    if (version->state == VersionFound::Newer)
        return NotOpened{{}, version->number};
    // Readers go on while a writer commits; a commit is on the disk when it returns.
    if (const Result<void, Error> wal = SetWal(db); !wal)
        return failed(wal.Error());
    if (const Result<void, Error> synchronous = Exec(db, "PRAGMA synchronous = FULL"); !synchronous)
        return failed(synchronous.Error());
    // A journal of this version needs nothing written before the first commit.
    if (version->state != VersionFound::Current) {
        const Result<Upgrade, Error> upgrade = UpgradeSchema(db, SchemaSteps());
        if (!upgrade)
            return failed(upgrade.Error());
        if (upgrade->newer)
            return NotOpened{{}, upgrade->found};
    }
    Result<std::vector<Statement>, Error> prepared = PrepareAll(db, m_statements);
    if (!prepared)
        return failed(prepared.Error());
    m_connection.statements = std::move(*prepared);
    return {};
}

// Closes a damaged journal as it is: a connection's close would otherwise fold the log into
// it and delete the log, the very files to be moved aside.
void JournalStore::CloseDamaged()
{
    if (m_connection.db)
        sqlite3_db_config(Db(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    Close();
}

// Moves the damaged journal aside with the files SQLite keeps beside it, under a name that
// says so and when: journal.damaged-2026-12-08T07-30-12Z.sqlite3, and gives what to tell of
// it. Another program that found it damaged too may have done so already; then the journal in
// its place is theirs, new, and stays, and there is nothing to tell. A failure: it could not
// be moved, and the run does without.
Result<std::optional<QString>> JournalStore::MoveAside()
{
    ++m_replacements;
    const QByteArray name = QFile::encodeName(m_file);
    struct stat now {};
    if (::stat(name.constData(), &now) != 0 || std::make_pair(now.st_dev, now.st_ino) != m_identity)
        return std::optional<QString>();
    const QFileInfo journal(m_file);
    const QString stamp =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd'T'HH-mm-ss'Z'"));
    const QString suffix =
        journal.suffix().isEmpty() ? QString() : QLatin1Char('.') + journal.suffix();
    const auto taken = [](const QString& path) {
        for (const char* beside : Beside) {
            if (QFileInfo::exists(path + QLatin1String(beside)))
                return true;
        }
        return false;
    };
    QString aside;
    for (int n = 1; aside.isEmpty() || taken(aside); ++n) {
        aside =
            journal.dir().filePath(journal.completeBaseName() + QStringLiteral(".damaged-") + stamp
                                   + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) + suffix);
    }
    for (const char* beside : Beside) {
        const QByteArray from = name + beside;
        const QByteArray to = QFile::encodeName(aside) + beside;
        if (::rename(from.constData(), to.constData()) == 0 || *beside != '\0')
            continue;
        return Failure{QObject::tr("The journal %1 is damaged and could not be moved aside to %2 "
                                   "(%3), and this run keeps no journal.")
                           .arg(Path(), Native(aside), qt_error_string(errno))};
    }
    return std::optional<QString>(
        QObject::tr("The journal %1 was damaged; it was moved aside to %2.")
            .arg(Path(), Native(aside)));
}

} // namespace qm::journal
