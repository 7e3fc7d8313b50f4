// The port remembered between runs: what is kept of a port that opened, and where it is found
// again, by who it is rather than by its name, and never when it could be another instrument.

#include "link/PortMemory.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/Files.h"
#include "tests/support/Pty.h"
#include "tests/support/TestMain.h"

#include <QTemporaryDir>

using namespace qm;
using namespace qm::test;

namespace {

// An adapter of the made-up computer, with an identity of its own.
FakePort Adapter(const QString& name, const QString& number, const QString& serial,
                 const QString& usbPort)
{
    FakePort port(name, number);
    port.hardware = "pci0000:00/0000:00:14.0/usb1/" + usbPort + "/" + usbPort + ":1.0";
    port.vendorId = "0403";
    port.productId = "6001";
    port.serial = serial;
    port.byId = {"usb-Example_Serial_" + (serial.isEmpty() ? QString("none") : serial) + "-"
                 + usbPort + "-port0"};
    return port;
}

} // namespace

class TestPortMemory : public QObject {
    Q_OBJECT

private slots:
    void theRememberedPortIsFoundAgain_data()
    {
        QTest::addColumn<QString>("remembered");  // an entry, "pty", "gone", or an adapter's
                                                  // serial number ("none": it has none)
        QTest::addColumn<QStringList>("present"); // adapters now: name:serial
        QTest::addColumn<QString>("found");       // a device's name, an entry, "pty", or none
        QTest::newRow("an entry") << "COM3" << QStringList{} << "COM3";
        QTest::newRow("a pseudo-terminal, by its path") << "pty" << QStringList{} << "pty";
        QTest::newRow("a path no more there") << "gone" << QStringList{} << "";
        QTest::newRow("the adapter, as it was") << "A1" << QStringList{"ttyUSB0:A1"} << "ttyUSB0";
        QTest::newRow("the adapter under a new name")
            << "A1" << QStringList{"ttyUSB0:B2", "ttyUSB1:A1"} << "ttyUSB1";
        QTest::newRow("another adapter in its place") << "A1" << QStringList{"ttyUSB0:B2"} << "";
        QTest::newRow("an adapter with no serial number of its own")
            << "none" << QStringList{"ttyUSB0:none"} << "";
        QTest::newRow("two adapters alike")
            << "A1" << QStringList{"ttyUSB0:A1", "ttyUSB1:A1"} << "";
    }

    void theRememberedPortIsFoundAgain()
    {
        QFETCH(QString, remembered);
        QFETCH(QStringList, present);
        QFETCH(QString, found);
        FakeSystem system;
        int usb = 2;
        for (const QString& adapter : present) {
            const QString name = adapter.section(':', 0, 0);
            const QString serial = adapter.section(':', 1) == "none" ? "" : adapter.section(':', 1);
            system.plugIn(
                Adapter(name, QString("188:%1").arg(usb), serial, QString("1-%1").arg(usb)));
            ++usb;
        }
        Pty pty;
        RememberedPort port;
        if (remembered == "pty") {
            port.choice = pty.device;
        } else if (remembered == "gone") {
            port.choice = "/dev/pts/999999";
        } else if (remembered.startsWith("COM")) {
            port.choice = remembered;
        } else {
            // Kept when it opened as ttyUSB0, whatever it is called now.
            port = {system.device("ttyUSB0"), "0403", "6001",
                    remembered == "none" ? "" : remembered, ""};
        }
        const auto located =
            LocateRememberedPort(port, FindSerialPorts(system.roots), system.roots.sysfs);
        const QString expected = found == "pty"            ? pty.device
                                 : found.startsWith("tty") ? system.device(found)
                                                           : found;
        QCOMPARE(located.value_or(QString()), expected);
    }

    // What is kept of a port that opened, and read back as it was written; a file that cannot
    // be read or written, or that is damaged, changes nothing but what is offered first.
    void whatOpensIsKeptAndReadBack()
    {
        FakeSystem system;
        system.plugIn(Adapter("ttyUSB0", "188:0", "A1", "1-2"));
        const auto present = FindSerialPorts(system.roots);
        const RememberedPort adapter =
            RememberPort("/dev/serial/by-id/typed", system.device("ttyUSB0"), present);
        QCOMPARE(adapter, (RememberedPort{"/dev/serial/by-id/typed", "0403", "6001", "A1",
                                          "usb-Example_Serial_A1-1-2-port0"}));
        const RememberedPort entry = RememberPort("COM2", "/dev/ttyS1", present);
        QCOMPARE(entry, (RememberedPort{"COM2", "", "", "", ""}));

        QTemporaryDir dir;
        const QString path = dir.filePath("qm6200/qm6200.conf");
        QVERIFY(!ReadRememberedPort(path));
        QVERIFY(WriteRememberedPort(adapter, path));
        QCOMPARE(ReadRememberedPort(path), adapter);
        QVERIFY(WriteRememberedPort(entry, path));
        QCOMPARE(ReadRememberedPort(path), entry);

        QString problem;
        QVERIFY(Write(dir.filePath("file"), "a file where the folder would be"));
        QVERIFY(!WriteRememberedPort(entry, dir.filePath("file/qm6200.conf"), &problem));
        QVERIFY2(problem.contains("file/qm6200.conf"), qPrintable(problem));
        QVERIFY(Write(path, QByteArray("\x00\xff[port\nchoice\x01=\xfe\n", 18)));
        QVERIFY(!ReadRememberedPort(path));
    }
};

QM6200_TEST_MAIN(TestPortMemory)
#include "tst_portmemory.moc"
