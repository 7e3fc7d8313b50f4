#pragma once

#include "records/ChartData.h"

#include <QString>

#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qm {

// A watch's readings as its chart draws them: for each instrument (a watched port) its
// readings in the order they came, each with its instant and its counters and total. A
// reading that carries a note (no answer, line lost...) holds no values and leaves a gap.

// The readings an instrument keeps for the chart; older ones are let go (the journal keeps
// them all). At one a second, more than two days.
inline constexpr std::size_t WatchChartMostPoints = 200000;

struct WatchChartPoint {
    qint64 utcMs = 0;      // the reading's instant, ms since the epoch, UTC
    int offsetSeconds = 0; // the local offset from UTC in force then
    // The counters and the total: none where the field holds no number or the value is beyond
    // ChartLimit, and none at all when the reading carries a note.
    std::array<std::optional<double>, ChartSeriesCount> values;
    bool noted = false;
};

// The point of a reading at `utcMs`: the record's values (as ChartData takes them, beyond
// ChartLimit left out), or a noted point when there is no record or `noted` is set.
WatchChartPoint WatchPointOf(qint64 utcMs, int offsetSeconds, const DecodedRecord* record,
                             bool noted);

// What the chart shows of each series: the values read, or the change since the reading
// before (counts per interval).
enum class WatchChartMode { Values, Changes };

// The value of `series` (0 to ChartSeriesCount - 1) at `point` in `mode`, `before` being
// the instrument's reading before it (null for the first): as Value gives it. For a caller
// that walks the readings itself, which is cheaper than asking Value for each.
inline std::optional<double> WatchValueOf(const WatchChartPoint& point,
                                          const WatchChartPoint* before, int series,
                                          WatchChartMode mode)
{
    const std::optional<double>& value = point.values[std::size_t(series)];
    if (point.noted || !value)
        return std::nullopt;
    double result = *value;
    if (mode == WatchChartMode::Changes) {
        if (!before || before->noted || !before->values[std::size_t(series)])
            return std::nullopt;
        result -= *before->values[std::size_t(series)];
        // Two values within the limit differ by at most twice it: that much is left out too.
        if (!(std::abs(result) <= ChartLimit))
            return std::nullopt;
    }
    return result;
}

class WatchChartData {
public:
    explicit WatchChartData(std::size_t mostPerInstrument = WatchChartMostPoints);

    // The instruments by the names their ports go by; every reading let go.
    void SetInstruments(std::vector<std::string> names);
    int Instruments() const { return int(m_names.size()); }
    const std::string& Name(int instrument) const { return m_names[std::size_t(instrument)]; }

    // The next reading of `instrument` (readings of one instrument come in time order). Past
    // the most kept the oldest are let go, a sixteenth of the most at once, so that the chart
    // is not drawn whole again with every reading. Out-of-range instruments are ignored.
    void Add(int instrument, const WatchChartPoint& point);
    const std::deque<WatchChartPoint>& Points(int instrument) const;
    // All readings of every instrument since SetInstruments, those let go too.
    std::int64_t Count() const { return m_count; }
    // The readings kept, of every instrument.
    std::size_t Kept() const;
    // Readings that carry a note, of those kept.
    std::int64_t Noted() const { return m_noted; }

    // The series' value at the reading `index` of `instrument`: as read, or the change since
    // the reading before; none when either holds no value (a gap), and for the first reading
    // in Changes.
    std::optional<double> Value(int instrument, std::size_t index, int series,
                                WatchChartMode mode) const;

    // The earliest and latest instants held; none while nothing is.
    std::optional<qint64> FirstMs() const;
    std::optional<qint64> LastMs() const;

    // Rises whenever readings already held change or go (new instruments, the oldest let go):
    // a drawing made before may then be wrong anywhere, not just at its end.
    std::uint64_t Generation() const { return m_generation; }

private:
    std::size_t m_most;
    std::vector<std::string> m_names;
    std::vector<std::deque<WatchChartPoint>> m_points;
    std::int64_t m_count = 0;
    std::int64_t m_noted = 0;
    std::uint64_t m_generation = 0;
};

// The smallest and largest value of the series chosen (`shown[instrument][series]`, every
// series of an instrument past its end) over the readings held, in `mode`: of the totals
// when `total` is set, of the counters otherwise.
std::optional<ValueSpan> WatchSpanOf(const WatchChartData& data, WatchChartMode mode,
                                     const std::vector<std::array<bool, ChartSeriesCount>>& shown,
                                     bool total);

// A tick of the time axis: its instant, the local time it reads ("14:05", "14:05:30" when the
// step is under a minute), and the local date ("2026-12-08") on the first tick and where the
// day changed since the tick before; empty elsewhere.
struct TimeTick {
    qint64 utcMs = 0;
    QString time;
    QString date;
    bool operator==(const TimeTick&) const = default;
};

// The time axis from `lowMs` to `highMs` (UTC): at most `mostTicks` ticks at round local
// times (1, 2, 5, 10, 15, 30 s; 1, 2, 5, 10, 15, 30 min; 1, 2, 3, 6, 12 h; days), local by
// `offsetAt` (the offset from UTC in seconds at an instant: a zone of half or quarter hours
// still gets ticks on its own round times).
std::vector<TimeTick> TimeTicks(qint64 lowMs, qint64 highMs, int mostTicks,
                                const std::function<int(qint64 utcMs)>& offsetAt);

// The span the time axis shows, from the first reading: a round length that holds the latest
// with room to spare, so that new readings seldom change the scale (and the whole chart is
// seldom drawn again); from `firstMs` to `firstMs + length`.
qint64 TimeAxisLength(qint64 firstMs, qint64 lastMs);

} // namespace qm
