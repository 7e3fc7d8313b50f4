#include "watch/Watch.h"

#include "files/Descriptors.h"
#include "journal/JournalWriter.h"
#include "line/Line.h"
#include "protocol/CommandFrame.h"
#include "watch/WatchCsv.h"
#include "watch/WatchFile.h"
#include "watch/WatchTime.h"

#include <QCoreApplication>

#include <cerrno>
#include <unistd.h>

namespace qm {

using namespace std::chrono;

namespace {

// The readings' answers are written and made durable this long after they end, at the most.
constexpr milliseconds SyncDelay{500};

// What the end of an answer says about the reading: how the journal would tell the answer
// ended, in the watch's words.
ReadingNote NoteOf(AnswerEnd end, const AnswerTally& tally)
{
    switch (JournalOutcomeOf(end, tally, false)) {
    case JournalOutcome::Records:
        return ReadingNote::None;
    case JournalOutcome::ErrorReply:
        return ReadingNote::ErrorReply;
    case JournalOutcome::NotSent:
        return ReadingNote::NotSent;
    case JournalOutcome::LostLine:
    case JournalOutcome::Stopped:
        return ReadingNote::LineLost;
    default: // nothing, nothing whole, or no data record
        return ReadingNote::NoAnswer;
    }
}

Result<> WriteWhole(int fd, std::string_view bytes)
{
    if (const int error = WriteAll(fd, bytes); error != 0)
        return Failure{qt_error_string(error)};
    return {};
}

class Stream final : public WatchOutput {
public:
    explicit Stream(int fd)
        : m_fd(fd)
    {
    }
    Result<> Open(const JournalWatch&, const QDateTime&, int) override
    {
        return WriteWhole(m_fd, WatchCsvHeader());
    }
    Result<> Write(const JournalWatch& watch, JournalReading& reading) override
    {
        return WriteWhole(m_fd, WatchCsvLine(watch, reading));
    }
    // A pipe or a terminal keeps nothing; a file given as standard output is the caller's.
    Result<> Sync() override { return {}; }

private:
    int m_fd;
};

class File final : public WatchOutput {
public:
    explicit File(const QString& pattern)
        : m_file(pattern)
    {
    }
    Result<> Open(const JournalWatch&, const QDateTime& utc, int offsetSeconds) override
    {
        return m_file.Prepare(LocalDate(utc, offsetSeconds));
    }
    Result<> Write(const JournalWatch& watch, JournalReading& reading) override
    {
        if (Result<> ready = m_file.Prepare(LocalDate(reading.time, reading.offsetSeconds)); !ready)
            return ready;
        if (m_file.TakeTorn())
            reading.tornBefore = true;
        return m_file.Append(WatchCsvLine(watch, reading));
    }
    Result<> Sync() override { return m_file.Sync(); }

private:
    WatchFile m_file;
};

} // namespace

std::unique_ptr<WatchOutput> StreamOutput(int fd)
{
    return std::make_unique<Stream>(fd);
}

std::unique_ptr<WatchOutput> FileOutput(const QString& pattern)
{
    return std::make_unique<File>(pattern);
}

Watch::Watch(std::vector<Line*> lines, Settings settings, std::unique_ptr<WatchOutput> output,
             QObject* parent)
    : QObject(parent)
    , m_settings(std::move(settings))
    , m_output(std::move(output))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &Watch::Tick);
    m_syncTimer.setSingleShot(true);
    m_syncTimer.setInterval(SyncDelay);
    connect(&m_syncTimer, &QTimer::timeout, this, [this] { Check(m_output->Sync()); });
    m_ports.resize(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        Port& port = m_ports[i];
        port.line = lines[i];
        const int index = int(i);
        // Every byte of the reading under way is its own; what comes between readings belongs
        // to none.
        connect(port.line, &Line::Received, this, [this, index](const QByteArray& bytes) {
            Port& at = m_ports[std::size_t(index)];
            if (at.live && at.line->Current() == at.live && at.live->Waiting())
                at.reading.reply += bytes;
        });
    }
}

Watch::~Watch() = default;

Exchange::Intervals Watch::DefaultIntervals()
{
    Exchange::Intervals intervals;
    intervals.quiet = 100ms;
    intervals.noAnswer = 5s;
    intervals.longest = 60s;
    intervals.leave = 2s;
    intervals.quietOnlyAfterAFrame = true;
    return intervals;
}

nanoseconds Watch::Now() const
{
    return m_settings.clock ? m_settings.clock() : nanoseconds(m_clock.nsecsElapsed());
}

QDateTime Watch::WallTime(nanoseconds instant) const
{
    return m_startUtc.addMSecs(duration_cast<milliseconds>(instant - m_schedule->DueAt(0)).count());
}

bool Watch::Start()
{
    m_clock.start();
    m_startUtc = QDateTime::currentDateTimeUtc();
    m_settings.watch.started = m_startUtc;
    if (const Result<> opened =
            m_output->Open(m_settings.watch, m_startUtc, LocalOffsetAt(m_startUtc));
        !opened) {
        m_problem = opened.Reason();
        return false;
    }
    if (m_journal)
        m_journalWatch = m_journal->WatchStarted(m_settings.watch);
    m_schedule =
        std::make_unique<WatchSchedule>(Now(), duration_cast<nanoseconds>(m_settings.watch.every));
    m_started = true;
    Tick();
    return true;
}

void Watch::Stop(int signal)
{
    if (signal > 0 && m_signal == 0)
        m_signal = signal;
    m_stopping = true;
    m_timer.stop();
    EndIfDone();
}

void Watch::Release(const Line* line)
{
    for (Port& port : m_ports) {
        if (port.line == line)
            port.released = true;
    }
}

bool Watch::MaySend() const
{
    if (m_stopping || m_finished)
        return false;
    for (std::size_t i = 0; i < m_ports.size(); ++i) {
        if (!PortDone(int(i)))
            return true;
    }
    return false;
}

bool Watch::PortDone(int port) const
{
    // The reading under way counts: it ends with a line of its own.
    const Port& at = m_ports[std::size_t(port)];
    return m_settings.count > 0 && at.written + (at.live ? 1 : 0) >= m_settings.count;
}

void Watch::Tick()
{
    if (!MaySend())
        return EndIfDone();
    for (const WatchSchedule::Step& step : m_schedule->Take(Now())) {
        // A run of missed readings is a line each, as long as the watch lasts.
        for (std::int64_t k = 0; k < step.count && MaySend(); ++k)
            Due(step.due + k * m_schedule->Every(), step.missed);
        if (!MaySend())
            return EndIfDone();
    }
    // The time is up before the next reading is due: nothing more to wait for.
    if (m_settings.span.count() > 0
        && m_schedule->DueAt(m_schedule->NextIndex()) - m_schedule->DueAt(0) >= m_settings.span) {
        m_stopping = true;
        return EndIfDone();
    }
    const nanoseconds wait = m_schedule->UntilNext(Now());
    // Woken at the due instant or just after, never before.
    m_timer.start(int(duration_cast<milliseconds>(wait + 999us).count()));
}

void Watch::Due(nanoseconds due, bool missed)
{
    // The time is up: a reading due at its end is no longer the watch's.
    if (m_settings.span.count() > 0 && due - m_schedule->DueAt(0) >= m_settings.span) {
        m_stopping = true;
        return;
    }
    for (std::size_t i = 0; i < m_ports.size(); ++i) {
        const int index = int(i);
        Port& port = m_ports[i];
        if (PortDone(index))
            continue;
        if (missed)
            Note(index, due, ReadingNote::Missed);
        else if (port.live)
            Note(index, due, ReadingNote::Skipped);
        else if (port.released)
            Note(index, due, ReadingNote::LineLost);
        else if (!port.line->Control().PortOpen())
            Note(index, due,
                 port.line->WaitingForReturn() ? ReadingNote::WaitingForPort
                                               : ReadingNote::LineLost);
        else
            Send(index, due);
    }
}

void Watch::Send(int index, nanoseconds due)
{
    Port& port = m_ports[std::size_t(index)];
    Exchange::Settings settings;
    settings.intervals = m_settings.intervals;
    settings.decimalSeparator = m_settings.watch.decimalSeparator;
    settings.program = m_settings.watch.program;
    settings.version = m_settings.watch.version;
    // Kept by the watch as a reading, not journaled as an acquisition of its own.
    settings.journal = nullptr;
    auto* exchange = new Exchange(VerbRead, ArgumentNow, settings);
    port.live = exchange;
    port.due = due;
    port.reading = JournalReading{};
    port.reading.port = index;
    connect(exchange, &Exchange::Written, this, [this, index, exchange] {
        Port& at = m_ports[std::size_t(index)];
        if (at.live != exchange)
            return;
        at.reading.time = QDateTime::currentDateTimeUtc();
        m_lateness.push_back(duration_cast<microseconds>(Now() - at.due));
    });
    connect(exchange, &Exchange::NotWritten, this, [this, index, exchange] {
        ReadingOver(index, exchange, AnswerEnd::NotSent, exchange->Tally());
    });
    connect(exchange, &Exchange::Over, this, [this, index, exchange](AnswerEnd end) {
        ReadingOver(index, exchange, end, exchange->Tally());
    });
    // Dropped unsent by its line (the port lost while it waited its turn): it is being
    // destroyed, and is not asked anything.
    connect(exchange, &QObject::destroyed, this,
            [this, index, exchange] { ReadingOver(index, exchange, AnswerEnd::Lost, {}); });
    port.line->Run(exchange);
}

void Watch::ReadingOver(int index, const Exchange* exchange, AnswerEnd end,
                        const AnswerTally& tally)
{
    Port& port = m_ports[std::size_t(index)];
    if (port.live != exchange)
        return;
    port.live = nullptr;
    JournalReading reading = std::move(port.reading);
    reading.port = index;
    // Not written: when it was due.
    if (!reading.time.isValid())
        reading.time = WallTime(port.due);
    reading.offsetSeconds = LocalOffsetAt(reading.time);
    reading.note = NoteOf(end, tally);
    Finish(index, std::move(reading));
}

void Watch::Note(int index, nanoseconds due, ReadingNote note)
{
    JournalReading reading;
    reading.port = index;
    reading.time = WallTime(due);
    reading.offsetSeconds = LocalOffsetAt(reading.time);
    reading.note = note;
    Finish(index, std::move(reading));
}

void Watch::Finish(int index, JournalReading reading)
{
    Port& port = m_ports[std::size_t(index)];
    if (!m_writeFailed)
        Check(m_output->Write(m_settings.watch, reading));
    if (m_journal)
        m_journal->Reading(m_journalWatch, reading);
    ++port.written;
    ++m_readings;
    if (reading.note != ReadingNote::None)
        ++m_noted;
    if (!m_syncTimer.isActive())
        m_syncTimer.start();
    emit ReadingWritten(reading);
    EndIfDone();
}

void Watch::Check(const Result<>& written)
{
    // The first failure is told; the lines after it are journaled, no longer written.
    if (written || m_writeFailed)
        return;
    m_writeFailed = true;
    m_problem = written.Reason();
    emit WriteProblem(m_problem);
}

void Watch::EndIfDone()
{
    if (!m_started || m_finished || MaySend())
        return;
    for (const Port& port : m_ports) {
        if (port.live)
            return;
    }
    m_finished = true;
    m_timer.stop();
    m_syncTimer.stop();
    Check(m_output->Sync());
    // From the event loop: whoever ends on it hears it after the last line's signal.
    QMetaObject::invokeMethod(this, &Watch::Finished, Qt::QueuedConnection);
}

} // namespace qm
