#include "records/WatchChartData.h"
#include "tests/support/TestMain.h"

#include <QDateTime>
#include <QTest>
#include <QTimeZone>

#include <cmath>

using namespace qm;

namespace {

const double None = std::nan("");

// A reading of CNTR1 and TOTAL (none for NaN), `seconds` after 14:00 UTC.
WatchChartPoint Reading(int seconds, double counter, double total = None, bool noted = false)
{
    DecodedRecord record;
    if (!std::isnan(counter))
        record.values[0] = counter;
    if (!std::isnan(total))
        record.values[ChartTotalSeries] = total;
    return WatchPointOf(1'796'738'400'000 + seconds * 1000LL, 0, &record, noted);
}

qint64 Instant(const char* iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toMSecsSinceEpoch();
}

} // namespace

class TestWatchChartData : public QObject {
    Q_OBJECT

private slots:
    void valuesAndChangesLeaveGaps_data()
    {
        QTest::addColumn<QList<double>>("read");   // CNTR1 of each reading, NaN for none
        QTest::addColumn<QList<int>>("noted");     // the readings that carry a note
        QTest::addColumn<QList<double>>("values"); // NaN for a gap
        QTest::addColumn<QList<double>>("changes");
        QTest::newRow("counts, and going back")
            << QList<double>{5, 7, 4} << QList<int>{} << QList<double>{5, 7, 4}
            << QList<double>{None, 2, -3};
        QTest::newRow("a note breaks the change on both sides")
            << QList<double>{5, 7, 12, 13} << QList<int>{1} << QList<double>{5, None, 12, 13}
            << QList<double>{None, None, None, 1};
        QTest::newRow("a field without a number")
            << QList<double>{5, None, 9, 10} << QList<int>{} << QList<double>{5, None, 9, 10}
            << QList<double>{None, None, None, 1};
        QTest::newRow("beyond the limit, or changing by more than it")
            << QList<double>{1e301, -1e300, 1e300} << QList<int>{}
            << QList<double>{None, -1e300, 1e300} << QList<double>{None, None, None};
    }
    void valuesAndChangesLeaveGaps()
    {
        QFETCH(QList<double>, read);
        QFETCH(QList<int>, noted);
        QFETCH(QList<double>, values);
        QFETCH(QList<double>, changes);
        WatchChartData data;
        data.SetInstruments({"ttyUSB0"});
        for (int i = 0; i < read.size(); ++i)
            data.Add(0, Reading(i, read[i], None, noted.contains(i)));
        QCOMPARE(data.Noted(), noted.size());
        const auto check = [&](const QList<double>& expected, WatchChartMode mode) {
            for (int i = 0; i < expected.size(); ++i) {
                const std::optional<double> value = data.Value(0, std::size_t(i), 0, mode);
                QCOMPARE(value.has_value(), !std::isnan(expected[i]));
                if (value)
                    QCOMPARE(*value, expected[i]);
            }
        };
        check(values, WatchChartMode::Values);
        check(changes, WatchChartMode::Changes);
        QVERIFY(!data.Value(0, std::size_t(read.size()), 0, WatchChartMode::Values));
        QVERIFY(!data.Value(1, 0, 0, WatchChartMode::Values));
    }

    void theOldestAreLetGo()
    {
        WatchChartData data(32);
        data.SetInstruments({"a", "b"});
        data.Add(0, Reading(0, 1, None, true));
        for (int i = 1; i < 32; ++i)
            data.Add(0, Reading(i, i));
        data.Add(1, Reading(0, 1));
        const std::uint64_t generation = data.Generation();
        QCOMPARE(data.Noted(), 1);
        data.Add(0, Reading(32, 32));
        // Past the most, a sixteenth of it at once.
        QCOMPARE(data.Points(0).size(), 31u);
        QCOMPARE_GT(data.Generation(), generation);
        QCOMPARE(data.Noted(), 0);
        QCOMPARE(data.Count(), 34);
        QCOMPARE(data.FirstMs(), Reading(0, 0).utcMs);
        QVERIFY(!data.Value(0, 0, 0, WatchChartMode::Changes));
    }

    void spanOfTheSeriesShown_data()
    {
        QTest::addColumn<WatchChartMode>("mode");
        QTest::addColumn<bool>("total");
        QTest::addColumn<QList<int>>("hidden");  // instrument * 10 + series
        QTest::addColumn<QList<double>>("span"); // empty for none
        const auto values = WatchChartMode::Values;
        const auto changes = WatchChartMode::Changes;
        QTest::newRow("every counter") << values << false << QList<int>{} << QList<double>{-5, 50};
        QTest::newRow("without the one reaching lowest")
            << values << false << QList<int>{10} << QList<double>{10, 30};
        QTest::newRow("changes of a total")
            << changes << true << QList<int>{15} << QList<double>{300, 300};
        QTest::newRow("none shown") << values << true << QList<int>{5, 15} << QList<double>{};
    }
    void spanOfTheSeriesShown()
    {
        QFETCH(WatchChartMode, mode);
        QFETCH(bool, total);
        QFETCH(QList<int>, hidden);
        QFETCH(QList<double>, span);
        WatchChartData data;
        data.SetInstruments({"a", "b", "c"});
        data.Add(0, Reading(0, 10, 100));
        data.Add(0, Reading(1, 30, 400));
        data.Add(1, Reading(0, -5, 7));
        data.Add(1, Reading(1, 50));
        std::vector<std::array<bool, ChartSeriesCount>> shown(2); // the third shown
        for (auto& instrument : shown)
            instrument.fill(true);
        for (const int series : hidden)
            shown[std::size_t(series / 10)][std::size_t(series % 10)] = false;
        const std::optional<ValueSpan> found = WatchSpanOf(data, mode, shown, total);
        QCOMPARE(found.has_value(), !span.isEmpty());
        if (found) {
            QCOMPARE(found->low, span[0]);
            QCOMPARE(found->high, span[1]);
        }
    }

    void ticksAtRoundLocalTimes_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<qint64>("low");
        QTest::addColumn<qint64>("high");
        QTest::addColumn<int>("most");
        QTest::addColumn<QStringList>("ticks"); // "date time" where a date shows
        QTest::newRow("Berlin, the clocks go forward")
            << QByteArray("Europe/Berlin") << Instant("2026-03-29T00:40:00+01:00")
            << Instant("2026-03-29T04:30:00+02:00") << 6
            << QStringList{"2026-03-29 01:00", "01:30", "03:00", "03:30", "04:00", "04:30"};
        QTest::newRow("Berlin, the clocks go back: two hours read 02:00")
            << QByteArray("Europe/Berlin") << Instant("2026-10-25T01:30:00+02:00")
            << Instant("2026-10-25T03:30:00+01:00") << 4
            << QStringList{"2026-10-25 02:00", "02:00", "03:00"};
        QTest::newRow("Kolkata, half an hour off UTC")
            << QByteArray("Asia/Kolkata") << Instant("2026-12-08T13:40:00+05:30")
            << Instant("2026-12-08T14:40:00+05:30") << 4
            << QStringList{"2026-12-08 13:45", "14:00", "14:15", "14:30"};
        QTest::newRow("past midnight, the new date")
            << QByteArray("Asia/Kolkata") << Instant("2026-12-08T21:00:00+05:30")
            << Instant("2026-12-09T03:00:00+05:30") << 4
            << QStringList{"2026-12-08 22:00", "2026-12-09 00:00", "02:00"};
        QTest::newRow("seconds") << QByteArray("UTC") << Instant("2026-12-08T12:00:03Z")
                                 << Instant("2026-12-08T12:00:21Z") << 5
                                 << QStringList{"2026-12-08 12:00:05", "12:00:10", "12:00:15",
                                                "12:00:20"};
        QTest::newRow("days") << QByteArray("UTC") << Instant("2026-12-01T06:00:00Z")
                              << Instant("2026-12-11T06:00:00Z") << 6
                              << QStringList{"2026-12-03 00:00", "2026-12-05 00:00",
                                             "2026-12-07 00:00", "2026-12-09 00:00",
                                             "2026-12-11 00:00"};
    }
    void ticksAtRoundLocalTimes()
    {
        QFETCH(QByteArray, zone);
        QFETCH(qint64, low);
        QFETCH(qint64, high);
        QFETCH(int, most);
        QFETCH(QStringList, ticks);
        const QTimeZone local(zone);
        QVERIFY(local.isValid());
        const auto offsetAt = [&](qint64 utcMs) {
            return local.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(utcMs, QTimeZone::utc()));
        };
        QStringList found;
        qint64 before = low - 1;
        for (const TimeTick& tick : TimeTicks(low, high, most, offsetAt)) {
            QCOMPARE_GT(tick.utcMs, before);
            QCOMPARE_LE(tick.utcMs, high);
            before = tick.utcMs;
            found << (tick.date.isEmpty() ? tick.time : tick.date + ' ' + tick.time);
        }
        QCOMPARE(found, ticks);
    }

    void hostileTimesGiveFewTicksOrNone()
    {
        const auto utc = [](qint64) {
            return 0;
        };
        QVERIFY(TimeTicks(10, 0, 5, utc).empty());
        QVERIFY(TimeTicks(0, 10, 0, utc).empty());
        QCOMPARE_LE(TimeTicks(INT64_MIN, INT64_MAX, 6, utc).size(), 6u);
        // A zone that cannot make up its mind.
        const auto restless = [](qint64 ms) {
            return int(ms % 7) * 3600;
        };
        QCOMPARE_LE(TimeTicks(0, 3'600'000, 6, restless).size(), 6u);
    }

    void timeAxisLengthHoldsTheLatestAndSeldomChanges()
    {
        const qint64 first = Instant("2026-12-08T14:00:00Z");
        QCOMPARE(TimeAxisLength(first, first), 60'000);
        QCOMPARE(TimeAxisLength(first, first - 5000), 60'000);
        QCOMPARE_GT(TimeAxisLength(INT64_MIN, INT64_MAX), 0);
        // A reading a second for three days.
        qint64 length = 0;
        int changes = 0;
        for (qint64 last = first; last <= first + 3 * 86'400'000; last += 1000) {
            const qint64 now = TimeAxisLength(first, last);
            QCOMPARE_GE(now, length);
            QCOMPARE_GE(double(now), double(last - first) * 1.2);
            changes += now != length ? 1 : 0;
            length = now;
        }
        // 1, 2, 5, 10, 15 and 30 minutes, 1, 2, 3, 6 and 12 hours, 1, 2 and 5 days.
        QCOMPARE(changes, 14);
    }
};

QM6200_TEST_MAIN(TestWatchChartData)
#include "tst_watchchartdata.moc"
