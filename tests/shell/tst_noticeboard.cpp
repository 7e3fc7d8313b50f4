// What the notice line shows when several things hold at once, and how long each holds; the
// open port as the port list names it.

#include "shell/NoticeBoard.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QTemporaryDir>

using namespace qm;

namespace {

using Topic = NoticeBoard::Topic;

// Each topic's text is its name.
const QStringList Names{"PortWillNotOpen", "Incomplete", "NoAnswer", "NotInTable",
                        "LabAway",         "News",       "Port"};

} // namespace

class TestNoticeBoard : public QObject {
    Q_OBJECT

private slots:
    void theMostPressingIsShown_data()
    {
        // Steps: a topic's name sets it; "command", "opened" and "closed" are what happens.
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("shown"); // empty: nothing
        QTest::addColumn<int>("rank");
        const int fault = int(NoticeBoard::Rank::Fault);
        const int news = int(NoticeBoard::Rank::News);
        const int state = int(NoticeBoard::Rank::State);
        QTest::newRow("nothing") << QStringList{} << "" << 0;
        QTest::newRow("a fault over news")
            << QStringList{"Port", "News", "NotInTable"} << "NotInTable" << fault;
        QTest::newRow("faults in their order, whatever came first")
            << QStringList{"NotInTable", "NoAnswer", "Incomplete"} << "Incomplete" << fault;
        QTest::newRow("the port's fault first")
            << QStringList{"Incomplete", "PortWillNotOpen"} << "PortWillNotOpen" << fault;
        QTest::newRow("a command ends the answer's faults and the news")
            << QStringList{"Port", "News", "Incomplete", "NoAnswer", "NotInTable", "command"}
            << "Port" << state;
        QTest::newRow("a command leaves the port's fault")
            << QStringList{"Port", "PortWillNotOpen", "command"} << "PortWillNotOpen" << fault;
        QTest::newRow("the port open ends its fault and the news, not the table's")
            << QStringList{"Port", "Incomplete", "PortWillNotOpen", "News", "opened"}
            << "Incomplete" << fault;
        QTest::newRow("the port open, news after it stays")
            << QStringList{"Port", "opened", "News"} << "News" << news;
        QTest::newRow("the port closed ends the news")
            << QStringList{"Port", "News", "closed"} << "Port" << state;
        QTest::newRow("the port closed leaves its fault")
            << QStringList{"Port", "PortWillNotOpen", "closed"} << "PortWillNotOpen" << fault;
        QTest::newRow("the lab away under the answer's faults, over the news")
            << QStringList{"Port", "LabAway", "News", "NotInTable"} << "NotInTable" << fault;
        QTest::newRow("the lab away outlasts a command and the port")
            << QStringList{"Port", "LabAway", "command", "opened", "closed"} << "LabAway" << fault;
    }

    void theMostPressingIsShown()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, shown);
        QFETCH(int, rank);
        NoticeBoard board;
        for (const QString& step : steps) {
            if (step == "command")
                board.CommandWritten();
            else if (step == "opened" || step == "closed")
                board.PortChanged(step == "opened");
            else
                board.Set(Topic(Names.indexOf(step)), step);
        }
        const auto top = board.Top();
        QCOMPARE(top ? top->text : QString(), shown);
        if (top)
            QCOMPARE(int(top->rank()), rank);
    }

    void theOpenPortAsTheListNamesIt_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("shown");
        QTest::newRow("COM2") << "COM2"
                              << "COM2 (/dev/ttyS1)";
        QTest::newRow("an adapter")
            << "/dev/ttyUSB0"
            << "/dev/ttyUSB0 \u2014 FT232R USB UART (FTDI), serial number A9";
        QTest::newRow("an adapter the list thought not permitted")
            << "/dev/ttyUSB1"
            << "/dev/ttyUSB1 \u2014 USB serial adapter";
        QTest::newRow("a link to an adapter") << "LINK"
                                              << "ADAPTER \u2014 USB serial adapter";
        QTest::newRow("the simulator") << "/dev/pts/7"
                                       << "/dev/pts/7 \u2014 simulated instrument (qm6200-sim)";
        QTest::newRow("anything else") << "/dev/ttyV0\x1b"
                                       << "/dev/ttyV0\\x1b";
    }

    void theOpenPortAsTheListNamesIt()
    {
        QFETCH(QString, port);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        const QString adapter = dir.filePath("ttyACM3");
        const QString link = dir.filePath("by-id-link");
        QFile node(adapter);
        QVERIFY(node.open(QIODevice::WriteOnly));
        QVERIFY(QFile::link(adapter, link));

        FoundPort ftdi;
        ftdi.device = "/dev/ttyUSB0";
        ftdi.kind = FoundPort::Usb;
        ftdi.model = "FT232R USB UART";
        ftdi.maker = "FTDI";
        ftdi.serialNumber = "A9";
        FoundPort barred;
        barred.device = "/dev/ttyUSB1";
        barred.kind = FoundPort::Usb;
        barred.permitted = false;
        FoundPort linked;
        linked.device = adapter;
        linked.kind = FoundPort::Usb;
        port.replace("LINK", link);
        shown.replace("ADAPTER", adapter);
        QCOMPARE(OpenPortText(port, {ftdi, barred, linked}, {"/dev/pts/7"}), shown);
    }
};

QM6200_TEST_GUILESS_MAIN(TestNoticeBoard)
#include "tst_noticeboard.moc"
