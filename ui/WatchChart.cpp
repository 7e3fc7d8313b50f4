#include "ui/WatchChart.h"

#include "records/FieldNumber.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDateTime>
#include <QHelpEvent>
#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <QTimeZone>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qm {

namespace {

// Okabe and Ito's eight colours, which readers with any common colour blindness tell apart;
// their black is a mid grey here, which shows on a dark background as on a light one. The
// instruments take them in turn, the ninth the first again.
constexpr std::array<QRgb, 8> InstrumentColours{0xE69F00, 0x0072B2, 0x009E73, 0xCC79A7,
                                                0xD55E00, 0x56B4E9, 0xF0E442, 0x999999};
// The counters by the line's pattern; the total solid and wider.
constexpr std::array<Qt::PenStyle, ChartSeriesCount> SeriesStyles{
    Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine, Qt::DashDotDotLine, Qt::SolidLine};
constexpr double CounterWidth = 1.5;
constexpr double TotalWidth = 2.5;

constexpr int Margin = 8;
// Room inside the plot above the highest tick and below the lowest, so a line there shows
// whole.
constexpr int PlotInset = 4;
// How far a reading's drawing reaches to either side of it, at most: half the widest line,
// its round end, a reading alone drawn as a dot, and a pixel of smoothing.
constexpr int Reach = 5;
// A strip of new readings starts this far left of the last reading drawn, so that the line's
// joint there, or the dot of a reading that was alone, is drawn again whole.
constexpr int StripOverlap = Reach + 1;
// How near another instrument's reading must be to the one pointed at to be told with it.
constexpr double TogetherPixels = 6;

// How many readings ahead of the one taken in the next is asked for (Prefetch).
constexpr std::ptrdiff_t PrefetchAhead = 8;

// Asks for a reading's memory before it is needed. The readings lie a few to a block of
// their deque, and the blocks of one instrument lie apart, among those of the others: a walk
// over every reading held would otherwise wait on the memory at nearly each one.
void Prefetch(const WatchChartPoint& point)
{
    const auto* bytes = reinterpret_cast<const char*>(&point);
    for (std::size_t at = 0; at < sizeof point; at += 64)
        __builtin_prefetch(bytes + at);
    __builtin_prefetch(bytes + sizeof point - 1);
}

QColor InstrumentColour(int instrument)
{
    const int count = int(InstrumentColours.size());
    return QColor::fromRgb(InstrumentColours[std::size_t((instrument % count + count) % count)]);
}

QString NumberText(double value)
{
    return QString::fromStdString(WriteNumber(value, QLocale().decimalPoint().toStdString()));
}

int WidestTick(const QFontMetrics& metrics, const ChartAxis& axis)
{
    int widest = 0;
    for (const double tick : axis.Ticks())
        widest = std::max(widest, metrics.horizontalAdvance(NumberText(tick)));
    return widest;
}

// The offset from UTC of this computer's zone at `utcMs`: the time axis reads as its clock.
int LocalOffset(qint64 utcMs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc();
}

// A reading's own local time, with its date unless `withDate` is false.
QString ReadingTime(const WatchChartPoint& point, bool withDate = true)
{
    const QDateTime local =
        QDateTime::fromMSecsSinceEpoch(point.utcMs, QTimeZone::utc()).addSecs(point.offsetSeconds);
    return local.toString(withDate ? QStringLiteral("yyyy-MM-dd HH:mm:ss")
                                   : QStringLiteral("HH:mm:ss"));
}

qint64 LocalDay(const WatchChartPoint& point)
{
    return QDateTime::fromMSecsSinceEpoch(point.utcMs, QTimeZone::utc())
        .addSecs(point.offsetSeconds)
        .date()
        .toJulianDay();
}

// The axis over `span` with room to either side, but not across zero.
ChartAxis AxisWithRoom(const std::optional<ValueSpan>& span)
{
    if (!span)
        return RoundAxis({0.0, 0.0}, true);
    // Both ends are within ChartLimit, so this and the ends with it are ordinary numbers;
    // RoundAxis takes ends beyond the limit at it.
    const double room = (span->high - span->low) / 4;
    ValueSpan wide{span->low - room, span->high + room};
    if (span->low >= 0)
        wide.low = std::max(wide.low, 0.0);
    if (span->high <= 0)
        wide.high = std::min(wide.high, 0.0);
    return RoundAxis(wide, false);
}

bool Holds(const ChartAxis& axis, double value)
{
    return value >= axis.low && value <= axis.high;
}

double ValueY(const QRect& plot, const ChartAxis& axis, double value)
{
    const double height = plot.height() - 1 - 2 * PlotInset;
    const double fraction = axis.high > axis.low ? axis.Fraction(value) : 0.5;
    const double y = plot.bottom() - PlotInset - fraction * height;
    // A value off the axis (one that came after the scales were found) stays near the plot:
    // the painter takes no coordinates too large for its own sums.
    return std::isfinite(y) ? std::clamp(y, plot.top() - 100.0, plot.bottom() + 100.0)
                            : plot.center().y();
}

// The chart, to a screen reader: a chart whose description tells what it shows, unless the
// window gave it one.
class WatchChartAccessible : public QAccessibleWidget {
public:
    explicit WatchChartAccessible(WatchChart* chart)
        : QAccessibleWidget(chart, QAccessible::Chart)
    {
    }
    QString text(QAccessible::Text kind) const override
    {
        if (kind != QAccessible::Description || !widget()->accessibleDescription().isEmpty())
            return QAccessibleWidget::text(kind);
        return static_cast<const WatchChart*>(widget())->SummaryText();
    }
};

QAccessibleInterface* WatchChartAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("qm::WatchChart"))
        return new WatchChartAccessible(static_cast<WatchChart*>(object));
    return nullptr;
}

} // namespace

WatchChart::WatchChart(const WatchChartData& readings, QWidget* parent)
    : QWidget(parent)
    , m_data(readings)
    , m_refresh([this] { Refresh(); })
{
    static const bool readable = [] {
        QAccessible::installFactory(WatchChartAccessibleFactory);
        return true;
    }();
    Q_UNUSED(readable);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(420, 220);
}

void WatchChart::DataChanged()
{
    m_refresh.Changed();
}

void WatchChart::SetMode(WatchChartMode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    Invalidate();
}

bool WatchChart::SeriesShown(int instrument, int series) const
{
    if (series < 0 || series >= ChartSeriesCount)
        return false;
    return ShownOf(instrument)[std::size_t(series)];
}

void WatchChart::SetSeriesShown(int instrument, int series, bool shown)
{
    if (instrument < 0 || series < 0 || series >= ChartSeriesCount
        || SeriesShown(instrument, series) == shown)
        return;
    std::array<bool, ChartSeriesCount> all;
    all.fill(true);
    if (std::size_t(instrument) >= m_shown.size())
        m_shown.resize(std::size_t(instrument) + 1, all);
    m_shown[std::size_t(instrument)][std::size_t(series)] = shown;
    Invalidate();
}

std::array<bool, ChartSeriesCount> WatchChart::ShownOf(int instrument) const
{
    if (instrument >= 0 && std::size_t(instrument) < m_shown.size())
        return m_shown[std::size_t(instrument)];
    std::array<bool, ChartSeriesCount> all;
    all.fill(true);
    return all;
}

QPen WatchChart::SeriesPen(int instrument, int series)
{
    series = std::clamp(series, 0, ChartTotalSeries);
    QPen pen(InstrumentColour(instrument), series == ChartTotalSeries ? TotalWidth : CounterWidth,
             SeriesStyles[std::size_t(series)], Qt::RoundCap, Qt::RoundJoin);
    return pen;
}

QString WatchChart::SummaryText() const
{
    const int instruments = m_data.Instruments();
    const QString named =
        instruments == 1 ? tr("1 instrument") : tr("%1 instruments").arg(instruments);
    const std::size_t kept = m_data.Kept();
    if (kept == 0)
        return tr("%1, no readings yet").arg(named);

    // The earliest and the latest reading, each read in its own local time.
    const WatchChartPoint* first = nullptr;
    const WatchChartPoint* last = nullptr;
    for (int instrument = 0; instrument < instruments; ++instrument) {
        const auto& points = m_data.Points(instrument);
        if (points.empty())
            continue;
        if (!first || points.front().utcMs < first->utcMs)
            first = &points.front();
        if (!last || points.back().utcMs > last->utcMs)
            last = &points.back();
    }
    const bool sameDay = LocalDay(*first) == LocalDay(*last);
    QString text = kept == 1 ? tr("%1, 1 reading at %2").arg(named, ReadingTime(*first, false))
                             : tr("%1, %2 readings from %3 to %4")
                                   .arg(named, QString::number(kept), ReadingTime(*first, !sameDay),
                                        ReadingTime(*last, !sameDay));
    const std::int64_t noted = m_data.Noted();
    if (noted == 1)
        text += tr("; 1 with a note");
    else if (noted > 1)
        text += tr("; %1 with a note").arg(noted);
    return text;
}

QString WatchChart::TextAt(QPoint point) const
{
    const Layout layout = LayoutFor(size());
    if (m_data.Kept() == 0 || !layout.plot.adjusted(-Reach, -Reach, Reach, Reach).contains(point))
        return {};
    // The reading nearest across, of any instrument with a series shown; then of each such
    // instrument the reading nearest that one, if it is near enough to have been read with it.
    const auto nearestOf = [&](int instrument, double x) -> std::optional<std::size_t> {
        const auto& points = m_data.Points(instrument);
        const std::array<bool, ChartSeriesCount> shown = ShownOf(instrument);
        if (points.empty() || std::none_of(shown.begin(), shown.end(), [](bool on) { return on; }))
            return std::nullopt;
        const std::size_t after = std::min(FirstFrom(points, layout, x), points.size() - 1);
        const std::size_t before = after > 0 ? after - 1 : after;
        return std::abs(TimeX(layout, points[before].utcMs) - x)
                       <= std::abs(TimeX(layout, points[after].utcMs) - x)
                   ? before
                   : after;
    };
    std::optional<double> nearestX;
    const WatchChartPoint* nearest = nullptr;
    for (int instrument = 0; instrument < m_data.Instruments(); ++instrument) {
        const std::optional<std::size_t> index = nearestOf(instrument, point.x());
        if (!index)
            continue;
        const WatchChartPoint& reading = m_data.Points(instrument)[*index];
        const double x = TimeX(layout, reading.utcMs);
        if (!nearestX || std::abs(x - point.x()) < std::abs(*nearestX - point.x())) {
            nearestX = x;
            nearest = &reading;
        }
    }
    if (!nearest)
        return {};

    QStringList lines{m_mode == WatchChartMode::Values
                          ? ReadingTime(*nearest)
                          : tr("%1, change since the reading before").arg(ReadingTime(*nearest))};
    for (int instrument = 0; instrument < m_data.Instruments(); ++instrument) {
        const std::optional<std::size_t> index = nearestOf(instrument, *nearestX);
        if (!index)
            continue;
        const std::array<bool, ChartSeriesCount> shown = ShownOf(instrument);
        const WatchChartPoint& reading = m_data.Points(instrument)[*index];
        if (std::abs(TimeX(layout, reading.utcMs) - *nearestX) > TogetherPixels)
            continue;
        const QString name = QString::fromStdString(m_data.Name(instrument));
        if (reading.noted) {
            lines << tr("%1: a note, no values").arg(name);
            continue;
        }
        QStringList values;
        for (int series = 0; series < ChartSeriesCount; ++series) {
            if (!shown[std::size_t(series)])
                continue;
            const std::optional<double> value = m_data.Value(instrument, *index, series, m_mode);
            values << QStringLiteral("%1 %2").arg(
                QString::fromLatin1(RecordHeaders[std::size_t(series + 1)]),
                value ? NumberText(*value) : tr("none"));
        }
        lines << QStringLiteral("%1: %2").arg(name, values.join(QStringLiteral(", ")));
    }
    return lines.join(QLatin1Char('\n'));
}

WatchChart::Scales WatchChart::ScalesNow() const
{
    Spans& spans = m_spans;
    const std::size_t instruments = std::size_t(m_data.Instruments());
    if (spans.generation != m_data.Generation() || spans.instruments.size() != instruments) {
        spans = Spans{};
        spans.generation = m_data.Generation();
        spans.instruments.resize(instruments);
    }
    const std::size_t mode = m_mode == WatchChartMode::Values ? 0 : 1;
    bool countersOut = !spans.axesValid;
    bool totalOut = !spans.axesValid;
    for (std::size_t instrument = 0; instrument < instruments; ++instrument) {
        const std::array<bool, ChartSeriesCount> shown = ShownOf(int(instrument));
        Spans::Taken& taken = spans.instruments[instrument];
        const auto& points = m_data.Points(int(instrument));
        if (taken.readings >= points.size())
            continue;
        auto point = points.begin() + std::ptrdiff_t(taken.readings);
        const WatchChartPoint* before = taken.readings > 0 ? &*(point - 1) : nullptr;
        auto ahead = point + std::min<std::ptrdiff_t>(PrefetchAhead, points.end() - point);
        for (; point != points.end(); before = &*point, ++point) {
            if (ahead != points.end())
                Prefetch(*ahead++);
            if (point->noted)
                continue;
            for (std::size_t series = 0; series < ChartSeriesCount; ++series) {
                for (const WatchChartMode each :
                     {WatchChartMode::Values, WatchChartMode::Changes}) {
                    const std::optional<double> value =
                        WatchValueOf(*point, before, int(series), each);
                    if (!value)
                        continue;
                    const std::size_t at = each == WatchChartMode::Values ? 0 : 1;
                    std::optional<ValueSpan>& span = taken.spans[at][series];
                    if (!span)
                        span = ValueSpan{*value, *value};
                    span->low = std::min(span->low, *value);
                    span->high = std::max(span->high, *value);
                    if (at != mode || !shown[series])
                        continue;
                    const bool total = series == ChartTotalSeries;
                    bool& out = total ? totalOut : countersOut;
                    out = out || !Holds(total ? spans.totalAxis : spans.countersAxis, *value);
                }
            }
        }
        taken.readings = points.size();
    }
    if (countersOut || totalOut) {
        // Of the series shown, in the mode shown.
        std::optional<ValueSpan> counters;
        std::optional<ValueSpan> total;
        for (std::size_t instrument = 0; instrument < instruments; ++instrument) {
            const std::array<bool, ChartSeriesCount> shown = ShownOf(int(instrument));
            for (std::size_t series = 0; series < ChartSeriesCount; ++series) {
                const std::optional<ValueSpan>& span =
                    spans.instruments[instrument].spans[mode][series];
                if (!shown[series] || !span)
                    continue;
                std::optional<ValueSpan>& into = series == ChartTotalSeries ? total : counters;
                into = into ? ValueSpan{std::min(into->low, span->low),
                                        std::max(into->high, span->high)}
                            : *span;
            }
        }
        if (countersOut)
            spans.countersAxis = AxisWithRoom(counters);
        if (totalOut)
            spans.totalAxis = AxisWithRoom(total);
        spans.axesValid = true;
    }

    Scales scales;
    scales.counters = spans.countersAxis;
    scales.total = spans.totalAxis;
    const std::optional<qint64> first = m_data.FirstMs();
    const std::optional<qint64> last = m_data.LastMs();
    if (first && last) {
        scales.readings = true;
        scales.timeLow = *first;
        scales.timeLength = TimeAxisLength(*first, *last);
    }
    return scales;
}

WatchChart::Layout WatchChart::LayoutFor(QSize size) const
{
    const Scales scales = ScalesNow();
    // The rest follows from the size and the scales, and measuring texts and finding the
    // ticks is not free.
    if (m_lastLayout && m_lastLayout->size == size && m_lastLayout->scales == scales)
        return *m_lastLayout;

    Layout layout;
    layout.size = size;
    layout.scales = scales;
    const QFontMetrics metrics(font());
    const int line = metrics.height();
    // Above the plot the axes' names; below it the times and the dates.
    const int top = Margin + line + 4;
    const int bottom = size.height() - Margin - 2 * line - 6;
    const int left = Margin + WidestTick(metrics, scales.counters) + 7;
    const int right = size.width() - Margin - WidestTick(metrics, scales.total) - 7;
    layout.plot =
        QRect(QPoint(left, top), QPoint(std::max(right, left + 1), std::max(bottom, top + 1)));
    if (scales.readings) {
        const int tickWidth = std::max(metrics.horizontalAdvance(QStringLiteral("00:00:00")),
                                       metrics.horizontalAdvance(QStringLiteral("0000-00-00")))
                              + 16;
        const int mostTicks = std::max(2, layout.plot.width() / std::max(tickWidth, 1));
        // The end of an axis that starts at the last instant there is would not be one.
        const qint64 end = scales.timeLow > std::numeric_limits<qint64>::max() - scales.timeLength
                               ? std::numeric_limits<qint64>::max()
                               : scales.timeLow + scales.timeLength;
        layout.ticks = TimeTicks(scales.timeLow, end, mostTicks, LocalOffset);
    }
    m_lastLayout = layout;
    return layout;
}

double WatchChart::TimeX(const Layout& layout, qint64 utcMs) const
{
    const QRect& plot = layout.plot;
    // As doubles: an instant far from the axis's start differs from it by more than an
    // integer holds. The length is a minute at least.
    const double fraction = (double(utcMs) - double(layout.scales.timeLow))
                            / double(std::max<qint64>(layout.scales.timeLength, 1));
    const double x = plot.left() + fraction * (plot.width() - 1);
    // A reading far off the axis stays near the plot, as a value does.
    return std::clamp(x, double(plot.left() - plot.width() - 100),
                      double(plot.right() + plot.width() + 100));
}

std::size_t WatchChart::FirstFrom(const std::deque<WatchChartPoint>& points, const Layout& layout,
                                  double x) const
{
    // Halving, which ends whatever the order of the readings.
    std::size_t low = 0;
    std::size_t high = points.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (TimeX(layout, points[middle].utcMs) < x)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void WatchChart::DrawAround(QPainter& painter, const Layout& layout) const
{
    painter.save();
    painter.setFont(font());
    const QPalette& colours = palette();
    painter.fillRect(QRect(QPoint(), layout.size), colours.color(QPalette::Base));
    const QFontMetrics metrics(font());
    const int line = metrics.height();
    const QRect& plot = layout.plot;
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(colours.color(QPalette::Text));

    // The frame, just outside the plot, so the plot can be drawn again strip by strip.
    painter.drawRect(plot.adjusted(-1, -1, 0, 0));

    // Ticks and their texts: the counters left, the total right, the times below.
    for (const double tick : layout.scales.counters.Ticks()) {
        const int y = int(std::lround(ValueY(plot, layout.scales.counters, tick)));
        painter.drawLine(plot.left() - 5, y, plot.left() - 2, y);
        painter.drawText(QRect(0, y - line / 2, plot.left() - 7, line),
                         Qt::AlignRight | Qt::AlignVCenter, NumberText(tick));
    }
    for (const double tick : layout.scales.total.Ticks()) {
        const int y = int(std::lround(ValueY(plot, layout.scales.total, tick)));
        painter.drawLine(plot.right() + 2, y, plot.right() + 5, y);
        painter.drawText(QRect(plot.right() + 7, y - line / 2, layout.size.width(), line),
                         Qt::AlignLeft | Qt::AlignVCenter, NumberText(tick));
    }
    for (const TimeTick& tick : layout.ticks) {
        const int x = int(std::lround(TimeX(layout, tick.utcMs)));
        painter.drawLine(x, plot.bottom() + 2, x, plot.bottom() + 5);
        const int width =
            std::max(metrics.horizontalAdvance(tick.time), metrics.horizontalAdvance(tick.date))
            + 4;
        // Centred under the tick, but whole within the chart.
        const int textLeft = std::max(0, std::min(x - width / 2, layout.size.width() - width));
        const QRect time(textLeft, plot.bottom() + 6, width, line);
        painter.drawText(time, Qt::AlignCenter, tick.time);
        painter.drawText(time.translated(0, line), Qt::AlignCenter, tick.date);
    }

    // The axes' names.
    const bool changes = m_mode == WatchChartMode::Changes;
    const QString total = QString::fromLatin1(RecordHeaders[ChartSeriesCount]);
    painter.drawText(QRect(Margin, Margin, layout.size.width() - 2 * Margin, line),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     changes ? tr("CNTR1 to CNTR5, change per interval") : tr("CNTR1 to CNTR5"));
    painter.drawText(QRect(Margin, Margin, layout.size.width() - 2 * Margin, line),
                     Qt::AlignRight | Qt::AlignVCenter,
                     changes ? tr("%1, change per interval").arg(total) : total);
    painter.restore();
}

void WatchChart::DrawPlot(QPainter& painter, const Layout& layout, const QRect& strip,
                          const Columns& columns) const
{
    const QRect& plot = layout.plot;
    const QRect area = strip & plot;
    if (area.isEmpty())
        return;
    painter.save();
    painter.setClipRect(area);
    const QPalette& colours = palette();
    painter.fillRect(area, colours.color(QPalette::Base));

    // The grid: the counters' ticks across, the times up; a tenth of the text's colour.
    const QColor text = colours.color(QPalette::Text);
    const QColor base = colours.color(QPalette::Base);
    const auto mix = [](int ink, int paper) {
        return (ink + 9 * paper) / 10;
    };
    painter.setPen(QColor(mix(text.red(), base.red()), mix(text.green(), base.green()),
                          mix(text.blue(), base.blue())));
    for (const double tick : layout.scales.counters.Ticks()) {
        const int y = int(std::lround(ValueY(plot, layout.scales.counters, tick)));
        painter.drawLine(area.left(), y, area.right(), y);
    }
    for (const TimeTick& tick : layout.ticks) {
        const int x = int(std::lround(TimeX(layout, tick.utcMs)));
        painter.drawLine(x, area.top(), x, area.bottom());
    }

    if (!layout.scales.readings) {
        painter.setPen(colours.color(QPalette::Disabled, QPalette::Text));
        painter.drawText(plot, Qt::AlignCenter, tr("No readings yet"));
        painter.restore();
        return;
    }

    painter.setRenderHint(QPainter::Antialiasing);
    // The totals first: the counters' thinner lines over their wider ones.
    for (const int series : {ChartTotalSeries, 0, 1, 2, 3, 4}) {
        for (int instrument = 0; instrument < int(columns.instruments.size()); ++instrument) {
            const Columns::Runs& runs = columns.instruments[std::size_t(instrument)];
            if (runs.shown[std::size_t(series)])
                DrawSeries(painter, layout, area, runs, instrument, series);
        }
    }
    painter.restore();
}

void WatchChart::TakeIn(Columns& columns, const Layout& layout) const
{
    const std::size_t instruments = std::size_t(m_data.Instruments());
    bool anew = !columns.valid || columns.plot != layout.plot || !(columns.scales == layout.scales)
                || columns.mode != m_mode || columns.generation != m_data.Generation()
                || columns.instruments.size() != instruments;
    for (std::size_t instrument = 0; !anew && instrument < instruments; ++instrument) {
        const Columns::Runs& runs = columns.instruments[instrument];
        anew = runs.shown != ShownOf(int(instrument))
               || runs.taken > m_data.Points(int(instrument)).size();
    }
    if (anew) {
        columns = Columns{};
        columns.valid = true;
        columns.plot = layout.plot;
        columns.scales = layout.scales;
        columns.mode = m_mode;
        columns.generation = m_data.Generation();
        columns.instruments.resize(instruments);
        for (std::size_t instrument = 0; instrument < instruments; ++instrument)
            columns.instruments[instrument].shown = ShownOf(int(instrument));
    }

    const QRect& plot = layout.plot;
    for (std::size_t instrument = 0; instrument < instruments; ++instrument) {
        Columns::Runs& runs = columns.instruments[instrument];
        const auto& points = m_data.Points(int(instrument));
        if (runs.taken >= points.size())
            continue;
        std::vector<int> shown;
        for (int series = 0; series < ChartSeriesCount; ++series) {
            if (runs.shown[std::size_t(series)])
                shown.push_back(series);
        }
        auto point = points.begin() + std::ptrdiff_t(runs.taken);
        const WatchChartPoint* before = runs.taken > 1 ? &*(point - 2) : nullptr;
        // Whether the reading before held a value, by series: a line goes on from it.
        std::array<bool, ChartSeriesCount> going{};
        if (runs.taken > 0) {
            for (const int series : shown)
                going[std::size_t(series)] =
                    WatchValueOf(*(point - 1), before, series, m_mode).has_value();
            before = &*(point - 1);
        }
        // Each series' span in the last run.
        std::array<ColumnSpan*, ChartSeriesCount> last{};
        if (!runs.x.empty()) {
            for (const int series : shown)
                last[std::size_t(series)] = &runs.spans[std::size_t(series)].back();
        }
        auto ahead = point + std::min<std::ptrdiff_t>(PrefetchAhead, points.end() - point);
        // A reading's place across is found once, for every series.
        for (; point != points.end(); before = &*point, ++point) {
            if (ahead != points.end())
                Prefetch(*ahead++);
            const double x = TimeX(layout, point->utcMs);
            const int column = int(std::floor(x));
            if (runs.x.empty() || runs.x.back() != column) {
                runs.ordered = runs.ordered && (runs.x.empty() || runs.x.back() < column);
                runs.x.push_back(column);
                for (const int series : shown)
                    last[std::size_t(series)] = &runs.spans[std::size_t(series)].emplace_back();
            }
            if (point->noted) {
                going.fill(false);
                continue;
            }
            for (const int series : shown) {
                const std::optional<double> value = WatchValueOf(*point, before, series, m_mode);
                bool& on = going[std::size_t(series)];
                if (!value) {
                    on = false;
                    continue;
                }
                const ChartAxis& axis =
                    series == ChartTotalSeries ? layout.scales.total : layout.scales.counters;
                const QPointF at(x, ValueY(plot, axis, *value));
                ColumnSpan& span = *last[std::size_t(series)];
                if (span.count == 0) {
                    span.first = at;
                    span.top = at.y();
                    span.bottom = at.y();
                    span.joined = on;
                } else {
                    span.top = std::min(span.top, at.y());
                    span.bottom = std::max(span.bottom, at.y());
                }
                span.last = at;
                ++span.count;
                on = true;
            }
        }
        runs.taken = points.size();
    }
}

void WatchChart::DrawSeries(QPainter& painter, const Layout& layout, const QRect& area,
                            const Columns::Runs& runs, int instrument, int series) const
{
    const std::vector<ColumnSpan>& spans = runs.spans[std::size_t(series)];
    const QRect& plot = layout.plot;

    // Every column whose drawing can reach into the area, and the one after it, whose line
    // comes in across the area's edge; a strip and the whole draw the same lines there. Out
    // of time order, every column.
    std::size_t begin = 0;
    std::size_t end = spans.size();
    if (runs.ordered) {
        begin = std::size_t(std::lower_bound(runs.x.begin(), runs.x.end(), area.left() - Reach)
                            - runs.x.begin());
        end = std::size_t(std::upper_bound(runs.x.begin(), runs.x.end(), area.right() + Reach)
                          - runs.x.begin());
        end = std::min(end + 1, spans.size());
    }

    QPen pen = SeriesPen(instrument, series);
    const double width = pen.widthF();
    // The pattern anchored across the plot rather than along each line, so that a line
    // drawn in parts, and the whole, has its dashes in the same places.
    double pattern = 0;
    for (const qreal part : pen.dashPattern())
        pattern += part;
    const bool dashed = pen.style() != Qt::SolidLine && pattern > 0;
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const auto segment = [&](QPointF from, QPointF to) {
        if (dashed) {
            pen.setDashOffset(std::fmod((from.x() - plot.left()) / width, pattern));
            painter.setPen(pen);
        }
        painter.drawLine(from, to);
    };

    // Readings that fall in one pixel column are drawn as the column's span of values,
    // joined to the columns on either side: as many readings as there are, the lines are
    // no more than the plot is wide. A gap within a column is narrower than a pixel and
    // does not show; one between columns breaks the line.
    for (std::size_t index = begin; index < end; ++index) {
        const ColumnSpan& span = spans[index];
        if (span.count == 0)
            continue;
        if (span.joined && index > 0)
            segment(spans[index - 1].last, span.first);
        if (span.count > 1) {
            segment(QPointF(span.first.x(), span.top), QPointF(span.first.x(), span.bottom));
        } else if (!span.joined && !(index + 1 < spans.size() && spans[index + 1].joined)) {
            // A reading between two gaps: a dot, or it would not show at all.
            painter.setPen(Qt::NoPen);
            painter.setBrush(pen.color());
            painter.drawEllipse(span.first, width, width);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(pen);
        }
    }
}

void WatchChart::DrawWhole(QPainter& painter, QSize size) const
{
    const Layout layout = LayoutFor(size);
    Columns columns;
    TakeIn(columns, layout);
    DrawAround(painter, layout);
    DrawPlot(painter, layout, layout.plot, columns);
}

void WatchChart::Redraw()
{
    const qreal ratio = devicePixelRatioF();
    m_picture = QPixmap(size() * ratio);
    m_picture.setDevicePixelRatio(ratio);
    m_pictureLayout = LayoutFor(size());
    TakeIn(m_columns, m_pictureLayout);
    QPainter painter(&m_picture);
    DrawAround(painter, m_pictureLayout);
    DrawPlot(painter, m_pictureLayout, m_pictureLayout.plot, m_columns);
    m_pictureGeneration = m_data.Generation();
    m_drawn.clear();
    for (int instrument = 0; instrument < m_data.Instruments(); ++instrument)
        m_drawn.push_back(m_data.Points(instrument).size());
    m_pictureValid = true;
    ++m_draws.whole;
}

void WatchChart::Invalidate()
{
    m_spans.axesValid = false;
    m_pictureValid = false;
    update();
}

void WatchChart::Refresh()
{
    if (!m_pictureValid)
        return update(); // drawn whole when painted
    const Layout layout = LayoutFor(size());
    if (!(layout == m_pictureLayout) || m_data.Generation() != m_pictureGeneration
        || m_drawn.size() != std::size_t(m_data.Instruments())) {
        m_pictureValid = false;
        return update();
    }
    // Only readings after the last drawn of each instrument are new: the strip across them
    // and the last drawn before them, whose line they go on.
    std::optional<double> from;
    std::optional<double> to;
    for (int instrument = 0; instrument < m_data.Instruments(); ++instrument) {
        const auto& points = m_data.Points(instrument);
        const std::size_t drawn = m_drawn[std::size_t(instrument)];
        for (auto point = points.begin() + std::ptrdiff_t(drawn > 0 ? drawn - 1 : 0);
             point != points.end(); ++point) {
            const double x = TimeX(layout, point->utcMs);
            from = std::min(from.value_or(x), x);
            to = std::max(to.value_or(x), x);
        }
        m_drawn[std::size_t(instrument)] = points.size();
    }
    if (!from)
        return;
    const QRect strip = QRect(QPoint(int(std::floor(*from)) - StripOverlap, layout.plot.top()),
                              QPoint(int(std::ceil(*to)) + StripOverlap, layout.plot.bottom()))
                        & layout.plot;
    if (strip.isEmpty())
        return;
    TakeIn(m_columns, layout);
    {
        QPainter painter(&m_picture);
        DrawPlot(painter, layout, strip, m_columns);
    }
    ++m_draws.strips;
    update(strip);
}

void WatchChart::paintEvent(QPaintEvent* event)
{
    if (!m_pictureValid || m_picture.deviceIndependentSize().toSize() != size())
        Redraw();
    QPainter painter(this);
    const QRect area = event->rect();
    const qreal ratio = m_picture.devicePixelRatio();
    painter.drawPixmap(area, m_picture,
                       QRectF(area.topLeft() * ratio, area.size() * ratio).toRect());
}

void WatchChart::resizeEvent(QResizeEvent* event)
{
    m_pictureValid = false;
    QWidget::resizeEvent(event);
}

void WatchChart::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        m_pictureValid = false;
        m_lastLayout.reset();
        update();
    }
    QWidget::changeEvent(event);
}

bool WatchChart::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = TextAt(help->pos());
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), text, this);
        }
        return true;
    }
    return QWidget::event(event);
}

} // namespace qm
