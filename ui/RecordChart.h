#pragma once

#include "records/ChartData.h"
#include "ui/LiveRefresh.h"

#include <QByteArray>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace qm {

// The records as a chart: CNTR1 to CNTR5 as lines with markers on the left axis, TOTAL as
// bars on the right one, by the record's place in the answer; a legend above whose entries
// hide and show their series, and a note of the values left out (fields that hold no number).
//
// The picture is kept: records that arrive at the end are drawn over it, in the strip they
// fall in, about ten times a second at most, and the whole is drawn again only when the
// scales, the size, the series shown or the records already drawn change. What is marked
// (the records whose row is selected in the table) is drawn over the kept picture, never
// into it.
//
// To a screen reader the chart is a chart whose children are the legend entries
// (RecordChartAccess.h).
class RecordChart : public QWidget {
    Q_OBJECT

public:
    explicit RecordChart(const ChartData& records, QWidget* parent = nullptr);

    // The records changed: drawn when the next refresh falls due.
    void DataChanged();
    // A refresh is due and not yet drawn.
    bool RefreshPending() const { return m_refresh.Pending(); }

    // A series' name, as its legend entry shows it.
    static QString SeriesName(int series);
    bool SeriesShown(int series) const;
    void SetSeriesShown(int series, bool shown);

    // The places drawn marked.
    void SetMarked(std::vector<int> places);
    const std::vector<int>& Marked() const { return m_marked; }

    // Where things are, in the widget: a legend entry, the record at `place` (the middle of its
    // slot, level with the plot's middle); the place under a point, 0 for none.
    QRect LegendEntry(int series) const;
    QPoint PlacePoint(int place) const;
    int PlaceAt(QPoint point) const;

    // What pointing at `place` shows: its seven values; empty where no record is.
    QString RecordText(int place) const;
    // The note under the legend: how many values were left out; empty when none.
    QString GapsText() const;
    // What a screen reader says the chart shows: how many records, and the note.
    QString SummaryText() const;

    // The whole chart at `size` as a PNG or an SVG file's bytes.
    enum class ImageFormat { Png, Svg };
    QByteArray Image(ImageFormat format, QSize size) const;

    // How the kept picture was brought up to date: whole, or in the strip of new records.
    struct Draws {
        int whole = 0;
        int strips = 0;
    };
    Draws DrawCount() const { return m_draws; }

    // Draws everything from nothing into `painter` at `size`, as a save or a timing does.
    void DrawWhole(QPainter& painter, QSize size) const;

signals:
    void RecordClicked(int place);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Layout {
        QSize size;
        QRect plot;
        std::array<QRect, ChartSeriesCount> legend;
        QRect note;
        ChartAxis places;
        ChartAxis counters;
        ChartAxis total;
        bool operator==(const Layout&) const = default;
    };
    Layout LayoutFor(QSize size) const;
    double PlaceX(const Layout& layout, double place) const;
    double SlotWidth(const Layout& layout) const;

    void DrawAround(QPainter& painter, const Layout& layout) const;
    // The plot within `strip`, with every record that can show in it.
    void DrawPlot(QPainter& painter, const Layout& layout, const QRect& strip) const;
    void Refresh();
    void Redraw();
    // A counter's marker drawn once, for copies.
    const QImage& MarkerSprite(int series, double radius, qreal ratio) const;

    const ChartData& m_data;
    std::array<bool, ChartSeriesCount> m_shown;
    std::vector<int> m_marked;
    LiveRefresh m_refresh;

    // The kept picture and what it shows.
    QPixmap m_picture;
    Layout m_pictureLayout;
    std::uint64_t m_pictureGeneration = 0;
    int m_drawnPlace = 0;
    bool m_pictureValid = false;
    Draws m_draws;
    mutable std::optional<Layout> m_lastLayout;
    mutable std::array<QImage, ChartTotalSeries> m_sprites;
    mutable double m_spriteRadius = 0;
    mutable qreal m_spriteRatio = 0;
};

} // namespace qm
