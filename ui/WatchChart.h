#pragma once

#include "records/WatchChartData.h"
#include "ui/LiveRefresh.h"

#include <QPen>
#include <QPixmap>
#include <QWidget>

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace qm {

// A watch's counters over time: for each instrument and counter a line on the left axis, the
// total on the right one, against local time (the date under the time where the day
// changes). A reading with a note breaks its lines. The series are told apart by colour (the
// instrument) and by the line's pattern (the counter); which are shown is the caller's
// choice, as is values or changes per interval.
//
// The picture is kept: readings that arrive are drawn over it, in the strip they fall in,
// about ten times a second at most, and the whole is drawn again only when the scales, the
// size, the series shown, the mode or the readings already drawn change. The time axis runs
// ahead of the readings (TimeAxisLength) so that a new one seldom changes it.
//
// To a screen reader it is a chart whose description tells what it shows (SummaryText).
class WatchChart : public QWidget {
    Q_OBJECT

public:
    explicit WatchChart(const WatchChartData& readings, QWidget* parent = nullptr);

    // Readings were added (or the instruments changed): drawn when the next refresh is due.
    void DataChanged();
    bool RefreshPending() const { return m_refresh.Pending(); }

    void SetMode(WatchChartMode mode);
    WatchChartMode Mode() const { return m_mode; }
    bool SeriesShown(int instrument, int series) const;
    void SetSeriesShown(int instrument, int series, bool shown);

    // How a series is drawn: its instrument's colour, its counter's pattern (the total wider).
    static QPen SeriesPen(int instrument, int series);

    // What a screen reader is told: instruments, readings, the time they span, gaps.
    QString SummaryText() const;
    // What pointing at `point` shows: the nearest reading's time and values; empty when none.
    QString TextAt(QPoint point) const;

    struct Draws {
        int whole = 0;
        int strips = 0;
    };
    Draws DrawCount() const { return m_draws; }

    // Draws everything from nothing into `painter` at `size`.
    void DrawWhole(QPainter& painter, QSize size) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Where readings fall: from the first on, and the values' axes.
    struct Scales {
        bool readings = false; // any held
        qint64 timeLow = 0;
        qint64 timeLength = 60000;
        ChartAxis counters;
        ChartAxis total;
        bool operator==(const Scales&) const = default;
    };
    struct Layout {
        QSize size;
        QRect plot;
        Scales scales;
        std::vector<TimeTick> ticks;
        bool operator==(const Layout&) const = default;
    };
    // The spans of the values, taken in as readings come, and the axes over those shown.
    // An axis stays as it is until a value falls outside it, and then leaves room, so that a
    // count that keeps rising changes the scale seldom.
    struct Spans {
        struct Taken {
            std::size_t readings = 0;
            // By mode (Values, Changes), then series: every one, shown or not, so that
            // another mode or series shown asks for no walk over the readings again.
            std::array<std::array<std::optional<ValueSpan>, ChartSeriesCount>, 2> spans;
        };
        std::uint64_t generation = 0;
        std::vector<Taken> instruments;
        bool axesValid = false; // for the mode and series shown
        ChartAxis countersAxis;
        ChartAxis totalAxis;
    };
    // What a series draws in one pixel column: the readings of a run of an instrument's
    // readings that fall in the column, those with a value of the series, in pixels.
    struct ColumnSpan {
        QPointF first;
        QPointF last;
        double top = 0;
        double bottom = 0;
        int count = 0; // readings with a value; none draws nothing
        // The reading before the first holds a value too: a line comes in from the run before.
        bool joined = false;
    };
    // The readings gathered by pixel column, as the plot draws them, for one layout, mode,
    // set of series shown and generation of the readings. Taken in once, then only the
    // readings that come, so that a strip is drawn from the columns it reaches alone and the
    // whole from no more columns than the plot is wide.
    struct Columns {
        struct Runs {
            std::array<bool, ChartSeriesCount> shown{};
            std::size_t taken = 0; // readings taken in
            // The runs' columns left to right, as readings in time order fall.
            bool ordered = true;
            std::vector<int> x; // each run's column
            // By series, a span for each run; empty for a series not shown.
            std::array<std::vector<ColumnSpan>, ChartSeriesCount> spans;
        };
        bool valid = false;
        QRect plot;
        Scales scales;
        WatchChartMode mode = WatchChartMode::Values;
        std::uint64_t generation = 0;
        std::vector<Runs> instruments;
    };

    std::array<bool, ChartSeriesCount> ShownOf(int instrument) const;
    Scales ScalesNow() const;
    Layout LayoutFor(QSize size) const;
    double TimeX(const Layout& layout, qint64 utcMs) const;
    // The first reading of `points` at or right of `x`.
    std::size_t FirstFrom(const std::deque<WatchChartPoint>& points, const Layout& layout,
                          double x) const;

    // `columns` brought up to `layout` and the readings held: gathered anew when what they
    // were gathered for changed, else with the readings that came since.
    void TakeIn(Columns& columns, const Layout& layout) const;

    void DrawAround(QPainter& painter, const Layout& layout) const;
    // The plot within `strip`, with every reading that can show in it.
    void DrawPlot(QPainter& painter, const Layout& layout, const QRect& strip,
                  const Columns& columns) const;
    void DrawSeries(QPainter& painter, const Layout& layout, const QRect& area,
                    const Columns::Runs& runs, int instrument, int series) const;
    void Refresh();
    void Redraw();
    // What is shown changed: the scales are found anew and the whole drawn again.
    void Invalidate();

    const WatchChartData& m_data;
    WatchChartMode m_mode = WatchChartMode::Values;
    std::vector<std::array<bool, ChartSeriesCount>> m_shown; // by instrument; shown unless set
    LiveRefresh m_refresh;

    // The kept picture and what it shows.
    QPixmap m_picture;
    Layout m_pictureLayout;
    std::uint64_t m_pictureGeneration = 0;
    std::vector<std::size_t> m_drawn; // readings drawn, by instrument
    bool m_pictureValid = false;
    Columns m_columns; // of the kept picture
    Draws m_draws;
    mutable Spans m_spans;
    mutable std::optional<Layout> m_lastLayout;
};

} // namespace qm
