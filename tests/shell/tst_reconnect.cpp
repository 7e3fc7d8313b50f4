// A lost port is opened again when it comes back, by itself: the same port, a link repointed to
// a new line or an adapter under a new name, and nothing sent again. Never while the operator
// chooses, nor after.

#include "ports/ReturnWatch.h"
#include "serial/MakeSerialBackend.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/Frames.h"
#include "tests/support/Pty.h"
#include "tests/support/TestMain.h"
#include "tests/support/Window.h"

#include <QLabel>
#include <QTemporaryDir>

#include <memory>
#include <vector>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;

namespace {

const QByteArray AcquireRecords = QByteArray::fromHex("02524444204 14C4C030D");

bool Point(const QString& link, const QString& target)
{
    // Repointed at once, as a tool that makes virtual ports does it.
    const QString next = link + ".next";
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(next).constData())
               == 0
           && ::rename(QFile::encodeName(next).constData(), QFile::encodeName(link).constData())
                  == 0;
}

FakePort Adapter(const QString& name, const QString& number, const QString& pty)
{
    FakePort port(name, number);
    port.vendorId = "0403";
    port.productId = "6001";
    port.serial = "A1";
    port.linkTo = pty;
    return port;
}

} // namespace

class TestReconnect : public QObject {
    Q_OBJECT

private slots:
    void theSamePortIsOpenedAgainWhenItIsBack_data()
    {
        QTest::addColumn<bool>("adapter");   // or a link typed into the port box
        QTest::addColumn<bool>("acquiring"); // the line lost while records came
        QTest::newRow("a link repointed to a new line") << false << false;
        QTest::newRow("the adapter under a new name") << true << false;
        QTest::newRow("a link, lost during an acquisition") << false << true;
    }

    void theSamePortIsOpenedAgainWhenItIsBack()
    {
        QFETCH(bool, adapter);
        QFETCH(bool, acquiring);
        FakeSystem system;
        QTemporaryDir dir;
        auto first = std::make_unique<Pty>();
        QString port = dir.filePath("instrument");
        if (adapter) {
            system.plugIn(Adapter("ttyUSB0", "188:0", first->device));
            port = system.device("ttyUSB0");
        } else {
            QVERIFY(Point(port, first->device));
        }
        MainWindow program(
            MakeSerialBackend(), [] {}, system.roots);
        QVERIFY(program.choosePort(port));
        // The adapter as the port list shows it; a link to a terminal, by its name.
        const QString open = program.ui.noticeText->accessibleName();
        QVERIFY2(adapter ? open.startsWith("Port open: " + port + " \u2014 USB serial adapter")
                         : open == "Port open: " + port,
                 qPrintable(open));
        if (acquiring) {
            program.form.SetAnswerIntervals({60s, 60s, 60s});
            program.ui.acquireRecordsButton->click();
            QCOMPARE(first->read(int(AcquireRecords.size())), AcquireRecords);
            first->send(RecordAnswer(2));
            QTRY_COMPARE(program.store().RxCount, 2);
        }

        first->hangUp();
        if (adapter)
            system.pullOut("ttyUSB0");
        QTRY_VERIFY(!program.ui.serialControl->PortOpen());
        QTRY_COMPARE(program.messages.size(), 1);
        QVERIFY(program.messages.first().contains("opened again as soon as it is back"));

        Pty second;
        QString back = port;
        if (adapter) {
            system.plugIn(Adapter("ttyUSB1", "188:1", second.device));
            back = system.device("ttyUSB1");
        } else {
            QVERIFY(Point(port, second.device));
        }
        QTRY_VERIFY(program.ui.serialControl->PortOpen());
        // The message that it was lost is out of date; an incomplete table outranks the news.
        QVERIFY(!program.lostShown);
        QCOMPARE(program.ui.noticeText->accessibleName(),
                 acquiring ? QString("Table incomplete: 2 records, then the line was lost.")
                           : "Reconnected to " + back);
        QCOMPARE(program.ui.noticeText->palette().color(QPalette::WindowText)
                     == program.ui.statusText->palette().color(QPalette::WindowText),
                 !acquiring);
        QCOMPARE(program.messages.size(), 1);
        // Nothing was sent again: the next command is the first thing on the new line.
        program.ui.acquireRecordsButton->click();
        QCOMPARE(second.read(int(AcquireRecords.size())), AcquireRecords);
    }

    // A pseudo-terminal chosen by its number is not waited for once it has closed: the next
    // terminal opened anywhere takes that number, and is another program's.
    void aClosedTerminalIsNotWaitedFor()
    {
        auto lost = std::make_unique<Pty>();
        const QString number = lost->device;
        MainWindow program(MakeSerialBackend());
        QVERIFY(program.choosePort(number));
        lost.reset();
        QTRY_COMPARE(program.messages.size(), 1);
        QVERIFY2(program.messages.first().contains("does not come back"),
                 qPrintable(program.messages.first()));
        QVERIFY(!program.ui.serialControl->PortOpen());

        std::vector<std::unique_ptr<Pty>> opened;
        while (opened.size() < 16 && (opened.empty() || opened.back()->device != number))
            opened.push_back(std::make_unique<Pty>());
        ProcessQueued();
        QVERIFY(!program.form.findChild<ReturnWatch*>());
        QVERIFY(!program.ui.serialControl->PortOpen());
    }

    // Choosing a port ends the wait: nothing is opened behind the operator's back.
    void choosingAPortEndsTheWait()
    {
        QTemporaryDir dir;
        const QString port = dir.filePath("instrument");
        auto first = std::make_unique<Pty>();
        QVERIFY(Point(port, first->device));
        MainWindow program(MakeSerialBackend());
        QVERIFY(program.choosePort(port));
        first->hangUp();
        QTRY_VERIFY(program.form.findChild<ReturnWatch*>());
        bool waitingWhileChoosing = true;
        OnNextModal([&](QWidget* modal) {
            waitingWhileChoosing = program.form.findChild<ReturnWatch*>() != nullptr;
            qobject_cast<QDialog*>(modal)->done(QDialog::Rejected);
        });
        program.form.ChoosePort();
        QVERIFY(!waitingWhileChoosing);
        Pty second;
        QVERIFY(Point(port, second.device));
        ProcessQueued();
        QVERIFY(!program.form.findChild<ReturnWatch*>());
    }
};

QM6200_TEST_MAIN(TestReconnect)
#include "tst_reconnect.moc"
