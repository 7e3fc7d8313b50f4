#include "tests/support/TestMain.h"
#include "watch/WatchSchedule.h"

#include <QTest>

using namespace qm;
using namespace std::chrono_literals;
using Duration = WatchSchedule::Duration;

Q_DECLARE_METATYPE(Duration)

class TestWatchSchedule : public QObject {
    Q_OBJECT

private slots:
    void readingsStayOnTheirInstantsHoweverLateTheyAreTaken_data()
    {
        QTest::addColumn<Duration>("every");
        QTest::newRow("under 1 ms, taken as 1 ms") << Duration(0ns);
        QTest::newRow("a third of a second") << Duration(333'333'333ns);
        QTest::newRow("1 h") << Duration(1h);
    }

    void readingsStayOnTheirInstantsHoweverLateTheyAreTaken()
    {
        QFETCH(Duration, every);
        const Duration start = 987'654'321'012ns;
        const Duration period = std::max(every, Duration(1ms));
        WatchSchedule schedule(start, every);
        QCOMPARE(schedule.Every(), period);
        QVERIFY(schedule.Take(start - 1ns).empty());

        // A timer up to half a period late, or a little early, as timers are.
        std::uint32_t seed = 12345;
        Duration now = start;
        for (std::int64_t taken = 0; taken < 10'000;) {
            seed = seed * 1664525u + 1013904223u;
            now += schedule.UntilNext(now) + period * (seed % 1000) / 2000 - period / 100;
            const std::vector<WatchSchedule::Step> steps = schedule.Take(now);
            if (steps.empty()) {
                QVERIFY(schedule.UntilNext(now) > 0ns);
                continue;
            }
            QCOMPARE(steps.size(), std::size_t(1));
            QVERIFY(!steps[0].missed && steps[0].index == taken);
            QCOMPARE(steps[0].due, start + taken++ * period);
        }
    }

    void aStallIsMissedNeverSentInABunch_data()
    {
        QTest::addColumn<Duration>("late"); // past the second reading's instant, at 1 s
        QTest::addColumn<qint64>("missed");
        QTest::newRow("on time") << Duration(0s) << qint64(0);
        QTest::newRow("a period late but 1 ns") << Duration(1s - 1ns) << qint64(0);
        QTest::newRow("a period late") << Duration(1s) << qint64(1);
        QTest::newRow("4.5 periods late") << Duration(4500ms) << qint64(4);
        QTest::newRow("suspended for a year") << Duration(24h * 365) << qint64(31'536'000);
    }

    void aStallIsMissedNeverSentInABunch()
    {
        QFETCH(Duration, late);
        QFETCH(qint64, missed);
        WatchSchedule schedule(5s, 1s);
        QCOMPARE(schedule.Take(5s).size(), std::size_t(1));
        const Duration now = 6s + late;
        const std::vector<WatchSchedule::Step> steps = schedule.Take(now);

        QCOMPARE(steps.size(), std::size_t(missed > 0 ? 2 : 1));
        if (missed > 0) {
            QVERIFY(steps[0].missed);
            QCOMPARE(steps[0].index, 1);
            QCOMPARE(steps[0].due, 6s);
            QCOMPARE(steps[0].count, missed);
        }
        const std::int64_t current = 1 + missed;
        QVERIFY(!steps.back().missed);
        QCOMPARE(steps.back().index, current);
        QCOMPARE(steps.back().due, 5s + current * 1s);
        // Nothing more until the next instant, which has not moved.
        QVERIFY(schedule.Take(now).empty());
        QCOMPARE(schedule.UntilNext(now), 5s + (current + 1) * 1s - now);
    }
};

QM6200_TEST_APPLESS_MAIN(TestWatchSchedule)
#include "tst_watchschedule.moc"
