#include "tests/support/Frames.h"
#include "tests/support/TestMain.h"
#include "ui/RecordChart.h"

#include <QAccessible>
#include <QBuffer>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QXmlStreamReader>

using namespace qm;

namespace {

// A chart shown at a fixed size over its own records.
struct Rig {
    Rig()
    {
        chart.resize(640, 400);
        chart.show();
        QVERIFY(QTest::qWaitForWindowExposed(&chart));
    }

    void add(int place, const std::array<int, 5>& counters)
    {
        QVERIFY(data.SetRecord(place, test::DataFrame(place, counters).toStdString(), "."));
        chart.DataChanged();
    }

    // What the screen shows, and what the same records drawn from nothing look like.
    QImage shown() { return chart.grab().toImage().convertToFormat(QImage::Format_RGB32); }
    QImage drawnWhole()
    {
        QImage image(chart.size(), QImage::Format_RGB32);
        QPainter painter(&image);
        chart.DrawWhole(painter, chart.size());
        return image;
    }

    ChartData data{201};
    RecordChart chart{data};
};

} // namespace

class TestRecordChart : public QObject {
    Q_OBJECT

private slots:
    // A record at a time, as an answer arrives: the screen follows at most ten times a
    // second, mostly in strips, and ends as the whole drawn from nothing.
    void followsTheRecordsAsTheyComeInStrips()
    {
        Rig rig;
        const int before = rig.chart.DrawCount().whole;
        QElapsedTimer clock;
        clock.start();
        int place = 0;
        QTimer feed;
        QObject::connect(&feed, &QTimer::timeout, [&] {
            if (++place <= 100)
                // Values within the first scales, but for one that stands out.
                rig.add(place, {place % 7, 3, place == 60 ? 400 : 5, 2, 1});
        });
        feed.start(2);
        QTRY_VERIFY_WITH_TIMEOUT(place > 100 && !rig.chart.RefreshPending(), 20000);
        const qint64 took = clock.elapsed();
        const RecordChart::Draws draws = rig.chart.DrawCount();
        // Each draw is a refresh; refreshes come at most every LiveRefreshMs, and one more
        // for the last change.
        QCOMPARE_LE(draws.whole - before + draws.strips, took / LiveRefreshMs + 2);
        QCOMPARE_GT(draws.strips, 0);
        QCOMPARE(rig.shown(), rig.drawnWhole());
    }

    // A total of 1E308 or of -1E308 and 1E308 side by side, a denormal: drawn at once, with or
    // without records before them, and what is too large to draw is told.
    void extremeValuesAreDrawnOrCounted()
    {
        Rig rig;
        const char* totals[] = {"-1E308", "1E308 ", "17E307", "5E-324", "000001"};
        int place = 0;
        for (const char* total : totals) {
            ++place;
            const QByteArray frame =
                test::DataFrame(place, {1, 2, 3, 4, 5}).left(35) + total + "\r";
            QVERIFY(rig.data.SetRecord(place, frame.toStdString(), "."));
            rig.chart.DataChanged();
            QTRY_VERIFY(!rig.chart.RefreshPending());
            QCOMPARE(rig.shown(), rig.drawnWhole());
        }
        QCOMPARE(rig.chart.GapsText(), "3 values left out: too large to draw");
        QVERIFY(rig.chart.RecordText(3).contains("(too large to draw)"));
    }

    void legendHidesAndShowsItsSeries_data()
    {
        QTest::addColumn<int>("series");
        for (int series = 0; series < ChartSeriesCount; ++series)
            QTest::newRow(RecordHeaders[std::size_t(series + 1)]) << series;
    }
    void legendHidesAndShowsItsSeries()
    {
        QFETCH(int, series);
        Rig rig;
        rig.add(1, {100, 200, 300, 400, 500});
        rig.add(2, {110, 210, 310, 410, 510});
        QTRY_VERIFY(!rig.chart.RefreshPending());
        const QImage all = rig.shown();
        const QPoint entry = rig.chart.LegendEntry(series).center();
        QTest::mouseClick(&rig.chart, Qt::LeftButton, {}, entry);
        QVERIFY(!rig.chart.SeriesShown(series));
        for (int other = 0; other < ChartSeriesCount; ++other)
            QCOMPARE(rig.chart.SeriesShown(other), other != series);
        const QImage without = rig.shown();
        QVERIFY(without != all);
        QCOMPARE(without, rig.drawnWhole());
        QTest::mouseClick(&rig.chart, Qt::LeftButton, {}, entry);
        QVERIFY(rig.chart.SeriesShown(series));
        QCOMPARE(rig.shown(), all);
    }

    // To a screen reader: the legend's entries, checked while their series shows, pressed as
    // they are clicked, found where they are drawn.
    void legendEntriesAreCheckBoxes()
    {
        Rig rig;
        QAccessibleInterface* chart = QAccessible::queryAccessibleInterface(&rig.chart);
        QCOMPARE(chart->childCount(), ChartSeriesCount);
        for (int series = 0; series < ChartSeriesCount; ++series) {
            QAccessibleInterface* entry = chart->child(series);
            QCOMPARE(entry, chart->child(series)); // the same each time
            QCOMPARE(chart->indexOfChild(entry), series);
            QCOMPARE(entry->text(QAccessible::Name),
                     QString(RecordHeaders[std::size_t(series + 1)]));
            QCOMPARE(entry->role(), QAccessible::CheckBox);
            QVERIFY(entry->state().checked);
            const QPoint middle = rig.chart.mapToGlobal(rig.chart.LegendEntry(series).center());
            QCOMPARE(chart->childAt(middle.x(), middle.y()), entry);

            entry->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            QVERIFY(!rig.chart.SeriesShown(series));
            QVERIFY(!entry->state().checked);
            QCOMPARE(entry->text(QAccessible::Description), QString("Hidden"));
        }
    }

    // A click on a record names its place; marking draws over the picture and goes again.
    void clickNamesTheRecordAndMarksAreOverlaid()
    {
        Rig rig;
        for (int place = 1; place <= 20; ++place)
            rig.add(place, {place, 1, 1, 1, 1});
        QTRY_VERIFY(!rig.chart.RefreshPending());
        QSignalSpy clicked(&rig.chart, &RecordChart::RecordClicked);
        QTest::mouseClick(&rig.chart, Qt::LeftButton, {}, rig.chart.PlacePoint(7));
        QCOMPARE(clicked.size(), 1);
        QCOMPARE(clicked.first().first().toInt(), 7);
        QCOMPARE(rig.chart.PlaceAt(rig.chart.PlacePoint(20)), 20);
        // No record there, no click.
        QTest::mouseClick(&rig.chart, Qt::LeftButton, {}, rig.chart.PlacePoint(21));
        QCOMPARE(clicked.size(), 1);

        const QImage plain = rig.shown();
        const int whole = rig.chart.DrawCount().whole;
        rig.chart.SetMarked({7, 8});
        QVERIFY(rig.shown() != plain);
        rig.chart.SetMarked({});
        QCOMPARE(rig.shown(), plain);
        QCOMPARE(rig.chart.DrawCount().whole, whole);
    }

    void pointingShowsTheSevenValues()
    {
        Rig rig;
        QVERIFY(rig.data.SetRecord(3,
                                   "\x02"
                                   "012,00007,ABCDE,00001,00002,00003,000013\r",
                                   "."));
        const QString text = rig.chart.RecordText(3);
        QCOMPARE(text.split('\n'), (QStringList{"Row 3", "No.\t12", "CNTR1\t7", "CNTR2\tno number",
                                                "CNTR3\t1", "CNTR4\t2", "CNTR5\t3", "TOTAL\t13"}));
        QVERIFY(rig.chart.RecordText(4).isEmpty());
        QCOMPARE(rig.chart.GapsText(),
                 QStringLiteral("1 value left out: its field holds no number"));
    }

    void savedImagesHaveTheChartsSize_data()
    {
        QTest::addColumn<RecordChart::ImageFormat>("format");
        QTest::newRow("PNG") << RecordChart::ImageFormat::Png;
        QTest::newRow("SVG") << RecordChart::ImageFormat::Svg;
    }
    void savedImagesHaveTheChartsSize()
    {
        QFETCH(RecordChart::ImageFormat, format);
        Rig rig;
        rig.chart.resize(700, 380);
        for (int place = 1; place <= 201; ++place)
            rig.add(place, {place, 2, 3, 4, 5});
        const QByteArray bytes = rig.chart.Image(format, rig.chart.size());
        if (format == RecordChart::ImageFormat::Png) {
            QCOMPARE(QImage::fromData(bytes, "PNG").size(), QSize(700, 380));
            return;
        }
        QXmlStreamReader svg(bytes);
        QVERIFY(svg.readNextStartElement());
        QCOMPARE(svg.name(), QStringLiteral("svg"));
        QCOMPARE(svg.attributes().value("viewBox"), QStringLiteral("0 0 700 380"));
        while (!svg.atEnd())
            svg.readNext();
        QVERIFY2(!svg.hasError(), qPrintable(svg.errorString()));
    }
};

QM6200_TEST_MAIN(TestRecordChart)
#include "tst_recordchart.moc"
