#include "watch/WatchSchedule.h"

#include <algorithm>

namespace qm {

WatchSchedule::WatchSchedule(Duration start, Duration every)
    : m_start(start)
    , m_every(std::max<Duration>(every, std::chrono::milliseconds(1)))
{
}

std::vector<WatchSchedule::Step> WatchSchedule::Take(Duration now)
{
    const Duration first = DueAt(m_next);
    if (now < first)
        return {};
    // The last reading due by now; the ones between were missed.
    const std::int64_t last = m_next + (now - first) / m_every;
    std::vector<Step> steps;
    if (last > m_next)
        steps.push_back({m_next, first, true, last - m_next});
    steps.push_back({last, DueAt(last), false, 1});
    m_next = last + 1;
    return steps;
}

WatchSchedule::Duration WatchSchedule::UntilNext(Duration now) const
{
    return std::max(DueAt(m_next) - now, Duration::zero());
}

} // namespace qm
