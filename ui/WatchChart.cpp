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
    const int instruments = m_data.Instruments();
    const bool anew = !spans.valid || spans.generation != m_data.Generation()
                      || spans.taken.size() != std::size_t(instruments);
    if (anew) {
        spans = Spans{};
        spans.valid = true;
        spans.generation = m_data.Generation();
        spans.taken.assign(std::size_t(instruments), 0);
    }
    bool countersOut = anew;
    bool totalOut = anew;
    for (int instrument = 0; instrument < instruments; ++instrument) {
        const std::array<bool, ChartSeriesCount> shown = ShownOf(instrument);
        std::size_t& taken = spans.taken[std::size_t(instrument)];
        const std::size_t count = m_data.Points(instrument).size();
        for (; taken < count; ++taken) {
            for (int series = 0; series < ChartSeriesCount; ++series) {
                if (!shown[std::size_t(series)])
                    continue;
                const std::optional<double> value = m_data.Value(instrument, taken, series, m_mode);
                if (!value)
                    continue;
                const bool total = series == ChartTotalSeries;
                std::optional<ValueSpan>& span = total ? spans.total : spans.counters;
                if (!span)
                    span = ValueSpan{*value, *value};
                span->low = std::min(span->low, *value);
                span->high = std::max(span->high, *value);
                bool& out = total ? totalOut : countersOut;
                out = out || !Holds(total ? spans.totalAxis : spans.countersAxis, *value);
            }
        }
    }
    if (countersOut)
        spans.countersAxis = AxisWithRoom(spans.counters);
    if (totalOut)
        spans.totalAxis = AxisWithRoom(spans.total);

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

void WatchChart::DrawPlot(QPainter& painter, const Layout& layout, const QRect& strip) const
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
        for (int instrument = 0; instrument < m_data.Instruments(); ++instrument) {
            if (ShownOf(instrument)[std::size_t(series)])
                DrawSeries(painter, layout, area, instrument, series);
        }
    }
    painter.restore();
}

void WatchChart::DrawSeries(QPainter& painter, const Layout& layout, const QRect& area,
                            int instrument, int series) const
{
    const auto& points = m_data.Points(instrument);
    const QRect& plot = layout.plot;
    const ChartAxis& axis =
        series == ChartTotalSeries ? layout.scales.total : layout.scales.counters;

    // Every reading whose drawing can reach into the area, taken from the start of a pixel
    // column (and the reading before, to join it), so that a strip and the whole draw the
    // same lines there.
    std::size_t index = FirstFrom(points, layout, area.left() - Reach);
    index = index > 0 ? index - 1 : 0;
    std::size_t end = FirstFrom(points, layout, area.right() + Reach + 1);
    end = std::min(end + 1, points.size());

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
    // no more than the plot is wide.
    struct Column {
        double x = 0;
        QPointF first;
        QPointF last;
        double low = 0;
        double high = 0;
        int count = 0;
    };
    std::optional<Column> column;
    int run = 0; // readings since the last gap
    const auto endColumn = [&] {
        if (column && column->count > 1)
            segment(QPointF(column->first.x(), column->low),
                    QPointF(column->first.x(), column->high));
    };
    const auto endRun = [&] {
        if (column && run == 1) {
            // A reading between two gaps: a dot, or it would not show at all.
            painter.setPen(Qt::NoPen);
            painter.setBrush(pen.color());
            painter.drawEllipse(column->first, width, width);
            painter.setBrush(Qt::NoBrush);
            painter.setPen(pen);
        }
        endColumn();
        column.reset();
        run = 0;
    };
    for (; index < end; ++index) {
        const std::optional<double> value = m_data.Value(instrument, index, series, m_mode);
        if (!value) {
            endRun();
            continue;
        }
        const QPointF at(TimeX(layout, points[index].utcMs), ValueY(plot, axis, *value));
        const double x = std::floor(at.x());
        ++run;
        if (column && column->x == x) {
            column->last = at;
            column->low = std::min(column->low, at.y());
            column->high = std::max(column->high, at.y());
            ++column->count;
            continue;
        }
        endColumn();
        if (column)
            segment(column->last, at);
        column = Column{x, at, at, at.y(), at.y(), 1};
    }
    endRun();
}

void WatchChart::DrawWhole(QPainter& painter, QSize size) const
{
    const Layout layout = LayoutFor(size);
    DrawAround(painter, layout);
    DrawPlot(painter, layout, layout.plot);
}

void WatchChart::Redraw()
{
    const qreal ratio = devicePixelRatioF();
    m_picture = QPixmap(size() * ratio);
    m_picture.setDevicePixelRatio(ratio);
    m_pictureLayout = LayoutFor(size());
    QPainter painter(&m_picture);
    DrawAround(painter, m_pictureLayout);
    DrawPlot(painter, m_pictureLayout, m_pictureLayout.plot);
    m_pictureGeneration = m_data.Generation();
    m_drawn.clear();
    for (int instrument = 0; instrument < m_data.Instruments(); ++instrument)
        m_drawn.push_back(m_data.Points(instrument).size());
    m_pictureValid = true;
    ++m_draws.whole;
}

void WatchChart::Invalidate()
{
    m_spans.valid = false;
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
    // Only readings after the last drawn of each instrument are new: the strip from the
    // leftmost of those to the plot's end.
    std::optional<double> from;
    for (int instrument = 0; instrument < m_data.Instruments(); ++instrument) {
        const auto& points = m_data.Points(instrument);
        const std::size_t drawn = m_drawn[std::size_t(instrument)];
        for (std::size_t index = drawn > 0 ? drawn - 1 : 0; index < points.size(); ++index) {
            const double x = TimeX(layout, points[index].utcMs);
            from = std::min(from.value_or(x), x);
        }
        m_drawn[std::size_t(instrument)] = points.size();
    }
    if (!from)
        return;
    const int left = int(std::floor(*from)) - StripOverlap;
    const QRect strip(QPoint(std::max(left, layout.plot.left()), layout.plot.top()),
                      layout.plot.bottomRight());
    {
        QPainter painter(&m_picture);
        DrawPlot(painter, layout, strip);
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
