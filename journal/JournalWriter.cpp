#include "journal/JournalWriter.h"

#include "journal/JournalDatabase.h"
#include "journal/JournalStore.h"

#include <QMetaObject>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <sqlite3.h>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

namespace qm {

namespace {

using namespace journal;

using Clock = std::chrono::steady_clock;

// A record is on the disk within this long of reaching the program. The journal's thread
// gathers what follows the first event of a batch and commits them together, each a wait for
// the disk: it waits as long as it can, so that an answer arriving at 9600 baud costs as few
// commits as it may.
constexpr Clock::duration OnDisk = std::chrono::milliseconds(1000);
// Of that second, what is kept for the thread to be woken and scheduled on a busy machine.
constexpr Clock::duration Leeway = std::chrono::milliseconds(200);
// How many of the last commits tell how long the next one may take.
constexpr std::size_t CommitsKept = 8;

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
struct WatchEvent {
    JournalWriter::Watch watch = 0;
    JournalWatch started;
};
struct ReadingEvent {
    JournalWriter::Watch watch = 0;
    JournalReading reading;
};
struct LabSentEvent {
    std::vector<LabConfirmed> confirmed;
    qint64 atMs = 0;
};
struct LabRefusedEvent {
    LabConfirmed refused;
    QString why;
};
// What the caller handed over, in the order it came, each for the acquisition it names (the
// writer's own number for it; 0 for a watch's events, which name their watch themselves).
// Bytes are the run of bytes received between two other events of the same acquisition.
struct Event {
    JournalWriter::Acquisition acquisition = 0;
    std::variant<JournalCommand, BytesEvent, RecordEvent, EndEvent, ForgetEvent, WatchEvent,
                 ReadingEvent, LabSentEvent, LabRefusedEvent>
        what;
};

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

// The writer's statements, prepared once the journal is open, in the order of WriteSql.
enum class Sql : std::size_t {
    InsertAcquisition,
    InsertReply,
    InsertRecord,
    CountRecords,
    SetOutcome,
    InsertWatch,
    InsertReading,
    CountReading,
    MarkAcquisition,
    MarkReading,
    CountSentReading,
    RefusedAcquisition,
    RefusedReading,
    Begin,
    Commit
};
// Acquisitions and readings are numbered from one count: the next number is the one above
// both tables' highest, taken inside the write transaction, so that numbers rise in the order
// things were journaled whichever program journaled them. Each highest is a look at the end of
// its table.
constexpr std::array<std::string_view, 15> WriteSql{
    "INSERT INTO acquisitions (number, sent, port, stable_name, program, version, command, uid) "
    "VALUES (max(coalesce((SELECT max(number) FROM acquisitions), 0), coalesce((SELECT "
    "max(number) FROM readings), 0)) + 1, ?1, ?2, ?3, ?4, ?5, ?6, ?7)",
    "INSERT INTO replies (acquisition, part, bytes) VALUES (?1, (SELECT count(*) FROM replies "
    "WHERE acquisition = ?1), ?2)",
    "INSERT OR REPLACE INTO records (acquisition, place, record_no, cntr1, cntr2, cntr3, cntr4, "
    "cntr5, total) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
    "UPDATE acquisitions SET records = (SELECT count(*) FROM records WHERE acquisition = ?1) "
    "WHERE number = ?1",
    "UPDATE acquisitions SET outcome = ?2 WHERE number = ?1",
    "INSERT INTO watches (started, program, version, command, every_ms, ports, output, "
    "decimal_separator, uid) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
    "INSERT INTO readings (number, watch, port, time, utc_offset, note, torn, reply) VALUES "
    "(max(coalesce((SELECT max(number) FROM acquisitions), 0), coalesce((SELECT max(number) "
    "FROM readings), 0)) + 1, ?1, ?2, ?3, ?4, ?5, ?6, ?7)",
    // What the history lists of a watch, kept in its row as each reading comes.
    "UPDATE watches SET first_number = coalesce(first_number, ?2), first_time = "
    "coalesce(first_time, ?3), last_time = ?3, readings = readings + 1, noted = noted + ?4, "
    "lab_waiting = lab_waiting + 1 WHERE id = ?1",
    // Marks of what the lab's database holds, on the row that is the one sent; a watch counts
    // down its readings waiting. Or why it refused one.
    "UPDATE acquisitions SET lab_sent = ?3, lab_refused = NULL WHERE number = ?1 AND uid = ?2 "
    "AND lab_sent IS NULL",
    "UPDATE readings SET lab_sent = ?3, lab_refused = NULL WHERE number = ?1 AND lab_sent IS "
    "NULL AND watch = (SELECT id FROM watches WHERE uid = ?2)",
    "UPDATE watches SET lab_waiting = lab_waiting - 1 WHERE uid = ?1 AND lab_waiting > 0",
    "UPDATE acquisitions SET lab_refused = ?3 WHERE number = ?1 AND uid = ?2 AND lab_sent IS "
    "NULL",
    "UPDATE readings SET lab_refused = ?3 WHERE number = ?1 AND lab_sent IS NULL AND watch = "
    "(SELECT id FROM watches WHERE uid = ?2)",
    // The write lock first: a transaction that reads first and then finds another writer has
    // been meanwhile could not wait for it.
    "BEGIN IMMEDIATE",
    "COMMIT",
};

} // namespace

// The writer's two sides. The caller's hands each event over as it comes. The journal's
// thread has the journal open and what it knows of the acquisition under way. Between them,
// under the mutex: the events waiting, how far the commits have come, and the one message for
// the caller.
class JournalWriter::Worker {
public:
    Worker(JournalWriter* writer, const QString& path)
        : m_writer(writer)
        , m_store(path, WriteSql)
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
            m_firstHanded = Clock::now();
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
            m_firstHanded = Clock::now();
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
        // Opened first: a journal of an earlier version is brought up to date by then.
        m_written.wait(lock, [&] { return m_opened && m_done >= target; });
    }

    // The message for the caller, once.
    std::optional<QString> TakeMessage()
    {
        const std::lock_guard lock(m_mutex);
        if (!m_message || m_messageTaken)
            return std::nullopt;
        m_messageTaken = true;
        return m_message;
    }

private:
    // An acquisition under way: its command, and its number in the journal open now (0 when
    // it has none there yet, as after a damaged journal was replaced).
    struct Current {
        JournalCommand command;
        qint64 number = 0;
    };
    // A watch, the same way: its row in the journal open now, 0 when it has none there yet.
    struct CurrentWatch {
        JournalWatch watch;
        qint64 id = 0;
    };

    // The journal's thread from here on.
    void Run()
    {
        bool writing = Open();
        {
            const std::lock_guard lock(m_mutex);
            m_opened = true;
        }
        m_written.notify_all();
        std::vector<Event> batch;
        for (;;) {
            quint64 upTo = 0;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [&] { return !m_queue.empty() || m_stopping; });
                if (m_queue.empty())
                    break;
                // What follows the first event goes in the same commit, until the commit has to
                // begin for that event to be on the disk in time.
                m_wake.wait_until(lock, m_firstHanded + Gather(),
                                  [&] { return m_hurry || m_stopping; });
                m_hurry = false;
                batch.swap(m_queue);
                upTo = m_handed;
            }
            if (writing) {
                const Clock::time_point began = Clock::now();
                writing = Write(batch);
                m_commitTimes[m_commits++ % CommitsKept] = Clock::now() - began;
            }
            batch.clear();
            {
                const std::lock_guard lock(m_mutex);
                m_done = upTo;
            }
            m_written.notify_all();
        }
        m_store.Close();
    }

    // How long a batch gathers from its first event: the second less the leeway and the
    // longest of the last commits. On a disk slow to sync, at once.
    Clock::duration Gather() const
    {
        const Clock::duration slowest =
            *std::max_element(m_commitTimes.begin(), m_commitTimes.end());
        return std::max(OnDisk - Leeway - slowest, Clock::duration::zero());
    }

    // The one message for the caller: the first; later ones only for maintainers.
    void Tell(const QString& message)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (m_message) {
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
        m_store.Close();
        const std::lock_guard lock(m_mutex);
        m_gaveUp = true;
    }

    // The journal opened and ready to write; what to tell of a damaged one replaced, told.
    // False when the run does without it.
    bool Open()
    {
        const Result<std::optional<QString>> opened = m_store.Open();
        if (!opened) {
            GiveUp(opened.Reason());
            return false;
        }
        if (*opened)
            Tell(**opened);
        return true;
    }

    // One batch, one transaction; a damaged journal is replaced and the batch written to the
    // new one. False when the run does without the journal from here on.
    bool Write(const std::vector<Event>& batch)
    {
        Result<void, Error> written = Commit(batch);
        if (!written && written.Error().IsDamage() && m_store.MayReplace()) {
            const Result<std::optional<QString>> replaced = m_store.Replace();
            if (!replaced) {
                GiveUp(replaced.Reason());
                return false;
            }
            if (*replaced)
                Tell(**replaced);
            for (auto& [acquisition, current] : m_current)
                current.number = 0;
            for (auto& [watch, current] : m_watches)
                current.id = 0;
            written = Commit(batch);
        }
        if (written)
            return true;
        LogError("writing", m_store.Path(), written.Error());
        GiveUp(QObject::tr("The journal %1 could not be written (%2), and this run keeps no "
                           "more journal.")
                   .arg(m_store.Path(), written.Error().Reason()));
        return false;
    }

    sqlite3_stmt* Prepared(Sql which) const { return m_store.Prepared(std::size_t(which)); }

    Result<void, Error> InsertAcquisition(Current& current)
    {
        const JournalCommand& command = current.command;
        sqlite3_stmt* statement = Prepared(Sql::InsertAcquisition);
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
        const QByteArray uid = command.uid.toByteArray(QUuid::WithoutBraces);
        BindText(statement, 7, uid);
        Result<void, Error> inserted = Step(m_store.Db(), statement);
        if (inserted)
            current.number = sqlite3_last_insert_rowid(m_store.Db());
        return inserted;
    }

    Result<void, Error> InsertWatch(CurrentWatch& current)
    {
        const JournalWatch& watch = current.watch;
        sqlite3_stmt* statement = Prepared(Sql::InsertWatch);
        const QByteArray program = watch.program.toUtf8();
        const QByteArray version = watch.version.toUtf8();
        QByteArray ports;
        for (const QString& port : watch.ports)
            ports += port.toUtf8() + '\0';
        const QByteArray output = watch.output.toUtf8();
        sqlite3_bind_int64(statement, 1, watch.started.toMSecsSinceEpoch());
        BindText(statement, 2, program);
        BindText(statement, 3, version);
        BindBytes(statement, 4, watch.frame);
        sqlite3_bind_int64(statement, 5, watch.every.count());
        BindBytes(statement, 6, ports);
        BindText(statement, 7, output);
        BindBytes(statement, 8, watch.decimalSeparator.data(), watch.decimalSeparator.size());
        const QByteArray uid = watch.uid.toByteArray(QUuid::WithoutBraces);
        BindText(statement, 9, uid);
        Result<void, Error> inserted = Step(m_store.Db(), statement);
        if (inserted)
            current.id = sqlite3_last_insert_rowid(m_store.Db());
        return inserted;
    }

    Result<void, Error> InsertReading(const ReadingEvent& event)
    {
        const auto found = m_watches.find(event.watch);
        if (found == m_watches.end())
            return {};
        CurrentWatch& current = found->second;
        if (current.id == 0) {
            // The watch's start is in a journal that was replaced: it starts again here.
            if (Result<void, Error> inserted = InsertWatch(current); !inserted)
                return inserted;
        }
        const JournalReading& reading = event.reading;
        const qint64 time = reading.time.toMSecsSinceEpoch();
        sqlite3_stmt* statement = Prepared(Sql::InsertReading);
        sqlite3_bind_int64(statement, 1, current.id);
        sqlite3_bind_int(statement, 2, reading.port);
        sqlite3_bind_int64(statement, 3, time);
        sqlite3_bind_int(statement, 4, reading.offsetSeconds);
        sqlite3_bind_int(statement, 5, int(reading.note));
        sqlite3_bind_int(statement, 6, reading.tornBefore ? 1 : 0);
        BindBytes(statement, 7, reading.reply);
        if (Result<void, Error> inserted = Step(m_store.Db(), statement); !inserted)
            return inserted;
        // Noted as the watch's CSV notes it: a torn line before it is told in its note too.
        const bool noted = reading.note != ReadingNote::None || reading.tornBefore;
        statement = Prepared(Sql::CountReading);
        sqlite3_bind_int64(statement, 1, current.id);
        sqlite3_bind_int64(statement, 2, sqlite3_last_insert_rowid(m_store.Db()));
        sqlite3_bind_int64(statement, 3, time);
        sqlite3_bind_int(statement, 4, noted ? 1 : 0);
        return Step(m_store.Db(), statement);
    }

    Result<void, Error> MarkSent(const LabSentEvent& event)
    {
        for (const LabConfirmed& confirmed : event.confirmed) {
            sqlite3_stmt* statement =
                Prepared(confirmed.reading ? Sql::MarkReading : Sql::MarkAcquisition);
            const QByteArray uid = confirmed.uid.toByteArray(QUuid::WithoutBraces);
            sqlite3_bind_int64(statement, 1, confirmed.number);
            BindText(statement, 2, uid);
            sqlite3_bind_int64(statement, 3, event.atMs);
            if (Result<void, Error> marked = Step(m_store.Db(), statement); !marked)
                return marked;
            if (!confirmed.reading || sqlite3_changes(m_store.Db()) == 0)
                continue;
            statement = Prepared(Sql::CountSentReading);
            BindText(statement, 1, uid);
            if (Result<void, Error> counted = Step(m_store.Db(), statement); !counted)
                return counted;
        }
        return {};
    }

    Result<void, Error> MarkRefused(const LabRefusedEvent& event)
    {
        const LabConfirmed& refused = event.refused;
        sqlite3_stmt* statement =
            Prepared(refused.reading ? Sql::RefusedReading : Sql::RefusedAcquisition);
        const QByteArray uid = refused.uid.toByteArray(QUuid::WithoutBraces);
        const QByteArray why = event.why.toUtf8();
        sqlite3_bind_int64(statement, 1, refused.number);
        BindText(statement, 2, uid);
        BindText(statement, 3, why);
        return Step(m_store.Db(), statement);
    }

    // What a batch brings to an acquisition: its bytes, kept as one part of the reply, and
    // whether records came, so that the count in its row is made again.
    struct Reached {
        qint64 number = 0;
        QByteArray bytes;
        bool records = false;
    };

    Result<void, Error> Apply(const Event& event, std::vector<Reached>* reached)
    {
        if (const auto* started = std::get_if<WatchEvent>(&event.what)) {
            CurrentWatch& current = m_watches[started->watch];
            current = CurrentWatch{started->started, 0};
            return InsertWatch(current);
        }
        if (const auto* reading = std::get_if<ReadingEvent>(&event.what))
            return InsertReading(*reading);
        if (const auto* sent = std::get_if<LabSentEvent>(&event.what))
            return MarkSent(*sent);
        if (const auto* refused = std::get_if<LabRefusedEvent>(&event.what))
            return MarkRefused(*refused);
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
            if (Result<void, Error> inserted = InsertAcquisition(current); !inserted)
                return inserted;
        }
        const qint64 number = current.number;
        if (reached->empty() || reached->back().number != number)
            reached->push_back(Reached{number, {}, false});
        if (const auto* bytes = std::get_if<BytesEvent>(&event.what)) {
            reached->back().bytes += bytes->bytes;
            return {};
        }
        if (const auto* record = std::get_if<RecordEvent>(&event.what)) {
            sqlite3_stmt* statement = Prepared(Sql::InsertRecord);
            sqlite3_bind_int64(statement, 1, number);
            sqlite3_bind_int(statement, 2, record->place);
            for (std::size_t i = 0; i < record->cells.size(); ++i)
                BindBytes(statement, int(i) + 3, record->cells[i].data(), record->cells[i].size());
            reached->back().records = true;
            return Step(m_store.Db(), statement);
        }
        const auto& end = std::get<EndEvent>(event.what);
        sqlite3_stmt* statement = Prepared(Sql::SetOutcome);
        sqlite3_bind_int64(statement, 1, number);
        const std::string_view keyword = OutcomeKeyword(end.outcome);
        sqlite3_bind_text64(statement, 2, keyword.data(), keyword.size(), SQLITE_STATIC,
                            SQLITE_UTF8);
        return Step(m_store.Db(), statement);
    }

    Result<void, Error> Commit(const std::vector<Event>& batch)
    {
        sqlite3* db = m_store.Db();
        const auto before = m_current;
        const auto watchesBefore = m_watches;
        Result<void, Error> done = Step(db, Prepared(Sql::Begin));
        std::vector<Reached> reached;
        for (auto event = batch.begin(); done && event != batch.end(); ++event)
            done = Apply(*event, &reached);
        sqlite3_stmt* insertReply = Prepared(Sql::InsertReply);
        sqlite3_stmt* countRecords = Prepared(Sql::CountRecords);
        for (auto at = reached.begin(); done && at != reached.end(); ++at) {
            if (!at->bytes.isEmpty()) {
                sqlite3_bind_int64(insertReply, 1, at->number);
                BindBytes(insertReply, 2, at->bytes);
                done = Step(db, insertReply);
            }
            // The count kept in the acquisition's row, so that listing needs no counting.
            if (done && at->records) {
                sqlite3_bind_int64(countRecords, 1, at->number);
                done = Step(db, countRecords);
            }
        }
        if (done)
            done = Step(db, Prepared(Sql::Commit));
        if (!done) {
            if (!sqlite3_get_autocommit(db))
                sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            m_current = before;
            m_watches = watchesBefore;
        }
        return done;
    }

    JournalWriter* const m_writer;

    std::mutex m_mutex;
    std::condition_variable m_wake;    // a first event, a hurry, or the end
    std::condition_variable m_written; // a batch committed, or given up
    std::vector<Event> m_queue;
    Clock::time_point m_firstHanded; // of the events waiting, the first
    quint64 m_handed = 0;            // events handed over
    quint64 m_done = 0;              // of them, those committed or dropped
    bool m_opened = false;           // the journal was opened, or could not be
    bool m_hurry = false;
    bool m_stopping = false;
    bool m_gaveUp = false;
    std::optional<QString> m_message;
    bool m_messageTaken = false;

    // The journal's thread alone.
    JournalStore m_store;
    std::array<Clock::duration, CommitsKept> m_commitTimes{};
    std::size_t m_commits = 0;
    // The acquisitions under way, by the writer's own numbers: until each is forgotten, bytes
    // that come after its answer is over are still its own.
    std::map<JournalWriter::Acquisition, Current> m_current;
    // The watches started, by the writer's own numbers. A watch is small, and a program starts
    // few: each is kept for as long as the writer.
    std::map<JournalWriter::Watch, CurrentWatch> m_watches;

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
    // Made now, once: a journal replaced meanwhile gets the same.
    if (sent.uid.isNull())
        sent.uid = QUuid::createUuid();
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

JournalWriter::Watch JournalWriter::WatchStarted(const JournalWatch& watch)
{
    const Watch number = ++m_lastWatch;
    WatchEvent event{number, watch};
    if (!event.started.started.isValid())
        event.started.started = QDateTime::currentDateTimeUtc();
    if (event.started.uid.isNull())
        event.started.uid = QUuid::createUuid();
    m_worker->Hand(Event{0, std::move(event)});
    return number;
}

void JournalWriter::LabSent(std::vector<LabConfirmed> confirmed, const QDateTime& at)
{
    if (!confirmed.empty())
        m_worker->Hand(Event{0, LabSentEvent{std::move(confirmed), at.toMSecsSinceEpoch()}});
}

void JournalWriter::LabRefused(const LabConfirmed& refused, const QString& why)
{
    m_worker->Hand(Event{0, LabRefusedEvent{refused, why}});
}

void JournalWriter::Reading(Watch watch, const JournalReading& reading)
{
    if (watch == 0)
        return;
    ReadingEvent event{watch, reading};
    if (!event.reading.time.isValid())
        event.reading.time = QDateTime::currentDateTimeUtc();
    m_worker->Hand(Event{0, std::move(event)});
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

} // namespace qm
