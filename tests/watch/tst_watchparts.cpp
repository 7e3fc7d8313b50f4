// The pieces of a watch, alone: when its readings are due, their times across the changes of
// daylight-saving time, and their CSV lines.

#include "tests/support/Frames.h"
#include "tests/support/TestMain.h"
#include "watch/WatchCsv.h"
#include "watch/WatchSchedule.h"
#include "watch/WatchTime.h"

#include <QTest>

#include <ctime>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;
using Duration = WatchSchedule::Duration;

Q_DECLARE_METATYPE(Duration)

class TestWatchParts : public QObject {
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

    void theOffsetIsTheOneInForceAtTheInstant_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("utc");
        QTest::addColumn<QString>("text");

        // Clocks going back read an hour twice, with two offsets; going forward, never.
        QTest::newRow("Berlin, spring") << QByteArray("Europe/Berlin") << "2026-03-29T01:00:00.000Z"
                                        << "2026-03-29T03:00:00.000+02:00";
        QTest::newRow("Berlin, autumn, first 02:30")
            << QByteArray("Europe/Berlin") << "2026-10-25T00:30:00.000Z"
            << "2026-10-25T02:30:00.000+02:00";
        QTest::newRow("Berlin, autumn, second 02:30")
            << QByteArray("Europe/Berlin") << "2026-10-25T01:30:00.000Z"
            << "2026-10-25T02:30:00.000+01:00";
        QTest::newRow("New York, after autumn, the day before UTC's")
            << QByteArray("America/New_York") << "2026-11-02T04:59:59.999Z"
            << "2026-11-01T23:59:59.999-05:00";
        QTest::newRow("Adelaide, autumn, before")
            << QByteArray("Australia/Adelaide") << "2026-04-04T16:29:59.999Z"
            << "2026-04-05T02:59:59.999+10:30";
        QTest::newRow("Adelaide, autumn, an hour back")
            << QByteArray("Australia/Adelaide") << "2026-04-04T16:30:00.000Z"
            << "2026-04-05T02:00:00.000+09:30";
        QTest::newRow("St. John's") << QByteArray("America/St_Johns") << "2026-01-15T12:00:00.012Z"
                                    << "2026-01-15T08:30:00.012-03:30";
        QTest::newRow("UTC") << QByteArray("UTC") << "2026-12-08T16:30:00.012Z"
                             << "2026-12-08T16:30:00.012+00:00";
    }

    void theOffsetIsTheOneInForceAtTheInstant()
    {
        QFETCH(QByteArray, zone);
        QFETCH(QString, utc);
        QFETCH(QString, text);

        const QTimeZone timeZone(zone);
        if (!timeZone.isValid())
            QSKIP("the system has no tzdata for this zone");
        const QDateTime instant = QDateTime::fromString(utc, Qt::ISODateWithMs);
        const int offset = OffsetAt(instant, timeZone);
        QCOMPARE(WatchTimeText(instant, offset), text);
        QCOMPARE(LocalDate(instant, offset), QDate::fromString(text.left(10), Qt::ISODate));
        // Read with its offset, each text is its instant again, so they increase through the
        // change.
        for (int minutes = -150; minutes <= 150; minutes += 15) {
            const QDateTime at = instant.addSecs(minutes * 60);
            QCOMPARE(
                QDateTime::fromString(WatchTimeText(at, OffsetAt(at, timeZone)), Qt::ISODateWithMs),
                at);
        }
        // The system's local time, set to the zone.
        const QByteArray kept = qgetenv("TZ");
        const bool wasSet = qEnvironmentVariableIsSet("TZ");
        qputenv("TZ", ":" + zone);
        ::tzset();
        const int local = LocalOffsetAt(instant);
        wasSet ? qputenv("TZ", kept) : qunsetenv("TZ");
        ::tzset();
        QCOMPARE(local, offset);
    }

    void anOffsetWithSecondsIsWrittenWhole()
    {
        const QDateTime utc =
            QDateTime::fromString(QStringLiteral("1890-12-08T16:30:00Z"), Qt::ISODate);
        QCOMPARE(WatchTimeText(utc, 53 * 60 + 28),
                 QStringLiteral("1890-12-08T17:23:28.000+00:53:28"));
        QCOMPARE(WatchTimeText(QDateTime(), 0), QString());
    }

    void theHeaderNamesEveryField()
    {
        QCOMPARE(WatchCsvHeader(), std::string("\"Time\",\"Port\",\"CNTR1\",\"CNTR2\",\"CNTR3\","
                                               "\"CNTR4\",\"CNTR5\",\"TOTAL\",\"Note\"\r\n"));
    }

    void aReadingIsOneLineOfQuotedFields_data()
    {
        QTest::addColumn<int>("port");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("note");
        QTest::addColumn<bool>("tornBefore");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QByteArray>("fields"); // after the time

        const QByteArray record = DataFrame(7, {12, 0, 345, 6, 7});
        const auto row = [](const char* name, int port, const QByteArray& reply, ReadingNote note,
                            const char* fields, bool torn = false, const char* separator = ".") {
            QTest::newRow(name) << port << reply << int(note) << torn
                                << QString::fromLatin1(separator) << QByteArray(fields);
        };
        row("values", 0, record, ReadingNote::None,
            R"("/dev/ttyUSB0","12","0","345","6","7","370","")");
        // Framed as a live answer: noise and an accepted reply first, the first record counts.
        row("noise, then two records", 1,
            "noise" + ACK + "0" + CR + record + DataFrame(8, {1, 1, 1, 1, 1}), ReadingNote::None,
            R"("COM ""2"", left","12","0","345","6","7","370","")");
        row("decimal comma", 0,
            "\x02"
            "001,012.5,00000,00000,00000,00000,0012.5\r",
            ReadingNote::None, R"("/dev/ttyUSB0","12,5","0","0","0","0","12,5","")", false, ",");
        row("no record, no note", 0,
            "\x02"
            "0",
            ReadingNote::None, R"("/dev/ttyUSB0","","","","","","","no answer")");
        row("a note hides a late record", 0, record, ReadingNote::LineLost,
            R"("/dev/ttyUSB0","","","","","","","line lost")");
        row("error reply", 0, STX + NAK + CR, ReadingNote::ErrorReply,
            R"("/dev/ttyUSB0","","","","","","","error reply")");
        row("torn line before", 0, record, ReadingNote::None,
            R"("/dev/ttyUSB0","12","0","345","6","7","370","a torn line was cut off the file before this one")",
            true);
        row("a line break in the port's name", 2, record, ReadingNote::None,
            "\"ttyS0\\x0a\\x1b[2J\",\"12\",\"0\",\"345\",\"6\",\"7\",\"370\",\"\"");
        row("a port the watch has not", 3, {}, ReadingNote::WaitingForPort,
            R"("","","","","","","","waiting for the port")");
    }

    void aReadingIsOneLineOfQuotedFields()
    {
        QFETCH(int, port);
        QFETCH(QByteArray, reply);
        QFETCH(int, note);
        QFETCH(bool, tornBefore);
        QFETCH(QString, separator);
        QFETCH(QByteArray, fields);

        JournalWatch watch;
        watch.ports = {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("COM \"2\", left"),
                       QStringLiteral("ttyS0\n\x1b[2J")};
        watch.decimalSeparator = separator.toStdString();
        JournalReading reading;
        reading.port = port;
        reading.time =
            QDateTime::fromString(QStringLiteral("2026-12-08T15:30:00.012Z"), Qt::ISODateWithMs);
        reading.offsetSeconds = 3600;
        reading.note = ReadingNote(note);
        reading.tornBefore = tornBefore;
        reading.reply = reply;

        QCOMPARE(QByteArray::fromStdString(WatchCsvLine(watch, reading)),
                 "\"2026-12-08T16:30:00.012+01:00\"," + fields + "\r\n");
    }
};

QM6200_TEST_APPLESS_MAIN(TestWatchParts)
#include "tst_watchparts.moc"
