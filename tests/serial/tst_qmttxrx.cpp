#include "serial/LineSettings.h"
#include "serial/QmtTxRx.h"
#include "tests/support/MemoryBackend.h"
#include "tests/support/TestMain.h"

#include <QEventLoop>
#include <QTest>

using namespace qm;

namespace {

struct Rig {
    MemoryBackend* backend;
    QmtTxRx control;

    Rig()
        : backend(new MemoryBackend)
        , control(std::unique_ptr<CommBackend>(backend))
    {
    }

    void open() { QVERIFY(control.setPortOpen(true)); }

    void arrive(const QByteArray& bytes)
    {
        backend->deliver(bytes);
        QCoreApplication::sendPostedEvents();
    }
};

} // namespace

class TestQmtTxRx : public QObject {
    Q_OBJECT

private slots:
    void oneEventPerByteInOrder()
    {
        Rig rig;
        rig.open();
        QStringList chunks;
        QList<int> events;
        connect(&rig.control, &QmtTxRx::OnComm, this, [&] {
            events << rig.control.CommEvent();
            chunks << rig.control.Input();
            // Input empties the chunk: a second read in the same event gets nothing.
            QCOMPARE(rig.control.Input(), QString());
        });
        rig.arrive(QByteArray("\x02"
                              "AB",
                              3));
        rig.arrive(QByteArray("\r\xff", 2));
        QCOMPARE(chunks, (QStringList{QString(QChar(2)), "A", "B", "\r", QString(QChar(0xff))}));
        QCOMPARE(events, (QList<int>{2, 2, 2, 2, 2}));
    }

    void nestedEventLoopDoesNotReorderOrNestEvents()
    {
        Rig rig;
        rig.open();
        QString received;
        int depth = 0;
        int deepest = 0;
        connect(&rig.control, &QmtTxRx::OnComm, this, [&] {
            ++depth;
            deepest = qMax(deepest, depth);
            const QString chunk = rig.control.Input();
            received += chunk;
            if (chunk == "1") {
                // A handler that runs an event loop while more bytes come in.
                rig.backend->deliver("xyz");
                QEventLoop loop;
                loop.processEvents();
            }
            --depth;
        });
        rig.arrive("123");
        QCOMPARE(received, QStringLiteral("123xyz"));
        QCOMPARE(deepest, 1);
    }

    void closingThePortStopsDelivery()
    {
        Rig rig;
        rig.open();
        QString received;
        connect(&rig.control, &QmtTxRx::OnComm, this, [&] {
            received += rig.control.Input();
            if (received.size() == 2)
                (void)rig.control.setPortOpen(false);
        });
        rig.arrive("abcdef");
        QCOMPARE(received, QStringLiteral("ab"));
        rig.arrive("more"); // a closed port receives nothing
        QCOMPARE(received, QStringLiteral("ab"));
    }

    void outputSendsOneBytePerCharacter()
    {
        Rig rig;
        rig.open();
        QString text;
        for (int code = 0; code < 256; ++code)
            text += QChar(code);
        QVERIFY(rig.control.Output(text));
        QByteArray expected;
        for (int code = 0; code < 256; ++code)
            expected += char(code);
        QCOMPARE(rig.backend->written(), expected);

        rig.backend->clearWritten();
        QVERIFY(rig.control.Output(QString(QChar(0x20AC)) + "A"));
        QCOMPARE(rig.backend->written(), QByteArray("?A"));
    }

    void outputToClosedPortSendsNothing()
    {
        Rig rig;
        const Result<> sent = rig.control.Output(QStringLiteral("RDD"));
        QVERIFY(!sent);
        QVERIFY(sent.Reason().contains("not open"));
        QVERIFY(rig.backend->written().isEmpty());
    }

    void openUsesPortSettingsAndRts()
    {
        Rig rig;
        rig.control.setCommPort(3);
        QVERIFY(rig.control.setSettings(QStringLiteral("9600,n,8,1")));
        rig.control.setRTSEnable(true);
        QVERIFY(!rig.control.PortOpen());
        QVERIFY(!rig.backend->requestToSend()); // nothing reaches a closed port
        rig.open();
        QCOMPARE(rig.backend->portName(), QStringLiteral("COM3"));
        QCOMPARE(rig.backend->settings(), (LineSettings{9600, Parity::None, 8, StopBits::One}));
        QVERIFY(rig.backend->requestToSend());
        rig.control.setRTSEnable(false);
        QVERIFY(!rig.backend->requestToSend());
        QVERIFY(rig.control.setPortOpen(false));
        QVERIFY(!rig.control.PortOpen());
        QVERIFY(rig.control.setPortOpen(false)); // closing a closed port is fine
    }

    void failedOpenIsReported()
    {
        Rig rig;
        rig.backend->setOpenFailure(QStringLiteral("no such device"));
        const Result<> opened = rig.control.setPortOpen(true);
        QVERIFY(!rig.control.PortOpen());
        QCOMPARE(opened.Reason(), QStringLiteral("no such device"));
    }

    void settingsText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("instrument") << "9600,n,8,1" << true;
        QTest::newRow("upper parity") << "19200,E,7,2" << true;
        QTest::newRow("one and a half") << "300,o,5,1.5" << true;
        QTest::newRow("mark") << "1200,m,8,1" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("three fields") << "9600,n,8" << false;
        QTest::newRow("five fields") << "9600,n,8,1,1" << false;
        QTest::newRow("parity word") << "9600,none,8,1" << false;
        QTest::newRow("bad parity") << "9600,x,8,1" << false;
        QTest::newRow("nine bits") << "9600,n,9,1" << false;
        QTest::newRow("three stop bits") << "9600,n,8,3" << false;
        QTest::newRow("zero baud") << "0,n,8,1" << false;
        QTest::newRow("baud with text") << "96oo,n,8,1" << false;
        QTest::newRow("spaces") << "9600, n,8,1" << false;
    }

    void settingsText()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        Rig rig;
        QCOMPARE(rig.control.setSettings(text).Ok(), valid);
        // A refused text changes nothing.
        QCOMPARE(rig.control.Settings(), valid ? text : QStringLiteral("9600,n,8,1"));
        QCOMPARE(ParseSettings(text.toStdString()).has_value(), valid);
    }

    void settingsAreApplied()
    {
        Rig rig;
        QVERIFY(rig.control.setSettings(QStringLiteral("19200,e,7,2")));
        QVERIFY(!rig.control.setSettings(QStringLiteral("garbage")));
        rig.open();
        QCOMPARE(rig.backend->settings(), (LineSettings{19200, Parity::Even, 7, StopBits::Two}));
    }
};

QM6200_TEST_GUILESS_MAIN(TestQmtTxRx)
#include "tst_qmttxrx.moc"
