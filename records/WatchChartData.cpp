#include "records/WatchChartData.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace qm {

namespace {

constexpr qint64 SecondMs = 1000;
constexpr qint64 MinuteMs = 60 * SecondMs;
constexpr qint64 HourMs = 60 * MinuteMs;
constexpr qint64 DayMs = 24 * HourMs;

// The instants the time axis takes: about 270,000 years to either side of 1970. Beyond them
// an instant is taken at the nearest, so that no sum of an instant and a step overflows.
constexpr qint64 MostMs = 100'000'000 * DayMs;
// The largest offset from UTC taken; no zone is a day away.
constexpr int MostOffsetSeconds = 24 * 3600;

// The steps of the time axis shorter than a day; each divides a day, so a tick every step
// from midnight is a tick every step from 1970.
constexpr std::array<qint64, 17> ClockSteps{
    SecondMs, 2 * SecondMs, 5 * SecondMs, 10 * SecondMs, 15 * SecondMs, 30 * SecondMs,
    MinuteMs, 2 * MinuteMs, 5 * MinuteMs, 10 * MinuteMs, 15 * MinuteMs, 30 * MinuteMs,
    HourMs,   2 * HourMs,   3 * HourMs,   6 * HourMs,    12 * HourMs};

// The lengths of the time axis shorter than a day; from a day on, 1, 2 or 5 times a power of
// ten days.
constexpr std::array<qint64, 11> ClockLengths{
    MinuteMs, 2 * MinuteMs, 5 * MinuteMs, 10 * MinuteMs, 15 * MinuteMs, 30 * MinuteMs,
    HourMs,   2 * HourMs,   3 * HourMs,   6 * HourMs,    12 * HourMs};

// Room the time axis leaves after the latest reading: it holds this much more than the
// readings span before it grows.
constexpr double TimeRoom = 1.25;

// The next day step after `days`: 1, 2, 5, 10, 20, 50...
qint64 NextDaySteps(qint64 days)
{
    qint64 power = 1;
    while (power * 10 <= days)
        power *= 10;
    const qint64 leading = days / power;
    return leading < 2 ? 2 * power : leading < 5 ? 5 * power : 10 * power;
}

qint64 FloorDiv(qint64 value, qint64 step)
{
    const qint64 quotient = value / step;
    return quotient * step > value ? quotient - 1 : quotient;
}

// The first multiple of `step` at or after `value`.
qint64 CeilTo(qint64 value, qint64 step)
{
    const qint64 floor = FloorDiv(value, step) * step;
    return floor == value ? floor : floor + step;
}

// The offset at `utcMs` in ms, within reason whatever the caller's function says.
qint64 OffsetMs(const std::function<int(qint64)>& offsetAt, qint64 utcMs)
{
    const int seconds = offsetAt ? offsetAt(utcMs) : 0;
    return qint64(std::clamp(seconds, -MostOffsetSeconds, MostOffsetSeconds)) * SecondMs;
}

// The ticks every `step` of local time from `low` to `high`; none when there would be more
// than `most`. Local time runs with UTC between changes of the offset, so the ticks are
// found stretch by stretch: a round time under the offset in force, unless the offset has
// changed by then, in which case the search goes on from the change.
std::optional<std::vector<qint64>> TicksEvery(qint64 low, qint64 high, qint64 step, int most,
                                              const std::function<int(qint64)>& offsetAt)
{
    std::vector<qint64> ticks;
    // A zone whose offset changes at every turn would keep the search going.
    int changesLeft = 4 * most + 16;
    qint64 at = low;
    while (at <= high && changesLeft > 0) {
        const qint64 offset = OffsetMs(offsetAt, at);
        const qint64 candidate = CeilTo(at + offset, step) - offset;
        const qint64 until = std::min(candidate, high);
        if (OffsetMs(offsetAt, until) == offset) {
            if (candidate > high)
                break;
            ticks.push_back(candidate);
            if (int(ticks.size()) > most)
                return std::nullopt;
            at = candidate + 1;
            continue;
        }
        // The first instant of the next offset: the search goes on from there.
        qint64 before = at;
        qint64 after = until;
        while (after - before > 1) {
            const qint64 middle = before + (after - before) / 2;
            (OffsetMs(offsetAt, middle) == offset ? before : after) = middle;
        }
        at = after;
        --changesLeft;
    }
    return ticks;
}

QString LocalText(qint64 localMs, const QString& format)
{
    return QDateTime::fromMSecsSinceEpoch(localMs, QTimeZone::utc()).toString(format);
}

} // namespace

WatchChartPoint WatchPointOf(qint64 utcMs, int offsetSeconds, const DecodedRecord* record,
                             bool noted)
{
    WatchChartPoint point;
    point.utcMs = utcMs;
    point.offsetSeconds = offsetSeconds;
    point.noted = noted || !record;
    if (point.noted)
        return point;
    for (std::size_t series = 0; series < ChartSeriesCount; ++series) {
        const std::optional<double>& value = record->values[series];
        // Also false for a value that is no number.
        if (value && std::abs(*value) <= ChartLimit)
            point.values[series] = *value;
    }
    return point;
}

WatchChartData::WatchChartData(std::size_t mostPerInstrument)
    : m_most(std::max<std::size_t>(mostPerInstrument, 1))
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
    auto& points = m_points[std::size_t(instrument)];
    points.push_back(point);
    if (point.noted) {
        // A noted point holds no values, whatever it was given.
        points.back().values = {};
        ++m_noted;
    }
    ++m_count;
    if (points.size() <= m_most)
        return;
    // A sixteenth at once: each time the oldest go the chart is drawn whole again, which
    // should not come with every reading.
    const std::size_t go = std::max<std::size_t>(m_most / 16, 1) + points.size() - m_most - 1;
    const auto end = points.begin() + std::ptrdiff_t(go);
    m_noted -=
        std::count_if(points.begin(), end, [](const WatchChartPoint& old) { return old.noted; });
    points.erase(points.begin(), end);
    ++m_generation;
}

const std::deque<WatchChartPoint>& WatchChartData::Points(int instrument) const
{
    return m_points[std::size_t(instrument)];
}

std::size_t WatchChartData::Kept() const
{
    std::size_t kept = 0;
    for (const auto& points : m_points)
        kept += points.size();
    return kept;
}

std::optional<double> WatchChartData::Value(int instrument, std::size_t index, int series,
                                            WatchChartMode mode) const
{
    if (instrument < 0 || instrument >= Instruments() || series < 0 || series >= ChartSeriesCount)
        return std::nullopt;
    const auto& points = m_points[std::size_t(instrument)];
    if (index >= points.size())
        return std::nullopt;
    return WatchValueOf(points[index], index > 0 ? &points[index - 1] : nullptr, series, mode);
}

std::optional<qint64> WatchChartData::FirstMs() const
{
    std::optional<qint64> first;
    for (const auto& points : m_points) {
        if (!points.empty())
            first = std::min(first.value_or(points.front().utcMs), points.front().utcMs);
    }
    return first;
}

std::optional<qint64> WatchChartData::LastMs() const
{
    std::optional<qint64> last;
    for (const auto& points : m_points) {
        if (!points.empty())
            last = std::max(last.value_or(points.back().utcMs), points.back().utcMs);
    }
    return last;
}

std::optional<ValueSpan> WatchSpanOf(const WatchChartData& data, WatchChartMode mode,
                                     const std::vector<std::array<bool, ChartSeriesCount>>& shown,
                                     bool total)
{
    std::optional<ValueSpan> span;
    for (int instrument = 0; instrument < data.Instruments(); ++instrument) {
        for (int series = 0; series < ChartSeriesCount; ++series) {
            const bool chosen = std::size_t(instrument) >= shown.size()
                                || shown[std::size_t(instrument)][std::size_t(series)];
            if (!chosen || (series == ChartTotalSeries) != total)
                continue;
            const WatchChartPoint* before = nullptr;
            for (const WatchChartPoint& point : data.Points(instrument)) {
                const std::optional<double> value = WatchValueOf(point, before, series, mode);
                before = &point;
                if (!value)
                    continue;
                if (!span)
                    span = ValueSpan{*value, *value};
                span->low = std::min(span->low, *value);
                span->high = std::max(span->high, *value);
            }
        }
    }
    return span;
}

std::vector<TimeTick> TimeTicks(qint64 lowMs, qint64 highMs, int mostTicks,
                                const std::function<int(qint64 utcMs)>& offsetAt)
{
    lowMs = std::clamp(lowMs, -MostMs, MostMs);
    highMs = std::clamp(highMs, -MostMs, MostMs);
    if (mostTicks < 1 || highMs < lowMs)
        return {};
    // The shortest step whose ticks are few enough; a change of offset may add or take away
    // a few, so the count is judged from the ticks themselves.
    std::optional<std::vector<qint64>> instants;
    qint64 step = ClockSteps.front();
    for (std::size_t next = 1; !instants; ++next) {
        if ((highMs - lowMs) / step <= 2 * qint64(mostTicks) + 4)
            instants = TicksEvery(lowMs, highMs, step, mostTicks, offsetAt);
        if (!instants)
            step = next < ClockSteps.size() ? ClockSteps[next]
                   : step < DayMs           ? DayMs
                                            : NextDaySteps(step / DayMs) * DayMs;
    }

    const QString timeFormat =
        step < MinuteMs ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
    std::vector<TimeTick> ticks;
    std::optional<qint64> dayBefore;
    for (const qint64 instant : *instants) {
        const qint64 local = instant + OffsetMs(offsetAt, instant);
        const qint64 day = FloorDiv(local, DayMs);
        TimeTick tick;
        tick.utcMs = instant;
        tick.time = LocalText(local, timeFormat);
        if (day != dayBefore)
            tick.date = LocalText(local, QStringLiteral("yyyy-MM-dd"));
        dayBefore = day;
        ticks.push_back(std::move(tick));
    }
    return ticks;
}

qint64 TimeAxisLength(qint64 firstMs, qint64 lastMs)
{
    // Taken apart as doubles: the difference of two instants may not fit in one.
    const double needed = lastMs > firstMs ? (double(lastMs) - double(firstMs)) * TimeRoom : 0.0;
    for (const qint64 length : ClockLengths) {
        if (double(length) >= needed)
            return length;
    }
    qint64 days = 1;
    while (double(days) * double(DayMs) < needed && days < MostMs / DayMs)
        days = NextDaySteps(days);
    return std::min(days, MostMs / DayMs) * DayMs;
}

} // namespace qm
