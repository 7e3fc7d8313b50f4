// The port remembered between runs: what is kept of a port that opened, and where it is found
// again, by who it is rather than by its name, and never when it could be another instrument or
// another program's terminal.

#include "ports/PortMemory.h"
#include "ports/PortNames.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/Files.h"
#include "tests/support/Pty.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QTemporaryDir>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

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

// The port remembered in `path`, or nothing, whether because none is or the file is refused.
std::optional<RememberedPort> Remembered(const QString& path)
{
    return ReadRememberedPort(path).ValueOr(std::nullopt);
}

// Until the system's clock for file times has gone past when `path` last changed, so that what
// changes next is newer (the clock moves in ticks of a few milliseconds).
void WaitPast(const QString& path)
{
    struct stat info {};
    QVERIFY(::lstat(QFile::encodeName(path).constData(), &info) == 0);
    timespec now{};
    do
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    while (now.tv_sec < info.st_ctim.tv_sec
           || (now.tv_sec == info.st_ctim.tv_sec && now.tv_nsec <= info.st_ctim.tv_nsec));
}

} // namespace

class TestPortMemory : public QObject {
    Q_OBJECT

private slots:
    void theRememberedPortIsFoundAgain_data()
    {
        // An entry, "pty", "link", "stale link", "gone", "simulator", or an adapter's serial
        // number ("none": it has none).
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QStringList>("present"); // adapters or simulators now: name:serial
        QTest::addColumn<QString>("found");       // a device's name, an entry, "pty", or none
        QTest::newRow("an entry") << "COM3" << QStringList{} << "COM3";
        QTest::newRow("a pseudo-terminal, by its number") << "pty" << QStringList{} << "";
        QTest::newRow("a link to a pseudo-terminal") << "link" << QStringList{} << "link";
        QTest::newRow("a link older than the terminal it leads to")
            << "stale link" << QStringList{} << "";
        QTest::newRow("the simulator") << "simulator" << QStringList{"pty"} << "pty";
        QTest::newRow("the simulator, none running") << "simulator" << QStringList{} << "";
        QTest::newRow("the simulator, two running")
            << "simulator" << QStringList{"pty", "/dev/pts/999998"} << "";
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
        Pty pty;
        QStringList simulators;
        int usb = 2;
        for (const QString& adapter : present) {
            if (remembered == "simulator") {
                simulators << (adapter == "pty" ? pty.device : adapter);
                continue;
            }
            const QString name = adapter.section(':', 0, 0);
            const QString serial = adapter.section(':', 1) == "none" ? "" : adapter.section(':', 1);
            system.plugIn(
                Adapter(name, QString("188:%1").arg(usb), serial, QString("1-%1").arg(usb)));
            ++usb;
        }
        RememberedPort port;
        const QString link = system.dir.filePath("link");
        if (remembered == "pty") {
            port = RememberPort(pty.device, pty.device, {});
        } else if (remembered.endsWith("link")) {
            QVERIFY(QFile::link(pty.device, link));
            port = RememberPort(link, link, {});
            // The terminal changed after the link was made, as one opened after it would be.
            if (remembered == "stale link") {
                WaitPast(link);
                QVERIFY(QFile::setPermissions(pty.device, QFile::ReadOwner | QFile::WriteOwner));
            }
        } else if (remembered == "simulator") {
            port = RememberPort(pty.device, pty.device, {}, {pty.device});
        } else if (remembered == "gone") {
            port.choice = "/dev/pts/999999";
        } else if (remembered.startsWith("COM")) {
            port.choice = remembered;
        } else {
            // Kept when it opened as ttyUSB0, whatever it is called now.
            port = {system.device("ttyUSB0"), "0403", "6001",
                    remembered == "none" ? "" : remembered, ""};
        }
        const auto located = LocateRememberedPort(port, FindSerialPorts(system.roots), simulators,
                                                  system.roots.sysfs);
        // Two alike are told as such, not as a port that is not here.
        if (QByteArray(QTest::currentDataTag()) == "two adapters alike")
            QCOMPARE(AdaptersAlike(port, FindSerialPorts(system.roots)), 2);
        const QString expected = found == "pty"            ? pty.device
                                 : found == "link"         ? link
                                 : found.startsWith("tty") ? system.device(found)
                                                           : found;
        QCOMPARE(located.value_or(QString()), expected);
    }

    // A terminal that closed is gone for good: the system gives its number to the next terminal
    // opened, by anyone. Remembered by its number, or through a link made before that terminal,
    // it is never found again; a link made again after it is followed.
    void aClosedTerminalsNumberLeadsNowhere()
    {
        QTemporaryDir dir;
        auto lost = std::make_unique<Pty>();
        const QString number = lost->device;
        const QString link = dir.filePath("ttyV0");
        QVERIFY(QFile::link(number, link));
        const RememberedPort byNumber = RememberPort(number, number, {});
        QCOMPARE(byNumber.kind, RememberedPort::Kind::PseudoTerminal);
        const QString config = dir.filePath("qm6200.conf");
        QVERIFY(WriteRememberedPort(byNumber, config));
        const RememberedPort byLink = RememberPort(link, link, {});
        QCOMPARE(byLink.kind, RememberedPort::Kind::Line);
        QCOMPARE(LocateRememberedPort(byLink, {}, {}), link);

        WaitPast(link);
        lost.reset();
        std::vector<std::unique_ptr<Pty>> opened;
        while (opened.size() < 16 && (opened.empty() || opened.back()->device != number))
            opened.push_back(std::make_unique<Pty>());
        if (opened.back()->device != number)
            QSKIP("another program took the terminal's number first");

        QVERIFY(!LocateRememberedPort(byNumber, {}, {}));
        const auto kept = Remembered(config);
        QVERIFY(kept && !kept->CanReturn() && !LocateRememberedPort(*kept, {}, {}));
        // A configuration kept before the kind was, naming the terminal by its number.
        QVERIFY(Write(config, "[port]\nchoice=" + QFile::encodeName(number) + "\n"));
        QVERIFY(!LocateRememberedPort(Remembered(config).value(), {}, {}));
        QCOMPARE(ClassifyDevice(link), DeviceKind::StaleLink);
        QVERIFY(!LocateRememberedPort(byLink, {}, {}));
        const PortChoice typed = InterpretPortText(link);
        QCOMPARE(typed.kind, PortChoice::Invalid);
        QVERIFY2(typed.problem.contains("link left behind"), qPrintable(typed.problem));

        // The program that made the link starts again and makes it anew, here to the terminal
        // that took the number.
        QVERIFY(QFile::remove(link) && QFile::link(number, link));
        QCOMPARE(LocateRememberedPort(byLink, {}, {}), link);
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
        QVERIFY(ReadRememberedPort(path) && !Remembered(path)); // none, and nothing wrong
        QVERIFY(WriteRememberedPort(adapter, path));
        QCOMPARE(Remembered(path), adapter);
        QVERIFY(WriteRememberedPort(entry, path));
        QCOMPARE(Remembered(path), entry);

        QVERIFY(Write(dir.filePath("file"), "a file where the folder would be"));
        const Result<> written = WriteRememberedPort(entry, dir.filePath("file/qm6200.conf"));
        QVERIFY2(written.Reason().contains("file is not a folder"), qPrintable(written.Reason()));
        QVERIFY(Write(path, QByteArray("\x00\xff[port\nchoice\x01=\xfe\n", 18)));
        QVERIFY(!Remembered(path));
    }

    // The configuration is the user's alone, and written only as a file of theirs: what stands
    // at its name (a link, a pipe, another user's file or folder) is never written through,
    // read from or waited on. The rest of the file is kept.
    void theConfigurationIsTheUsersAlone_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("written"); // else refused, with the problem
        QTest::addColumn<QString>("problem");
        QTest::newRow("an older file open to all") << "open" << true << "";
        QTest::newRow("a link to another file") << "link" << true << "is a link";
        QTest::newRow("a FIFO") << "fifo" << false << "not a file";
        QTest::newRow("a folder") << "folder" << false << "not a file";
        QTest::newRow("another user's file") << "other's file" << true << "belongs to another user";
        QTest::newRow("another user's folder")
            << "other's folder" << false << "belongs to another user";
    }
    void theConfigurationIsTheUsersAlone()
    {
        QFETCH(QString, planted);
        QFETCH(bool, written);
        QFETCH(QString, problem);
        if (planted.startsWith("other's") && ::geteuid() != 0)
            QSKIP("making another user's file needs root");
        QTemporaryDir dir;
        const QString folder = dir.filePath("qm6200");
        const QString path = folder + "/qm6200.conf";
        const QString elsewhere = dir.filePath("elsewhere");
        const QByteArray keptText("[lab]\nnote=kept\n");
        QVERIFY(Write(elsewhere, "another file's text"));
        QVERIFY(QDir().mkdir(folder));
        const QByteArray name = QFile::encodeName(path);
        if (planted == "open") {
            QVERIFY(::chmod(QFile::encodeName(folder), 0755) == 0 && Write(path, keptText)
                    && ::chmod(name, 0644) == 0);
        } else if (planted == "link") {
            QVERIFY(QFile::link(elsewhere, path));
        } else if (planted == "fifo") {
            QCOMPARE(::mkfifo(name, 0600), 0);
        } else if (planted == "folder") {
            QVERIFY(QDir().mkdir(path));
        } else if (planted == "other's file") {
            QVERIFY(Write(path, keptText) && ::chown(name, 65534, 65534) == 0);
        } else if (planted == "other's folder") {
            QCOMPARE(::chown(QFile::encodeName(folder), 65534, 65534), 0);
        }

        const auto read = ReadRememberedPort(path);
        QVERIFY(!read.ValueOr(std::nullopt));
        QVERIFY2(read.Reason().contains(problem), qPrintable(read.Reason()));
        const RememberedPort port{"COM2", {}, {}, {}, {}};
        const Result<> writing = WriteRememberedPort(port, path);
        QCOMPARE(writing.Ok(), written);
        QCOMPARE(Read(elsewhere), QByteArray("another file's text"));
        if (!written) {
            QVERIFY2(writing.Reason().contains(problem), qPrintable(writing.Reason()));
            return;
        }
        QCOMPARE(Remembered(path), port);
        struct stat node {};
        QVERIFY(::lstat(name, &node) == 0 && S_ISREG(node.st_mode));
        QCOMPARE(node.st_mode & 0777, mode_t(0600));
        QCOMPARE(node.st_uid, ::geteuid());
        QVERIFY(::stat(QFile::encodeName(folder), &node) == 0);
        QCOMPARE(node.st_mode & 0777, mode_t(0700));
        if (planted == "open")
            QVERIFY(Read(path).contains("note=kept"));
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{"qm6200.conf"});
    }
};

QM6200_TEST_MAIN(TestPortMemory)
#include "tst_portmemory.moc"
