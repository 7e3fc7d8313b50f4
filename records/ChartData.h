#pragma once

#include "records/RecordLayout.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// What the chart draws: the counters as lines on the left axis, the total as bars on the
// right one.
inline constexpr int ChartSeriesCount = RecordColumns - 1; // CNTR1 to CNTR5, TOTAL
inline constexpr int ChartTotalSeries = ChartSeriesCount - 1;

// The largest size of a value the chart draws. Within it every end, step and difference of an
// axis is an ordinary number; a value beyond it (a field of 1E308, say) is left out and
// counted, as a field that holds no number is. No instrument counts so far.
inline constexpr double ChartLimit = 1e300;

// A record as the chart holds it.
struct ChartRecord {
    // The seven texts the table shows for it (its own number first), for the tooltip.
    std::array<std::string, RecordColumns> cells;
    // The counters and the total; none where the field holds no number, a number no double
    // can hold, or one beyond ChartLimit.
    std::array<std::optional<double>, ChartSeriesCount> values;
    // Which values were left out for their size alone.
    std::array<bool, ChartSeriesCount> tooLarge{};
};

// The records the table shows, by their place in the answer (the table's row: 1 for the
// first), read from the records themselves: a field that holds no number has no value, where
// the table shows 0. Places run from 1 to Capacity(); a place holds a record or nothing.
class ChartData {
public:
    explicit ChartData(int capacity);

    int Capacity() const { return int(m_places.size()); }

    // The record shown at `place`: false, and nothing kept, for a place outside 1 to
    // Capacity().
    bool SetRecord(int place, const DecodedRecord& record);
    // The same, read from its frame.
    bool SetRecord(int place, std::string_view record, std::string_view decimalSeparator)
    {
        return SetRecord(place, DecodeRecord(record, decimalSeparator));
    }
    // Every place empty.
    void Clear();
    // Holds again what `earlier` holds (a copy taken before a change that is undone).
    void Restore(const ChartData& earlier);

    const ChartRecord* At(int place) const;
    // The highest place that holds a record; 0 when none does.
    int LastPlace() const { return m_last; }
    // Fields of the records held that are left out: those that hold no number, and of them
    // those whose number is too large to draw.
    int Gaps() const { return m_gaps; }
    int TooLarge() const { return m_tooLarge; }

    // Rises whenever what is held changes other than by a record at a place above
    // LastPlace(): a drawing made before may then be wrong anywhere, not just at its end.
    std::uint64_t Generation() const { return m_generation; }

private:
    void Count(const ChartRecord& record, int sign);

    std::vector<std::optional<ChartRecord>> m_places; // place p at p - 1
    int m_last = 0;
    int m_gaps = 0;
    int m_tooLarge = 0;
    std::uint64_t m_generation = 0;
};

// The smallest and largest of the values of the chosen series over every place.
struct ValueSpan {
    double low = 0.0;
    double high = 0.0;
};
std::optional<ValueSpan> SpanOf(const ChartData& data,
                                const std::array<bool, ChartSeriesCount>& series);

// An axis with round ticks: from `low` to `high` in steps of `step`, each of them 1, 2 or 5
// times a power of ten, both ends on a tick.
struct ChartAxis {
    double low = 0.0;
    double high = 1.0;
    double step = 1.0;

    std::vector<double> Ticks() const;
    // Where `value` lies from low (0) to high (1).
    double Fraction(double value) const { return (value - low) / (high - low); }
    bool operator==(const ChartAxis&) const = default;
};

// The axis over `span` with at most `mostTicks` ticks (at least 2). One value alone gets an
// axis around it, a step to either side; `fromZero` takes 0 in (bars stand on it). Always
// finite, whatever the span: ends beyond ChartLimit are taken at it, one that is no number at 0.
ChartAxis RoundAxis(ValueSpan span, bool fromZero, int mostTicks = 6);

// The places 1 to `lastPlace`, on an axis from 0 with whole round steps.
ChartAxis PlaceAxis(int lastPlace, int mostTicks = 6);

} // namespace qm
