#include "link/PortNames.h"
#include "link/QmtTxRx.h"
#include "link/SerialBackend.h"
#include "tests/support/Dialogs.h"
#include "tests/support/OpenWatch.h"
#include "tests/support/Pty.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

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

const LineSettings Instrument{9600, Parity::None, 8, StopBits::One};

bool Symlink(const QString& target, const QString& link)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData())
           == 0;
}

// A made-up device tree under `root`, laid out as the kernel lays out sysfs: dev/char/MAJ:MIN
// are relative links into devices/, whose entries link to their class.
//   1:3  a terminal line with hardware behind it
//   1:5  a terminal line without (as the virtual consoles)
//   1:9  a device of another class
struct FakeSysfs {
    QString root;

    explicit FakeSysfs(const QString& under)
        : root(under + "/sys")
    {
        QDir().mkpath(root + "/class/tty");
        QDir().mkpath(root + "/class/mem");
        QDir().mkpath(root + "/dev/char");
        QDir().mkpath(root + "/devices/platform/uart0");
        entry("1:3", "platform/uart0/tty/ttyQ0", "tty", true);
        entry("1:5", "virtual/tty/ttyQ1", "tty", false);
        entry("1:9", "virtual/mem/random", "mem", false);
    }

    void entry(const QString& number, const QString& device, const QString& kind, bool hardware)
    {
        const QString dir = root + "/devices/" + device;
        QDir().mkpath(dir);
        const QString up = QString("../").repeated(int(device.count('/')) + 2);
        QVERIFY(Symlink(up + "class/" + kind, dir + "/subsystem"));
        if (hardware)
            QVERIFY(Symlink(up + "devices/platform/uart0", dir + "/device"));
        QVERIFY(Symlink("../../devices/" + device, root + "/dev/char/" + number));
    }
};

// Makes `path` as `node` says: "1:3" (a device node with that number), "fifo", "file",
// "folder", "pty" or "link to pty" (the pseudo-terminal `pty` itself, or a link to it).
bool MakeNode(const QString& node, const QString& path, const QString& pty)
{
    const QByteArray name = QFile::encodeName(path);
    if (node.contains(':')) {
        const auto number = node.split(':');
        return ::mknod(name.constData(), S_IFCHR | 0666,
                       makedev(number[0].toUInt(), number[1].toUInt()))
               == 0;
    }
    if (node == "fifo")
        return ::mkfifo(name.constData(), 0666) == 0;
    if (node == "file") {
        QFile file(path);
        return file.open(QIODevice::WriteOnly);
    }
    if (node == "folder")
        return QDir().mkdir(path);
    if (node == "link to pty")
        return Symlink(pty, path);
    return node == "missing" || node == "pty";
}

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void everyByteCrossesUnchangedBothWays()
    {
        Pty line;
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
        Pty line;
        line.send("stale");
        Port port;
        QVERIFY(port.open(line.device));
        line.send("fresh");
        QTRY_COMPARE(port.received, QByteArray("fresh"));
    }

    void hangUpIsToldOnceAndKeepsWhatArrived()
    {
        Pty line;
        Port port;
        QVERIFY(port.open(line.device));
        line.send("\x02R01,00001");
        QTRY_COMPARE(port.received.size(), 10);
        line.hangUp();
        QTRY_COMPARE(port.lost.count(), 1);
        QVERIFY(!port.control.PortOpen());
        QCOMPARE(port.received, QByteArray("\x02R01,00001"));
        // No echo of the loss: the port stays quiet once closed.
        ProcessQueued();
        QCOMPARE(port.lost.count(), 1);
        QVERIFY(!port.control.Output("x"));
    }

    void aSecondUserOfTheDeviceIsToldItIsInUse()
    {
        Pty line;
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
        // Another program that locks its ports as Qt's serial port does sees it taken too,
        // and gets it once it is free.
        QSerialPort other(line.device);
        QVERIFY(!other.open(QIODevice::ReadWrite));
        first.control.setPortOpen(false);
        QVERIFY(other.open(QIODevice::ReadWrite));
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

    void aDeviceWithoutRightsNamesItsGroup_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("no one may") << 0;
        QTest::newRow("only the group may") << 0060;
    }

    // The group is named only when joining it helps: it may read and write, and this
    // program does not hold it yet (a pseudo-terminal may belong to this user's own group).
    void aDeviceWithoutRightsNamesItsGroup()
    {
        if (::geteuid() == 0)
            QSKIP("root may open any device; run as an ordinary user to test this");
        QFETCH(int, mode);
        Pty line;
        const QByteArray path = line.device.toLocal8Bit();
        QCOMPARE(::chmod(path.constData(), mode_t(mode)), 0);
        struct stat info {};
        QCOMPARE(::stat(path.constData(), &info), 0);
        const group* owner = ::getgrgid(info.st_gid);
        const bool joinHelps = mode != 0 && owner && info.st_gid != 0 && info.st_gid != ::getegid();
        Port port;
        QVERIFY(!port.open(line.device));
        const QString text = port.control.ErrorText();
        QVERIFY2(text.contains("not allowed"), qPrintable(text));
        if (joinHelps) {
            QVERIFY2(text.contains(QString("usermod -aG %1 ").arg(owner->gr_name)),
                     qPrintable(text));
        } else {
            QVERIFY2(text.contains("administrator to give your user access"), qPrintable(text));
            QVERIFY(!text.contains("usermod"));
        }
    }

    // Whether a name is a serial line is decided from the node's kind before anything opens
    // it: opening some devices has effects of its own (a watchdog arms itself). Nodes with
    // harmless numbers stand for the others, judged by a made-up device tree or by /sys.
    void onlySerialLinesAreEverOpened_data()
    {
        QTest::addColumn<QString>("node");
        QTest::addColumn<bool>("madeUpTree");
        QTest::addColumn<int>("kind");
        const int line = int(DeviceKind::SerialLine), other = int(DeviceKind::NotSerial);
        QTest::newRow("tty with hardware") << "1:3" << true << line;
        QTest::newRow("tty without hardware") << "1:5" << true << other;
        QTest::newRow("device of another class") << "1:9" << true << other;
        QTest::newRow("memory device by /sys") << "1:3" << false << other;
        QTest::newRow("random device by /sys") << "1:9" << false << other;
        QTest::newRow("fifo") << "fifo" << false << other;
        QTest::newRow("regular file") << "file" << false << other;
        QTest::newRow("folder") << "folder" << false << other;
        QTest::newRow("missing") << "missing" << false << int(DeviceKind::Missing);
        QTest::newRow("pseudo-terminal") << "pty" << false << line;
        QTest::newRow("link to a pseudo-terminal") << "link to pty" << true << line;
    }

    void onlySerialLinesAreEverOpened()
    {
        QFETCH(QString, node);
        QFETCH(bool, madeUpTree);
        QFETCH(int, kind);
        if (node.contains(':') && ::geteuid() != 0)
            QSKIP("only root makes device nodes");
        QTemporaryDir dir;
        const FakeSysfs tree(dir.path());
        const QString sysfs = madeUpTree ? tree.root : QString("/sys");
        Pty pty;
        const QString path = node == "pty" ? pty.device : dir.filePath("node");
        QVERIFY(MakeNode(node, path, pty.device));

        QCOMPARE(int(ClassifyDevice(path, sysfs)), kind);
        if (kind == int(DeviceKind::SerialLine)) {
            const PortChoice choice = InterpretPortText(path, sysfs);
            QCOMPARE(choice.kind, PortChoice::Device);
            QCOMPARE(choice.device, path);
            if (node.contains("pty")) {
                SerialBackend backend(nullptr, sysfs);
                QVERIFY2(backend.open(path, Instrument), qPrintable(backend.errorText()));
            }
            return;
        }

        OpenWatch watch;
        const bool watching = watch.watch(path);
        QCOMPARE(watching, kind != int(DeviceKind::Missing));
        const PortChoice choice = InterpretPortText(path, sysfs);
        SerialBackend backend(nullptr, sysfs);
        const bool opened = backend.open(path, Instrument);
        QCOMPARE(watch.opens(), 0);
        QVERIFY(!opened);
        QCOMPARE(choice.kind, PortChoice::Invalid);
        QVERIFY(choice.problem.contains(QString("\"%1\" is not a serial port").arg(path)));
        QVERIFY2(backend.errorText().contains(
                     kind == int(DeviceKind::Missing) ? "does not exist" : "is not a serial port"),
                 qPrintable(backend.errorText()));
        if (!watching)
            return;
        // The watch does see an open.
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        ::close(fd);
        QCOMPARE(watch.opens(), 1);
    }

    // COM1 to COM4 are /dev/ttyS0 to /dev/ttyS3 and pass the same check: with an empty device
    // tree none is a line; a missing one is told as missing when opened.
    void entriesGoThroughTheSameCheck()
    {
        QTemporaryDir emptyTree;
        for (int entry = 0; entry < PortEntries; ++entry) {
            const QString name = PortEntryName(entry);
            const QString location = SystemLocation(name);
            const DeviceKind kind = ClassifyDevice(location, emptyTree.path());
            QVERIFY(kind != DeviceKind::SerialLine);
            const PortChoice choice = InterpretPortText(name, emptyTree.path());
            if (kind == DeviceKind::NotSerial) {
                QCOMPARE(choice.kind, PortChoice::Invalid);
                QVERIFY(choice.problem.contains(QString("%1 (%2)").arg(name, location)));
                continue;
            }
            QCOMPARE(choice.kind, PortChoice::Entry);
            // Missing: nothing to open, even if the check were gone.
            SerialBackend backend(nullptr, emptyTree.path());
            QVERIFY(!backend.open(name, Instrument));
            QVERIFY(backend.errorText().contains(
                QString("%1 (%2) does not exist").arg(name, location)));
        }
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

QTEST_MAIN(TestSerialPort)
#include "tst_serialport.moc"
