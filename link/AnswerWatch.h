#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

namespace qm {

// Tells when the answer to a command is over, so that the next command cannot start while
// the rest of this answer is still on its way (it would land in the new command's table).
// The answer's clock starts when the command has left the port, not when it was written: a
// line whose output is stopped (by flow control, by another program) holds it, and the
// answer is not awaited before it can come. A command that has not left within a while is
// not sent at all. The answer is over when it has begun and the line has then been quiet
// for a while, when nothing at all arrived soon after the command, or in any case after the
// longest time an answer may take, so that a device that never stops talking cannot lock
// the operator out. The receive path only takes the time of each character; one timer does
// the rest.
class AnswerWatch : public QObject {
    Q_OBJECT

public:
    struct Intervals {
        // The line quiet this long after the answer began: the answer is complete.
        std::chrono::milliseconds quiet{500};
        // Nothing at all within this after the command: no answer is coming.
        std::chrono::milliseconds noAnswer{2000};
        // The largest answer, 201 records, takes about 9 s at 9600 baud.
        std::chrono::milliseconds longest{15000};
        // A command takes about 10 ms to leave at 9600 baud; one still there after this is
        // held by the line and dropped.
        std::chrono::milliseconds leave{2000};
    };

    explicit AnswerWatch(QObject* parent = nullptr);

    // For tests, which do not wait seconds for an answer to be over.
    void setIntervals(const Intervals& intervals) { m_intervals = intervals; }
    const Intervals& intervals() const { return m_intervals; }

    bool Waiting() const { return m_waiting; }

    // A command was written: it is awaited to leave the port, then its answer.
    void CommandWritten();
    // The command has left the port: its answer may come from now on.
    void CommandLeft();
    // A character arrived. Cheap: it is called for every character.
    void CharacterArrived()
    {
        if (!m_waiting || !m_left)
            return;
        m_lastCharacter = Clock::now();
        if (!m_begun)
            AnswerBegan();
    }
    // The port was lost, closed or changed: nothing more is awaited.
    void Stop();

signals:
    // The command did not leave the port in time: what is left of it is to be dropped. Over
    // follows.
    void NotSent();
    // The awaited answer is over (or will never come).
    void Over();

private:
    using Clock = std::chrono::steady_clock;

    void AnswerBegan();
    void Check();
    void Finish();

    Intervals m_intervals;
    QTimer m_timer;
    bool m_waiting = false;
    bool m_left = false;
    bool m_begun = false;
    Clock::time_point m_sent;
    Clock::time_point m_lastCharacter;
};

} // namespace qm
