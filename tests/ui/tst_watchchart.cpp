#include "tests/support/TestMain.h"
#include "ui/WatchChart.h"

#include <QAccessible>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <cmath>
#include <functional>

using namespace qm;

namespace {

constexpr qint64 Start = 1'796'738'400'000; // 2026-12-08 14:00:00 UTC

// A chart shown at a fixed size over its own readings.
struct Rig {
    Rig()
    {
        data.SetInstruments({"ttyUSB0", "ttyUSB1"});
        chart.resize(640, 400);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
    }

    // A reading `seconds` after the start: the counters and total given, none for NaN.
    void add(int instrument, double seconds, const std::array<double, ChartSeriesCount>& values,
             bool noted = false)
    {
        DecodedRecord record;
        for (std::size_t series = 0; series < ChartSeriesCount; ++series) {
            if (!std::isnan(values[series]))
                record.values[series] = values[series];
        }
        data.Add(instrument, WatchPointOf(Start + qint64(seconds * 1000), 0, &record, noted));
        chart.DataChanged();
    }
    // Refreshed, and painted: a whole drawing is made when the chart is painted next.
    bool drawn()
    {
        const bool refreshed = QTest::qWaitFor([&] { return !chart.RefreshPending(); });
        QCoreApplication::processEvents();
        return refreshed;
    }

    // What the screen shows, and what the same readings drawn from nothing look like.
    QImage shown() { return chart.grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QImage drawnWhole()
    {
        QImage image(chart.size(), QImage::Format_RGB32);
        QPainter painter(&image);
        chart.DrawWhole(painter, chart.size());
        return image;
    }

    WatchChartData data;
    WatchChart chart{data};
};

// The columns of `image` where a pixel has `colour`.
std::vector<bool> ColumnsWith(const QImage& image, QColor colour)
{
    std::vector<bool> columns(std::size_t(image.width()));
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            columns[std::size_t(x)] = columns[std::size_t(x)] || image.pixelColor(x, y) == colour;
    }
    return columns;
}

const double None = std::nan("");

} // namespace

class TestWatchChart : public QObject {
    Q_OBJECT

private slots:
    // A reading at a time, as a watch reads: each drawn in a strip while the scales hold, the
    // whole only when what is shown changes; the picture is the whole drawn from nothing,
    // dashes and all. Crowded, many readings fall in one pixel column, a note among them.
    void readingsAreDrawnInStripsAndTheWholeOnChange_data()
    {
        QTest::addColumn<WatchChartMode>("mode");
        QTest::addColumn<int>("perSecond"); // readings of each instrument
        QTest::newRow("values, one a second") << WatchChartMode::Values << 1;
        QTest::newRow("changes, crowded") << WatchChartMode::Changes << 50;
    }
    void readingsAreDrawnInStripsAndTheWholeOnChange()
    {
        QFETCH(WatchChartMode, mode);
        QFETCH(int, perSecond);
        Rig rig;
        rig.chart.SetMode(mode);
        for (int second = 0; second < 24; ++second) {
            // The scales hold every value to come after the first four.
            const WatchChart::Draws before = rig.chart.DrawCount();
            const double low = second % 3;
            for (int i = 0; i < perSecond; ++i) {
                const double at = second + double(i) / perSecond;
                const bool noted = second == 11 && i == perSecond / 2;
                rig.add(0, at, {10 + low, 20, 30, 40, 50, 100 + low}, noted);
                rig.add(1, at + 0.2 / perSecond, {15, 25 - low, 35, 45, 55, 90}, noted);
            }
            QVERIFY(rig.drawn());
            if (second >= 4) {
                QCOMPARE(rig.chart.DrawCount().whole, before.whole);
                QCOMPARE(rig.chart.DrawCount().strips, before.strips + 1);
            }
        }
        QCOMPARE(rig.shown(), rig.drawnWhole());
        for (const auto& change : std::vector<std::function<void()>>{
                 [&] { rig.chart.SetSeriesShown(1, ChartTotalSeries, false); },
                 [&] {
                     rig.chart.SetMode(mode == WatchChartMode::Values ? WatchChartMode::Changes
                                                                      : WatchChartMode::Values);
                 }}) {
            const QImage before = rig.shown();
            const int whole = rig.chart.DrawCount().whole;
            change();
            const QImage after = rig.shown();
            QCOMPARE(rig.chart.DrawCount().whole, whole + 1);
            QVERIFY(after != before);
            QCOMPARE(after, rig.drawnWhole());
        }
    }

    // One instrument's total alone, level; a reading without it leaves a gap that pointing
    // at tells about.
    void aReadingWithoutAValueBreaksTheLine_data()
    {
        QTest::addColumn<bool>("noted");
        QTest::addColumn<double>("total"); // of the reading in the middle
        QTest::addColumn<QString>("told");
        QTest::newRow("unbroken") << false << 50.0 << "TOTAL 50";
        QTest::newRow("a note") << true << 50.0 << "ttyUSB0: a note, no values";
        QTest::newRow("no number") << false << None << "TOTAL none";
    }
    void aReadingWithoutAValueBreaksTheLine()
    {
        QFETCH(bool, noted);
        QFETCH(double, total);
        QFETCH(QString, told);
        Rig rig;
        for (int series = 0; series < ChartTotalSeries; ++series)
            rig.chart.SetSeriesShown(0, series, false);
        for (int series = 0; series < ChartSeriesCount; ++series)
            rig.chart.SetSeriesShown(1, series, false);
        for (int second = 0; second < 21; ++second) {
            const bool middle = second == 10;
            rig.add(0, second, {1, 1, 1, 1, 1, middle ? total : 50}, middle && noted);
            rig.add(1, second, {1, 2, 3, 4, 5, 6});
        }
        QVERIFY(rig.drawn());
        const QImage image = rig.shown();
        const std::vector<bool> hidden = ColumnsWith(image, WatchChart::SeriesPen(1, 0).color());
        QCOMPARE(std::count(hidden.begin(), hidden.end(), true), 0);
        const std::vector<bool> line = ColumnsWith(image, WatchChart::SeriesPen(0, 5).color());
        const auto first = std::find(line.begin(), line.end(), true);
        const auto last = std::find(line.rbegin(), line.rend(), true).base();
        QCOMPARE(std::count(first, last, false) > 8, noted || std::isnan(total));
        // The middle reading is in the middle.
        const int middle = int((first - line.begin()) + (last - line.begin())) / 2;
        const QString text = rig.chart.TextAt(QPoint(middle, image.height() / 2));
        QVERIFY2(text.contains(told) && !text.contains("ttyUSB1"), qPrintable(text));
        QVERIFY(rig.chart.TextAt(QPoint(0, 0)).isEmpty());
    }

    void hostileReadingsAreDrawn_data()
    {
        QTest::addColumn<QList<double>>("seconds");
        QTest::addColumn<QList<double>>("totals");
        QTest::newRow("none") << QList<double>{} << QList<double>{};
        QTest::newRow("one") << QList<double>{0} << QList<double>{5};
        QTest::newRow("huge, tiny, beyond the limit, none")
            << QList<double>{0, 1, 2, 3, 4} << QList<double>{-1e300, 1e300, -5e-324, 1e308, None};
        QTest::newRow("at one instant") << QList<double>{7, 7, 7} << QList<double>{1, 2, 3};
        QTest::newRow("ages apart, out of order")
            << QList<double>{0, 1e13, -1e13, 9.2e15} << QList<double>{1, 2, 3, 4};
    }
    void hostileReadingsAreDrawn()
    {
        QFETCH(QList<double>, seconds);
        QFETCH(QList<double>, totals);
        Rig rig;
        for (int i = 0; i < seconds.size(); ++i) {
            rig.add(0, seconds[i], {totals[i], -totals[i], 0, 1, 2, totals[i]});
            rig.add(1, seconds[i], {1, 2, 3, 4, 5, 6}, true);
            QVERIFY(rig.drawn());
            QCOMPARE(rig.shown(), rig.drawnWhole());
        }
        rig.chart.SetMode(WatchChartMode::Changes);
        QCOMPARE(rig.shown(), rig.drawnWhole());
        rig.chart.TextAt(rig.chart.rect().center());
    }

    void aScreenReaderHearsTheSummary()
    {
        Rig rig;
        QAccessibleInterface* chart = QAccessible::queryAccessibleInterface(&rig.chart);
        QCOMPARE(chart->role(), QAccessible::Chart);
        QCOMPARE(chart->text(QAccessible::Description), "2 instruments, no readings yet");
        rig.add(0, 0, {1, 2, 3, 4, 5, 15});
        rig.add(1, 0.5, {1, 2, 3, 4, 5, 15}, true);
        rig.add(0, 180, {1, 2, 3, 4, 5, 15});
        QCOMPARE(chart->text(QAccessible::Description),
                 "2 instruments, 3 readings from 14:00:00 to 14:03:00; 1 with a note");
        rig.chart.setAccessibleDescription("Given");
        QCOMPARE(chart->text(QAccessible::Description), "Given");
    }
};

QM6200_TEST_MAIN(TestWatchChart)
#include "tst_watchchart.moc"
