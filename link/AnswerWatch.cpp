#include "link/AnswerWatch.h"

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

void AnswerWatch::AnswerBegan()
{
    // The one restart of the timer an answer costs: from here on it is due when the line
    // may have gone quiet.
    m_begun = true;
    m_timer.start(m_intervals.quiet);
}

void AnswerWatch::Check()
{
    if (!m_waiting)
        return;
    if (!m_left) {
        m_waiting = false;
        emit NotSent();
        emit Over();
        return;
    }
    const auto now = Clock::now();
    const auto sinceCommand = std::chrono::duration_cast<milliseconds>(now - m_sent);
    if (sinceCommand >= m_intervals.longest)
        return Finish();
    milliseconds due;
    if (!m_begun) {
        if (sinceCommand >= m_intervals.noAnswer)
            return Finish();
        due = m_intervals.noAnswer - sinceCommand;
    } else {
        const auto quietFor = std::chrono::duration_cast<milliseconds>(now - m_lastCharacter);
        if (quietFor >= m_intervals.quiet)
            return Finish();
        due = m_intervals.quiet - quietFor;
    }
    m_timer.start(std::max(milliseconds(1), std::min(due, m_intervals.longest - sinceCommand)));
}

void AnswerWatch::Stop()
{
    if (m_waiting)
        Finish();
}

void AnswerWatch::Finish()
{
    m_timer.stop();
    m_waiting = false;
    emit Over();
}

} // namespace qm
