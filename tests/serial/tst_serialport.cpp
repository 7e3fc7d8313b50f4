#include "ports/PortNames.h"
#include "serial/PortLock.h"
#include "serial/QmtTxRx.h"
#include "serial/SerialBackend.h"
#include "serial/TerminalLine.h"
#include "serial/qtserial/QtSerialBackend.h"
#include "tests/support/Dialogs.h"
#include "tests/support/Files.h"
#include "tests/support/Locks.h"
#include "tests/support/OpenWatch.h"
#include "tests/support/Pty.h"
#include "tests/support/TestMain.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

// The port locks of these tests: a folder of their own, never the system's.
QString LockFolder()
{
    static const QTemporaryDir folder;
    return folder.path();
}

// Both serial backends keep one contract, on real pseudo-terminals: the program's own over
// the terminal interface, and the one over Qt's serial port, the reference. Where Qt's own
// behaviour is not right (it takes a wakeup with nothing to read for an error, a lock of a
// live process for none), its backend mends it, and the case below says what is right. Qt's
// serial port takes its own lock in the system's lock folder; the backend over it looks for
// other programs' locks in the tests' folder.
std::unique_ptr<CommBackend> Backend(const QString& sysfsRoot = QStringLiteral("/sys"),
                                     const QString& lockFolder = LockFolder())
{
    QFETCH_GLOBAL(QString, backend);
    if (backend == "qt")
        return std::make_unique<QtSerialBackend>(nullptr, sysfsRoot, QStringList{lockFolder});
    return std::make_unique<SerialBackend>(nullptr, sysfsRoot, QStringList{lockFolder});
}

// The serial control on the backend under test.
struct Port {
    QmtTxRx control{Backend()};
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

    Result<> open(const QString& device, const QString& settings = "9600,n,8,1")
    {
        control.setDeviceName(device);
        (void)control.setSettings(settings);
        Result<> opened = control.setPortOpen(true);
        control.setRTSEnable(true);
        return opened;
    }

    // The backend woken for reading with nothing to read, as the system may wake it (Qt's
    // notifier also fires on a hang-up or an error reported for the line), with errno left
    // as Qt takes it for a lost resource. Returns how many readers were woken.
    int wakeWithNothingToRead()
    {
        int woken = 0;
        for (QSocketNotifier* notifier : control.backend().findChildren<QSocketNotifier*>()) {
            if (notifier->type() != QSocketNotifier::Read || !notifier->isEnabled())
                continue;
            QEvent wakeup(QEvent::SockAct);
            errno = EAGAIN;
            QCoreApplication::sendEvent(notifier, &wakeup);
            ++woken;
        }
        return woken;
    }
};

// Whether the line is marked for one user alone: as root, asked of the line itself; as
// anyone else, an open refused as busy says so.
bool MarkedExclusive(const QString& device)
{
    const int fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == EBUSY;
    int exclusive = 0;
    ::ioctl(fd, TIOCGEXCL, &exclusive);
    ::close(fd);
    return exclusive != 0;
}

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
    void initTestCase_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("termios") << "termios";
        QTest::newRow("Qt") << "qt";
    }

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
        // The reason is what the line says.
        const QString reason = port.lost.first().first().toString();
        QVERIFY2(reason.contains("hung up"), qPrintable(reason));
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
        Result<> opened = second.open(line.device);
        QVERIFY2(opened.Reason().contains("in use by another program"),
                 qPrintable(opened.Reason()));
        QVERIFY(opened.Reason().contains(line.device));
        // The first keeps working.
        line.send("ok");
        QTRY_COMPARE(first.received, QByteArray("ok"));
        // Nor does the second get it through a link, as /dev/serial/by-id names a port.
        QTemporaryDir links;
        QVERIFY(Symlink(line.device, links.filePath("port")));
        opened = second.open(links.filePath("port"));
        QVERIFY2(opened.Reason().contains("in use by another program"),
                 qPrintable(opened.Reason()));
        // Another program that locks its ports with Qt's lock file, as Qt's serial port does,
        // sees it taken too (the lock of the backend over Qt's serial port is Qt's own, in the
        // system's folder), and gets it once it is free.
        QFETCH_GLOBAL(QString, backend);
        QLockFile other(LockFolder() + '/' + LockFileName(line.device));
        if (backend == "termios")
            QVERIFY(!other.tryLock());
        (void)first.control.setPortOpen(false);
        QVERIFY(other.tryLock());
        // And the other way round, named.
        opened = second.open(line.device);
        QVERIFY(!opened);
        // Named as the system names this process (under valgrind, valgrind's own name).
        QFile comm("/proc/self/comm");
        QVERIFY(comm.open(QIODevice::ReadOnly));
        const QString name = QString::fromLocal8Bit(comm.readAll()).trimmed();
        QVERIFY2(opened.Reason().contains(QString("\"%1\" (process %2)").arg(name).arg(::getpid())),
                 qPrintable(opened.Reason()));
        other.unlock();
        opened = second.open(line.device);
        QVERIFY2(opened, qPrintable(opened.Reason()));
    }

    void aLockCountsWhileItsProcessLives_data()
    {
        QTest::addColumn<QString>("content"); // as LockRig::content names it
        QTest::addColumn<int>("age");         // seconds since it was written
        QTest::addColumn<bool>("readable");
        QTest::addColumn<bool>("throughLink"); // the port opened by a link to it
        QTest::addColumn<bool>("held");
        QTest::newRow("text, padded") << "padded" << 0 << true << false << true;
        QTest::newRow("text") << "text" << 0 << true << false << true;
        QTest::newRow("Qt's lines") << "Qt's lines" << 0 << true << false << true;
        QTest::newRow("another program's name") << "another name" << 0 << true << false << true;
        QTest::newRow("binary") << "binary" << 0 << true << false << true;
        QTest::newRow("a process that ended") << "ended" << 0 << true << false << false;
        QTest::newRow("empty, being written") << "empty" << 0 << true << false << true;
        QTest::newRow("empty, an hour old") << "empty" << 3600 << true << false << false;
        QTest::newRow("unreadable, an hour old") << "empty" << 3600 << false << false << false;
        QTest::newRow("through a link to the device") << "padded" << 0 << true << true << true;
    }

    // A port is held while the process its lock names lives, whatever the program and however
    // it wrote the lock, and by whatever name the port is reached; a lock that names no
    // process only for the moment it takes to write one. The message names the lock and who
    // holds it.
    void aLockCountsWhileItsProcessLives()
    {
        QFETCH(QString, content);
        QFETCH(int, age);
        QFETCH(bool, readable);
        QFETCH(bool, throughLink);
        QFETCH(bool, held);
        QFETCH_GLOBAL(QString, backend);
        if (backend == "qt" && !held)
            QSKIP("Qt's serial port takes its own lock in the system's lock folder, which the "
                  "tests leave alone; only a refusal is seen here");
        Pty line;
        LockRig rig;
        const QString lock = rig.folder.filePath(LockFileName(line.device));
        QVERIFY(rig.put(lock, rig.content(content), age, readable));
        QTemporaryDir links;
        const QString name = throughLink ? links.filePath("by-id") : line.device;
        QVERIFY(!throughLink || Symlink(line.device, name));

        const auto port = Backend(QStringLiteral("/sys"), rig.folder.path());
        const Result<> opening = port->open(name, Instrument);
        const bool opened = opening.Ok();
        const QString text = opening.Reason();
        QVERIFY2(opened != held, qPrintable(text));
        if (opened) {
            // What nobody held any more is the program's own lock now.
            QCOMPARE(LockFilePid(Read(lock)).value_or(0), ::getpid());
            return;
        }
        QVERIFY2(text.startsWith(QString("The serial port %1 is in use by another program. Its "
                                         "lock file %2 ")
                                     .arg(name, lock)),
                 qPrintable(text));
        if (content != "empty")
            QVERIFY2(text.contains(QString("\"sleep\" (process %1)").arg(rig.live)),
                     qPrintable(text));
    }

    // The line is the program's alone while open, and everyone's again once closed. On a
    // pseudo-terminal the mark outlives the close unless it is taken off, and then keeps
    // every user but root out, the program's own next open included.
    void aClosedLineOpensAgainForEveryUser()
    {
        Pty line;
        Port port;
        QVERIFY(port.open(line.device));
        QVERIFY(MarkedExclusive(line.device));
        for (int round = 0; round < 2; ++round) {
            (void)port.control.setPortOpen(false);
            QVERIFY(!MarkedExclusive(line.device));
            const Result<> opened = port.open(line.device);
            QVERIFY2(opened, qPrintable(opened.Reason()));
        }
        line.send("again");
        QTRY_COMPARE(port.received, QByteArray("again"));
    }

    void settingsHoldWhileOpenAndArePutBackAfter_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("frame"); // which parity and stop bits
        QTest::newRow("the instrument's") << "9600,n,8,1" << int(B9600) << 0;
        QTest::newRow("even, 2") << "19200,e,7,2" << int(B19200) << int(CSTOPB);
        QTest::newRow("odd") << "1200,o,5,1" << int(B1200) << int(PARODD);
        QTest::newRow("mark") << "2400,m,8,1" << int(B2400) << int(PARODD | CMSPAR);
        QTest::newRow("space") << "4800,s,6,1" << int(B4800) << int(CMSPAR);
    }

    // A pseudo-terminal keeps the settings it is given, which its other end reads, but for
    // the character size and whether there is parity: it is always 8 bits without.
    void settingsHoldWhileOpenAndArePutBackAfter()
    {
        QFETCH(QString, settings);
        QFETCH(int, speed);
        QFETCH(int, frame);
        Pty line;
        termios before{};
        QCOMPARE(::tcgetattr(line.master, &before), 0);
        Port port;
        const Result<> opened = port.open(line.device, settings);
        QVERIFY2(opened, qPrintable(opened.Reason()));
        termios now{};
        QCOMPARE(::tcgetattr(line.master, &now), 0);
        QCOMPARE(int(::cfgetispeed(&now)), speed);
        QCOMPARE(int(::cfgetospeed(&now)), speed);
        QCOMPARE(int(now.c_cflag & (PARODD | CMSPAR | CSTOPB)), frame);
        // Raw bytes both ways, no flow control, the modem lines' state ignored.
        QCOMPARE(int(now.c_cflag & (CLOCAL | CREAD | CRTSCTS)), int(CLOCAL | CREAD));
        QCOMPARE(int(now.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)), 0);
        QCOMPARE(int(now.c_oflag & OPOST), 0);
        QCOMPARE(int(now.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF)), 0);
        (void)port.control.setPortOpen(false);
        termios after{};
        QCOMPARE(::tcgetattr(line.master, &after), 0);
        QCOMPARE(after.c_cflag, before.c_cflag);
        QCOMPARE(after.c_lflag, before.c_lflag);
    }

    void settingsNoLineTakesAreNamed_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("named");
        QTest::newRow("a baud rate without a speed") << "1234,n,8,1"
                                                     << "1234 baud";
        QTest::newRow("1.5 stop bits") << "9600,n,8,1.5"
                                       << "1.5 stop bits";
    }

    void settingsNoLineTakesAreNamed()
    {
        QFETCH(QString, settings);
        QFETCH(QString, named);
        Pty line;
        Port port;
        const Result<> opened = port.open(line.device, settings);
        QVERIFY(!opened);
        const QString text = opened.Reason();
        QVERIFY2(text.contains(named) && text.contains(line.device), qPrintable(text));
        QVERIFY(!port.control.PortOpen());
    }

    // Only the line says it is gone. Qt's own port takes such a wakeup for an error, and
    // even stops reading when errno happens to hold EAGAIN.
    void aWakeupWithNothingToReadChangesNothing()
    {
        Pty line;
        Port port;
        QVERIFY(port.open(line.device));
        QVERIFY(port.wakeWithNothingToRead() > 0);
        ProcessQueued();
        QVERIFY(port.control.PortOpen());
        QCOMPARE(port.lost.count(), 0);
        line.send("still here");
        QTRY_COMPARE(port.received, QByteArray("still here"));
        QVERIFY(port.control.Output("ok"));
        QCOMPARE(line.read(2), QByteArray("ok"));
    }

    // A command into a line already gone fails at once, with the line's reason, before
    // the program has noticed the loss.
    void aWriteToALineGoneFailsWithItsReason()
    {
        Pty line;
        Port port;
        QVERIFY(port.open(line.device));
        line.hangUp();
        const Result<> sent = port.control.Output("\x02RDD ALL\x03\r");
        QVERIFY(!sent);
        const QString reason = sent.Reason();
        QVERIFY2(reason.contains("hung up"), qPrintable(reason));
        QTRY_COMPARE(port.lost.count(), 1);
        QCOMPARE(port.lost.first().first().toString(), reason);
    }

    // A device far faster than the instrument (a USB device that ignores the baud rate) is
    // taken a few kilobytes at a time, in order, so that the windows answer in between.
    void aFloodIsTakenAFewKilobytesAtATime()
    {
        Pty line;
        Port port;
        QVERIFY(port.open(line.device));
        qsizetype largest = 0;
        int counted = 0;
        QObject::connect(&port.control.backend(), &CommBackend::readyRead, [&] {
            largest = std::max(largest, qsizetype(port.events - counted));
            counted = port.events;
        });
        QByteArray flood(256 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < flood.size(); ++i)
            flood[i] = char(i % 251);
        std::thread instrument([&] {
            for (qsizetype at = 0; at < flood.size();) {
                const ssize_t n =
                    ::write(line.master, flood.constData() + at,
                            std::size_t(std::min<qsizetype>(flood.size() - at, 65536)));
                if (n > 0)
                    at += n;
            }
        });
        QTRY_COMPARE_WITH_TIMEOUT(port.received.size(), flood.size(), 20000);
        instrument.join();
        QCOMPARE(port.received, flood);
        QVERIFY2(largest <= MostReadAtOnce, qPrintable(QString::number(largest)));
    }

    // A command has been sent when it has left the port. A line whose output is stopped (by
    // flow control, by another program) holds it; dropped, it never goes out.
    void sentIsToldWhenTheBytesHaveLeft()
    {
        Pty line;
        // Held by the test before the port is opened: the line is the port's alone then.
        const int other =
            ::open(QFile::encodeName(line.device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(other >= 0);
        Port port;
        QVERIFY(port.open(line.device));
        QSignalSpy sent(&port.control, &QmtTxRx::Sent);
        QVERIFY(port.control.Output("first"));
        QTRY_COMPARE(sent.count(), 1);
        QCOMPARE(port.control.OutBufferCount(), 0);
        QCOMPARE(line.read(5), QByteArray("first"));

        QCOMPARE(::tcflow(other, TCOOFF), 0);
        QVERIFY(port.control.Output("held"));
        ProcessQueued();
        QVERIFY(port.control.OutBufferCount() > 0);
        QCOMPARE(sent.count(), 1);
        port.control.setOutBufferCount(0);
        QCOMPARE(port.control.OutBufferCount(), 0);
        QCOMPARE(::tcflow(other, TCOON), 0);
        QVERIFY(port.control.Output("ok"));
        QTRY_COMPARE(sent.count(), 2);
        // What was dropped would have come first.
        QCOMPARE(line.read(2), QByteArray("ok"));
        ::close(other);
    }

    void aMissingDeviceIsToldAsMissing()
    {
        Port port;
        const Result<> opened = port.open("/dev/pts/999999");
        QVERIFY2(opened.Reason().contains("does not exist"), qPrintable(opened.Reason()));
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
        const Result<> opened = port.open(line.device);
        QVERIFY(!opened);
        const QString text = opened.Reason();
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
                const auto backend = Backend(sysfs);
                const Result<> opened = backend->open(path, Instrument);
                QVERIFY2(opened, qPrintable(opened.Reason()));
            }
            return;
        }

        OpenWatch watch;
        const bool watching = watch.watch(path);
        QCOMPARE(watching, kind != int(DeviceKind::Missing));
        const PortChoice choice = InterpretPortText(path, sysfs);
        const auto backend = Backend(sysfs);
        const Result<> opened = backend->open(path, Instrument);
        QCOMPARE(watch.opens(), 0);
        QVERIFY(!opened);
        QCOMPARE(choice.kind, PortChoice::Invalid);
        // Refused with the same words by the port box, qm6200-acquire's -p and the open.
        QCOMPARE(opened.Reason(), choice.problem);
        QVERIFY2(opened.Reason().startsWith(kind == int(DeviceKind::Missing)
                                                ? path + " does not exist"
                                                : QString("\"%1\" is not a serial port").arg(path)),
                 qPrintable(opened.Reason()));
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
            const auto backend = Backend(emptyTree.path());
            const Result<> opened = backend->open(name, Instrument);
            QVERIFY(
                opened.Reason().contains(QString("%1 (%2) does not exist").arg(name, location)));
        }
    }
};

QM6200_TEST_MAIN(TestSerialPort)
#include "tst_serialport.moc"
