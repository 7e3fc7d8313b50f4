#include "QmtTxRx.h"
#include "SerialBackend.h"

#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace qm;

namespace {

// The instrument's end of a raw pseudo-terminal; the program opens the other end by name.
struct Line {
    int master = -1;
    QString device;

    Line()
    {
        int slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        device = QString::fromLocal8Bit(::ttyname(slave));
        ::close(slave);
    }
    ~Line() { hangUp(); }

    void send(const QByteArray& bytes) const
    {
        QCOMPARE(::write(master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }

    // What the program sent, waiting up to a second for `count` bytes. The program writes
    // from its event loop, so that runs meanwhile.
    QByteArray read(int count) const
    {
        QByteArray bytes;
        char buffer[512];
        QDeadlineTimer deadline(1000);
        while (bytes.size() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            pollfd fd{master, POLLIN, 0};
            if (::poll(&fd, 1, 10) <= 0)
                continue;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, n);
        }
        return bytes;
    }

    void hangUp()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
};

// The serial control on the real serial backend.
struct Port {
    QmtTxRx control{std::make_unique<SerialBackend>()};
    QByteArray received;
    int events = 0;
    QSignalSpy lost{&control, &QmtTxRx::PortLost};

    Port()
    {
        QObject::connect(&control, &QmtTxRx::OnComm, &control, [this] {
            ++events;
            received += control.Input().toLatin1();
        });
    }

    bool open(const QString& device)
    {
        control.setDeviceName(device);
        const bool opened = control.setPortOpen(true);
        control.setRTSEnable(true);
        return opened;
    }
};

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void everyByteCrossesUnchangedBothWays()
    {
        Line line;
        Port port;
        QVERIFY(port.open(line.device));

        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += char(b);
        line.send(all);
        QTRY_COMPARE(port.received.size(), 256);
        QCOMPARE(port.received, all);
        QCOMPARE(port.events, 256); // one event per byte

        QString text;
        for (int b = 0; b < 256; ++b)
            text += QChar(b);
        QVERIFY(port.control.Output(text));
        QCOMPARE(line.read(256), all);

        // RTS on a line without modem lines is no failure and no loss.
        port.control.setRTSEnable(false);
        port.control.setRTSEnable(true);
        QVERIFY(port.control.PortOpen());
        QCOMPARE(port.lost.count(), 0);
    }

    void staleInputFromBeforeTheOpenIsDropped()
    {
        Line line;
        line.send("stale");
        Port port;
        QVERIFY(port.open(line.device));
        line.send("fresh");
        QTRY_COMPARE(port.received, QByteArray("fresh"));
    }

    void hangUpIsToldOnceAndKeepsWhatArrived()
    {
        Line line;
        Port port;
        QVERIFY(port.open(line.device));
        line.send("\x02R01,00001");
        QTRY_COMPARE(port.received.size(), 10);
        line.hangUp();
        QTRY_COMPARE(port.lost.count(), 1);
        QVERIFY(!port.control.PortOpen());
        QCOMPARE(port.received, QByteArray("\x02R01,00001"));
        // No echo of the loss: the port stays quiet once closed.
        QTest::qWait(300);
        QCOMPARE(port.lost.count(), 1);
        QVERIFY(!port.control.Output("x"));
    }

    void aSecondUserOfTheDeviceIsToldItIsInUse()
    {
        Line line;
        Port first;
        QVERIFY(first.open(line.device));
        Port second;
        QVERIFY(!second.open(line.device));
        QVERIFY2(second.control.ErrorText().contains("in use by another program"),
                 qPrintable(second.control.ErrorText()));
        QVERIFY(second.control.ErrorText().contains(line.device));
        // The first keeps working.
        line.send("ok");
        QTRY_COMPARE(first.received, QByteArray("ok"));
    }

    void aMissingDeviceIsToldAsMissing()
    {
        Port port;
        QVERIFY(!port.open("/dev/pts/999999"));
        QVERIFY2(port.control.ErrorText().contains("does not exist"),
                 qPrintable(port.control.ErrorText()));
        QCOMPARE(port.lost.count(), 0);
        QVERIFY(!port.control.PortOpen());
    }

    void aDeviceWithoutRightsNamesItsGroup()
    {
        if (::geteuid() == 0)
            QSKIP("root may open any device; run as an ordinary user to test this");
        Line line;
        const QByteArray path = line.device.toLocal8Bit();
        QCOMPARE(::chmod(path.constData(), 0), 0);
        Port port;
        QVERIFY(!port.open(line.device));
        QVERIFY2(port.control.ErrorText().contains("not allowed"),
                 qPrintable(port.control.ErrorText()));
        QVERIFY(port.control.ErrorText().contains("usermod"));
    }
};

QTEST_MAIN(TestSerialPort)
#include "tst_serialport.moc"
