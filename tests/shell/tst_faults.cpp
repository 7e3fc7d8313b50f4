// The faults of a factory floor, against the real program and the instrument simulator:
// what the operator sees, and that nothing already received is lost.

#include "tests/support/Files.h"
#include "tests/support/Session.h"
#include "tests/support/TestMain.h"

#include <QFile>
#include <QSerialPort>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

// A small file system of its own, to be filled up.
class SmallDisk {
public:
    SmallDisk()
    {
        const QByteArray path = QFile::encodeName(m_dir.path());
        if (::mount("tmpfs", path.constData(), "tmpfs", 0, "size=16k") == 0)
            m_mounted = true;
        else
            m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString error() const { return m_error; }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_error;
};

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

private slots:
    // The instrument hangs up in the middle of a reply, again and again, at different
    // places: each time one message, the port closed, every complete record kept; the
    // operator picks the port again and goes on.
    void hangUpsAgainAndAgain()
    {
        std::unique_ptr<Program> program;
        for (const int cut : {0, 41, 42, 100, 211, 463}) {
            Simulator sim({"--no-pace", "--records", "12", "--hangup-after", QString::number(cut)});
            if (!program)
                program = std::make_unique<Program>(sim.device);
            else
                QVERIFY(program->choosePort(sim.device));
            const qsizetype told = program->messages.size();
            program->form.AcquireRecords();
            QTRY_COMPARE_WITH_TIMEOUT(program->messages.size(), told + 1, Patience);
            QVERIFY(program->messages.last().contains("was lost"));
            QVERIFY(!program->ui.serialControl->PortOpen());
            QCOMPARE(int(program->store().RxCount), cut / 42);
            for (int r = 1; r <= cut / 42; ++r)
                QCOMPARE(program->row(r), sim.records[r - 1]);
            QCOMPARE(program->ui.receiveBox->Text().size(), cut);
        }
        ProcessQueued();
        QCOMPARE(program->messages.size(), 6);
    }

    // Another program holds the port: the operator is told so; once it lets go, the same
    // choice works.
    void aPortHeldByAnotherProgram()
    {
        Simulator sim({"--no-pace"});
        QSerialPort other(sim.device);
        QVERIFY(other.open(QIODevice::ReadWrite));
        Program program(sim.device);
        QCOMPARE(program.messages.size(), 1);
        QVERIFY(program.messages.first().contains("in use by another program"));
        QVERIFY(!program.ui.serialControl->PortOpen());

        other.close();
        QVERIFY(program.choosePort(sim.device));
        program.form.AcquirePresentValue();
        QTRY_COMPARE_WITH_TIMEOUT(program.store().RxCount, 1, Patience);
    }

    void aDeviceWithoutPermission()
    {
        if (::geteuid() == 0)
            QSKIP("root may open any device; the unit tests of the serial port check this "
                  "case when run as an ordinary user");
        Simulator sim({"--no-pace"});
        QCOMPARE(::chmod(QFile::encodeName(sim.device).constData(), 0), 0);
        Program program(sim.device);
        QCOMPARE(program.messages.size(), 1);
        QVERIFY(program.messages.first().contains("not allowed"));
        QVERIFY(!program.ui.serialControl->PortOpen());
    }

    // The operator opens the port dialog while records are arriving: the port closes, what
    // arrived stays, and after the dialog a new acquisition brings everything.
    void portDialogInTheMiddleOfAReply()
    {
        Simulator sim({"--records", "40"}); // paced: about 1.7 s
        Program program(sim.device);
        program.form.AcquireRecords();
        QTRY_VERIFY_WITH_TIMEOUT(program.store().RxCount >= 5, Patience);
        int before = 0;
        QList<QStringList> rowsBefore;
        OnNextModal([&](QWidget* modal) {
            before = program.store().RxCount;
            for (int r = 1; r <= before; ++r)
                rowsBefore << program.row(r);
            QVERIFY(!program.ui.serialControl->PortOpen());
            // The instrument goes on talking to a closed port, to the end of its answer.
            QTRY_COMPARE_WITH_TIMEOUT(sim.replies, 1, Patience);
            QCOMPARE(int(program.store().RxCount), before);
            Find<QPushButton>(*modal, "Command1")->click();
        });
        program.form.ChoosePort();
        QVERIFY(program.ui.serialControl->PortOpen());
        for (int r = 1; r <= before; ++r)
            QCOMPARE(program.row(r), rowsBefore[r - 1]);

        // What the instrument sent while the port was closed was dropped when it opened.
        program.form.AcquireRecords();
        QTRY_COMPARE_WITH_TIMEOUT(program.store().RxCount, 40, Patience);
        for (int r = 1; r <= 40; ++r)
            QCOMPARE(program.row(r), sim.records[r - 1]);
        QCOMPARE(program.messages, QStringList());
    }

    // Saving fails three ways: the operator is told the path and the reason, the file that
    // was there is kept, and the table is still there to save elsewhere.
    void savingWhereItCannotBeWritten()
    {
        Simulator sim({"--no-pace", "--records", "99"});
        Program program(sim.device);
        program.form.AcquireRecords();
        QTRY_COMPARE_WITH_TIMEOUT(program.store().RxCount, 99, Patience);

        QTemporaryDir dir;
        const QString readOnly = dir.filePath("kept.csv");
        QVERIFY(Write(readOnly, "earlier export"));
        QVERIFY(QFile::setPermissions(readOnly, QFile::ReadOwner));
        const QStringList paths{dir.filePath("missing folder/records.csv"), readOnly};
        for (const QString& path : paths) {
            program.saveDialog->answer = path;
            program.form.SaveTable();
            QVERIFY(program.messages.last().contains(path));
        }
        QVERIFY(!QFile::exists(paths[0]));
        QCOMPARE(Read(readOnly), QByteArray("earlier export"));

        SmallDisk disk;
        if (disk.mounted()) {
            const QString full = disk.filePath("records.csv");
            QVERIFY(Write(full, "earlier export"));
            QVERIFY(Write(disk.filePath("filler"), QByteArray(12 * 1024, 'x')));
            program.saveDialog->answer = full;
            program.form.SaveTable();
            QVERIFY2(program.messages.last().contains("No space left"),
                     qPrintable(program.messages.last()));
            QCOMPARE(Read(full), QByteArray("earlier export"));
        }
        QCOMPARE(program.messages.size(), disk.mounted() ? 3 : 2);
        QCOMPARE(program.row(99), sim.records[98]);

        // Saved elsewhere, everything is there.
        program.saveDialog->answer = dir.filePath("records.csv");
        program.form.SaveTable();
        QCOMPARE(Read(dir.filePath("records.csv")).count('\n'), 99);
        if (!disk.mounted())
            QSKIP(qPrintable("a full disk was not tried: cannot mount a small tmpfs here ("
                             + disk.error() + ")"));
    }
};

QM6200_TEST_MAIN(TestFaults)
#include "tst_faults.moc"
