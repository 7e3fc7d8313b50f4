#include "ui/LiveRefresh.h"

#include <utility>

namespace qm {

LiveRefresh::LiveRefresh(std::function<void()> refresh, QObject* parent)
    : QObject(parent)
    , m_refresh(std::move(refresh))
{
    m_timer.setSingleShot(true);
    // To the millisecond: a coarse timer may fire a few milliseconds early, before the batch
    // the refresh was meant to fall with.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &LiveRefresh::Refresh);
}

void LiveRefresh::Changed()
{
    const qint64 since = m_last.isValid() ? m_last.elapsed() : LiveRefreshMs;
    if (since >= LiveRefreshMs) {
        // Due: with the changes still to come in this pass of the event loop.
        if (!m_timer.isActive() || m_timer.interval() != 0)
            m_timer.start(0);
    } else if (!m_timer.isActive()) {
        m_timer.start(static_cast<int>(LiveRefreshMs - since) + LastChangeLateMs);
    }
}

void LiveRefresh::Now()
{
    m_timer.stop();
    Refresh();
}

void LiveRefresh::Refresh()
{
    m_last.start();
    m_refresh();
}

} // namespace qm
