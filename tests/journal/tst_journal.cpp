#include "journal/JournalDatabase.h"
#include "journal/JournalReader.h"
#include "journal/JournalWriter.h"
#include "records/CsvExport.h"
#include "tests/journal/Samples.h"
#include "tests/support/Files.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <csignal>
#include <map>
#include <sched.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

constexpr int Patience = 30000; // ms

QString WriterProgram()
{
    return qEnvironmentVariable("QM6200_JOURNAL_WRITER", QStringLiteral(QM6200_JOURNAL_WRITER));
}

// The bytes a CSV file of these records holds.
std::string Csv(const std::vector<JournalCells>& records)
{
    std::string csv;
    for (const JournalCells& cells : records)
        csv += CsvLine(std::vector<std::string>(cells.begin(), cells.end()));
    return csv;
}

// Acquisition `number` of the journal is the sample, byte for byte.
void CompareJournaled(const JournalReader& reader, qint64 number, const SampleAcquisition& sample)
{
    const std::optional<JournalEntry> entry = reader.Entry(number);
    QVERIFY(entry);
    QCOMPARE(entry->number, number);
    QCOMPARE(entry->sent, sample.command.sent);
    QCOMPARE(entry->sent.timeSpec(), Qt::UTC);
    QCOMPARE(entry->port, sample.command.port);
    QCOMPARE(entry->stableName, sample.command.stableName);
    QCOMPARE(entry->program, sample.command.program);
    QCOMPARE(entry->version, sample.command.version);
    QCOMPARE(entry->frame, sample.command.frame);
    QCOMPARE(entry->records, int(sample.cells.size()));
    QCOMPARE(entry->outcome, sample.outcome);
    QCOMPARE(reader.Reply(number), sample.Reply());
    QCOMPARE(Csv(reader.Records(number)), Csv(sample.cells));
}

void CompareWatch(const JournalWatch& got, const JournalWatch& want)
{
    QCOMPARE(got.started, want.started);
    QCOMPARE(got.program, want.program);
    QCOMPARE(got.version, want.version);
    QCOMPARE(got.frame, want.frame);
    QCOMPARE(got.every, want.every);
    QCOMPARE(got.ports, want.ports);
    QCOMPARE(got.output, want.output);
    QCOMPARE(got.decimalSeparator, want.decimalSeparator);
}

// The readings of the watch that reading `number` belongs to are `want`, in their order.
void CompareReadings(const JournalReader& reader, qint64 number,
                     const std::vector<JournalReading>& want)
{
    std::vector<JournalReading> got;
    const Result<> read = reader.Readings(number, [&](const JournalReading& reading) {
        got.push_back(reading);
        return true;
    });
    QVERIFY2(read, qPrintable(read.Reason()));
    QCOMPARE(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        QCOMPARE(got[i].port, want[i].port);
        QCOMPARE(got[i].time, want[i].time);
        QCOMPARE(got[i].time.timeSpec(), Qt::UTC);
        QCOMPARE(got[i].offsetSeconds, want[i].offsetSeconds);
        QCOMPARE(got[i].note, want[i].note);
        QCOMPARE(got[i].tornBefore, want[i].tornBefore);
        QCOMPARE(got[i].reply, want[i].reply);
    }
}

QStringList Listed(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

enum Fault {
    DiskFull,
    FileSizeLimit,
    ReadOnlyFolder,
    ReadOnlyFolderWithJournal,
    ReadOnlyJournal,
    FolderIsAFile,
    NoPath,
};

enum Damage { Garbage, Truncated, NegativeVersion, VersionLost, Newer };

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

private slots:
    // What the table shows goes to the journal and comes back as the same CSV, byte for byte,
    // with the command, every byte received and how the answer ended.
    void whatIsJournaledReadsBackAsItWas_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<QByteArray>("separator");
        QTest::addColumn<QByteArray>("trailer");
        QTest::addColumn<JournalOutcome>("outcome");

        const QByteArray end("\x02\x30\x30\x03\r"); // an end frame
        QTest::newRow("one record") << 1 << QByteArray(".") << end << JournalOutcome::Records;
        QTest::newRow("100 records, decimal comma")
            << 100 << QByteArray(",") << end << JournalOutcome::Records;
        QTest::newRow("201 records, Arabic decimal separator")
            << 201 << QByteArray("\xd9\xab") << end << JournalOutcome::Records;
        QTest::newRow("150 records, middle dot, then the port closed")
            << 150 << QByteArray("\xc2\xb7") << QByteArray() << JournalOutcome::Stopped;
        QTest::newRow("an error reply")
            << 0 << QByteArray(".") << QByteArray("\x15\r") << JournalOutcome::ErrorReply;
        QTest::newRow("no answer")
            << 0 << QByteArray(".") << QByteArray() << JournalOutcome::NoAnswer;
        QTest::newRow("the answer still coming")
            << 12 << QByteArray(".") << QByteArray() << JournalOutcome::Pending;
    }

    void whatIsJournaledReadsBackAsItWas()
    {
        QFETCH(int, records);
        QFETCH(QByteArray, separator);
        QFETCH(QByteArray, trailer);
        QFETCH(JournalOutcome, outcome);

        QTemporaryDir dir;
        // The folder is made on first use.
        const QString path = dir.filePath(QStringLiteral("data/qm6200/journal.sqlite3"));
        const SampleAcquisition before = Sample(1, "/dev/ttyUSB0", 3, ".", JournalOutcome::Records);
        SampleAcquisition sample =
            Sample(2, "/dev/ttyS1", records, separator.toStdString(), outcome);
        sample.trailer = trailer;
        {
            JournalWriter writer(path);
            QSignalSpy failed(&writer, &JournalWriter::Failed);
            Journal(writer, before);
            Journal(writer, sample);
            writer.WaitUntilWritten();
            QCOMPARE(failed.count(), 0);
        }

        JournalReader reader(path);
        const Result<> opened = reader.open();
        QVERIFY2(opened, qPrintable(opened.Reason()));
        const std::vector<JournalEntry> entries = reader.Entries();
        QCOMPARE(entries.size(), std::size_t(2));
        QCOMPARE(entries[0].number, 2); // newest first
        QCOMPARE(entries[1].number, 1);
        CompareJournaled(reader, 1, before);
        CompareJournaled(reader, 2, sample);
        QVERIFY(!reader.Entry(3));
        QVERIFY(reader.Records(3).empty());
    }

    // Acquisitions on several ports at once keep their own, handed over interleaved byte by
    // byte; bytes that come after an answer is over are still its own, until it is forgotten.
    void acquisitionsAtOnceKeepTheirOwn()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.sqlite3"));
        std::vector<SampleAcquisition> samples{
            Sample(1, "/dev/ttyUSB0", 5, ".", JournalOutcome::Records),
            Sample(2, "/dev/ttyUSB1", 3, ".", JournalOutcome::Records),
            Sample(3, "/dev/ttyUSB2", 0, ".", JournalOutcome::NoAnswer)};
        samples[0].trailer = "late";
        {
            JournalWriter writer(path);
            std::vector<JournalWriter::Acquisition> numbers;
            for (const SampleAcquisition& sample : samples)
                numbers.push_back(writer.CommandSent(sample.command));
            for (std::size_t place = 0; place < 5; ++place) {
                for (std::size_t i = 0; i < samples.size(); ++i) {
                    if (place >= samples[i].frames.size())
                        continue;
                    for (const char byte : samples[i].frames[place])
                        writer.Received(numbers[i], QByteArray(1, byte));
                    writer.Record(numbers[i], int(place) + 1, samples[i].cells[place]);
                }
            }
            for (std::size_t i = 0; i < samples.size(); ++i)
                writer.AnswerOver(numbers[i], samples[i].outcome);
            writer.Received(numbers[0], samples[0].trailer);
            writer.Forget(numbers[1]);
            writer.Received(numbers[1], "forgotten");
            writer.Received(0, "none");
            writer.WaitUntilWritten();
        }
        JournalReader reader(path);
        const Result<> opened = reader.open();
        QVERIFY2(opened, qPrintable(opened.Reason()));
        QCOMPARE(reader.Entries().size(), samples.size());
        for (std::size_t i = 0; i < samples.size(); ++i)
            CompareJournaled(reader, qint64(i) + 1, samples[i]);
    }

    // A watch comes back whole, listed under its first reading's number with what the history
    // tells of it, from any of its readings' numbers.
    void aWatchReadsBackWhole()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.sqlite3"));
        // Ports named as given, a name empty; an Arabic decimal separator.
        JournalWatch watch =
            SampleWatch({"/dev/ttyUSB1", "", "/dev/serial/by-id/usb-Prüf_Gerät-if00"}, "\xd9\xab");
        watch.output = QStringLiteral("/tmp/wätch %F.csv");
        std::vector<JournalReading> readings;
        for (int n = 0; n < 29; ++n)
            readings.push_back(SampleReading(n, 3));
        {
            JournalWriter writer(path);
            QSignalSpy failed(&writer, &JournalWriter::Failed);
            const JournalWriter::Watch started = writer.WatchStarted(watch);
            for (const JournalReading& reading : readings)
                writer.Reading(started, reading);
            writer.Reading(0, readings[0]); // none's
            writer.WaitUntilWritten();
            QCOMPARE(failed.count(), 0);
        }

        JournalReader reader(path);
        QVERIFY(!reader.Readings(1, [](const JournalReading&) { return true; })); // not open
        const Result<> opened = reader.open();
        QVERIFY2(opened, qPrintable(opened.Reason()));
        const std::vector<JournalWatchEntry> listed = reader.Watches();
        QCOMPARE(listed.size(), std::size_t(1));
        const JournalWatchEntry& entry = listed[0];
        QCOMPARE(entry.number, 1);
        CompareWatch(entry.watch, watch);
        QCOMPARE(entry.first, readings.front().time);
        QCOMPARE(entry.last, readings.back().time);
        QCOMPARE(entry.readings, qint64(readings.size()));
        // The note column of the CSV: a torn line before a reading is noted too.
        QCOMPARE(entry.noted, std::count_if(readings.begin(), readings.end(), [](const auto& r) {
                     return !ReadingNoteText(r.note, r.tornBefore).isEmpty();
                 }));
        for (const qint64 number : {1, 17, 29}) {
            const std::optional<JournalWatchEntry> of = reader.WatchOf(number);
            QVERIFY(of);
            QCOMPARE(of->number, entry.number);
            CompareReadings(reader, number, readings);
        }
        QVERIFY(!reader.WatchOf(30));
        CompareReadings(reader, 30, {});
        // Handed one at a time, as long as they are wanted.
        int handed = 0;
        QVERIFY(reader.Readings(5, [&](const JournalReading&) { return ++handed < 3; }));
        QCOMPARE(handed, 3);
    }

    // A journal of the version before watches keeps its acquisitions and takes watches. Its
    // acquisitions and readings take their numbers from one count going on from the
    // acquisitions', in the order they are handed over, whichever watch a reading is of; a
    // watch is listed by its first reading, and not before it has one.
    void aJournalBeforeWatchesTakesThemOnItsCount()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.sqlite3"));
        {
            const auto db = journal::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, 1000);
            QVERIFY(db);
            QVERIFY(journal::Exec(db->get(), journal::SchemaSteps()[0]));
            QVERIFY(journal::Exec(db->get(),
                                  "PRAGMA user_version = 1; INSERT INTO acquisitions (number, "
                                  "sent, port, program, version, command, outcome) VALUES (7, "
                                  "'2025-01-02T03:04:05.678Z', '/dev/ttyS0', 'qm6200-acquire', "
                                  "'1.0', X'02', 'error-reply'); "
                                  "INSERT INTO replies VALUES (7, 0, X'150d')"));
        }
        // What takes each number from 8 on: 'a' an acquisition, '1' and '2' a reading of that
        // watch, the second started first.
        const QByteArray order = "a1a21122a1a";
        std::map<char, std::vector<JournalReading>> readings;
        {
            JournalWriter writer(path);
            QSignalSpy failed(&writer, &JournalWriter::Failed);
            const auto second = writer.WatchStarted(SampleWatch({"/dev/ttyS2"}));
            writer.WatchStarted(SampleWatch({"/dev/ttyS3"})); // never read
            const auto first = writer.WatchStarted(SampleWatch({"/dev/ttyS1"}));
            for (int number = 8; number < 8 + order.size(); ++number) {
                const char what = order[number - 8];
                if (what == 'a') {
                    Journal(writer, Sample(number, "/dev/ttyS0", 1, ".", JournalOutcome::Records));
                } else {
                    readings[what].push_back(SampleReading(number, 1));
                    writer.Reading(what == '1' ? first : second, readings[what].back());
                }
                if (number % 3 == 0) // some in a commit of their own, some together
                    writer.WaitUntilWritten();
            }
            writer.WaitUntilWritten();
            QCOMPARE(failed.count(), 0);
        }
        JournalReader reader(path);
        QVERIFY(reader.open());
        QCOMPARE(reader.Entry(7)->outcome, JournalOutcome::ErrorReply);
        QCOMPARE(reader.Reply(7), QByteArray("\x15\r"));
        const std::vector<JournalWatchEntry> watches = reader.Watches();
        QCOMPARE(watches.size(), std::size_t(2));
        QCOMPARE(watches[0].number, 11);
        QCOMPARE(watches[0].watch.ports, QStringList{"/dev/ttyS2"});
        QCOMPARE(watches[1].number, 9);
        for (int number = 8; number < 8 + order.size(); ++number) {
            const std::optional<JournalWatchEntry> of = reader.WatchOf(number);
            const char what = reader.Entry(number) ? 'a' : !of ? '-' : of->number == 9 ? '1' : '2';
            QCOMPARE(what, order[number - 8]);
        }
        CompareJournaled(reader, 8, Sample(8, "/dev/ttyS0", 1, ".", JournalOutcome::Records));
        CompareReadings(reader, 9, readings['1']);
        CompareReadings(reader, 11, readings['2']);
    }

    // A record is on the disk within a second of its arrival: a program killed a second
    // after the last one lost none, whether its answer was over or still coming.
    void aRecordSurvivesAKillASecondLater_data()
    {
        QTest::addColumn<bool>("answerOver");
        QTest::newRow("answer over") << true;
        QTest::newRow("answer still coming") << false;
    }

    void aRecordSurvivesAKillASecondLater()
    {
        QFETCH(bool, answerOver);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.sqlite3"));
        QProcess child;
        QStringList arguments{path, QStringLiteral("/dev/ttyUSB0"), QStringLiteral("2"),
                              QStringLiteral("150"), QStringLiteral("--hold")};
        if (!answerOver)
            arguments << QStringLiteral("--unfinished");
        child.start(WriterProgram(), arguments);
        QVERIFY2(child.waitForReadyRead(Patience), qPrintable(child.errorString()));
        QCOMPARE(child.readLine(), QByteArray("handed over\n"));
        QTest::qSleep(1000);
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(Patience));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QCOMPARE(child.readAllStandardError(), QByteArray());

        JournalReader reader(path);
        const Result<> opened = reader.open();
        QVERIFY2(opened, qPrintable(opened.Reason()));
        QCOMPARE(reader.Entries().size(), std::size_t(2));
        CompareJournaled(reader, 1, Sample(1, "/dev/ttyUSB0", 150, ".", JournalOutcome::Records));
        CompareJournaled(reader, 2,
                         Sample(2, "/dev/ttyUSB0", 150, ".",
                                answerOver ? JournalOutcome::Records : JournalOutcome::Pending));
    }

    // Two programs writing the journal at once, while a third reads it, both land every
    // record: SQLite's locks and a writer that waits for the other. With readings between the
    // acquisitions, no number is taken twice.
    void twoWritersAtOnceLoseNothing_data()
    {
        QTest::addColumn<bool>("watches");
        QTest::newRow("acquisitions") << false;
        QTest::newRow("acquisitions and readings") << true;
    }

    void twoWritersAtOnceLoseNothing()
    {
        QFETCH(bool, watches);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.sqlite3"));
        const QStringList ports{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB1")};
        constexpr int Acquisitions = 20;
        constexpr int Records = 120;
        std::vector<std::unique_ptr<QProcess>> children;
        for (const QString& port : ports) {
            children.push_back(std::make_unique<QProcess>());
            QStringList arguments{path, port, QString::number(Acquisitions),
                                  QString::number(Records)};
            if (watches)
                arguments << QStringLiteral("--watch");
            children.back()->start(WriterProgram(), arguments);
        }
        // A reader meanwhile sees each commit whole, never fewer acquisitions than before.
        JournalReader reader(path);
        bool opened = false;
        std::size_t seen = 0;
        bool shrank = false;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                opened = opened || reader.open();
                const std::size_t now = reader.Entries().size();
                shrank = shrank || now < seen;
                seen = now;
                return children[0]->state() == QProcess::NotRunning
                       && children[1]->state() == QProcess::NotRunning;
            }(),
            Patience * 2);
        QVERIFY(!shrank);
        for (const auto& child : children) {
            QCOMPARE(child->readAllStandardError(), QByteArray());
            QCOMPARE(child->exitStatus(), QProcess::NormalExit);
            QCOMPARE(child->exitCode(), 0);
        }

        QVERIFY(opened || reader.open());
        const std::vector<JournalEntry> entries = reader.Entries();
        QCOMPARE(entries.size(), std::size_t(2 * Acquisitions));
        for (const QString& port : ports) {
            int sample = Acquisitions;
            for (const JournalEntry& entry : entries) {
                if (entry.port != port)
                    continue;
                CompareJournaled(reader, entry.number,
                                 Sample(sample--, port, Records, ".", JournalOutcome::Records));
                if (QTest::currentTestFailed())
                    return;
            }
            QCOMPARE(sample, 0);
        }
        if (!watches)
            return;
        // Every number once: an acquisition's or a reading's.
        for (qint64 number = 1; number <= 4 * Acquisitions; ++number)
            QVERIFY(bool(reader.Entry(number)) != bool(reader.WatchOf(number)));
        for (const JournalWatchEntry& watch : reader.Watches())
            QCOMPARE(watch.readings, Acquisitions);
    }

    // A journal that cannot be written costs the journal alone: one message naming the file
    // and why, then the calls go on as before and nothing is taken for damage.
    void aFaultCostsTheJournalAlone_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("disk full") << int(DiskFull) << QStringLiteral("the disk is full");
        QTest::newRow("file size limit")
            << int(FileSizeLimit) << QStringLiteral("writing to the disk failed");
        QTest::newRow("read-only folder") << int(ReadOnlyFolder) << qt_error_string(EACCES);
        QTest::newRow("read-only folder, journal in it")
            << int(ReadOnlyFolderWithJournal) << QStringLiteral("its folder may only be read");
        QTest::newRow("read-only journal")
            << int(ReadOnlyJournal) << QStringLiteral("it may only be read");
        QTest::newRow("a file where its folder should be")
            << int(FolderIsAFile) << QStringLiteral("data is not a folder");
        QTest::newRow("no folder for the user's data")
            << int(NoPath) << QStringLiteral("no folder for data");
    }

    void aFaultCostsTheJournalAlone()
    {
        QFETCH(int, fault);
        QFETCH(QString, reason);

        const bool readOnly = fault == ReadOnlyFolder || fault == ReadOnlyFolderWithJournal
                              || fault == ReadOnlyJournal;
        if (readOnly && ::geteuid() == 0)
            QSKIP("root may write anywhere; its as-nobody test runs it as an ordinary user");
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("qm6200"));
        QVERIFY(QDir().mkdir(folder));
        QString path = folder + QStringLiteral("/journal.sqlite3");
        const QByteArray encodedFolder = QFile::encodeName(folder);
        auto restore = qScopeGuard([&] {
            ::chmod(encodedFolder.constData(), 0755);
            ::umount2(encodedFolder.constData(), MNT_DETACH);
        });
        const SampleAcquisition first = Sample(1, "/dev/ttyS0", 201, ".", JournalOutcome::Records);
        // A small tmpfs, in a mount namespace of this process's own: it goes with the process
        // however the process ends.
        if (fault == DiskFull
            && (::unshare(CLONE_NEWNS) != 0
                || ::mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0
                || ::mount("tmpfs", encodedFolder.constData(), "tmpfs", 0, "size=256k") != 0))
            QSKIP(qPrintable(QStringLiteral("mounting a small tmpfs needs root: %1")
                                 .arg(qt_error_string(errno))));
        if (fault == ReadOnlyFolderWithJournal || fault == ReadOnlyJournal) {
            {
                JournalWriter writer(path);
                Journal(writer, first);
            }
            if (fault == ReadOnlyJournal)
                QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        }
        if (fault == ReadOnlyFolder || fault == ReadOnlyFolderWithJournal)
            QCOMPARE(::chmod(encodedFolder.constData(), 0555), 0);
        if (fault == FolderIsAFile) {
            QVERIFY(Write(folder + QStringLiteral("/data"), "not a folder"));
            path = folder + QStringLiteral("/data/qm6200/journal.sqlite3");
        }
        if (fault == NoPath)
            path.clear();
        const QStringList listed = Listed(folder);

        rlimit unlimited{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
        auto unlimit = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &unlimited); });
        if (fault == FileSizeLimit) {
            std::signal(SIGXFSZ, SIG_IGN); // going past fails with EFBIG
            const rlimit limit{96 * 1024, unlimited.rlim_max};
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        }
        int written = 0; // acquisitions handed over before the message came
        QList<QList<QVariant>> messages;
        {
            JournalWriter writer(path);
            QSignalSpy failed(&writer, &JournalWriter::Failed);
            // Until the disk is full, then as much again: the message comes once.
            for (int number = 1; number <= 60 && failed.isEmpty(); ++number, ++written) {
                Journal(writer, Sample(number, "/dev/ttyS0", 201, ".", JournalOutcome::Records));
                writer.WaitUntilWritten();
            }
            for (int number = 61; number <= 61 + written; ++number)
                Journal(writer, Sample(number, "/dev/ttyS0", 201, ".", JournalOutcome::Records));
            writer.WaitUntilWritten();
            messages = failed;
        }
        unlimit.dismiss();
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);

        QCOMPARE(messages.size(), 1);
        const QString message = messages[0][0].toString();
        QVERIFY2(message.contains(QDir::toNativeSeparators(path)), qPrintable(message));
        QVERIFY2(message.contains(reason), qPrintable(message));
        QVERIFY2(!message.contains(QStringLiteral("damaged")), qPrintable(message));
        // Nothing moved aside, and what was committed before stays.
        const QStringList now = Listed(folder);
        QVERIFY2(now.filter(QStringLiteral("damaged")).isEmpty(), qPrintable(now.join(u' ')));
        if (fault == DiskFull || fault == FileSizeLimit) {
            QVERIFY(written > 1);
            JournalReader reader(path);
            const Result<> opened = reader.open();
            QVERIFY2(opened, qPrintable(opened.Reason()));
            QVERIFY(!reader.Entries().empty());
            CompareJournaled(reader, 1, first);
        } else {
            QCOMPARE(now, listed);
        }
    }

    // Only SQLite's verdict of damage moves a journal aside, with the files beside it, under
    // a name that says so and when; a new one takes the acquisition. A newer program's journal
    // is left as it is, unwritten.
    void aDamagedJournalIsMovedAsideANewerOneLeftAlone_data()
    {
        QTest::addColumn<int>("damage");
        QTest::newRow("garbage") << int(Garbage);
        QTest::newRow("truncated") << int(Truncated);
        QTest::newRow("a version below zero") << int(NegativeVersion);
        QTest::newRow("version 0 with tables") << int(VersionLost);
        QTest::newRow("newer schema") << int(Newer);
    }

    void aDamagedJournalIsMovedAsideANewerOneLeftAlone()
    {
        QFETCH(int, damage);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.sqlite3"));
        const QStringList beside{QString(), QStringLiteral("-wal"), QStringLiteral("-shm")};
        if (damage == Truncated) {
            {
                JournalWriter writer(path);
                for (int number = 1; number <= 5; ++number)
                    Journal(writer,
                            Sample(number, "/dev/ttyS0", 201, ".", JournalOutcome::Records));
            }
            QVERIFY(QFile::resize(path, 4096)); // the first page alone
        }
        if (damage == Garbage) {
            QByteArray garbage;
            for (int i = 0; i < 5000; ++i)
                garbage += char(i * 7919 % 251);
            QVERIFY(Write(path, garbage));
        }
        if (damage == Newer || damage == NegativeVersion || damage == VersionLost) {
            const auto db = journal::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, 1000);
            QVERIFY(db);
            const int version = damage == Newer             ? journal::SchemaVersion() + 1
                                : damage == NegativeVersion ? -7
                                                            : 0;
            const QByteArray sql = "CREATE TABLE acquisitions (what TEXT); PRAGMA user_version = "
                                   + QByteArray::number(version);
            QVERIFY(journal::Exec(db->get(), sql.constData()));
        }
        if (damage != Newer) {
            QVERIFY(Write(path + beside[1], "an old log"));
            QVERIFY(Write(path + beside[2], "an old index"));
        }
        std::vector<QByteArray> contents;
        for (const QString& name : beside)
            contents.push_back(Read(path + name));
        const QStringList listed = Listed(dir.path());
        const QDateTime start = QDateTime::currentDateTimeUtc();

        // The reader and the writer read the version alike.
        if (damage == NegativeVersion || damage == VersionLost) {
            JournalReader before(path);
            const Result<> opened = before.open();
            QVERIFY(!opened);
            QVERIFY2(opened.Reason().contains(QStringLiteral("is damaged")),
                     qPrintable(opened.Reason()));
        }
        const SampleAcquisition sample = Sample(1, "/dev/ttyS0", 7, ".", JournalOutcome::Records);
        QList<QList<QVariant>> messages;
        {
            JournalWriter writer(path);
            QSignalSpy failed(&writer, &JournalWriter::Failed);
            Journal(writer, sample);
            writer.WaitUntilWritten();
            Journal(writer, Sample(2, "/dev/ttyS0", 7, ".", JournalOutcome::Records));
            writer.Reading(writer.WatchStarted(SampleWatch({"/dev/ttyS0"})), SampleReading(1, 1));
            writer.WaitUntilWritten();
            messages = failed;
        }
        QCOMPARE(messages.size(), 1);
        const QString message = messages[0][0].toString();
        QVERIFY2(message.contains(QDir::toNativeSeparators(path)), qPrintable(message));
        JournalReader reader(path);

        QVERIFY2(
            message.contains(damage == Newer ? QStringLiteral("newer") : QStringLiteral("damaged")),
            qPrintable(message));
        if (damage == Newer) {
            QCOMPARE(Listed(dir.path()), listed);
            QCOMPARE(Read(path), contents[0]);
            const Result<> opened = reader.open();
            QVERIFY(!opened);
            QVERIFY2(opened.Reason().contains(QStringLiteral("newer")),
                     qPrintable(opened.Reason()));
            return;
        }
        const QStringList aside = Listed(dir.path()).filter(QStringLiteral(".damaged-"));
        QCOMPARE(aside.size(), 3);
        // journal.damaged-2026-12-08T07-30-12Z.sqlite3, -wal, -shm
        const QString stem = aside[0];
        QVERIFY2(stem.startsWith(QStringLiteral("journal.damaged-")) && stem.endsWith(".sqlite3"),
                 qPrintable(stem));
        const QDateTime stamp =
            QDateTime::fromString(stem.mid(16, 20), QStringLiteral("yyyy-MM-dd'T'HH-mm-ss'Z'"));
        QVERIFY2(stamp.isValid(), qPrintable(stem));
        QVERIFY(qAbs(QDateTime(stamp.date(), stamp.time(), QTimeZone::utc()).secsTo(start)) < 60);
        // The file and its log as they were; the index of the log is SQLite's to rebuild.
        QCOMPARE(Read(dir.filePath(stem)), contents[0]);
        QCOMPARE(Read(dir.filePath(stem + beside[1])), contents[1]);
        QVERIFY(QFileInfo::exists(dir.filePath(stem + beside[2])));
        QVERIFY2(message.contains(QDir::toNativeSeparators(dir.filePath(stem))),
                 qPrintable(message));
        const Result<> opened = reader.open();
        QVERIFY2(opened, qPrintable(opened.Reason()));
        QCOMPARE(reader.Entries().size(), std::size_t(2));
        CompareJournaled(reader, 1, sample);
    }

    // The journal is the user's alone: a link, another kind of file or another user's file in
    // its place (or its log's) is refused, and what it leads to left as it was; the run goes
    // on without the journal. One an earlier version left open to others is closed to them.
    void theJournalIsTheUsersAlone_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<QString>("refused"); // empty: journaled
        QTest::newRow("an older journal open to all") << "open"
                                                      << "";
        QTest::newRow("a link to another file") << "link to file"
                                                << "is a link";
        QTest::newRow("a link to another database") << "link to database"
                                                    << "is a link";
        QTest::newRow("a link to a device") << "link to device"
                                            << "is a link";
        QTest::newRow("its log a link") << "log link"
                                        << "is a link";
        QTest::newRow("a FIFO") << "fifo"
                                << "is not a file";
        QTest::newRow("another user's journal") << "other's"
                                                << "belongs to another user";
    }
    void theJournalIsTheUsersAlone()
    {
        QFETCH(QString, planted);
        QFETCH(QString, refused);
        if (planted == "other's" && ::geteuid() != 0)
            QSKIP("making another user's file needs root");
        const mode_t umask = ::umask(022);
        auto restoreUmask = qScopeGuard([umask] { ::umask(umask); });
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("qm6200"));
        const QString path = folder + QStringLiteral("/journal.sqlite3");
        const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
        QVERIFY(QDir().mkdir(folder));
        const QByteArray name = QFile::encodeName(path);
        if (planted == "open" || planted == "other's") {
            {
                JournalWriter writer(path);
                Journal(writer, Sample(1, "/dev/ttyS0", 3, ".", JournalOutcome::Records));
            }
            QVERIFY(::chmod(QFile::encodeName(folder), 0755) == 0 && ::chmod(name, 0644) == 0);
            if (planted == "other's")
                QCOMPARE(::chown(name, 65534, 65534), 0);
        } else if (planted == "link to file" || planted == "log link") {
            QVERIFY(Write(elsewhere, ""));
        } else if (planted == "link to database") {
            const auto db =
                journal::Open(elsewhere, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, 1000);
            QVERIFY(db);
            QVERIFY(journal::Exec(db->get(), "CREATE TABLE theirs (x)"));
        } else if (planted == "link to device") {
            // A device of the test's own where root may make one, else a named pipe.
            const QByteArray node = QFile::encodeName(elsewhere);
            QVERIFY(::mknod(node.constData(), S_IFCHR | 0666, makedev(1, 3)) == 0
                    || ::mkfifo(node.constData(), 0666) == 0);
        } else if (planted == "fifo") {
            QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        }
        if (planted.startsWith(QStringLiteral("link to")))
            QVERIFY(QFile::link(elsewhere, path));
        if (planted == "log link")
            QVERIFY(QFile::link(elsewhere, path + QStringLiteral("-wal")));
        // What the link leads to, read unless it is a pipe, which would wait for a writer.
        const auto content = [&] {
            return QFileInfo(elsewhere).isFile() ? Read(elsewhere) : QByteArray("not a file");
        };
        const QByteArray elsewhereBefore = content();
        const QStringList outside = Listed(dir.path());

        QList<QList<QVariant>> messages;
        {
            JournalWriter writer(path);
            QSignalSpy failed(&writer, &JournalWriter::Failed);
            Journal(writer, Sample(2, "/dev/ttyS0", 3, ".", JournalOutcome::Records));
            writer.WaitUntilWritten();
            messages = failed;
        }
        QCOMPARE(content(), elsewhereBefore);
        if (!refused.isEmpty()) {
            QCOMPARE(messages.size(), 1);
            const QString message = messages[0][0].toString();
            QVERIFY2(message.contains(refused), qPrintable(message));
            QCOMPARE(Listed(dir.path()), outside); // nothing made beside what the link leads to
            JournalReader reader(path);
            const QString error = reader.open().Reason();
            QVERIFY2(error.contains(refused) || error.contains(QStringLiteral("no journal")),
                     qPrintable(error));
            return;
        }
        QCOMPARE(messages.size(), 0);
        JournalReader reader(path);
        const Result<> opened = reader.open();
        QVERIFY2(opened, qPrintable(opened.Reason()));
        QCOMPARE(reader.Entries().size(), std::size_t(2));
        struct stat node {};
        QVERIFY(::stat(QFile::encodeName(folder), &node) == 0);
        QCOMPARE(node.st_mode & 0777, mode_t(0700));
        for (const QString& file : QDir(folder).entryList(QDir::Files)) {
            QVERIFY(::stat(QFile::encodeName(folder + u'/' + file), &node) == 0);
            QVERIFY2((node.st_mode & 0777) == 0600, qPrintable(file));
        }
    }

    // Every acquisition and watch has a uid of its own, made as it is journaled, and those of
    // a journal from before uids get theirs (random, version 4) when it is brought up to date;
    // a reading's is made from its watch's and its number, the same every time.
    void everyAcquisitionAndWatchHasItsOwnUid()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.sqlite3"));
        {
            const auto db = journal::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, 1000);
            QVERIFY(db);
            QVERIFY(journal::Exec(db->get(), journal::SchemaSteps()[0]));
            QVERIFY(journal::Exec(db->get(), journal::SchemaSteps()[1]));
            QVERIFY(journal::Exec(
                db->get(), "PRAGMA user_version = 2; INSERT INTO acquisitions (number, sent, port, "
                           "program, version, command) VALUES (1, '2025-01-02T03:04:05.678Z', "
                           "'/dev/ttyS0', 'qm6200-acquire', '1.0', X'02'), (2, "
                           "'2025-01-02T03:04:06.678Z', '/dev/ttyS0', 'qm6200-acquire', '1.0', "
                           "X'02'); INSERT INTO watches (started, program, version, command, "
                           "every_ms, ports, output, decimal_separator, first_number, readings) "
                           "VALUES (0, 'qm6200-acquire', '1.0', X'02', 1000, X'00', '', '.', 3, 1);"
                           "INSERT INTO readings VALUES (3, 1, 0, 0, 0, 0, 0, X'')"));
        }
        {
            JournalWriter writer(path);
            Journal(writer, Sample(4, "/dev/ttyS0", 1, ".", JournalOutcome::Records));
            writer.WatchStarted(SampleWatch({"/dev/ttyS1"}));
            writer.WaitUntilWritten();
        }
        JournalReader reader(path);
        QVERIFY(reader.open());
        QSet<QUuid> uids;
        for (const JournalEntry& entry : reader.Entries()) {
            QCOMPARE(entry.uid.version(), QUuid::Random);
            QCOMPARE(entry.uid.variant(), QUuid::DCE);
            uids.insert(entry.uid);
        }
        const std::vector<JournalWatchEntry> watches = reader.Watches();
        QCOMPARE(watches.size(), std::size_t(1)); // the new one has no reading yet
        QCOMPARE(watches[0].watch.uid.version(), QUuid::Random);
        uids.insert(watches[0].watch.uid);
        QCOMPARE(uids.size(), 4); // three acquisitions, a watch
        const QUuid reading = ReadingUid(watches[0].watch.uid, 3);
        QCOMPARE(reading, ReadingUid(watches[0].watch.uid, 3));
        QVERIFY(reading != ReadingUid(watches[0].watch.uid, 4));
        QVERIFY(!uids.contains(reading));
    }

    // What the lab's database has not confirmed is found in steps, in the order it was
    // journaled; a mark lands only on the row sent (its uid, or its watch's), and what is
    // marked is not found again.
    void whatTheLabHoldsIsMarked()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("journal.sqlite3"));
        JournalWriter writer(path);
        Journal(writer, Sample(1, "/dev/ttyS0", 2, ".", JournalOutcome::Records));
        writer.WaitUntilWritten();
        const auto watch = writer.WatchStarted(SampleWatch({"/dev/ttyS1"}));
        const JournalReading reading = SampleReading(2, 1);
        writer.Reading(watch, reading);
        writer.Reading(watch, SampleReading(3, 1));
        writer.WaitUntilWritten();
        Journal(writer, Sample(4, "/dev/ttyS0", 0, ".", JournalOutcome::NoAnswer));
        writer.WaitUntilWritten();

        JournalReader reader(path);
        QVERIFY(reader.open());
        using Unsent = std::vector<std::pair<qint64, bool>>;
        QCOMPARE(reader.Unsent(0, 10), Unsent({{1, false}, {2, true}, {3, true}, {4, false}}));
        QCOMPARE(reader.Unsent(1, 2), Unsent({{2, true}, {3, true}}));
        QCOMPARE(reader.Reading(2)->reply, reading.reply);
        QVERIFY(!reader.Reading(1));
        const QUuid watchUid = reader.WatchOf(2)->watch.uid;
        const QUuid first = reader.Entry(1)->uid;
        writer.LabSent({{1, first, false},
                        {2, watchUid, true},
                        {3, QUuid::createUuid(), true}, // another watch's reading 3
                        {4, first, false}},             // another acquisition's uid
                       QDateTime::currentDateTimeUtc());
        writer.LabRefused({4, reader.Entry(4)->uid, false}, "invalid byte sequence");
        writer.WaitUntilWritten();
        QCOMPARE(reader.Unsent(0, 10), Unsent({{3, true}, {4, false}}));
        QCOMPARE(reader.UnsentCount(), 2);
        // What the history shows of it: sent when, refused why, readings waiting.
        QVERIFY(reader.Entry(1)->labSent.isValid());
        QVERIFY(!reader.Entry(4)->labSent.isValid());
        QCOMPARE(reader.Entry(4)->labRefused, "invalid byte sequence");
        QCOMPARE(reader.Watches().front().labWaiting, 1);
    }

    // The schema is brought up to date step by step, all in one transaction: a journal at
    // any older version takes the steps after its own, keeps what it holds, and a step that
    // fails leaves it as it was. (Every new journal is an empty database at version 0 that
    // takes the program's own steps; the other tests write through those.)
    void anOlderSchemaIsUpgradedInOneStep_data()
    {
        QTest::addColumn<QByteArray>("initial");
        QTest::addColumn<QByteArrayList>("steps");
        QTest::addColumn<QString>("state"); // "current", "newer" or "failed"
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("content"); // of table a: rows by ';', columns by '|'

        const QByteArrayList steps{"CREATE TABLE a (x)",
                                   "ALTER TABLE a ADD COLUMN y; INSERT INTO a VALUES (1, 2)"};
        const QByteArray version1("CREATE TABLE a (x); INSERT INTO a VALUES (5); "
                                  "PRAGMA user_version = 1");
        QTest::newRow("from 0, every step") << QByteArray() << steps << "current" << 2 << "1|2";
        QTest::newRow("from 1, the step after, keeping what it holds")
            << version1 << steps << "current" << 2 << "5|;1|2";
        QTest::newRow("a step that fails changes nothing")
            << version1 << (steps + QByteArrayList{"INSERT INTO missing VALUES (1)"}) << "failed"
            << 1 << "5";
        QTest::newRow("up to date")
            << QByteArray("CREATE TABLE a (x, y); INSERT INTO a VALUES (5, 6); "
                          "PRAGMA user_version = 2")
            << steps << "current" << 2 << "5|6";
        QTest::newRow("newer, left alone")
            << QByteArray("CREATE TABLE a (x); INSERT INTO a VALUES (5); PRAGMA user_version = 3")
            << steps << "newer" << 3 << "5";
    }

    void anOlderSchemaIsUpgradedInOneStep()
    {
        QFETCH(QByteArray, initial);
        QFETCH(QByteArrayList, steps);
        QFETCH(QString, state);
        QFETCH(int, version);
        QFETCH(QString, content);

        QTemporaryDir dir;
        const auto opened = journal::Open(dir.filePath(QStringLiteral("old.sqlite3")),
                                          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, 1000);
        QVERIFY(opened);
        sqlite3* db = opened->get();
        QVERIFY(journal::Exec(db, initial.constData()));
        std::vector<const char*> sql;
        for (const QByteArray& step : steps)
            sql.push_back(step.constData());

        const auto upgrade = journal::UpgradeSchema(db, sql);
        const char* got = !upgrade ? "failed" : upgrade->newer ? "newer" : "current";
        QCOMPARE(QString::fromLatin1(got), state);
        QCOMPARE(journal::UserVersion(db).ValueOr(-1), version);
        QStringList rows;
        const auto select = journal::Prepare(db, "SELECT * FROM a");
        QVERIFY(select);
        while (sqlite3_step(select->get()) == SQLITE_ROW) {
            QStringList columns;
            for (int i = 0; i < sqlite3_column_count(select->get()); ++i)
                columns << reinterpret_cast<const char*>(sqlite3_column_text(select->get(), i));
            rows << columns.join(u'|');
        }
        QCOMPARE(rows.join(u';'), content);
        QCOMPARE(sqlite3_get_autocommit(db), 1); // no transaction left open
    }
};

QM6200_TEST_MAIN(TestJournal)
#include "tst_journal.moc"
