#include "records/ChartData.h"

#include <algorithm>
#include <cmath>

namespace qm {

namespace {

// The finest step an axis takes: values closer than this to each other are drawn at one height.
constexpr double FinestStep = 1e-300;

} // namespace

ChartData::ChartData(int capacity)
    : m_places(std::size_t(std::max(capacity, 0)))
{
}

bool ChartData::SetRecord(int place, const DecodedRecord& record)
{
    if (place < 1 || place > Capacity())
        return false;
    auto& slot = m_places[std::size_t(place - 1)];
    if (slot || place <= m_last)
        ++m_generation;
    if (slot)
        Count(*slot, -1);
    ChartRecord kept;
    kept.cells = record.cells;
    for (std::size_t series = 0; series < ChartSeriesCount; ++series) {
        const std::optional<double>& value = record.values[series];
        if (!value)
            continue;
        if (std::abs(*value) <= ChartLimit)
            kept.values[series] = *value;
        else
            kept.tooLarge[series] = true;
    }
    Count(kept, +1);
    slot = std::move(kept);
    m_last = std::max(m_last, place);
    return true;
}

void ChartData::Count(const ChartRecord& record, int sign)
{
    for (std::size_t series = 0; series < ChartSeriesCount; ++series) {
        m_gaps += record.values[series] ? 0 : sign;
        m_tooLarge += record.tooLarge[series] ? sign : 0;
    }
}

void ChartData::Clear()
{
    std::fill(m_places.begin(), m_places.end(), std::nullopt);
    m_last = 0;
    m_gaps = 0;
    m_tooLarge = 0;
    ++m_generation;
}

void ChartData::Restore(const ChartData& earlier)
{
    const std::uint64_t generation = std::max(m_generation, earlier.m_generation) + 1;
    *this = earlier;
    m_generation = generation;
}

const ChartRecord* ChartData::At(int place) const
{
    if (place < 1 || place > Capacity())
        return nullptr;
    const auto& slot = m_places[std::size_t(place - 1)];
    return slot ? &*slot : nullptr;
}

std::optional<ValueSpan> SpanOf(const ChartData& data,
                                const std::array<bool, ChartSeriesCount>& series)
{
    std::optional<ValueSpan> span;
    for (int place = 1; place <= data.LastPlace(); ++place) {
        const ChartRecord* record = data.At(place);
        if (!record)
            continue;
        for (int s = 0; s < ChartSeriesCount; ++s) {
            const auto& value = record->values[std::size_t(s)];
            if (!series[std::size_t(s)] || !value)
                continue;
            if (!span)
                span = ValueSpan{*value, *value};
            span->low = std::min(span->low, *value);
            span->high = std::max(span->high, *value);
        }
    }
    return span;
}

std::vector<double> ChartAxis::Ticks() const
{
    // RoundAxis makes none but ordinary axes; one made otherwise gets its ends.
    constexpr double MostTicks = 1000;
    const double count = std::round((high - low) / step);
    if (!(step > 0) || !std::isfinite(count) || count > MostTicks)
        return {low, high};
    std::vector<double> ticks;
    for (double i = 0; i <= count; ++i) {
        // From the index, not by adding steps, so no rounding error piles up; a tick that
        // should be 0 is 0, not 1e-17.
        const double tick = low + i * step;
        ticks.push_back(std::abs(tick) < step * 1e-9 ? 0.0 : tick);
    }
    return ticks;
}

namespace {

// The round step (1, 2 or 5 times a power of ten) at least `rough`.
double RoundStep(double rough)
{
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
        if (factor * power >= rough * (1 - 1e-12))
            return factor * power;
    }
    return 10.0 * power;
}

} // namespace

ChartAxis RoundAxis(ValueSpan span, bool fromZero, int mostTicks)
{
    mostTicks = std::clamp(mostTicks, 2, 1000);
    const auto drawable = [](double value) {
        return std::isnan(value) ? 0.0 : std::clamp(value, -ChartLimit, ChartLimit);
    };
    double low = std::min(drawable(span.low), drawable(span.high));
    double high = std::max(drawable(span.low), drawable(span.high));
    if (fromZero) {
        low = std::min(low, 0.0);
        high = std::max(high, 0.0);
    }
    if (!(high > low)) {
        // One value: 0 alone stands at the foot of 0 to 1; any other has a round step to
        // either side, a tenth of its own size.
        if (low == 0)
            return {0.0, 1.0, 1.0};
        const double step = RoundStep(std::max(std::abs(low) / 10, FinestStep));
        const double middle = std::floor(low / step) * step;
        return {middle - step, middle + step, step};
    }
    // The smallest round step that covers the span with ends on ticks within the limit. Each
    // try at least half as large again as the one before: a few suffice.
    double step = RoundStep(std::max((high - low) / double(mostTicks - 1), FinestStep));
    for (int tries = 0; tries < 64; ++tries) {
        const double first = std::floor(low / step) * step;
        const double last = std::ceil(high / step) * step;
        if (std::round((last - first) / step) + 1 <= mostTicks)
            return {first, last, step};
        step = RoundStep(step * 1.5);
    }
    // No round step does (two ticks about zero, say): the span's own ends.
    return {low, high, high - low};
}

ChartAxis PlaceAxis(int lastPlace, int mostTicks)
{
    ChartAxis axis = RoundAxis({0.0, double(std::max(lastPlace, 1))}, true, mostTicks);
    if (axis.step < 1) {
        // Places are whole: no ticks between them.
        axis.step = 1;
        axis.high = std::max(std::ceil(axis.high), 1.0);
    }
    axis.low = 0;
    return axis;
}

} // namespace qm
