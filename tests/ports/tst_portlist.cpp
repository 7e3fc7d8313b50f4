#include "ports/PortList.h"
#include "ports/PortNames.h"
#include "ports/PortWatch.h"
#include "ports/SimulatorPorts.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/OpenWatch.h"
#include "tests/support/Pty.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

const QString Usb = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0";
const QString Board = "platform/serial8250/serial8250:0/serial8250:0.4";

QStringList Devices(const QList<FoundPort>& ports)
{
    QStringList devices;
    for (const FoundPort& port : ports)
        devices << port.device;
    return devices;
}

} // namespace

class TestPortList : public QObject {
    Q_OBJECT

private slots:
    void eachPortSaysWhatItIs_data()
    {
        QTest::addColumn<QString>("uartType");
        QTest::addColumn<QString>("hardware");
        QTest::addColumn<QStringList>("record");
        QTest::addColumn<QStringList>("byId");
        QTest::addColumn<bool>("node");
        QTest::addColumn<QString>("listed"); // after the device and a dash; empty: not listed

        const QStringList full{"E:ID_MODEL=UB-232_Cable",  "E:ID_MODEL_ENC=UB-232\\x20Cable",
                               "E:ID_VENDOR=Northwind",    "E:ID_VENDOR_ENC=Northwind\\x20Ltd",
                               "E:ID_SERIAL_SHORT=NW0042", "E:ID_MODEL_FROM_DATABASE=Bridge"};
        QTest::newRow("own words, maker, serial number")
            << "" << Usb << full << QStringList{} << true
            << "UB-232 Cable (Northwind Ltd), serial number NW0042";
        QTest::newRow("plain words: underscores are spaces")
            << "" << Usb << QStringList{"E:ID_MODEL=Serial_Bridge", "E:ID_USB_VENDOR=Acme"}
            << QStringList{} << true << "Serial Bridge (Acme)";
        QTest::newRow("bare numbers give way to the database")
            << "" << Usb
            << QStringList{"E:ID_MODEL=7523", "E:ID_VENDOR=1a86",
                           "E:ID_MODEL_FROM_DATABASE=Serial converter",
                           "E:ID_VENDOR_FROM_DATABASE=Acme Electronics"}
            << QStringList{} << true << "Serial converter (Acme Electronics)";
        QTest::newRow("what a device calls itself is shown, not acted on")
            << "" << Usb << QStringList{"E:ID_MODEL_FROM_DATABASE=Serial\u202Econverter\x1b[2J"}
            << QStringList{} << true << "Serial\\u202econverter\\x1b[2J";
        QTest::newRow("only a by-id name")
            << "" << Usb << QStringList{} << QStringList{"usb-Acme_X1_77-if00-port0"} << true
            << "usb-Acme_X1_77-if00-port0";
        QTest::newRow("nothing known of a USB line")
            << "" << Usb << QStringList{} << QStringList{} << true << "USB serial adapter";
        QTest::newRow("a UART that answered")
            << "4" << Board << QStringList{} << QStringList{} << true << "serial port";
        QTest::newRow("a UART slot where none answered")
            << "0" << Board << QStringList{} << QStringList{} << true << "";
        QTest::newRow("a virtual terminal: no device behind it")
            << ""
            << "" << QStringList{} << QStringList{} << true << "";
        QTest::newRow("no node (yet)") << "" << Usb << full << QStringList{} << false << "";
    }

    void eachPortSaysWhatItIs()
    {
        QFETCH(QString, uartType);
        QFETCH(QString, hardware);
        QFETCH(QStringList, record);
        QFETCH(QStringList, byId);
        QFETCH(bool, node);
        QFETCH(QString, listed);
        FakeSystem system;
        FakePort port("ttyX3");
        port.hardware = hardware;
        port.uartType = uartType;
        port.record = record;
        port.byId = byId;
        port.node = node;
        system.plugIn(port);
        const QList<FoundPort> found = FindSerialPorts(system.roots);
        if (listed.isEmpty()) {
            QVERIFY(found.isEmpty());
            return;
        }
        QCOMPARE(found.size(), 1);
        QCOMPARE(found.first().byId, byId);
        // The name that stays when the adapter comes back under another node.
        const QString stable =
            byId.isEmpty() ? QString() : system.roots.dev + "/serial/by-id/" + byId.first();
        QCOMPARE(StableName(system.device("ttyX3"), system.roots), stable);
        if (!stable.isEmpty())
            QCOMPARE(StableName(stable, system.roots), stable);
        QCOMPARE(FoundPortListText(found.first()),
                 system.device("ttyX3") + QString::fromUtf8(" \u2014 ") + listed);
    }

    void portsComeOnceInNameOrderAfterTheEntries()
    {
        FakeSystem system;
        const struct {
            QString name, number, hardware, type;
        } ports[] = {{"ttyUSB10", "188:10", Usb, ""}, {"ttyS4", "4:68", Board, "4"},
                     {"ttyUSB2", "188:2", Usb, ""},   {"ttyS0", "4:64", Board, "4"},
                     {"ttyS3", "4:67", Board, "4"},   {"ttyACM0", "166:0", Usb, ""}};
        for (const auto& p : ports) {
            FakePort port(p.name, p.number);
            port.hardware = p.hardware;
            port.uartType = p.type;
            system.plugIn(port);
        }
        const auto found = FindSerialPorts(system.roots);
        QStringList names;
        for (const QString& device : Devices(found))
            names << device.mid(system.roots.dev.size() + 1);
        QCOMPARE(names, (QStringList{"ttyACM0", "ttyS0", "ttyS3", "ttyS4", "ttyUSB2", "ttyUSB10"}));
        // COM1 and COM4 are /dev/ttyS0 and /dev/ttyS3: the list already has them.
        QCOMPARE(Devices(BeyondPortEntries(found, system.roots)),
                 (QStringList{system.device("ttyACM0"), system.device("ttyS4"),
                              system.device("ttyUSB2"), system.device("ttyUSB10")}));
    }

    void aPortWithoutRightsIsMarked()
    {
        if (::geteuid() == 0)
            QSKIP("root may use any device; its as-nobody test runs this case");
        FakeSystem system;
        system.plugIn(FakePort("ttyUSB0"));
        system.plugIn(FakePort("ttyUSB1", "188:1"));
        QVERIFY(QFile::setPermissions(system.device("ttyUSB1"), QFile::ReadOwner));
        const auto found = FindSerialPorts(system.roots);
        QCOMPARE(found.size(), 2);
        QVERIFY(found[0].permitted);
        QVERIFY(!found[1].permitted);
        QVERIFY(FoundPortListText(found[1]).endsWith("not permitted for your user"));
    }

    // udev's records taken away and made again, as when udev starts again: the list follows
    // them as before, without waiting for the device folder to change.
    void theWatchFollowsTheRecordsFolderMadeAgain()
    {
        FakeSystem system;
        FakePort port("ttyUSB0");
        port.record = {"E:ID_MODEL=Serial_Bridge"};
        system.plugIn(port);
        PortWatch watch(system.roots);
        QSignalSpy changed(&watch, &PortWatch::PortsChanged);
        QVERIFY(QDir(system.roots.udevData).removeRecursively());
        QTRY_COMPARE(changed.count(), 1);
        QVERIFY(QDir().mkpath(system.roots.udevData));
        system.record(port.number, {"E:ID_MODEL=Serial_Bridge_Again"});
        QTRY_COMPARE(changed.count(), 2);
        QVERIFY2(FoundPortListText(watch.Ports().first()).contains("Again"),
                 qPrintable(FoundPortListText(watch.Ports().first())));
    }

    void theRealSystemIsListedWithoutOpeningAnyPort()
    {
        // Every serial line this machine has is watched for opens: listing, and watching for
        // changes, must open none of them. A line this user may not read cannot be watched,
        // and cannot be opened either.
        OpenWatch opens;
        const QDir dev("/dev");
        int watched = 0;
        for (const QString& name : dev.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            const QString path = dev.filePath(name);
            if (QFileInfo(path).isSymLink() || ClassifyDevice(path) != DeviceKind::SerialLine
                || ::access(QFile::encodeName(path).constData(), R_OK) != 0)
                continue;
            QVERIFY2(opens.watch(path), qPrintable(path));
            ++watched;
        }
        const QList<FoundPort> found = FindSerialPorts();
        PortWatch watch;
        QCOMPARE(watch.Ports(), found);
        for (const FoundPort& port : found) {
            QVERIFY2(ClassifyDevice(port.device) == DeviceKind::SerialLine,
                     qPrintable(port.device));
            QVERIFY(!port.device.startsWith("/dev/pts/"));
        }
        QCOMPARE(opens.opens(), 0);
        qInfo("%d serial lines watched, %d found", watched, int(found.size()));
    }

    // A simulator's announcement names a running simulator only while its lock is held and its
    // device is a pseudo-terminal of the user's own (the system gives a pseudo-terminal's
    // number again at once), and only in a folder and a file of the user's own that nobody
    // else may write. Held here by a descriptor of the test's own, which flock tells from the
    // list's.
    void onlyAHeldAnnouncementNamesASimulator_data()
    {
        // "pty": one that is there, "gone", "file", "serial": a device that is not one,
        // "other's": another user's
        QTest::addColumn<QString>("names");
        QTest::addColumn<bool>("held");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<bool>("listed");
        QTest::newRow("held, its pseudo-terminal there") << "pty" << true << 0700 << 0600 << true;
        QTest::newRow("left over, its pseudo-terminal there")
            << "pty" << false << 0700 << 0600 << false;
        QTest::newRow("left over, its pseudo-terminal gone")
            << "gone" << false << 0700 << 0600 << false;
        QTest::newRow("held, its pseudo-terminal gone") << "gone" << true << 0700 << 0600 << false;
        QTest::newRow("held, naming a plain file") << "file" << true << 0700 << 0600 << false;
        QTest::newRow("held, naming a serial device") << "serial" << true << 0700 << 0600 << false;
        QTest::newRow("held, another user's pseudo-terminal")
            << "other's" << true << 0700 << 0600 << false;
        QTest::newRow("held, in a folder others may write")
            << "pty" << true << 01777 << 0600 << false;
        QTest::newRow("held, a file others may write") << "pty" << true << 0700 << 0666 << false;
    }

    void onlyAHeldAnnouncementNamesASimulator()
    {
        QFETCH(QString, names);
        QFETCH(bool, held);
        QFETCH(int, folderMode);
        QFETCH(int, fileMode);
        QFETCH(bool, listed);
        if (names == "other's" && ::geteuid() != 0)
            QSKIP("giving a pseudo-terminal to another user needs root");
        Pty pty;
        if (names == "other's")
            QCOMPARE(::chown(QFile::encodeName(pty.device), 65534, 65534), 0);
        const QString folder = SimulatorFolder();
        QVERIFY(folder.startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR") + "/"));
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(::chmod(QFile::encodeName(folder), mode_t(folderMode)), 0);
        const QString device = names == "pty" || names == "other's" ? pty.device
                               : names == "gone"                    ? QString("/dev/pts/4194304")
                               : names == "serial"                  ? QString("/dev/ttyS0")
                                                                    : folder + "/not-a-device";
        QFile announcement(folder + "/sim-1");
        QVERIFY(announcement.open(QIODevice::WriteOnly));
        QCOMPARE(::fchmod(announcement.handle(), mode_t(fileMode)), 0);
        announcement.write(QFile::encodeName(device) + "\n");
        announcement.flush();
        if (held)
            QCOMPARE(::flock(announcement.handle(), LOCK_EX | LOCK_NB), 0);
        QCOMPARE(RunningSimulators(), listed ? QStringList(device) : QStringList());
        // Looked at, not removed: it may be a new simulator's by the time it would go.
        QVERIFY(announcement.exists());
        QVERIFY(announcement.remove());
        if (listed)
            QCOMPARE(SimulatorListText(device),
                     device + QString::fromUtf8(" \u2014 simulated instrument (qm6200-sim)"));
    }

    void permissionAdviceHelpsOnlyWhereItCan_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("group");
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("held");
        QTest::addColumn<int>("advice");
        const int join = int(PermissionAdvice::JoinGroup),
                  again = int(PermissionAdvice::LogInAgain),
                  ask = int(PermissionAdvice::AskForAccess);
        QTest::newRow("group may read and write") << 0660 << "dialout" << false << false << join;
        QTest::newRow("only the group may") << 0060 << "uucp" << false << false << join;
        QTest::newRow("group may only read") << 0640 << "dialout" << false << false << ask;
        QTest::newRow("group may only write") << 0620 << "tty" << false << false << ask;
        QTest::newRow("others may, the group not") << 0606 << "dialout" << false << false << ask;
        QTest::newRow("group root") << 0660 << "root" << false << false << ask;
        QTest::newRow("group unknown") << 0660 << "" << false << false << ask;
        QTest::newRow("listed, not in this session") << 0660 << "dialout" << true << false << again;
        QTest::newRow("listed and held, still refused") << 0660 << "dialout" << true << true << ask;
        QTest::newRow("held though not listed") << 0660 << "dialout" << false << true << ask;
        QTest::newRow("listed in root") << 0660 << "root" << true << false << ask;
    }

    void permissionAdviceHelpsOnlyWhereItCan()
    {
        QFETCH(int, mode);
        QFETCH(QString, group);
        QFETCH(bool, listed);
        QFETCH(bool, held);
        QFETCH(int, advice);
        QCOMPARE(int(AdvisePermission(unsigned(mode), group, listed, held)), advice);
    }
};

QM6200_TEST_GUILESS_MAIN(TestPortList)
#include "tst_portlist.moc"
