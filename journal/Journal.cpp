#include "journal/Journal.h"

#include "files/OwnFiles.h"
#include "journal/JournalDatabase.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sqlite3.h>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <variant>

namespace qm {

namespace {

using namespace journal;

// Diagnostics for maintainers: what the operator is told through Failed, and what could not
// be told because a message had already been given.
Q_LOGGING_CATEGORY(lcJournal, "qm6200.journal", QtCriticalMsg)

// How long the journal's thread gathers what comes after the first of a batch before it
// commits them together: short enough that, with the commit, a record is on the disk within a
// second of reaching the program; long enough that an answer arriving at 9600 baud costs a
// durable commit less than twice a second, each a wait for the disk.
constexpr std::chrono::milliseconds Gather{600};
// How long a writer waits while another program writes the journal. A commit of a batch
// takes milliseconds; a program holding the journal longer than this is stuck.
constexpr int BusyTimeoutMs = 10000;
// The reader answers a window: it waits less.
constexpr int ReaderBusyTimeoutMs = 2000;
// A journal found damaged again and again is not started anew without end.
constexpr int MaxReplacements = 2;

struct BytesEvent {
    QByteArray bytes;
};
struct RecordEvent {
    int place = 0;
    JournalCells cells;
};
struct EndEvent {
    JournalOutcome outcome = JournalOutcome::Pending;
};
struct ForgetEvent {};
// What the caller handed over, in the order it came, each for the acquisition it names (the
// writer's own number for it). Bytes are the run of bytes received between two other events
// of the same acquisition.
struct Event {
    JournalWriter::Acquisition acquisition = 0;
    std::variant<JournalCommand, BytesEvent, RecordEvent, EndEvent, ForgetEvent> what;
};

// How an outcome is stored: words that stay the same whatever the enumeration's order and
// whatever language the history is shown in.
struct OutcomeKeyword {
    JournalOutcome outcome;
    std::string_view keyword;
};
constexpr std::array<OutcomeKeyword, 10> OutcomeKeywords{{
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

std::string_view Keyword(JournalOutcome outcome)
{
    for (const auto& [known, keyword] : OutcomeKeywords) {
        if (known == outcome)
            return keyword;
    }
    return "pending";
}

// An outcome a later version added reads as not over.
JournalOutcome OutcomeOf(std::string_view keyword)
{
    for (const auto& [outcome, known] : OutcomeKeywords) {
        if (known == keyword)
            return outcome;
    }
    return JournalOutcome::Pending;
}

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Binding: SQLITE_STATIC throughout, the values outlive each statement's step.
void BindBytes(sqlite3_stmt* statement, int index, const char* data, std::size_t size)
{
    // A null pointer would store NULL rather than an empty blob: a blank cell is a cell.
    sqlite3_bind_blob64(statement, index, size == 0 ? "" : data, size, SQLITE_STATIC);
}

void BindBytes(sqlite3_stmt* statement, int index, const QByteArray& bytes)
{
    BindBytes(statement, index, bytes.constData(), std::size_t(bytes.size()));
}

void BindText(sqlite3_stmt* statement, int index, const QByteArray& utf8)
{
    sqlite3_bind_text64(statement, index, utf8.constData(), std::size_t(utf8.size()), SQLITE_STATIC,
                        SQLITE_UTF8);
}

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

} // namespace

QString DefaultJournalPath()
{
    const OwnPath folder = ProgramFolder(UserFolderKind::Data);
    return folder.path.isEmpty() ? QString() : folder.path + QStringLiteral("/journal.sqlite3");
}

JournalOutcome JournalOutcomeOf(AnswerEnd end, const AnswerTally& tally, bool clearCommand)
{
    switch (end) {
    case AnswerEnd::NotSent:
        return JournalOutcome::NotSent;
    case AnswerEnd::Lost:
        return JournalOutcome::LostLine;
    case AnswerEnd::Stopped:
        return JournalOutcome::Stopped;
    case AnswerEnd::NoAnswer:
    case AnswerEnd::TimedOut:
        return JournalOutcome::NoAnswer;
    case AnswerEnd::CutShort:
        return JournalOutcome::CutShort;
    case AnswerEnd::Complete:
        break;
    }
    if (tally.errorReplies > 0)
        return JournalOutcome::ErrorReply;
    if (tally.records > 0)
        return JournalOutcome::Records;
    if (tally.accepted > 0)
        return clearCommand ? JournalOutcome::Cleared : JournalOutcome::Accepted;
    // Only what belongs to no frame came.
    return JournalOutcome::NoAnswer;
}

QString JournalOutcomeText(JournalOutcome outcome)
{
    switch (outcome) {
    case JournalOutcome::Pending:
        return QObject::tr("pending");
    case JournalOutcome::Records:
        return QObject::tr("records");
    case JournalOutcome::Accepted:
        return QObject::tr("accepted");
    case JournalOutcome::Cleared:
        return QObject::tr("cleared");
    case JournalOutcome::ErrorReply:
        return QObject::tr("error reply");
    case JournalOutcome::NoAnswer:
        return QObject::tr("no answer");
    case JournalOutcome::CutShort:
        return QObject::tr("cut short");
    case JournalOutcome::NotSent:
        return QObject::tr("not sent");
    case JournalOutcome::LostLine:
        return QObject::tr("lost line");
    case JournalOutcome::Stopped:
        return QObject::tr("stopped");
    }
    return {};
}

// The writer's two sides. The caller's hands each event over as it comes. The journal's
// thread has the connection and what it knows of the acquisition under way. Between them,
// under the mutex: the events waiting, how far the commits have come, and the one message for
// the caller.
class JournalWriter::Worker {
public:
    Worker(JournalWriter* writer, const QString& path)
        : m_writer(writer)
        , m_path(path)
    {
        m_thread = std::thread([this] { Run(); });
    }

    ~Worker()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    // The caller's side: each event goes to the journal's thread as it is handed over, so that
    // nothing received waits on the caller's thread, which may be busy or stuck afterwards.
    void Hand(Event&& event)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (m_gaveUp)
                return;
            m_queue.push_back(std::move(event));
            ++m_handed;
            if (m_queue.size() > 1)
                return;
        }
        m_wake.notify_one();
    }

    // Bytes join the bytes of the same acquisition handed over just before them: one event
    // for a run of them.
    void HandBytes(JournalWriter::Acquisition acquisition, const QByteArray& bytes)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (m_gaveUp)
                return;
            ++m_handed;
            if (!m_queue.empty() && m_queue.back().acquisition == acquisition) {
                if (auto* run = std::get_if<BytesEvent>(&m_queue.back().what)) {
                    run->bytes.append(bytes);
                    return;
                }
            }
            m_queue.push_back(Event{acquisition, BytesEvent{bytes}});
            if (m_queue.size() > 1)
                return;
        }
        m_wake.notify_one();
    }

    // What is waiting is committed now, without gathering more.
    void Hurry()
    {
        {
            const std::lock_guard lock(m_mutex);
            if (m_queue.empty())
                return;
            m_hurry = true;
        }
        m_wake.notify_one();
    }

    void WaitUntilWritten()
    {
        Hurry();
        std::unique_lock lock(m_mutex);
        const quint64 target = m_handed;
        m_written.wait(lock, [&] { return m_done >= target; });
    }

    // The message for the caller, once.
    std::optional<QString> TakeMessage()
    {
        const std::lock_guard lock(m_mutex);
        if (m_message.isEmpty() || m_messageTaken)
            return std::nullopt;
        m_messageTaken = true;
        return m_message;
    }

private:
    enum class Opened { Ready, Newer, Failed };
    // An acquisition under way: its command, and its number in the journal open now (0 when
    // it has none there yet, as after a damaged journal was replaced).
    struct Current {
        JournalCommand command;
        qint64 number = 0;
    };

    // The journal's thread from here on.
    void Run()
    {
        bool writing = Open();
        std::vector<Event> batch;
        for (;;) {
            quint64 upTo = 0;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return !m_queue.empty() || m_stopping; });
                if (m_queue.empty())
                    break;
                // What follows the first event in the next moments goes in the same commit.
                m_wake.wait_for(lock, Gather, [&] { return m_hurry || m_stopping; });
                m_hurry = false;
                batch.swap(m_queue);
                upTo = m_handed;
            }
            if (writing)
                writing = Write(batch);
            batch.clear();
            {
                const std::lock_guard lock(m_mutex);
                m_done = upTo;
            }
            m_written.notify_all();
        }
        Close();
    }

    // The one message for the caller: the first; later ones only for maintainers.
    void Tell(const QString& message)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_message.isEmpty()) {
                qCWarning(lcJournal).noquote() << "not told, a message was given:" << message;
                return;
            }
            m_message = message;
        }
        qCWarning(lcJournal).noquote() << message;
        JournalWriter* writer = m_writer;
        QMetaObject::invokeMethod(
            writer, [writer] { writer->ReportFailure(); }, Qt::QueuedConnection);
    }

    // From here on the run does without the journal: what comes is dropped as it is handed
    // over.
    void GiveUp(const QString& message)
    {
        Tell(message);
        Close();
        const std::lock_guard lock(m_mutex);
        m_gaveUp = true;
    }

    QString Path() const { return Native(m_path); }

    // SQLite's own words, for maintainers.
    void LogError(const char* doing, const Error& error) const
    {
        qCWarning(lcJournal).noquote() << doing << Path() << "failed:" << error.detail << "(code"
                                       << error.code << "errno" << error.systemError << ")";
    }

    QString NewerMessage(int found) const
    {
        return QObject::tr("The journal %1 was written by a newer version of this program "
                           "(journal version %2; this one knows up to %3). It is left as it "
                           "is, and this run keeps no journal.")
            .arg(Path())
            .arg(found)
            .arg(SchemaVersion());
    }

    // The journal opened, brought up to date and ready to write; a damaged one moved aside
    // and a new one started. False when the run does without it. `movedAside` tells of a
    // journal moved aside before.
    bool Open(QString movedAside = {})
    {
        QElapsedTimer busy;
        busy.start();
        for (;;) {
            Error error;
            int found = 0;
            const Opened opened = TryOpen(&error, &found);
            if (opened == Opened::Ready) {
                if (!movedAside.isEmpty())
                    Tell(movedAside + QLatin1Char(' ') + QObject::tr("A new journal was started."));
                return true;
            }
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
            if (opened == Opened::Newer) {
                GiveUp(NewerMessage(found));
                return false;
            }
            if (!error.IsDamage() || m_replacements >= MaxReplacements) {
                LogError("opening", error);
                const QString failure =
                    QObject::tr("The journal %1 could not be opened (%2), and this run keeps no "
                                "journal.")
                        .arg(Path(), error.Reason());
                GiveUp(movedAside.isEmpty() ? failure : movedAside + QLatin1Char(' ') + failure);
                return false;
            }
            if (!MoveAside(&movedAside))
                return false;
        }
    }

    Opened TryOpen(Error* error, int* found)
    {
        // SQLite would take an empty name for a temporary database of its own.
        if (m_path.isEmpty()) {
            const QString why = ProgramFolder(UserFolderKind::Data).problem;
            *error = Error{SQLITE_CANTOPEN, 0,
                           why.isEmpty() ? QObject::tr("this user has no folder for data") : why};
            return Opened::Failed;
        }
        // The folder resolved first, so that the journal is opened by a name with no link in it
        // and SQLite is told to follow none: not even a home reached through a link loses its
        // journal, and a link in the journal's place leads nowhere.
        const QFileInfo named(m_path);
        const OwnPath folder = PrepareOwnFolder(named.absolutePath(), true);
        if (folder.path.isEmpty()) {
            *error = Error{SQLITE_CANTOPEN, 0, folder.problem};
            return Opened::Failed;
        }
        m_file = folder.path + QLatin1Char('/') + named.fileName();
        for (const char* beside : {"", "-wal", "-shm"}) {
            if (const QString why = CheckOwnFile(m_file + QLatin1String(beside)); !why.isEmpty()) {
                *error = Error{SQLITE_CANTOPEN, 0, why};
                return Opened::Failed;
            }
        }
        // Made here, the user's alone: SQLite gives its files beside it the same rights.
        const QByteArray file = QFile::encodeName(m_file);
        const int made =
            ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (made >= 0) {
            ::fchmod(made, 0600);
            ::close(made);
        }
        m_db = journal::Open(m_file,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX
                                 | SQLITE_OPEN_NOFOLLOW,
                             BusyTimeoutMs, error);
        if (*error) {
            // SQLite tries again to read a file it may not write; for a journal not there yet
            // that leaves "no such file" as the reason, when the folder is what refused.
            const QByteArray inFolder = QFile::encodeName(folder.path);
            if ((error->code & 0xff) == SQLITE_CANTOPEN && !QFileInfo::exists(m_file)
                && ::faccessat(AT_FDCWD, inFolder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
                error->systemError = errno;
            return Opened::Failed;
        }
        // A journal that may only be read is told before anything is read from it, so that
        // it gets no files beside it.
        if (sqlite3_db_readonly(m_db.get(), "main") == 1) {
            *error = Error{SQLITE_READONLY, 0, {}};
            return Opened::Failed;
        }
        struct stat opened {};
        m_identity = ::stat(file.constData(), &opened) == 0
                         ? std::make_pair(opened.st_dev, opened.st_ino)
                         : std::make_pair(dev_t(0), ino_t(0));
        sqlite3* db = m_db.get();
        // Before anything is changed: a newer program's journal is not even put in WAL mode, and
        // one whose version is damaged is moved aside as it is.
        const VersionFound version = ReadVersion(db, SchemaVersion(), error);
        *found = version.number;
        if (*error)
            return Opened::Failed;
        if (version.state == VersionFound::Damaged) {
            *error = DamagedVersion(version.number);
            return Opened::Failed;
        }
        if (version.state == VersionFound::Newer)
            return Opened::Newer;
        // Readers go on while a writer commits; a commit is on the disk when it returns.
        if (!SetWal(db, error))
            return Opened::Failed;
        *error = Exec(db, "PRAGMA synchronous = FULL");
        if (*error)
            return Opened::Failed;
        const Upgrade upgrade = UpgradeSchema(db, SchemaSteps());
        *found = upgrade.found;
        if (upgrade.state == Upgrade::Newer)
            return Opened::Newer;
        *error = upgrade.error;
        if (*error)
            return Opened::Failed;
        m_insertAcquisition = Prepare(db,
                                      "INSERT INTO acquisitions (sent, port, stable_name, "
                                      "program, version, command) VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
                                      error);
        if (!*error)
            m_insertReply = Prepare(db,
                                    "INSERT INTO replies (acquisition, part, bytes) VALUES (?1, "
                                    "(SELECT count(*) FROM replies WHERE acquisition = ?1), ?2)",
                                    error);
        if (!*error)
            m_insertRecord = Prepare(db,
                                     "INSERT OR REPLACE INTO records (acquisition, place, "
                                     "record_no, cntr1, cntr2, cntr3, cntr4, cntr5, total) VALUES "
                                     "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
                                     error);
        if (!*error)
            m_countRecords = Prepare(db,
                                     "UPDATE acquisitions SET records = (SELECT count(*) FROM "
                                     "records WHERE acquisition = ?1) WHERE number = ?1",
                                     error);
        if (!*error)
            m_setOutcome =
                Prepare(db, "UPDATE acquisitions SET outcome = ?2 WHERE number = ?1", error);
        return *error ? Opened::Failed : Opened::Ready;
    }

    // WAL mode, which the journal keeps once set; false, with the error, when it cannot be.
    static bool SetWal(sqlite3* db, Error* error)
    {
        const Statement wal = Prepare(db, "PRAGMA journal_mode = WAL", error);
        if (*error)
            return false;
        const int code = sqlite3_step(wal.get());
        *error = LastError(db, code);
        if (*error)
            return false;
        const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(wal.get(), 0));
        if (mode == nullptr || std::string_view(mode) != "wal")
            *error = Error{SQLITE_CANTOPEN, 0, QObject::tr("it cannot be put in WAL mode")};
        return !*error;
    }

    void Close()
    {
        m_insertAcquisition.reset();
        m_insertReply.reset();
        m_insertRecord.reset();
        m_countRecords.reset();
        m_setOutcome.reset();
        m_db.reset();
    }

    // Closes a damaged journal as it is: a connection's close would otherwise fold the log
    // into it and delete the log, the very files to be moved aside.
    void CloseDamaged()
    {
        if (m_db)
            sqlite3_db_config(m_db.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        Close();
    }

    // Moves the damaged journal aside with the files SQLite keeps beside it, under a name
    // that says so and when: journal.damaged-2026-12-08T07-30-12Z.sqlite3. Another program
    // that found it damaged too may have done so already; then the journal in its place is
    // theirs, new, and stays. False when it could not be moved: the run does without.
    bool MoveAside(QString* told)
    {
        ++m_replacements;
        const QByteArray name = QFile::encodeName(m_file);
        struct stat now {};
        if (::stat(name.constData(), &now) != 0
            || std::make_pair(now.st_dev, now.st_ino) != m_identity)
            return true;
        const QFileInfo journal(m_file);
        const QString stamp =
            QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd'T'HH-mm-ss'Z'"));
        const QString suffix =
            journal.suffix().isEmpty() ? QString() : QLatin1Char('.') + journal.suffix();
        const auto taken = [](const QString& path) {
            for (const char* beside : {"", "-wal", "-shm"}) {
                if (QFileInfo::exists(path + QLatin1String(beside)))
                    return true;
            }
            return false;
        };
        QString aside;
        for (int n = 1; aside.isEmpty() || taken(aside); ++n) {
            aside = journal.dir().filePath(
                journal.completeBaseName() + QStringLiteral(".damaged-") + stamp
                + (n == 1 ? QString() : QStringLiteral("-%1").arg(n)) + suffix);
        }
        for (const char* beside : {"", "-wal", "-shm"}) {
            const QByteArray from = name + beside;
            const QByteArray to = QFile::encodeName(aside) + beside;
            if (::rename(from.constData(), to.constData()) == 0 || *beside != '\0')
                continue;
            GiveUp(QObject::tr("The journal %1 is damaged and could not be moved aside to %2 "
                               "(%3), and this run keeps no journal.")
                       .arg(Path(), Native(aside), qt_error_string(errno)));
            return false;
        }
        *told = QObject::tr("The journal %1 was damaged; it was moved aside to %2.")
                    .arg(Path(), Native(aside));
        return true;
    }

    // One batch, one transaction; a damaged journal is replaced and the batch written to the
    // new one. False when the run does without the journal from here on.
    bool Write(const std::vector<Event>& batch)
    {
        Error error = Commit(batch);
        if (error.IsDamage() && m_replacements < MaxReplacements) {
            CloseDamaged();
            QString movedAside;
            if (!MoveAside(&movedAside) || !Open(movedAside))
                return false;
            for (auto& [acquisition, current] : m_current)
                current.number = 0;
            error = Commit(batch);
        }
        if (!error)
            return true;
        LogError("writing", error);
        GiveUp(QObject::tr("The journal %1 could not be written (%2), and this run keeps no "
                           "more journal.")
                   .arg(Path(), error.Reason()));
        return false;
    }

    Error Step(sqlite3_stmt* statement)
    {
        const int code = sqlite3_step(statement);
        const Error error = LastError(m_db.get(), code);
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        return error;
    }

    Error InsertAcquisition(Current& current)
    {
        const JournalCommand& command = current.command;
        sqlite3_stmt* statement = m_insertAcquisition.get();
        const QByteArray sent = command.sent.toUTC().toString(Qt::ISODateWithMs).toUtf8();
        const QByteArray port = command.port.toUtf8();
        const QByteArray stableName = command.stableName.toUtf8();
        const QByteArray program = command.program.toUtf8();
        const QByteArray version = command.version.toUtf8();
        BindText(statement, 1, sent);
        BindText(statement, 2, port);
        if (!command.stableName.isEmpty())
            BindText(statement, 3, stableName);
        BindText(statement, 4, program);
        BindText(statement, 5, version);
        BindBytes(statement, 6, command.frame);
        const Error error = Step(statement);
        if (!error)
            current.number = sqlite3_last_insert_rowid(m_db.get());
        return error;
    }

    // What a batch brings to an acquisition: its bytes, kept as one part of the reply, and
    // whether records came, so that the count in its row is made again.
    struct Reached {
        qint64 number = 0;
        QByteArray bytes;
        bool records = false;
    };

    Error Apply(const Event& event, std::vector<Reached>* reached)
    {
        if (const auto* command = std::get_if<JournalCommand>(&event.what)) {
            Current& current = m_current[event.acquisition];
            current = Current{*command, 0};
            return InsertAcquisition(current);
        }
        // What comes for none that was sent, or after it was forgotten, belongs to none.
        const auto found = m_current.find(event.acquisition);
        if (found == m_current.end())
            return {};
        if (std::holds_alternative<ForgetEvent>(event.what)) {
            m_current.erase(found);
            return {};
        }
        Current& current = found->second;
        if (current.number == 0) {
            // The acquisition's start is in a journal that was replaced: it starts again here.
            if (const Error error = InsertAcquisition(current))
                return error;
        }
        const qint64 number = current.number;
        if (reached->empty() || reached->back().number != number)
            reached->push_back(Reached{number, {}, false});
        if (const auto* bytes = std::get_if<BytesEvent>(&event.what)) {
            reached->back().bytes += bytes->bytes;
            return {};
        }
        if (const auto* record = std::get_if<RecordEvent>(&event.what)) {
            sqlite3_stmt* statement = m_insertRecord.get();
            sqlite3_bind_int64(statement, 1, number);
            sqlite3_bind_int(statement, 2, record->place);
            for (std::size_t i = 0; i < record->cells.size(); ++i)
                BindBytes(statement, int(i) + 3, record->cells[i].data(), record->cells[i].size());
            reached->back().records = true;
            return Step(statement);
        }
        const auto& end = std::get<EndEvent>(event.what);
        sqlite3_stmt* statement = m_setOutcome.get();
        sqlite3_bind_int64(statement, 1, number);
        const std::string_view keyword = Keyword(end.outcome);
        sqlite3_bind_text64(statement, 2, keyword.data(), keyword.size(), SQLITE_STATIC,
                            SQLITE_UTF8);
        return Step(statement);
    }

    Error Commit(const std::vector<Event>& batch)
    {
        sqlite3* db = m_db.get();
        const auto before = m_current;
        // The write lock first: a transaction that reads first and then finds another writer
        // has been meanwhile could not wait for it.
        Error error = Exec(db, "BEGIN IMMEDIATE");
        std::vector<Reached> reached;
        for (auto event = batch.begin(); !error && event != batch.end(); ++event)
            error = Apply(*event, &reached);
        for (auto at = reached.begin(); !error && at != reached.end(); ++at) {
            if (!at->bytes.isEmpty()) {
                sqlite3_bind_int64(m_insertReply.get(), 1, at->number);
                BindBytes(m_insertReply.get(), 2, at->bytes);
                error = Step(m_insertReply.get());
            }
            // The count kept in the acquisition's row, so that listing needs no counting.
            if (!error && at->records) {
                sqlite3_bind_int64(m_countRecords.get(), 1, at->number);
                error = Step(m_countRecords.get());
            }
        }
        if (!error)
            error = Exec(db, "COMMIT");
        if (error) {
            if (!sqlite3_get_autocommit(db))
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            m_current = before;
        }
        return error;
    }

    JournalWriter* const m_writer;
    const QString m_path; // as given, for messages
    QString m_file;       // as opened: in its folder resolved

    std::mutex m_mutex;
    std::condition_variable m_wake;    // a first event, a hurry, or the end
    std::condition_variable m_written; // a batch committed, or given up
    std::vector<Event> m_queue;
    quint64 m_handed = 0; // events handed over
    quint64 m_done = 0;   // of them, those committed or dropped
    bool m_hurry = false;
    bool m_stopping = false;
    bool m_gaveUp = false;
    QString m_message;
    bool m_messageTaken = false;

    // The journal's thread alone.
    Database m_db;
    Statement m_insertAcquisition;
    Statement m_insertReply;
    Statement m_insertRecord;
    Statement m_countRecords;
    Statement m_setOutcome;
    std::pair<dev_t, ino_t> m_identity{};
    int m_replacements = 0;
    // The acquisitions under way, by the writer's own numbers: until each is forgotten, bytes
    // that come after its answer is over are still its own.
    std::map<JournalWriter::Acquisition, Current> m_current;

    std::thread m_thread; // last: started once all else is there
};

JournalWriter::JournalWriter(const QString& path, QObject* parent)
    : QObject(parent)
    , m_worker(std::make_unique<Worker>(this, path))
{
}

JournalWriter::~JournalWriter()
{
    // Joins the journal's thread, which commits what is waiting, while this object can still
    // be posted to.
    m_worker.reset();
}

JournalWriter::Acquisition JournalWriter::CommandSent(const JournalCommand& command)
{
    JournalCommand sent = command;
    // An acquisition is listed by when it was: a caller that gave no time gets the present.
    if (!sent.sent.isValid())
        sent.sent = QDateTime::currentDateTimeUtc();
    const Acquisition acquisition = ++m_lastAcquisition;
    m_worker->Hand(Event{acquisition, std::move(sent)});
    return acquisition;
}

void JournalWriter::Received(Acquisition acquisition, const QByteArray& bytes)
{
    if (!bytes.isEmpty() && acquisition != 0)
        m_worker->HandBytes(acquisition, bytes);
}

void JournalWriter::Record(Acquisition acquisition, int place, const JournalCells& cells)
{
    if (acquisition != 0)
        m_worker->Hand(Event{acquisition, RecordEvent{place, cells}});
}

void JournalWriter::AnswerOver(Acquisition acquisition, JournalOutcome outcome)
{
    if (acquisition == 0)
        return;
    m_worker->Hand(Event{acquisition, EndEvent{outcome}});
    m_worker->Hurry();
}

void JournalWriter::Forget(Acquisition acquisition)
{
    if (acquisition != 0)
        m_worker->Hand(Event{acquisition, ForgetEvent{}});
}

void JournalWriter::WaitUntilWritten()
{
    m_worker->WaitUntilWritten();
    ReportFailure();
}

void JournalWriter::ReportFailure()
{
    if (const std::optional<QString> message = m_worker->TakeMessage())
        emit Failed(*message);
}

// The reader's connection and its statements, prepared once.
class JournalReader::Connection {
public:
    Database db;
    Statement entries;
    Statement entry;
    Statement records;
    Statement reply;
};

namespace {

constexpr std::string_view EntryColumns = "SELECT number, sent, port, stable_name, program, "
                                          "version, command, records, outcome FROM acquisitions ";

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
    entry.outcome = OutcomeOf(outcome == nullptr ? std::string_view() : outcome);
    return entry;
}

// The rows of a statement, each handed to `row`; a failure on the way is for maintainers: the
// caller gets what was read.
template<typename Row>
void Rows(sqlite3* db, sqlite3_stmt* statement, Row row)
{
    const ResetWhenDone reset{statement};
    int code = SQLITE_ROW;
    while ((code = sqlite3_step(statement)) == SQLITE_ROW)
        row(statement);
    if (const Error error = LastError(db, code))
        qCWarning(lcJournal).noquote() << "reading the journal:" << error.detail;
}

} // namespace

JournalReader::JournalReader(const QString& path)
    : m_path(path)
{
}

JournalReader::~JournalReader() = default;

bool JournalReader::open(QString* error)
{
    m_connection.reset();
    const QString path = Native(m_path);
    const auto fail = [&](const QString& message) {
        if (error != nullptr)
            *error = message;
        return false;
    };
    if (m_path.isEmpty()) {
        const QString why = ProgramFolder(UserFolderKind::Data).problem;
        return fail(
            QObject::tr("There is no journal: %1")
                .arg(why.isEmpty() ? QObject::tr("this user has no folder for data") : why));
    }
    const QFileInfo named(m_path);
    const OwnPath folder = PrepareOwnFolder(named.absolutePath(), false);
    if (!folder.problem.isEmpty())
        return fail(QObject::tr("The journal %1 cannot be read (%2).").arg(path, folder.problem));
    const QString file = folder.path + QLatin1Char('/') + named.fileName();
    if (folder.path.isEmpty() || !QFileInfo(file).isFile())
        return fail(QObject::tr("There is no journal yet (%1).").arg(path));
    for (const char* beside : {"", "-wal", "-shm"}) {
        if (const QString why = CheckOwnFile(file + QLatin1String(beside)); !why.isEmpty())
            return fail(QObject::tr("The journal %1 cannot be read (%2).").arg(path, why));
    }
    auto connection = std::make_unique<Connection>();
    Error failure;
    connection->db = Open(file, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                          ReaderBusyTimeoutMs, &failure);
    sqlite3* db = connection->db.get();
    const VersionFound version =
        failure ? VersionFound{} : ReadVersion(db, SchemaVersion(), &failure);
    if (!failure && version.state == VersionFound::Newer)
        return fail(QObject::tr("The journal %1 was written by a newer version of this program, "
                                "which this one cannot read.")
                        .arg(path));
    if (!failure && version.state == VersionFound::New)
        return fail(QObject::tr("The journal %1 holds no acquisitions yet.").arg(path));
    if (!failure && version.state == VersionFound::Older)
        return fail(QObject::tr("The journal %1 is of an older version of this program; it is "
                                "brought up to date when this program next journals an "
                                "acquisition.")
                        .arg(path));
    if (!failure && version.state == VersionFound::Damaged)
        return fail(QObject::tr("The journal %1 is damaged (%2). The next acquisition moves it "
                                "aside and starts a new one.")
                        .arg(path, DamagedVersion(version.number).detail));
    const auto prepare = [&](Statement* statement, std::string_view sql) {
        if (!failure)
            *statement = Prepare(db, sql, &failure);
    };
    prepare(&connection->entries, std::string(EntryColumns) + "ORDER BY number DESC");
    prepare(&connection->entry, std::string(EntryColumns) + "WHERE number = ?1");
    prepare(&connection->records,
            "SELECT record_no, cntr1, cntr2, cntr3, cntr4, cntr5, total FROM records "
            "WHERE acquisition = ?1 ORDER BY place");
    prepare(&connection->reply, "SELECT bytes FROM replies WHERE acquisition = ?1 ORDER BY part");
    if (failure)
        return fail(QObject::tr("The journal %1 cannot be read (%2).").arg(path, failure.Reason()));
    m_connection = std::move(connection);
    return true;
}

std::vector<JournalEntry> JournalReader::Entries() const
{
    std::vector<JournalEntry> entries;
    if (!m_connection)
        return entries;
    Rows(m_connection->db.get(), m_connection->entries.get(),
         [&](sqlite3_stmt* statement) { entries.push_back(ReadEntry(statement)); });
    return entries;
}

std::optional<JournalEntry> JournalReader::Entry(qint64 number) const
{
    std::optional<JournalEntry> entry;
    if (!m_connection)
        return entry;
    sqlite3_bind_int64(m_connection->entry.get(), 1, number);
    Rows(m_connection->db.get(), m_connection->entry.get(),
         [&](sqlite3_stmt* statement) { entry = ReadEntry(statement); });
    return entry;
}

std::vector<JournalCells> JournalReader::Records(qint64 number) const
{
    std::vector<JournalCells> records;
    if (!m_connection)
        return records;
    sqlite3_bind_int64(m_connection->records.get(), 1, number);
    Rows(m_connection->db.get(), m_connection->records.get(), [&](sqlite3_stmt* statement) {
        JournalCells& cells = records.emplace_back();
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const QByteArray bytes = ColumnBytes(statement, int(i));
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
    sqlite3_bind_int64(m_connection->reply.get(), 1, number);
    Rows(m_connection->db.get(), m_connection->reply.get(),
         [&](sqlite3_stmt* statement) { reply += ColumnBytes(statement, 0); });
    return reply;
}

} // namespace qm
