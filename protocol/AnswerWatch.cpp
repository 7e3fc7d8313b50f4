#include "protocol/AnswerWatch.h"

#include <algorithm>

namespace qm {

using std::chrono::milliseconds;

AnswerWatch::AnswerWatch(QObject* parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &AnswerWatch::Check);
}

void AnswerWatch::CommandWritten()
{
    m_waiting = true;
    m_left = false;
    m_begun = false;
    m_frameOpen = false;
    m_frameAbandoned = false;
    m_closedFrames = 0;
    m_timer.start(m_intervals.leave);
}

void AnswerWatch::CommandLeft()
{
    if (!m_waiting || m_left)
        return;
    m_left = true;
    m_sent = Clock::now();
    m_timer.start(std::min(m_intervals.noAnswer, m_intervals.longest));
}

bool AnswerWatch::LeftBeforeTold()
{
    if (!m_stillSending || m_stillSending())
        return false;
    CommandLeft();
    return true;
}

void AnswerWatch::AnswerBegan()
{
    // The one restart of the timer most answers cost: from here on it is due when the line
    // may have gone quiet.
    m_begun = true;
    if (!m_intervals.quietOnlyAfterAFrame)
        m_timer.start(m_intervals.quiet);
}

void AnswerWatch::FirstFrameClosed()
{
    if (m_intervals.quietOnlyAfterAFrame)
        m_timer.start(m_intervals.quiet);
}

void AnswerWatch::Check()
{
    if (!m_waiting)
        return;
    if (!m_left)
        return Finish(AnswerEnd::NotSent);
    const auto now = Clock::now();
    const auto sinceCommand = now - m_sent;
    if (!m_begun) {
        const auto noAnswer = std::min(m_intervals.noAnswer, m_intervals.longest);
        if (sinceCommand >= noAnswer)
            return Finish(AnswerEnd::NoAnswer);
        return Rearm(noAnswer - sinceCommand);
    }
    if (sinceCommand >= m_intervals.longest)
        return Finish(AnswerEnd::TimedOut);
    const auto left = m_intervals.longest - sinceCommand;
    if (m_intervals.quietOnlyAfterAFrame && m_closedFrames == 0)
        return Rearm(left);
    const auto quietFor = now - m_lastCharacter;
    if (quietFor >= m_intervals.quiet) {
        // A frame left open, or given up, may have been a record: the answer is not whole.
        const bool cut = m_frameOpen || m_frameAbandoned;
        return Finish(cut ? AnswerEnd::CutShort : AnswerEnd::Complete);
    }
    Rearm(std::min<Clock::duration>(m_intervals.quiet - quietFor, left));
}

void AnswerWatch::Rearm(Clock::duration due)
{
    // Rounded up, so that the check never comes before it is due and has to come again.
    m_timer.start(std::chrono::ceil<milliseconds>(std::max(due, Clock::duration::zero())));
}

void AnswerWatch::Stop(AnswerEnd end)
{
    if (m_waiting)
        Finish(end);
}

void AnswerWatch::Finish(AnswerEnd end)
{
    m_timer.stop();
    m_waiting = false;
    emit Over(end);
}

} // namespace qm
