#pragma once

#include "protocol/LinkState.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

namespace qm {

// How an awaited answer ended.
enum class AnswerEnd {
    Complete, // it began, and then the line was quiet
    CutShort, // the line went quiet inside a frame, or after one too long to keep
    NoAnswer, // nothing at all came in time
    TimedOut, // it was not over in the longest time an answer may take
    NotSent,  // the command never left the port
    Lost,     // the port went away
    Stopped,  // the port was closed or changed, or the program was asked to end
};

// Tells when the answer to a command is over, for both programs, each with its own
// intervals: so that the next command cannot start while the rest of this answer is still
// on its way (it would land in the new command's table), and so that an answer that ended
// inside a frame is known as cut short.
//
// The answer's clock starts when the command has left the port, not when it was written: a
// line whose output is stopped (by flow control, by another program) holds it, and the
// answer is not awaited before it can come. A command that has not left within a while is
// not sent at all. The answer is over when it has begun and the line has then been quiet
// for a while, when nothing at all arrived soon after the command, or in any case after the
// longest time an answer may take, so that a device that never stops talking cannot lock
// the operator out. The receive path only reports each character; one timer does the rest.
class AnswerWatch : public QObject {
    Q_OBJECT

public:
    struct Intervals {
        // The line quiet this long after the answer began: the answer is over.
        std::chrono::milliseconds quiet{500};
        // Nothing at all within this after the command: no answer is coming.
        std::chrono::milliseconds noAnswer{2000};
        // The largest answer, 201 records, takes about 9 s at 9600 baud.
        std::chrono::milliseconds longest{15000};
        // A command takes about 10 ms to leave at 9600 baud; one still there after this is
        // held by the line and dropped.
        std::chrono::milliseconds leave{2000};
        // The quiet ends an answer only once a whole frame has come: a line that goes quiet
        // after a few characters of noise is awaited until `longest`.
        bool quietOnlyAfterAFrame = false;
    };

    explicit AnswerWatch(QObject* parent = nullptr);

    void setIntervals(const Intervals& intervals) { m_intervals = intervals; }
    const Intervals& intervals() const { return m_intervals; }
    // Asked when a character comes before the command is known to have left: whether any of
    // it is still waiting to go. The port tells that it has left on a later turn of the event
    // loop, and a quick instrument's whole answer may come before that.
    void setStillSending(std::function<bool()> stillSending)
    {
        m_stillSending = std::move(stillSending);
    }

    bool Waiting() const { return m_waiting; }

    // A command was written: it is awaited to leave the port, then its answer.
    void CommandWritten();
    // The command has left the port: its answer may come from now on.
    void CommandLeft();
    // A character arrived and was taken in: what it did, and whether a frame is open after
    // it. Cheap: it is called for every character.
    void CharacterArrived(ChunkOutcome outcome, bool frameOpen)
    {
        if (!m_waiting)
            return;
        if (!m_left && !LeftBeforeTold())
            return;
        m_lastCharacter = Clock::now();
        m_frameOpen = frameOpen;
        if (outcome == ChunkOutcome::FrameAbandoned)
            m_frameAbandoned = true;
        else if (outcome != ChunkOutcome::Nothing && m_closedFrames++ == 0)
            FirstFrameClosed();
        if (!m_begun)
            AnswerBegan();
    }
    // Nothing more is awaited, for the reason given.
    void Stop(AnswerEnd end = AnswerEnd::Stopped);

signals:
    // The awaited answer is over, or will never come. After NotSent, what is left of the
    // command is to be dropped.
    void Over(qm::AnswerEnd end);

private:
    using Clock = std::chrono::steady_clock;

    bool LeftBeforeTold();
    void AnswerBegan();
    void FirstFrameClosed();
    void Check();
    void Rearm(Clock::duration due);
    void Finish(AnswerEnd end);

    Intervals m_intervals;
    std::function<bool()> m_stillSending;
    QTimer m_timer;
    bool m_waiting = false;
    bool m_left = false;
    bool m_begun = false;
    bool m_frameOpen = false;
    bool m_frameAbandoned = false;
    int m_closedFrames = 0;
    Clock::time_point m_sent;
    Clock::time_point m_lastCharacter;
};

} // namespace qm
