#include "ports/SimulatorPorts.h"
#include "records/FieldNumber.h"
#include "records/RecordLayout.h"
#include "tests/support/TestMain.h"
#include "tools/sim/Instrument.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using qmsim::CommandReader;
using qmsim::Instrument;

namespace {

const std::string ReadAll("\x02RDD ALL\x03\r");
const std::string ReadNow("\x02RDD NOW\x03\r");
const std::string ClearAll("\x02"
                           "CLR ALL\x03\r");

// Splits an answer into its frames, each ending with CR.
std::vector<std::string> Frames(const std::string& answer)
{
    std::vector<std::string> frames;
    std::size_t start = 0;
    for (std::size_t end; (end = answer.find('\r', start)) != std::string::npos; start = end + 1)
        frames.push_back(answer.substr(start, end - start + 1));
    return frames;
}

// A record as the data link's table reads it from a frame: number, counters, total.
std::vector<double> AsTheTableReadsIt(const std::string& frame)
{
    std::vector<double> values;
    for (int column = 0; column < qm::RecordColumns; ++column)
        values.push_back(qm::ReadField(qm::RecordField(frame, column)).value);
    return values;
}

std::vector<double> Expected(const Instrument::Record& record)
{
    std::vector<double> values{double(record.number)};
    for (const int c : record.counters)
        values.push_back(c);
    values.push_back(record.total());
    return values;
}

} // namespace

class TestInstrument : public QObject {
    Q_OBJECT

private slots:
    void recordsReadBackThroughTheTablesLayout()
    {
        Instrument instrument(12, 7);
        const auto frames = Frames(instrument.Respond(ReadAll));
        QCOMPARE(frames.size(), std::size_t(12));
        for (std::size_t i = 0; i < frames.size(); ++i) {
            QCOMPARE(frames[i].size(), std::size_t(42));
            QCOMPARE(frames[i].substr(0, 2), std::string("\x02R"));
            QCOMPARE(AsTheTableReadsIt(frames[i]), Expected(instrument.records()[i]));
        }
        // The same seed gives the same records; another seed, others.
        QCOMPARE(Instrument(12, 7).Respond(ReadAll), Instrument(12, 7).Respond(ReadAll));
        QVERIFY(Instrument(12, 8).Respond(ReadAll) != Instrument(12, 7).Respond(ReadAll));
    }

    void presentValuesMoveOnAfterEachReading()
    {
        Instrument instrument(0, 1);
        QCOMPARE(instrument.Respond(ReadAll), std::string());
        const Instrument::Record before = instrument.present();
        const std::string frame = instrument.Respond(ReadNow);
        QCOMPARE(frame.substr(0, 4), std::string("\x02N00"));
        QCOMPARE(AsTheTableReadsIt(frame), Expected(before));
        // Moves on (by 0 to 9 per counter), so a second reading can differ.
        for (std::size_t i = 0; i < 5; ++i) {
            const int step =
                (instrument.present().counters[i] - before.counters[i] + 100000) % 100000;
            QVERIFY(step >= 0 && step <= 9);
        }
    }

    void clearAndUnknownCommands()
    {
        Instrument instrument(5, 1);
        QCOMPARE(instrument.Respond(ClearAll), std::string("\x06\r"));
        QCOMPARE(instrument.Respond(ReadAll), std::string());
        QCOMPARE(instrument.Respond("\x02RDD all\x03\r"), std::string("\x02\x15\r"));
        QCOMPARE(instrument.Respond("\x02RDD ALL\r"), std::string("\x02\x15\r"));

        Instrument refusing(5, 1);
        refusing.setRefuseAll(true);
        QCOMPARE(refusing.Respond(ReadAll), std::string("\x02\x15\r"));
        QCOMPARE(refusing.Respond(ClearAll), std::string("\x02\x15\r"));
        QCOMPARE(refusing.records().size(), std::size_t(5));

        // Only the clear refused; too many frames; a record stored after each reading.
        Instrument faulty(2, 1);
        faulty.setRefuseClear(true);
        faulty.setRepeat(3);
        faulty.setStoreAfterRead(true);
        const auto frames = Frames(faulty.Respond(ReadAll));
        QCOMPARE(frames.size(), std::size_t(6));
        QCOMPARE(frames[4], frames[0]);
        QCOMPARE(faulty.records().size(), std::size_t(3));
        QCOMPARE(faulty.records()[2].number, 3);
        QCOMPARE(faulty.Respond(ClearAll), std::string("\x02\x15\r"));
        QCOMPARE(Frames(faulty.Respond(ReadAll)).size(), std::size_t(9));
    }

    void commandsAreFramedAcrossChunksAndJunkIsSkipped()
    {
        CommandReader reader;
        QVERIFY(reader.Feed("junk\r\x02RDD").empty());
        QCOMPARE(reader.Feed(" ALL\x03\r\x02RDD NOW\x03\rxx"),
                 (std::vector<std::string>{ReadAll, ReadNow}));
        // An STX restarts the frame; a frame that never ends is given up.
        QCOMPARE(reader.Feed("\x02XX\x02"
                             "CLR ALL\x03\r"),
                 std::vector<std::string>{ClearAll});
        QVERIFY(reader.Feed("\x02" + std::string(100, 'A') + "\r").empty());
    }

    // While it runs, the simulator is in the port list's list of simulators; however it ends
    // it cleans up as on a stop signal (its announcement and its link go), also with whatever
    // started it (a test that failed, a script killed). Killed outright, it leaves its
    // announcement, which is no longer taken for a simulator. It announces itself only in a
    // folder of the user's own that nobody else may write.
    void theSimulatorIsListedWhileItRuns_data()
    {
        QTest::addColumn<QString>("end");    // "TERM", "KILL", or "starter": its starter dies
        QTest::addColumn<QString>("folder"); // "new", "open": made before open to all,
                                             // "other's": another user's, "none": no runtime
        QTest::newRow("a stop signal") << "TERM"
                                       << "new";
        QTest::newRow("its starter ends") << "starter"
                                          << "new";
        QTest::newRow("killed outright") << "KILL"
                                         << "new";
        QTest::newRow("a folder made open to all is closed") << "TERM"
                                                             << "open";
        QTest::newRow("another user's folder: nothing announced, and said") << "TERM"
                                                                            << "other's";
        QTest::newRow("no runtime folder: nothing announced, nothing said") << "TERM"
                                                                            << "none";
    }

    void theSimulatorIsListedWhileItRuns()
    {
        QFETCH(QString, end);
        QFETCH(QString, folder);
        if (folder == "other's" && ::geteuid() != 0)
            QSKIP("making another user's folder needs root");
        const bool runtimeFolder = folder == "new" || folder == "open";
        const QString announcements = qm::SimulatorFolder();
        QVERIFY(QDir(announcements).removeRecursively());
        if (folder == "open" || folder == "other's") {
            QVERIFY(QDir().mkdir(announcements));
            QCOMPARE(::chmod(QFile::encodeName(announcements), 01777), 0);
        }
        if (folder == "other's")
            QCOMPARE(::chown(QFile::encodeName(announcements), 65534, 65534), 0);
        auto removeFolder = qScopeGuard([&] { QDir(announcements).removeRecursively(); });
        const auto files = [&] {
            return QDir(announcements).entryList(QDir::Files | QDir::Hidden);
        };
        QTemporaryDir dir;
        const QString link = dir.filePath("instrument");
        QProcess starter;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (folder == "none")
            environment.remove("XDG_RUNTIME_DIR");
        starter.setProcessEnvironment(environment);
        starter.start("/bin/sh",
                      {"-c", "\"$0\" --link \"$1\" & echo \"pid $!\"; wait", QM6200_SIM, link});
        QString out = "\n"; // each line after a line break
        const auto said = [&](const QString& word) {
            out += QString::fromLocal8Bit(starter.readAllStandardOutput());
            return out.section("\n" + word + " ", 1).section('\n', 0, 0);
        };
        QTRY_VERIFY(!said("device").isEmpty() && !said("pid").isEmpty());
        const QString device = said("device");
        const pid_t pid = said("pid").toInt();

        // Once the device is told, it is listed; nothing else is left in the folder.
        QCOMPARE(qm::RunningSimulators(), runtimeFolder ? QStringList(device) : QStringList());
        QCOMPARE(files().size(), runtimeFolder ? 1 : 0);
        QVERIFY(QFileInfo(link).isSymLink());
        struct stat place {};
        if (runtimeFolder)
            QVERIFY(::stat(QFile::encodeName(announcements), &place) == 0
                    && (place.st_mode & 07777) == 0700);

        if (end == "starter")
            starter.kill();
        else
            QCOMPARE(::kill(pid, end == "KILL" ? SIGKILL : SIGTERM), 0);
        QVERIFY(starter.waitForFinished());
        if (end != "KILL")
            QTRY_VERIFY(!QFileInfo(link).isSymLink());
        QCOMPARE(qm::RunningSimulators(), QStringList());
        QCOMPARE(files().size(), end == "KILL" && runtimeFolder ? 1 : 0);
        const QByteArray told = starter.readAllStandardError();
        if (folder == "other's")
            QVERIFY2(told.contains("is not a folder of this user's own"), told.constData());
        else
            QCOMPARE(told, QByteArray());
    }
};

QM6200_TEST_MAIN(TestInstrument)
#include "tst_instrument.moc"
