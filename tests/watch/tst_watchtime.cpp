#include "tests/support/TestMain.h"
#include "watch/WatchTime.h"

#include <QTest>

#include <ctime>

using namespace qm;

class TestWatchTime : public QObject {
    Q_OBJECT

private slots:
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
};

QM6200_TEST_APPLESS_MAIN(TestWatchTime)
#include "tst_watchtime.moc"
