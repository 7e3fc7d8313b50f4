// The desktop program's journal: every command, reply and record kept as it comes, whatever
// became of the answer; read back in the History window and saved from there as "Save Data"
// saved them.

#include "files/SettingsFile.h"
#include "journal/JournalReader.h"
#include "journal/JournalWriter.h"
#include "records/CsvExport.h"
#include "shell/frmHistory.h"
#include "tests/support/Files.h"
#include "tests/support/Frames.h"
#include "tests/support/TestMain.h"
#include "tests/support/Window.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;

namespace {

// A journal of its own for each window: the user's data folder somewhere new (or where
// `folder` says), before the window makes its writer.
struct OwnJournal {
    QTemporaryDir data;
    explicit OwnJournal(const QString& folder)
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(folder.isEmpty() ? data.path() : folder));
    }
};

// The main window on an in-memory port, open; an answer is over after 20 ms of quiet.
struct Rig : OwnJournal, MainWindow {
    explicit Rig(const QString& dataFolder = {})
        : OwnJournal(dataFolder)
    {
        openPort();
        form.SetAnswerIntervals({20ms, 20ms, 1000ms});
    }

    JournalWriter& journal() { return *form.findChild<JournalWriter*>(); }

    // Everything journaled so far, newest first, once it is on the disk.
    std::vector<JournalEntry> entries()
    {
        if (!QTest::qWaitFor([this] { return commandsEnabled(); }, 5000))
            qWarning("the answer did not end");
        journal().WaitUntilWritten();
        JournalReader reader;
        if (const Result<> opened = reader.open(); !opened)
            qWarning("the journal: %s", qPrintable(opened.Reason()));
        return reader.Entries();
    }
};

// The CSV of records 1 to `count` of RecordAnswer, as "Save Data" writes a table of them.
std::string RecordsCsv(int from, int count)
{
    std::string csv;
    for (int i = from; i < from + count; ++i) {
        const QByteArray frame = DataFrame(i, {i, 2 * i, 3 * i, 4 * i, 5 * i});
        const auto cells = CsvCells(frame.toStdString(), QLocale().decimalPoint());
        csv += CsvLine(std::vector<std::string>(cells.begin(), cells.end()));
    }
    return csv;
}

} // namespace

class TestJournaling : public QObject {
    Q_OBJECT

private slots:
    void everyAnswerIsKeptWithHowItEnded_data()
    {
        QTest::addColumn<QString>("command"); // records, present, clear
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("lost"); // the port goes away after the answer
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("outcome");
        QTest::newRow("records beyond the table")
            << "records" << RecordAnswer(150) << false << 150 << int(JournalOutcome::Records);
        QTest::newRow("present values") << "present" << DataFrame(0, {1, 2, 3, 4, 5}) << false << 1
                                        << int(JournalOutcome::Records);
        QTest::newRow("cleared") << "clear" << ACK + CR << false << 0
                                 << int(JournalOutcome::Cleared);
        QTest::newRow("error reply")
            << "records" << STX + NAK + CR << false << 0 << int(JournalOutcome::ErrorReply);
        QTest::newRow("no answer")
            << "records" << QByteArray() << false << 0 << int(JournalOutcome::NoAnswer);
        QTest::newRow("broken off") << "records" << RecordAnswer(3) + STX + "R04,0" << false << 3
                                    << int(JournalOutcome::CutShort);
        QTest::newRow("lost line")
            << "records" << RecordAnswer(2) << true << 2 << int(JournalOutcome::LostLine);
    }

    // What reached the program goes to the disk even when the window's thread stops right
    // after (a drawing that never ends, say): from here on the test runs no event of the
    // window's, and only reads the journal.
    void whatArrivedIsKeptWhileTheWindowIsStuck()
    {
        Rig rig;
        rig.form.SetAnswerIntervals({60s, 60s, 60s});
        rig.ui.acquireRecordsButton->click();
        rig.arrive(RecordAnswer(12));
        const QDeadlineTimer deadline(10s);
        std::vector<JournalCells> kept;
        while (kept.size() < 12 && !deadline.hasExpired()) {
            QThread::msleep(20);
            JournalReader reader;
            if (reader.open() && !reader.Entries().empty())
                kept = reader.Records(reader.Entries().front().number);
        }
        QCOMPARE(kept.size(), std::size_t(12));
    }

    void everyAnswerIsKeptWithHowItEnded()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, answer);
        QFETCH(bool, lost);
        QFETCH(int, records);
        QFETCH(int, outcome);
        Rig rig;
        if (lost)
            rig.form.SetAnswerIntervals({60s, 60s, 60s});
        if (command == "clear") {
            OnNextModal([](QWidget* modal) { Find<QPushButton>(*modal, "OKButton")->click(); });
            rig.ui.clearAllButton->click();
        } else {
            (command == "records" ? rig.ui.acquireRecordsButton : rig.ui.acquirePresentButton)
                ->click();
        }
        rig.arrive(answer);
        if (lost)
            rig.backend->loseDevice("unplugged");

        const auto entries = rig.entries();
        QCOMPARE(entries.size(), std::size_t(1));
        const JournalEntry& entry = entries.front();
        QCOMPARE(int(entry.outcome), outcome);
        QCOMPARE(entry.records, records);
        QCOMPARE(entry.frame, rig.backend->written());
        QCOMPARE(entry.port, QString("/dev/ttyS0"));
        QCOMPARE(entry.program, QString("qm6200-datalink"));
        QVERIFY(qAbs(entry.sent.secsTo(QDateTime::currentDateTimeUtc())) < 60);
        JournalReader reader;
        QVERIFY(reader.open());
        QCOMPARE(reader.Reply(entry.number), answer);
        std::string csv;
        for (const JournalCells& cells : reader.Records(entry.number))
            csv += CsvLine(std::vector<std::string>(cells.begin(), cells.end()));
        if (command == "records")
            QCOMPARE(csv, RecordsCsv(1, records));
    }

    // Newest first; the one chosen shows all its records and saves them all, as "Save Data"
    // saved the first 100 of them.
    void theHistoryShowsAndSavesEveryRecord()
    {
        Rig rig;
        rig.ui.acquirePresentButton->click();
        rig.arrive(DataFrame(0, {9, 9, 9, 9, 9}));
        QTRY_VERIFY(rig.commandsEnabled());
        rig.ui.acquireRecordsButton->click();
        rig.arrive(RecordAnswer(120));
        QCOMPARE(rig.entries().size(), std::size_t(2));
        QTemporaryDir dir;
        rig.saveDialog->answer = dir.filePath("table.csv");
        rig.ui.saveButton->click();

        rig.ui.historyAction->trigger();
        auto* history = rig.form.findChild<frmHistory*>();
        QVERIFY(history && history->isVisible());
        auto* list = Find<QTableView>(*history, "lstAcquisitions");
        auto* records = Find<QTableView>(*history, "grdRecords");
        QCOMPARE(list->model()->rowCount(), 2);
        QCOMPARE(list->model()->index(0, 3).data().toString(), QString("RDD ALL"));
        // When, in local time with its offset from UTC.
        const QDateTime local = rig.entries().front().sent.toLocalTime();
        QCOMPARE(list->model()->index(0, 1).data().toString(),
                 local.toString("yyyy-MM-dd HH:mm:ss")
                     + QString(local.offsetFromUtc() < 0 ? "-" : "+")
                     + QTime(0, 0).addSecs(std::abs(local.offsetFromUtc())).toString("HH:mm"));
        QCOMPARE(list->model()->index(1, 3).data().toString(), QString("RDD NOW"));
        QCOMPARE(list->currentIndex().row(), 0);
        QCOMPARE(records->model()->rowCount(), 120);
        QCOMPARE(records->model()->index(119, 0).data().toString(), QString("20"));
        // Every column in sight, and each row's number once: no row header beside No.
        QVERIFY(!list->verticalHeader()->isVisible() && !records->verticalHeader()->isVisible());
        QTRY_COMPARE(list->horizontalScrollBar()->maximum(), 0);
        QTRY_COMPARE(records->horizontalScrollBar()->maximum(), 0);

        // Offered a name of its own, the acquisition's time and number, where the table went.
        const QString sent = local.toString("yyyy-MM-ddTHHmm");
        rig.saveDialog->answer = dir.filePath("history.csv");
        history->cmdSave_Click();
        const QString offered = rig.saveDialog->shownWith.constLast();
        QVERIFY2(QFileInfo(offered).dir() == QDir(dir.path()), qPrintable(offered));
        QCOMPARE(QFileInfo(offered).fileName(), "qm6200-" + sent + "-acquisition-2.csv");
        const QByteArray saved = Read(dir.filePath("history.csv"));
        QCOMPARE(saved.toStdString(), RecordsCsv(1, 120));
        QVERIFY(saved.startsWith(Read(dir.filePath("table.csv"))));

        // Asked again: the same window, the present values chosen stay chosen.
        list->setCurrentIndex(list->model()->index(1, 0));
        QCOMPARE(records->model()->rowCount(), 1);
        rig.ui.historyAction->trigger();
        QCOMPARE(rig.form.findChildren<frmHistory*>().size(), 1);
        QCOMPARE(list->currentIndex().row(), 1);
        // Closed, it opens again where it was, from qm6200.conf.
        history->setGeometry(history->geometry().translated(17, 9).adjusted(0, 0, 30, 20));
        const QRect place = history->geometry();
        history->close();
        QTRY_VERIFY(Read(DefaultConfigPath()).contains("[history]"));
        rig.ui.historyAction->trigger();
        QTRY_VERIFY(rig.form.findChild<frmHistory*>());
        QCOMPARE(rig.form.findChild<frmHistory*>()->geometry(), place);
        // It goes with the window; the folder saved to is kept for the next run.
        rig.form.Unload();
        QTRY_VERIFY(!rig.form.findChild<frmHistory*>());
        QTRY_VERIFY(Read(DefaultConfigPath()).contains("[save]"));
        const Result<QVariantMap> kept = ReadSettingsGroup(DefaultConfigPath(), "save");
        QCOMPARE(kept.ValueOr({}).value("folder").toString(),
                 QFileInfo(dir.path()).absoluteFilePath());
    }

    // A watch is one line of the History, under its first reading's number; its readings show
    // below as its CSV has them, and "Save as CSV" writes that CSV.
    void aWatchIsOneEntryOfTheHistory()
    {
        Rig rig;
        rig.ui.acquirePresentButton->click();
        rig.arrive(DataFrame(0, {9, 9, 9, 9, 9}));
        QTRY_VERIFY(rig.commandsEnabled());
        JournalWatch watch;
        watch.started = QDateTime::currentDateTimeUtc();
        watch.program = "qm6200-acquire";
        watch.frame = "\x02RDD NOW\x03\r";
        watch.ports = {"/dev/ttyUSB0", "/dev/ttyUSB1"};
        const auto started = rig.journal().WatchStarted(watch);
        const QDateTime at = watch.started.addSecs(1);
        rig.journal().Reading(
            started, {0, at, 3600, ReadingNote::None, false, DataFrame(0, {1, 2, 3, 4, 5})});
        rig.journal().Reading(started, {1, at, 3600, ReadingNote::NoAnswer, false, {}});
        rig.journal().Reading(started, {0, at.addSecs(1), 3600, ReadingNote::Skipped, true, {}});
        rig.journal().WaitUntilWritten();

        rig.ui.historyAction->trigger();
        auto* history = rig.form.findChild<frmHistory*>();
        QVERIFY(history);
        auto* list = Find<QTableView>(*history, "lstAcquisitions");
        auto* readings = Find<QTableView>(*history, "grdRecords");
        QCOMPARE(list->model()->rowCount(), 2);
        QCOMPARE(list->model()->index(0, 0).data().toInt(), 2);
        QCOMPARE(list->model()->index(0, 2).data().toString(), "/dev/ttyUSB0, /dev/ttyUSB1");
        QCOMPARE(list->model()->index(0, 3).data().toString(), "RDD NOW every 1 s");
        QCOMPARE(list->model()->index(0, 4).data().toInt(), 3);
        QCOMPARE(readings->model()->rowCount(), 3);
        QCOMPARE(readings->model()->columnCount(), 9);
        QCOMPARE(readings->model()->index(0, 2).data().toString(), "1");
        QCOMPARE(readings->model()->index(1, 8).data().toString(), "no answer");

        QTemporaryDir dir;
        rig.saveDialog->answer = dir.filePath("watch.csv");
        history->cmdSave_Click();
        QVERIFY(
            QFileInfo(rig.saveDialog->shownWith.constLast()).fileName().endsWith("-watch-2.csv"));
        const QList<QByteArray> lines = Read(dir.filePath("watch.csv")).split('\n');
        QCOMPARE(lines.size(), 5); // the header, three readings, and nothing after the last CR LF
        QCOMPARE(lines[0], "\"Time\",\"Port\",\"CNTR1\",\"CNTR2\",\"CNTR3\",\"CNTR4\",\"CNTR5\","
                           "\"TOTAL\",\"Note\"\r");
        QVERIFY2(lines[1].endsWith(
                     "+01:00\",\"/dev/ttyUSB0\",\"1\",\"2\",\"3\",\"4\",\"5\",\"15\",\"\"\r"),
                 lines[1].constData());
        QVERIFY2(lines[3].contains("skipped") && lines[3].contains("torn"), lines[3].constData());
    }

    // With a lab's database set, History says of each what it confirmed, is waiting for, or
    // refused and why; without one there is no such column.
    void historyShowsWhatTheLabHas()
    {
        Rig rig;
        for (int i = 0; i < 3; ++i) {
            rig.ui.acquirePresentButton->click();
            rig.arrive(DataFrame(0, {i, 1, 1, 1, 1}));
            QTRY_VERIFY(rig.commandsEnabled());
        }
        rig.journal().WaitUntilWritten();
        JournalReader reader;
        QVERIFY(reader.open());
        rig.journal().LabSent({{1, reader.Entry(1)->uid, false}}, QDateTime::currentDateTimeUtc());
        rig.journal().LabRefused({2, reader.Entry(2)->uid, false}, "a rule of the lab's");
        rig.journal().WaitUntilWritten();
        for (const bool lab : {false, true}) {
            QVERIFY(WriteSettings(LabSettings(lab ? "dbname=lab" : "")));
            rig.ui.historyAction->trigger();
            auto* history = rig.form.findChild<frmHistory*>();
            QVERIFY(history);
            const QAbstractItemModel* list = Find<QTableView>(*history, "lstAcquisitions")->model();
            QCOMPARE(list->columnCount(), lab ? 7 : 6);
            if (lab) {
                QCOMPARE(list->headerData(6, Qt::Horizontal).toString(), "Lab");
                QCOMPARE(list->index(2, 6).data().toString(), "sent");
                QCOMPARE(list->index(1, 6).data().toString(), "refused: a rule of the lab's");
                QCOMPARE(list->index(0, 6).data().toString(), "waiting");
            }
            history->close();
            QTRY_VERIFY(!rig.form.findChild<frmHistory*>());
        }
    }

    // A journal that cannot be written costs the acquisition nothing; the operator is told
    // once where and why.
    void aJournalThatCannotBeWrittenIsToldOnce()
    {
        QTemporaryDir dir;
        const QString blocked = dir.filePath("not-a-folder");
        QVERIFY(Write(blocked, "a file where the journal's folder would be"));
        Rig rig(blocked);
        for (int round = 0; round < 2; ++round) {
            rig.ui.acquireRecordsButton->click();
            rig.arrive(RecordAnswer(3));
            QTRY_VERIFY(rig.commandsEnabled());
        }
        rig.journal().WaitUntilWritten();
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY2(rig.messages.first().contains(blocked), qPrintable(rig.messages.first()));
        QCOMPARE(rig.store().RxCount, 3);
        QCOMPARE(rig.row(3).first(), QString("3"));
    }
};

QM6200_TEST_MAIN(TestJournaling)
#include "tst_journaling.moc"
