#include "ui/RecordChart.h"

#include "records/FieldNumber.h"
#include "ui/RecordChartAccess.h"

#include <QBuffer>
#include <QHelpEvent>
#include <QImage>
#include <QLocale>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QSvgGenerator>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace qm {

namespace {

// Okabe and Ito's colours, which readers with any common colour blindness tell apart; the
// counters also differ by the shape of their markers.
constexpr std::array<QRgb, ChartSeriesCount> SeriesColours{0xE69F00, 0x56B4E9, 0x009E73,
                                                           0x0072B2, 0xD55E00, 0xCC79A7};
enum class Marker { Circle, Square, TriangleUp, Diamond, TriangleDown };
constexpr std::array<Marker, ChartTotalSeries> SeriesMarkers{
    Marker::Circle, Marker::Square, Marker::TriangleUp, Marker::Diamond, Marker::TriangleDown};

constexpr int Margin = 8;
// One pixel: the painter's fast line drawing, anti-aliased, takes lines no wider.
constexpr double LineWidth = 1;
// Room inside the plot above the highest tick and below the lowest, so a marker there shows
// whole.
constexpr int PlotInset = 5;
// A strip of new records starts this far left of the last record drawn, so that the line's
// joint there and the marker over it are drawn again whole.
constexpr int StripOverlap = 6;

QColor SeriesColour(int series, int alpha = 255)
{
    QColor colour = QColor::fromRgb(SeriesColours[std::size_t(series)]);
    colour.setAlpha(alpha);
    return colour;
}

// The total's bars: its colour lightened, opaque, so that the lines over them stay clear and
// filling them costs no blending.
QColor BarColour()
{
    const QColor full = SeriesColour(ChartTotalSeries);
    const auto light = [](int channel) {
        return 255 - (255 - channel) * 45 / 100;
    };
    return QColor(light(full.red()), light(full.green()), light(full.blue()));
}

QString TickText(double value)
{
    return QString::fromStdString(WriteNumber(value, QLocale().decimalPoint().toStdString()));
}

int WidestTick(const QFontMetrics& metrics, const ChartAxis& axis)
{
    int widest = 0;
    for (const double tick : axis.Ticks())
        widest = std::max(widest, metrics.horizontalAdvance(TickText(tick)));
    return widest;
}

void DrawMarker(QPainter& painter, Marker marker, QPointF at, double radius)
{
    switch (marker) {
    case Marker::Circle:
        painter.drawEllipse(at, radius, radius);
        break;
    case Marker::Square:
        painter.drawRect(
            QRectF(at.x() - radius * 0.9, at.y() - radius * 0.9, radius * 1.8, radius * 1.8));
        break;
    case Marker::TriangleUp:
    case Marker::TriangleDown: {
        const double tip = marker == Marker::TriangleUp ? -1.2 : 1.2;
        const QPointF corners[] = {{at.x(), at.y() + tip * radius},
                                   {at.x() - radius * 1.1, at.y() - tip * radius * 0.8},
                                   {at.x() + radius * 1.1, at.y() - tip * radius * 0.8}};
        painter.drawPolygon(corners, 3);
        break;
    }
    case Marker::Diamond: {
        const double r = radius * 1.25;
        const QPointF corners[] = {
            {at.x(), at.y() - r}, {at.x() + r, at.y()}, {at.x(), at.y() + r}, {at.x() - r, at.y()}};
        painter.drawPolygon(corners, 4);
        break;
    }
    }
}

double MarkerRadius(double slot)
{
    return std::clamp(slot * 0.3, 1.5, 3.5);
}

} // namespace

RecordChart::RecordChart(const ChartData& records, QWidget* parent)
    : QWidget(parent)
    , m_data(records)
    , m_refresh([this] { Refresh(); })
{
    m_shown.fill(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(420, 260);
    setMouseTracking(false);
    MakeChartsReadable();
}

QString RecordChart::SeriesName(int series)
{
    return QString::fromLatin1(RecordHeaders[std::size_t(series + 1)]);
}

QString RecordChart::SummaryText() const
{
    int records = 0;
    for (int place = 1; place <= m_data.LastPlace(); ++place) {
        if (m_data.At(place))
            ++records;
    }
    QString text = records == 1 ? tr("1 record") : tr("%1 records").arg(records);
    const QString gaps = GapsText();
    if (!gaps.isEmpty())
        text += QStringLiteral("; ") + gaps;
    return text;
}

void RecordChart::DataChanged()
{
    m_refresh.Changed();
}

bool RecordChart::SeriesShown(int series) const
{
    return series >= 0 && series < ChartSeriesCount && m_shown[std::size_t(series)];
}

void RecordChart::SetSeriesShown(int series, bool shown)
{
    if (series < 0 || series >= ChartSeriesCount || m_shown[std::size_t(series)] == shown)
        return;
    m_shown[std::size_t(series)] = shown;
    m_pictureValid = false;
    update();
    TellSeriesShownChanged(*this, series);
}

void RecordChart::SetMarked(std::vector<int> places)
{
    if (places == m_marked)
        return;
    m_marked = std::move(places);
    update();
}

RecordChart::Layout RecordChart::LayoutFor(QSize size) const
{
    Layout layout;
    layout.size = size;
    std::array<bool, ChartSeriesCount> counters = m_shown;
    counters[ChartTotalSeries] = false;
    const std::array<bool, ChartSeriesCount> total{false, false, false,
                                                   false, false, m_shown[ChartTotalSeries]};
    const std::optional<ValueSpan> counterSpan = SpanOf(m_data, counters);
    const std::optional<ValueSpan> totalSpan = SpanOf(m_data, total);
    layout.counters = RoundAxis(counterSpan.value_or(ValueSpan{0, 0}), !counterSpan);
    layout.total = RoundAxis(totalSpan.value_or(ValueSpan{0, 0}), true);
    layout.places = PlaceAxis(m_data.LastPlace());
    // The rest follows from the size and the scales, and measuring texts is not free.
    if (m_lastLayout && m_lastLayout->size == size && m_lastLayout->places == layout.places
        && m_lastLayout->counters == layout.counters && m_lastLayout->total == layout.total)
        return *m_lastLayout;

    const QFontMetrics metrics(font());
    const int line = metrics.height();
    int x = Margin;
    for (int series = 0; series < ChartSeriesCount; ++series) {
        const int width = 22 + metrics.horizontalAdvance(SeriesName(series)) + 6;
        layout.legend[std::size_t(series)] = QRect(x, Margin, width, line + 4);
        x += width + 8;
    }
    const int top = Margin + line + 4 + line;
    // Below the plot: the places, the axis's name, the note.
    const int bottom = size.height() - Margin - 3 * line - 6;
    const int left = Margin + WidestTick(metrics, layout.counters) + 7;
    const int right = size.width() - Margin - WidestTick(metrics, layout.total) - 7;
    layout.plot =
        QRect(QPoint(left, top), QPoint(std::max(right, left + 1), std::max(bottom, top + 1)));
    layout.note =
        QRect(layout.plot.left(), size.height() - Margin - line, layout.plot.width(), line);
    m_lastLayout = layout;
    return layout;
}

double RecordChart::SlotWidth(const Layout& layout) const
{
    return layout.plot.width() / (layout.places.high + 0.5);
}

double RecordChart::PlaceX(const Layout& layout, double place) const
{
    return layout.plot.left() + place * SlotWidth(layout);
}

namespace {

double ValueY(const QRect& plot, const ChartAxis& axis, double value)
{
    const double height = plot.height() - 2 * PlotInset;
    return plot.bottom() - PlotInset - axis.Fraction(value) * height;
}

} // namespace

void RecordChart::DrawAround(QPainter& painter, const Layout& layout) const
{
    painter.save();
    painter.setFont(font());
    const QPalette& colours = palette();
    painter.fillRect(QRect(QPoint(), layout.size), Qt::white);
    const QFontMetrics metrics(font());
    const QRect& plot = layout.plot;

    // The legend: a sample of each series and its name, greyed when hidden.
    for (int series = 0; series < ChartSeriesCount; ++series) {
        const QRect entry = layout.legend[std::size_t(series)];
        const bool shown = m_shown[std::size_t(series)];
        const QPointF middle(entry.left() + 10, entry.center().y() + 0.5);
        painter.setRenderHint(QPainter::Antialiasing);
        if (series == ChartTotalSeries) {
            const QRectF bar(middle.x() - 6, middle.y() - 5, 12, 10);
            painter.setPen(SeriesColour(series));
            painter.setBrush(shown ? BarColour() : QColor(Qt::transparent));
            painter.drawRect(bar);
        } else {
            painter.setPen(QPen(SeriesColour(series), LineWidth));
            painter.drawLine(QPointF(middle.x() - 9, middle.y()),
                             QPointF(middle.x() + 9, middle.y()));
            painter.setBrush(shown ? SeriesColour(series) : QColor(Qt::white));
            DrawMarker(painter, SeriesMarkers[std::size_t(series)], middle, 3.5);
        }
        painter.setPen(shown ? colours.color(QPalette::Active, QPalette::Text)
                             : colours.color(QPalette::Disabled, QPalette::Text));
        painter.drawText(entry.adjusted(22, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         SeriesName(series));
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(Qt::black);

    // The frame, just outside the plot, so the plot can be drawn again strip by strip.
    painter.drawRect(plot.adjusted(-1, -1, 0, 0));

    // Ticks and their values: the counters left, the total right, the places below.
    const int line = metrics.height();
    for (const double tick : layout.counters.Ticks()) {
        const int y = int(std::lround(ValueY(plot, layout.counters, tick)));
        painter.drawLine(plot.left() - 5, y, plot.left() - 2, y);
        painter.drawText(QRect(0, y - line / 2, plot.left() - 7, line),
                         Qt::AlignRight | Qt::AlignVCenter, TickText(tick));
    }
    for (const double tick : layout.total.Ticks()) {
        const int y = int(std::lround(ValueY(plot, layout.total, tick)));
        painter.drawLine(plot.right() + 2, y, plot.right() + 5, y);
        painter.drawText(QRect(plot.right() + 7, y - line / 2, layout.size.width(), line),
                         Qt::AlignLeft | Qt::AlignVCenter, TickText(tick));
    }
    for (const double tick : layout.places.Ticks()) {
        const int x = int(std::lround(PlaceX(layout, tick)));
        painter.drawLine(x, plot.bottom() + 2, x, plot.bottom() + 5);
        painter.drawText(QRect(x - 40, plot.bottom() + 6, 80, line), Qt::AlignCenter,
                         TickText(tick));
    }

    // The axes' names.
    painter.drawText(QRect(plot.left(), plot.bottom() + 6 + line, plot.width(), line),
                     Qt::AlignCenter, tr("Record in the answer"));
    painter.drawText(QRect(plot.left() - 7 - WidestTick(metrics, layout.counters),
                           Margin + line + 4, layout.size.width(), line),
                     Qt::AlignLeft | Qt::AlignVCenter, tr("CNTR1 to CNTR5"));
    painter.drawText(
        QRect(0, Margin + line + 4, plot.right() + 7 + WidestTick(metrics, layout.total), line),
        Qt::AlignRight | Qt::AlignVCenter, SeriesName(ChartTotalSeries));

    painter.setPen(colours.color(QPalette::Active, QPalette::Text));
    painter.drawText(QRect(Margin, layout.note.top(), layout.size.width() - 2 * Margin, line),
                     Qt::AlignRight | Qt::AlignVCenter, GapsText());
    painter.restore();
}

void RecordChart::DrawPlot(QPainter& painter, const Layout& layout, const QRect& strip) const
{
    const QRect& plot = layout.plot;
    const QRect area = strip & plot;
    if (area.isEmpty())
        return;
    painter.save();
    painter.setClipRect(area);
    painter.fillRect(area, Qt::white);

    // Every record whose drawing can reach into the strip, and none other.
    const double slot = SlotWidth(layout);
    const double radius = MarkerRadius(slot);
    const double reach = std::max(radius * 1.3, slot * 0.5) + LineWidth + 1;
    const int first = std::max(1, int(std::floor((area.left() - reach - plot.left()) / slot)) - 1);
    const int last = std::min(m_data.LastPlace(),
                              int(std::ceil((area.right() + reach - plot.left()) / slot)) + 1);

    if (m_shown[ChartTotalSeries]) {
        // Whole pixels: bars stand upright, and filling them so is the cheapest there is.
        const int width = int(std::clamp(std::lround(slot * 0.6), 1L, 18L));
        const int base = int(std::lround(
            ValueY(plot, layout.total, std::clamp(0.0, layout.total.low, layout.total.high))));
        const QColor colour = BarColour();
        for (int place = first; place <= last; ++place) {
            const ChartRecord* record = m_data.At(place);
            if (!record || !record->values[ChartTotalSeries])
                continue;
            const int y =
                int(std::lround(ValueY(plot, layout.total, *record->values[ChartTotalSeries])));
            const int left = int(std::lround(PlaceX(layout, place))) - width / 2;
            painter.fillRect(
                QRect(QPoint(left, std::min(y, base)), QPoint(left + width - 1, std::max(y, base))),
                colour);
        }
    }

    // The counters' grid, over the bars.
    painter.setPen(QColor(0xE4E4E4));
    for (const double tick : layout.counters.Ticks()) {
        const int y = int(std::lround(ValueY(plot, layout.counters, tick)));
        painter.drawLine(area.left(), y, area.right(), y);
    }

    if (m_data.LastPlace() == 0) {
        painter.setPen(palette().color(QPalette::Disabled, QPalette::Text));
        painter.drawText(plot, Qt::AlignCenter, tr("No records"));
        painter.restore();
        return;
    }

    painter.setRenderHint(QPainter::Antialiasing);
    // On the screen and into a picture, each marker is a copy of one drawn once; a drawing
    // (SVG) gets them as shapes.
    const bool copies = painter.paintEngine()->type() == QPaintEngine::Raster;

    for (int series = 0; series < ChartTotalSeries; ++series) {
        if (!m_shown[std::size_t(series)])
            continue;
        // Lines join neighbouring records that both have a value; a gap breaks them.
        painter.setPen(QPen(SeriesColour(series), LineWidth));
        painter.setBrush(Qt::NoBrush);
        QPolygonF run;
        std::vector<QPointF> points;
        const auto endRun = [&] {
            if (run.size() > 1)
                painter.drawPolyline(run);
            run.clear();
        };
        for (int place = first; place <= last; ++place) {
            const ChartRecord* record = m_data.At(place);
            if (!record || !record->values[std::size_t(series)]) {
                endRun();
                continue;
            }
            const QPointF at(PlaceX(layout, place),
                             ValueY(plot, layout.counters, *record->values[std::size_t(series)]));
            run << at;
            points.push_back(at);
        }
        endRun();
        painter.setPen(Qt::NoPen);
        painter.setBrush(SeriesColour(series));
        if (copies) {
            const QImage& sprite =
                MarkerSprite(series, radius, painter.device()->devicePixelRatioF());
            const QPointF centre(sprite.deviceIndependentSize().width() / 2,
                                 sprite.deviceIndependentSize().height() / 2);
            for (const QPointF& at : points)
                painter.drawImage(at - centre, sprite);
        } else {
            for (const QPointF& at : points)
                DrawMarker(painter, SeriesMarkers[std::size_t(series)], at, radius);
        }
    }
    painter.restore();
}

const QImage& RecordChart::MarkerSprite(int series, double radius, qreal ratio) const
{
    if (radius != m_spriteRadius || ratio != m_spriteRatio) {
        for (QImage& sprite : m_sprites)
            sprite = QImage();
        m_spriteRadius = radius;
        m_spriteRatio = ratio;
    }
    QImage& sprite = m_sprites[std::size_t(series)];
    if (sprite.isNull()) {
        const int side = int(std::ceil(radius * 3 + 2));
        sprite = QImage(QSize(side, side) * ratio, QImage::Format_ARGB32_Premultiplied);
        sprite.setDevicePixelRatio(ratio);
        sprite.fill(Qt::transparent);
        QPainter painter(&sprite);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(SeriesColour(series));
        DrawMarker(painter, SeriesMarkers[std::size_t(series)], QPointF(side / 2.0, side / 2.0),
                   radius);
    }
    return sprite;
}

void RecordChart::DrawWhole(QPainter& painter, QSize size) const
{
    const Layout layout = LayoutFor(size);
    DrawAround(painter, layout);
    DrawPlot(painter, layout, layout.plot);
}

void RecordChart::Redraw()
{
    const qreal ratio = devicePixelRatioF();
    m_picture = QPixmap(size() * ratio);
    m_picture.setDevicePixelRatio(ratio);
    m_pictureLayout = LayoutFor(size());
    QPainter painter(&m_picture);
    DrawAround(painter, m_pictureLayout);
    DrawPlot(painter, m_pictureLayout, m_pictureLayout.plot);
    m_pictureGeneration = m_data.Generation();
    m_drawnPlace = m_data.LastPlace();
    m_pictureValid = true;
    ++m_draws.whole;
}

void RecordChart::Refresh()
{
    if (!m_pictureValid)
        return update(); // drawn whole when painted
    const Layout layout = LayoutFor(size());
    if (!(layout == m_pictureLayout) || m_data.Generation() != m_pictureGeneration) {
        m_pictureValid = false;
        return update();
    }
    if (m_data.LastPlace() <= m_drawnPlace)
        return;
    // Only records after the last one drawn are new: the strip from there to the plot's end.
    const int from = int(std::floor(PlaceX(layout, m_drawnPlace))) - StripOverlap;
    const QRect strip(QPoint(std::max(from, layout.plot.left()), layout.plot.top()),
                      layout.plot.bottomRight());
    {
        QPainter painter(&m_picture);
        DrawPlot(painter, layout, strip);
    }
    m_drawnPlace = m_data.LastPlace();
    ++m_draws.strips;
    update(strip);
}

void RecordChart::paintEvent(QPaintEvent* event)
{
    if (!m_pictureValid || m_picture.deviceIndependentSize().toSize() != size())
        Redraw();
    QPainter painter(this);
    const QRect area = event->rect();
    const qreal ratio = m_picture.devicePixelRatio();
    painter.drawPixmap(area, m_picture,
                       QRectF(area.topLeft() * ratio, area.size() * ratio).toRect());

    // What is marked, over the picture.
    const Layout& layout = m_pictureLayout;
    const double slot = SlotWidth(layout);
    const double width = std::max(slot, 5.0);
    for (const int place : m_marked) {
        if (place < 1 || place > layout.places.high)
            continue;
        const QRectF band(PlaceX(layout, place) - width / 2, layout.plot.top(), width,
                          layout.plot.height());
        painter.fillRect(band, QColor(0, 0, 0, 36));
        painter.setPen(QColor(0, 0, 0, 120));
        painter.drawLine(QLineF(band.center().x(), band.top(), band.center().x(), band.bottom()));
    }
}

void RecordChart::resizeEvent(QResizeEvent* event)
{
    m_pictureValid = false;
    QWidget::resizeEvent(event);
}

void RecordChart::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::PaletteChange) {
        m_pictureValid = false;
        m_lastLayout.reset();
        update();
    }
    QWidget::changeEvent(event);
}

void RecordChart::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const QPoint point = event->position().toPoint();
    for (int series = 0; series < ChartSeriesCount; ++series) {
        if (LegendEntry(series).contains(point))
            return SetSeriesShown(series, !SeriesShown(series));
    }
    const int place = PlaceAt(point);
    if (place > 0 && m_data.At(place))
        emit RecordClicked(place);
}

bool RecordChart::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int place = PlaceAt(help->pos());
        const QString text = RecordText(place);
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

QRect RecordChart::LegendEntry(int series) const
{
    if (series < 0 || series >= ChartSeriesCount)
        return {};
    return LayoutFor(size()).legend[std::size_t(series)];
}

QPoint RecordChart::PlacePoint(int place) const
{
    const Layout layout = LayoutFor(size());
    return QPointF(PlaceX(layout, place), layout.plot.center().y()).toPoint();
}

int RecordChart::PlaceAt(QPoint point) const
{
    const Layout layout = LayoutFor(size());
    if (!layout.plot.contains(point))
        return 0;
    const int place = int(std::lround((point.x() - layout.plot.left()) / SlotWidth(layout)));
    return place >= 1 && place <= m_data.Capacity() ? place : 0;
}

QString RecordChart::RecordText(int place) const
{
    const ChartRecord* record = m_data.At(place);
    if (!record)
        return {};
    QStringList lines{tr("Row %1").arg(place)};
    for (int column = 0; column < RecordColumns; ++column) {
        const std::size_t series = std::size_t(std::max(column - 1, 0));
        const bool gap = column > 0 && !record->values[series];
        const QString cell = QString::fromStdString(record->cells[std::size_t(column)]);
        lines << QStringLiteral("%1\t%2").arg(
            QString::fromLatin1(RecordHeaders[std::size_t(column)]),
            !gap                       ? cell
            : record->tooLarge[series] ? tr("%1 (too large to draw)").arg(cell)
                                       : tr("no number"));
    }
    return lines.join(QLatin1Char('\n'));
}

QString RecordChart::GapsText() const
{
    const int gaps = m_data.Gaps();
    const int tooLarge = m_data.TooLarge();
    if (gaps == 0)
        return {};
    if (tooLarge == 0)
        return gaps == 1 ? tr("1 value left out: its field holds no number")
                         : tr("%1 values left out: their fields hold no number").arg(gaps);
    if (tooLarge == gaps)
        return gaps == 1 ? tr("1 value left out: too large to draw")
                         : tr("%1 values left out: too large to draw").arg(gaps);
    return tr("%1 values left out: %2 with no number, %3 too large to draw")
        .arg(gaps)
        .arg(gaps - tooLarge)
        .arg(tooLarge);
}

QByteArray RecordChart::Image(ImageFormat format, QSize size) const
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (format == ImageFormat::Png) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            DrawWhole(painter, size);
        }
        image.save(&buffer, "PNG");
    } else {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(), size));
        // Laid out with the screen's font sizes; drawn at the same resolution.
        svg.setResolution(logicalDpiX());
        svg.setTitle(tr("QM-6200 records"));
        QPainter painter(&svg);
        DrawWhole(painter, size);
    }
    return bytes;
}

} // namespace qm
