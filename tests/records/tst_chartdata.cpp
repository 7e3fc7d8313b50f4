#include "records/ChartData.h"
#include "tests/support/Frames.h"
#include "tests/support/TestMain.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace qm;

namespace {

constexpr std::array<bool, ChartSeriesCount> Counters{true, true, true, true, true, false};
constexpr std::array<bool, ChartSeriesCount> Total{false, false, false, false, false, true};

std::string Frame(int number, const std::array<int, 5>& counters)
{
    return test::DataFrame(number, counters).toStdString();
}

} // namespace

class TestChartData : public QObject {
    Q_OBJECT

private slots:
    void recordsBecomeSeriesWithGapsForNonNumbers_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<QList<double>>("values"); // NaN for none
        QTest::addColumn<int>("gaps");
        const double none = std::nan("");
        QTest::newRow("whole numbers") << test::DataFrame(7, {1, 20, 300, 4000, 50000})
                                       << QList<double>{1, 20, 300, 4000, 50000, 54321} << 0;
        QTest::newRow("negative and fractional")
            << QByteArray("\x02"
                          "001,-0012,001.5,&H01F, 7 2 ,1E+02,-00.25\r")
            << QList<double>{-12, 1.5, 31, 72, 100, -0.25} << 0;
        QTest::newRow("no number where the table shows 0")
            << QByteArray("\x02"
                          "002,ABCDE,     ,00003,&H   ,00005,00000x\r")
            << QList<double>{none, none, 3, none, 5, 0} << 3;
        QTest::newRow("a number that no double holds is left out, not drawn as 0")
            << QByteArray("\x02"
                          "003,9E999,00001,00001,00001,00001,000004\r")
            << QList<double>{none, 1, 1, 1, 1, 4} << 1;
        QTest::newRow("numbers too large to draw are left out and counted")
            << QByteArray("\x02"
                          "005,1E308,-1E99,1E300,00001,9E307,17E307\r")
            << QList<double>{none, -1e99, 1e300, 1, none, none} << 3;
        QTest::newRow("a denormal, and infinity or NaN written as text")
            << QByteArray("\x02"
                          "006,NaN  ,-Inf ,1E-99,00000,-0000,5E-324\r")
            << QList<double>{none, none, 1e-99, 0, 0, std::numeric_limits<double>::denorm_min()}
            << 2;
        QTest::newRow("cut short: what is missing has no number")
            << QByteArray("\x02"
                          "004,00010,00020,")
            << QList<double>{10, 20, none, none, none, none} << 4;
    }
    void recordsBecomeSeriesWithGapsForNonNumbers()
    {
        QFETCH(QByteArray, record);
        QFETCH(QList<double>, values);
        QFETCH(int, gaps);
        ChartData data(100);
        QVERIFY(data.SetRecord(3, record.toStdString(), ","));
        const ChartRecord* kept = data.At(3);
        QVERIFY(kept);
        for (int s = 0; s < ChartSeriesCount; ++s) {
            const double expected = values[s];
            const auto& value = kept->values[std::size_t(s)];
            QCOMPARE(value.has_value(), !std::isnan(expected));
            if (value)
                QCOMPARE(*value, expected);
        }
        QCOMPARE(data.Gaps(), gaps);
        int tooLarge = 0;
        for (int s = 0; s < ChartSeriesCount; ++s)
            tooLarge += kept->tooLarge[std::size_t(s)] ? 1 : 0;
        QCOMPARE(data.TooLarge(), tooLarge);
        QVERIFY(data.TooLarge() <= data.Gaps());
        // The tooltip shows the table's texts, the number's own first.
        QCOMPARE(QString::fromStdString(kept->cells[0]), QString::number(ReadFieldForTest(record)));
    }

    // The places follow the table's rows: what the table blanks, the chart forgets, and a
    // drawing is told when more than its end changed.
    void placesFollowTheTable()
    {
        ChartData data(100);
        const std::uint64_t start = data.Generation();
        QVERIFY(!data.SetRecord(0, Frame(0, {}), "."));
        QVERIFY(!data.SetRecord(101, Frame(0, {}), "."));
        QCOMPARE(data.LastPlace(), 0);
        QVERIFY(data.SetRecord(1, Frame(1, {1, 1, 1, 1, 1}), "."));
        QVERIFY(data.SetRecord(4, Frame(4, {4, 4, 4, 4, 4}), "."));
        QCOMPARE(data.LastPlace(), 4);
        QVERIFY(!data.At(2));
        QCOMPARE(data.Generation(), start); // only added at the end

        QVERIFY(data.SetRecord(2, Frame(2, {2, 2, 2, 2, 2}), "."));
        QCOMPARE_GT(data.Generation(), start);
        const std::uint64_t filled = data.Generation();
        QVERIFY(data.SetRecord(4,
                               "\x02"
                               "009,ABCDE",
                               "."));
        QCOMPARE(data.Gaps(), 6);
        QCOMPARE_GT(data.Generation(), filled);

        const ChartData before = data;
        const std::uint64_t rewritten = data.Generation();
        data.Clear();
        QCOMPARE_GT(data.Generation(), rewritten);
        QCOMPARE(data.LastPlace(), 0);
        QCOMPARE(data.Gaps(), 0);
        QVERIFY(!data.At(1));

        // A clear that is undone (the command was not sent) brings every place back, and a
        // drawing of the empty chart is told.
        const std::uint64_t cleared = data.Generation();
        data.Restore(before);
        QCOMPARE_GT(data.Generation(), cleared);
        QCOMPARE(data.LastPlace(), 4);
        QCOMPARE(data.Gaps(), 6);
        QVERIFY(data.At(2));
    }

    void axesHaveRoundTicks_data()
    {
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        QTest::addColumn<bool>("fromZero");
        QTest::addColumn<QList<double>>("ticks");
        QTest::newRow("counters") << 3.0 << 97.0 << false << QList<double>{0, 20, 40, 60, 80, 100};
        QTest::newRow("away from zero") << 50012.0 << 50087.0 << false
                                        << QList<double>{50000, 50020, 50040, 50060, 50080, 50100};
        QTest::newRow("bars stand on zero")
            << 50012.0 << 50087.0 << true << QList<double>{0, 20000, 40000, 60000};
        QTest::newRow("negative and fractional")
            << -0.25 << 1.5 << false << QList<double>{-0.5, 0, 0.5, 1, 1.5};
        QTest::newRow("all equal") << 120.0 << 120.0 << false << QList<double>{100, 120, 140};
        QTest::newRow("all zero") << 0.0 << 0.0 << true << QList<double>{0, 1};
        QTest::newRow("all equal, negative") << -7.0 << -7.0 << false << QList<double>{-8, -7, -6};
        QTest::newRow("the largest total")
            << 0.0 << 999999.0 << true << QList<double>{0, 200000, 400000, 600000, 800000, 1000000};
    }
    void axesHaveRoundTicks()
    {
        QFETCH(double, low);
        QFETCH(double, high);
        QFETCH(bool, fromZero);
        QFETCH(QList<double>, ticks);
        const ChartAxis axis = RoundAxis({low, high}, fromZero);
        const std::vector<double> got = axis.Ticks();
        QCOMPARE(QList<double>(got.begin(), got.end()), ticks);
        QCOMPARE_LE(axis.low, low);
        QCOMPARE_GE(axis.high, high);
    }

    // Whatever the span, the axis is finite, runs upwards in a step that is no number's
    // rounding error, and has a handful of ticks; a span beyond what is drawn is taken at its
    // limit.
    void axesStayFiniteAtTheExtremes_data()
    {
        QTest::addColumn<double>("low");
        QTest::addColumn<double>("high");
        const double largest = std::numeric_limits<double>::max();
        const double infinity = std::numeric_limits<double>::infinity();
        const double denormal = std::numeric_limits<double>::denorm_min();
        QTest::newRow("-1E308 to 1E308") << -1e308 << 1e308;
        QTest::newRow("1.7E308 alone") << 1.7e308 << 1.7e308;
        QTest::newRow("the largest double both ways") << -largest << largest;
        QTest::newRow("the drawn limit both ways") << -ChartLimit << ChartLimit;
        QTest::newRow("a denormal alone") << denormal << denormal;
        QTest::newRow("zero to a denormal") << 0.0 << denormal;
        QTest::newRow("denormals either side of zero") << -denormal << denormal;
        QTest::newRow("infinity") << -infinity << infinity;
        QTest::newRow("not a number") << std::nan("") << std::nan("");
        QTest::newRow("upside down") << 10.0 << -10.0;
    }
    void axesStayFiniteAtTheExtremes()
    {
        QFETCH(double, low);
        QFETCH(double, high);
        for (const bool fromZero : {false, true}) {
            for (const int mostTicks : {2, 6}) {
                const ChartAxis axis = RoundAxis({low, high}, fromZero, mostTicks);
                QVERIFY(std::isfinite(axis.low) && std::isfinite(axis.high));
                QVERIFY(std::isfinite(axis.step) && axis.step > 0);
                QCOMPARE_LT(axis.low, axis.high);
                QVERIFY(
                    std::isfinite(axis.Fraction(std::clamp(axis.high, -ChartLimit, ChartLimit))));
                const std::vector<double> ticks = axis.Ticks();
                QVERIFY(ticks.size() >= 2 && ticks.size() <= 6);
                for (const double tick : ticks)
                    QVERIFY(std::isfinite(tick));
            }
        }
    }

    void placesRunFromZeroInWholeSteps_data()
    {
        QTest::addColumn<int>("lastPlace");
        QTest::addColumn<double>("high");
        QTest::addColumn<double>("step");
        QTest::newRow("one record") << 1 << 1.0 << 1.0;
        QTest::newRow("a few") << 4 << 4.0 << 1.0;
        QTest::newRow("the table's hundred") << 100 << 100.0 << 20.0;
        QTest::newRow("the store's 201") << 201 << 250.0 << 50.0;
    }
    void placesRunFromZeroInWholeSteps()
    {
        QFETCH(int, lastPlace);
        QFETCH(double, high);
        QFETCH(double, step);
        const ChartAxis axis = PlaceAxis(lastPlace);
        QCOMPARE(axis.low, 0.0);
        QCOMPARE(axis.high, high);
        QCOMPARE(axis.step, step);
    }

    // The spans the axes are made from: over the series shown, the counters apart from the
    // total, every place of a full store.
    void spansCoverTheSeriesShown()
    {
        ChartData data(201);
        QVERIFY(!SpanOf(data, Counters));
        for (int place = 1; place <= 201; ++place)
            QVERIFY(data.SetRecord(place, Frame(place, {place, 2 * place, 3, 4, 5}), "."));
        const auto counters = SpanOf(data, Counters);
        QVERIFY(counters);
        QCOMPARE(counters->low, 1.0);
        QCOMPARE(counters->high, 402.0);
        const auto total = SpanOf(data, Total);
        QCOMPARE(total->low, 1.0 + 2 + 12);
        QCOMPARE(total->high, 201.0 + 402 + 12);
        std::array<bool, ChartSeriesCount> third{false, false, true, false, false, false};
        QCOMPARE(SpanOf(data, third)->high, 3.0);
    }

private:
    static int ReadFieldForTest(const QByteArray& record)
    {
        return record.mid(2, 2).trimmed().toInt();
    }
};

QM6200_TEST_APPLESS_MAIN(TestChartData)
#include "tst_chartdata.moc"
