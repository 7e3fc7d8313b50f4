#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

namespace qm {

// Tells when the answer to a command is over, so that the next command cannot start while
// the rest of this answer is still on its way (it would land in the new command's table).
// The answer is over when it has begun and the line has then been quiet for a while, when
// nothing at all arrived soon after the command, or in any case after the longest time an
// answer may take, so that a device that never stops talking cannot lock the operator out.
// The receive path only takes the time of each character; one timer does the rest.
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
    };

    explicit AnswerWatch(QObject* parent = nullptr);

    // For tests, which do not wait seconds for an answer to be over.
    void setIntervals(const Intervals& intervals) { m_intervals = intervals; }

    bool Waiting() const { return m_waiting; }

    // A command went out: from now on an answer is awaited.
    void CommandSent();
    // A character arrived. Cheap: it is called for every character.
    void CharacterArrived()
    {
        if (!m_waiting)
            return;
        m_lastCharacter = Clock::now();
        if (!m_begun)
            AnswerBegan();
    }
    // The port was lost, closed or changed: nothing more is awaited.
    void Stop();

signals:
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
    bool m_begun = false;
    Clock::time_point m_sent;
    Clock::time_point m_lastCharacter;
};

} // namespace qm
