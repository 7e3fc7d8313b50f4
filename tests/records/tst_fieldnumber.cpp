#include "records/FieldNumber.h"
#include "tests/support/TestMain.h"

#include <QTest>

using namespace qm;

class TestFieldNumber : public QObject {
    Q_OBJECT

private slots:
    void fieldAsShown_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("shown");

        QTest::newRow("leading zeros") << QByteArray("00123") << "123";
        QTest::newRow("record number") << QByteArray("07") << "7";
        QTest::newRow("zero") << QByteArray("00000") << "0";
        QTest::newRow("five spaces") << QByteArray("     ") << "0";
        QTest::newRow("empty") << QByteArray() << "0";
        QTest::newRow("spaces inside") << QByteArray(" 12 3") << "123";
        QTest::newRow("tab and line feed") << QByteArray("\t1\n2") << "12";
        QTest::newRow("carriage return ends it") << QByteArray("1\r2") << "1";
        QTest::newRow("negative") << QByteArray("-0012") << "-12";
        QTest::newRow("minus then space") << QByteArray("- 5") << "-5";
        QTest::newRow("plus") << QByteArray("+0042") << "42";
        QTest::newRow("negative zero") << QByteArray("-0000") << "0";
        QTest::newRow("stops at a letter") << QByteArray("12AB3") << "12";
        QTest::newRow("starts with a letter") << QByteArray("A1234") << "0";
        QTest::newRow("sign alone") << QByteArray("-") << "0";
        QTest::newRow("fraction") << QByteArray("12.50") << "12.5";
        QTest::newRow("point without digits after") << QByteArray("12.") << "12";
        QTest::newRow("point first") << QByteArray(".5") << "0.5";
        QTest::newRow("two points") << QByteArray("1.2.3") << "1.2";
        QTest::newRow("exponent") << QByteArray("15E2") << "1500";
        QTest::newRow("small exponent letter") << QByteArray("15e2") << "1500";
        QTest::newRow("negative exponent") << QByteArray("25E-1") << "2.5";
        QTest::newRow("exponent without digits") << QByteArray("7E") << "7";
        QTest::newRow("exponent sign without digits") << QByteArray("7E+") << "7";
        QTest::newRow("hexadecimal") << QByteArray("&HFF") << "255";
        QTest::newRow("hexadecimal lower case") << QByteArray("&hff") << "255";
        QTest::newRow("hexadecimal with spaces") << QByteArray("& H 1 0") << "16";
        QTest::newRow("hexadecimal stops") << QByteArray("&H1G2") << "1";
        QTest::newRow("octal") << QByteArray("&O17") << "15";
        QTest::newRow("octal stops at 8") << QByteArray("&o718") << "57";
        QTest::newRow("prefix only") << QByteArray("&H") << "0";
        QTest::newRow("ampersand only") << QByteArray("&12") << "0";
        QTest::newRow("high bytes") << QByteArray("\xff\x80") << "0";
    }

    void fieldAsShown()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, shown);
        QCOMPARE(QString::fromStdString(FieldText(field.toStdString(), ".")), shown);
    }

    void valuesBeyondPlainDigits_data()
    {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<QString>("shown");

        // Too large or too small for plain digits: written with an exponent.
        QTest::newRow("large") << QByteArray("15E20") << "1.5E+21";
        QTest::newRow("near the top of a double") << QByteArray("1E308") << "1E+308";
        QTest::newRow("tiny") << QByteArray("1E-9") << "1E-09";
        // Outside what a double holds: shown as sent, never infinity or a wrong zero.
        QTest::newRow("too large") << QByteArray("9E999") << "9E999";
        QTest::newRow("too large, negative") << QByteArray("-9e999") << "-9E999";
        QTest::newRow("exponent too small") << QByteArray("1E-999") << "1E-999";
        QTest::newRow("many digits") << QByteArray(400, '9') << QString(400, QLatin1Char('9'));
        QTest::newRow("huge hexadecimal")
            << "&H" + QByteArray(300, 'F') << "&H" + QString(300, 'F');
    }

    void valuesBeyondPlainDigits()
    {
        QFETCH(QByteArray, field);
        QFETCH(QString, shown);
        QCOMPARE(QString::fromStdString(FieldText(field.toStdString(), ".")), shown);
    }

    void readingKeepsTheValue()
    {
        const FieldReading reading = ReadField(" -1 2.5E1x");
        QVERIFY(reading.inRange);
        QCOMPARE(reading.value, -125.0);
        QCOMPARE(QString::fromStdString(reading.text), QStringLiteral("-12.5E1"));

        const FieldReading huge = ReadField("9E999");
        QVERIFY(!huge.inRange);
    }

    void fractionUsesTheLocaleSeparator()
    {
        QCOMPARE(QString::fromStdString(FieldText("12.50", ",")), QStringLiteral("12,5"));
        QCOMPARE(QString::fromStdString(FieldText("1234", ",")), QStringLiteral("1234"));
        QCOMPARE(QString::fromStdString(FieldText("15E20", ",")), QStringLiteral("1,5E+21"));
        // The field itself is always read with a full stop.
        QCOMPARE(QString::fromStdString(FieldText("1,5", ",")), QStringLiteral("1"));
    }
};

QM6200_TEST_APPLESS_MAIN(TestFieldNumber)
#include "tst_fieldnumber.moc"
