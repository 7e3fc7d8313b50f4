#include "ui/WatchChart.h"

#include <QPainter>

// Placeholder until the chart is drawn.

namespace qm {

WatchChart::WatchChart(const WatchChartData& readings, QWidget* parent)
    : QWidget(parent)
    , m_data(readings)
    , m_refresh([this] { Refresh(); })
{
    setMinimumSize(420, 220);
}

void WatchChart::DataChanged()
{
    m_refresh.Changed();
}

void WatchChart::SetMode(WatchChartMode mode)
{
    m_mode = mode;
    update();
}

bool WatchChart::SeriesShown(int instrument, int series) const
{
    if (instrument < 0 || std::size_t(instrument) >= m_shown.size())
        return true;
    return m_shown[std::size_t(instrument)][std::size_t(series)];
}

void WatchChart::SetSeriesShown(int instrument, int series, bool shown)
{
    if (instrument < 0 || series < 0 || series >= ChartSeriesCount)
        return;
    std::array<bool, ChartSeriesCount> all;
    all.fill(true);
    if (std::size_t(instrument) >= m_shown.size())
        m_shown.resize(std::size_t(instrument) + 1, all);
    m_shown[std::size_t(instrument)][std::size_t(series)] = shown;
    update();
}

QPen WatchChart::SeriesPen(int, int)
{
    return QPen(Qt::black);
}

QString WatchChart::SummaryText() const
{
    return {};
}

QString WatchChart::TextAt(QPoint) const
{
    return {};
}

void WatchChart::DrawWhole(QPainter& painter, QSize size) const
{
    painter.fillRect(QRect(QPoint(), size), palette().base());
}

void WatchChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DrawWhole(painter, size());
}

void WatchChart::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
}

void WatchChart::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
}

bool WatchChart::event(QEvent* event)
{
    return QWidget::event(event);
}

void WatchChart::Refresh()
{
    ++m_draws.strips;
    update();
}

} // namespace qm
