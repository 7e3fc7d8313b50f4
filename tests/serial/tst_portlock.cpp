#include "serial/PortLock.h"
#include "tests/support/Files.h"
#include "tests/support/Locks.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QTest>

#include <cstdint>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

const QString Device = QStringLiteral("/dev/ttyUSB97"); // no device is opened

} // namespace

class TestPortLock : public QObject {
    Q_OBJECT

private slots:
    void theProcessIsReadAsEachProgramWritesIt_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("pid"); // 0: it names none
        const std::int32_t binary = 4242;
        QTest::newRow("text, padded") << QByteArray("      4242\n") << 4242;
        QTest::newRow("text") << QByteArray("4242\n") << 4242;
        QTest::newRow("text of four bytes, no line end") << QByteArray("4242") << 4242;
        QTest::newRow("Qt's lines") << QByteArray("4242\nprogram\nhost\n") << 4242;
        QTest::newRow("binary") << QByteArray(reinterpret_cast<const char*>(&binary), 4) << 4242;
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("no number") << QByteArray("program\n") << 0;
        QTest::newRow("a number run into text") << QByteArray("42x\n") << 0;
        // A signal to 0 or a negative number goes to a whole group of processes.
        QTest::newRow("zero") << QByteArray("0\n") << 0;
        QTest::newRow("negative") << QByteArray("-4242\n") << 0;
        QTest::newRow("beyond any process") << QByteArray("99999999999\n") << 0;
        QTest::newRow("binary negative") << QByteArray(4, '\xff') << 0;
    }

    void theProcessIsReadAsEachProgramWritesIt()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, pid);
        QCOMPARE(LockFilePid(content).value_or(0), pid);
    }

    // Written whole, for everyone to read, with no file of its making left beside it.
    void theProgramsOwnLockIsWholeUntilReleased()
    {
        QTemporaryDir folder;
        PortLock lock(Device, {folder.path()});
        QCOMPARE(lock.path(), folder.filePath("LCK..ttyUSB97"));
        QVERIFY(lock.take());
        QVERIFY(lock.isTaken());
        QCOMPARE(
            QDir(folder.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{"LCK..ttyUSB97"});
        QVERIFY(QFile::permissions(lock.path()) & QFile::ReadOther);
        QCOMPARE(LockFilePid(Read(lock.path())).value_or(0), ::getpid());

        // Released, it is gone; but not a lock another program put in its place.
        lock.release();
        QVERIFY(!QFile::exists(lock.path()));
        QVERIFY(lock.take());
        QVERIFY(QFile::remove(lock.path()));
        QVERIFY(LockRig::put(lock.path(), "4242\n"));
        lock.release();
        QCOMPARE(Read(lock.path()), "4242\n");
    }

    // For a port whose library writes its own lock: a lock nobody holds is removed and none
    // written; a held one is told.
    void clearingTheWayWritesNoLock()
    {
        LockRig rig;
        PortLock lock(Device, {rig.folder.path()});
        QVERIFY(LockRig::put(lock.path(), rig.content("ended")));
        QVERIFY(lock.clearWay());
        QVERIFY(!QFile::exists(lock.path()));
        QVERIFY(LockRig::put(lock.path(), rig.content("padded")));
        const PortLock::Outcome held = lock.clearWay();
        QVERIFY(!held);
        QCOMPARE(held.Error().holderPid, rig.live);
        QVERIFY(!lock.isTaken());
    }

    void aLeftOverLockThatCannotBeRemovedIsNamed()
    {
        if (::geteuid() == 0)
            QSKIP("root may remove any file; run as an ordinary user to test this");
        LockRig rig;
        PortLock lock(Device, {rig.folder.path()});
        QVERIFY(LockRig::put(lock.path(), rig.content("ended")));
        const auto all = QFile::permissions(rig.folder.path());
        QVERIFY(QFile::setPermissions(rig.folder.path(), QFile::ReadOwner | QFile::ExeOwner));
        const PortLock::Outcome taken = lock.take();
        QFile::setPermissions(rig.folder.path(), all);
        QVERIFY(!taken);
        const OpenFailure& failure = taken.Error();
        QVERIFY2(failure.detail.contains(lock.path()) && failure.detail.contains("administrator"),
                 qPrintable(failure.detail));
    }
};

QM6200_TEST_MAIN(TestPortLock)
#include "tst_portlock.moc"
