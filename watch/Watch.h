#pragma once

#include "base/Result.h"
#include "journal/Journal.h"
#include "line/Exchange.h"
#include "watch/WatchSchedule.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace qm {

class JournalWriter;
class Line;

// Where a watch's CSV lines go: a file (appended to, a file per day) or a stream.
class WatchOutput {
public:
    virtual ~WatchOutput() = default;
    // Ready for the first line, which comes at `utc` (a file that is not the watch's own is
    // refused here, before anything is sent); why not, when it is not.
    virtual Result<> Open(const JournalWatch& watch, const QDateTime& utc, int offsetSeconds) = 0;
    // Writes the reading's line whole; may note in `reading` that a torn line was cut off the
    // file before it, which the journal then keeps too.
    virtual Result<> Write(const JournalWatch& watch, JournalReading& reading) = 0;
    // What was written is on the disk.
    virtual Result<> Sync() = 0;
};

// The present values of several instruments, read at an interval: each port has its own line
// and its own exchange, so that a slow or silent instrument never holds up another. Readings
// are due at start + k × interval on the monotonic clock; one that cannot be sent when due
// (the reading before still running, the port away, the program held up) is written as a
// line with its note and never sent late. Each reading is journaled whole and written as a
// CSV line as it ends.
//
// The lines are the caller's, open, and may be shared with other users (a window), whose
// commands queue with the readings on the wire. A lost port is waited for by its line, under
// what the line remembers of it.
class Watch : public QObject {
    Q_OBJECT

public:
    struct Settings {
        JournalWatch watch; // ports as named, one per line; program, version, interval
        Exchange::Intervals intervals;
        qint64 count = 0;                  // readings per port; 0: no limit
        std::chrono::milliseconds span{0}; // how long it runs; 0: until stopped
        // The monotonic clock the readings are due on; none: the system's. Tests give one
        // they move themselves.
        std::function<std::chrono::nanoseconds()> clock;
    };

    // When a reading's answer is over, unless told otherwise: quiet for 100 ms after a frame,
    // nothing at all within 5 s, a minute at most, as "qm6200-acquire watch" has them.
    static Exchange::Intervals DefaultIntervals();

    Watch(std::vector<Line*> lines, Settings settings, std::unique_ptr<WatchOutput> output,
          QObject* parent = nullptr);
    ~Watch() override;

    // Without it, or with no writer, nothing is journaled.
    void JournalTo(JournalWriter* writer) { m_journal = writer; }

    // Opens the output and takes the first readings; false, with Problem(), when the output
    // refuses. Call from the event loop.
    bool Start();
    // No reading is sent any more; those under way end, then Finished comes. `signal` is the
    // stop signal's number, 0 for none.
    void Stop(int signal = 0);

    // `line` is no longer the watch's to use (its other user chose another port on it): its
    // reading under way ends as the line ends it, and the readings due after are noted "line
    // lost", never sent. Whatever the line opens from now on is not read.
    void Release(const Line* line);

    // What the watch is: its ports, command, interval, and the instant it started.
    const JournalWatch& Described() const { return m_settings.watch; }

    // Why the output refused or failed; empty when it never did.
    const QString& Problem() const { return m_problem; }
    bool WriteFailed() const { return m_writeFailed; }
    int Signal() const { return m_signal; }
    qint64 Readings() const { return m_readings; }
    qint64 Noted() const { return m_noted; }
    bool Running() const { return m_started && !m_finished; }
    // The due instants taken so far, the first included.
    std::int64_t Taken() const { return m_schedule ? m_schedule->NextIndex() : 0; }

    // Each command's lateness against its due time, for the benchmark; in the order sent.
    const std::vector<std::chrono::microseconds>& Lateness() const { return m_lateness; }

signals:
    // A reading ended and was written: its port's index, what it holds.
    void ReadingWritten(const qm::JournalReading& reading);
    // The output failed (once): the watch goes on, journaling.
    void WriteProblem(const QString& problem);
    void Finished();

private:
    struct Port {
        Line* line = nullptr;
        // The reading under way, until it is over; compared only, never followed once over.
        const Exchange* live = nullptr;
        JournalReading reading;
        std::chrono::nanoseconds due{0};
        qint64 written = 0;    // lines of this port
        bool released = false; // the line is no longer the watch's (Release)
    };

    void Tick();
    void Due(std::chrono::nanoseconds due, bool missed);
    void Send(int port, std::chrono::nanoseconds due);
    void ReadingOver(int port, const Exchange* exchange, AnswerEnd end, const AnswerTally& tally);
    void Finish(int port, JournalReading reading);
    void Note(int port, std::chrono::nanoseconds due, ReadingNote note);
    bool PortDone(int port) const;
    bool MaySend() const;
    // An output's failure, told once.
    void Check(const Result<>& written);
    void EndIfDone();
    void ScheduleSync();
    std::chrono::nanoseconds Now() const;
    QDateTime WallTime(std::chrono::nanoseconds instant) const;

    Settings m_settings;
    std::vector<Port> m_ports;
    std::unique_ptr<WatchOutput> m_output;
    JournalWriter* m_journal = nullptr;
    quint64 m_journalWatch = 0;
    std::unique_ptr<WatchSchedule> m_schedule;
    QElapsedTimer m_clock;
    QDateTime m_startUtc; // the wall time at the monotonic clock's start
    QTimer m_timer;
    QTimer m_syncTimer;
    bool m_started = false;
    bool m_stopping = false;
    bool m_finished = false;
    bool m_writeFailed = false;
    int m_signal = 0;
    qint64 m_readings = 0;
    qint64 m_noted = 0;
    QString m_problem;
    std::vector<std::chrono::microseconds> m_lateness;
};

// The CSV to a stream (standard output): the header first, then each line whole.
std::unique_ptr<WatchOutput> StreamOutput(int fd);
// The CSV to a file by the watch's rules (WatchFile): appended to when it begins with the
// same header, a file per day when its name holds %F.
std::unique_ptr<WatchOutput> FileOutput(const QString& pattern);

} // namespace qm
