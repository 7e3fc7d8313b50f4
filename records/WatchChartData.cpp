#include "records/WatchChartData.h"

// Placeholder until the chart's data is written.

namespace qm {

WatchChartPoint WatchPointOf(qint64 utcMs, int offsetSeconds, const DecodedRecord* record,
                             bool noted)
{
    WatchChartPoint point;
    point.utcMs = utcMs;
    point.offsetSeconds = offsetSeconds;
    point.noted = noted || !record;
    if (!point.noted)
        point.values = record->values;
    return point;
}

WatchChartData::WatchChartData(std::size_t mostPerInstrument)
    : m_most(mostPerInstrument)
{
}

void WatchChartData::SetInstruments(std::vector<std::string> names)
{
    m_names = std::move(names);
    m_points.assign(m_names.size(), {});
    m_count = 0;
    m_noted = 0;
    ++m_generation;
}

void WatchChartData::Add(int instrument, const WatchChartPoint& point)
{
    if (instrument < 0 || instrument >= Instruments())
        return;
    m_points[std::size_t(instrument)].push_back(point);
    ++m_count;
}

const std::deque<WatchChartPoint>& WatchChartData::Points(int instrument) const
{
    return m_points[std::size_t(instrument)];
}

std::optional<double> WatchChartData::Value(int, std::size_t, int, WatchChartMode) const
{
    return std::nullopt;
}

std::optional<qint64> WatchChartData::FirstMs() const
{
    return std::nullopt;
}

std::optional<qint64> WatchChartData::LastMs() const
{
    return std::nullopt;
}

std::optional<ValueSpan> WatchSpanOf(const WatchChartData&, WatchChartMode,
                                     const std::vector<std::array<bool, ChartSeriesCount>>&, bool)
{
    return std::nullopt;
}

std::vector<TimeTick> TimeTicks(qint64, qint64, int, const std::function<int(qint64)>&)
{
    return {};
}

qint64 TimeAxisLength(qint64, qint64)
{
    return 60000;
}

} // namespace qm
