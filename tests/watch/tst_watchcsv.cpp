#include "tests/support/Frames.h"
#include "tests/support/TestMain.h"
#include "watch/WatchCsv.h"

#include <QTest>

using namespace qm;
using namespace qm::test;

class TestWatchCsv : public QObject {
    Q_OBJECT

private slots:
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

QM6200_TEST_APPLESS_MAIN(TestWatchCsv)
#include "tst_watchcsv.moc"
