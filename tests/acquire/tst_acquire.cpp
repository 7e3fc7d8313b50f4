// qm6200-acquire: its options, its exit status rule, and the real program against the
// instrument simulator on a pseudo-terminal, beside the desktop program; what it journals and
// gives back from the journal.

#include "acquire/History.h"
#include "acquire/Options.h"
#include "acquire/Outcome.h"
#include "journal/JournalReader.h"
#include "ports/PortMemory.h"
#include "serial/SerialBackend.h"
#include "tests/support/Files.h"
#include "tests/support/Frames.h"
#include "tests/support/Pty.h"
#include "tests/support/Session.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;

namespace {

// The command frames, as the simulator reports them.
const QHash<QString, QString> Frame{
    {"ALL", "02 52 44 44 20 41 4C 4C 03 0D"},
    {"NOW", "02 52 44 44 20 4E 4F 57 03 0D"},
    {"CLR", "02 43 4C 52 20 41 4C 4C 03 0D"},
};

const QByteArray OldContent("\"old\"\r\n");
const QByteArray WatchHeader(
    "\"Time\",\"Port\",\"CNTR1\",\"CNTR2\",\"CNTR3\",\"CNTR4\",\"CNTR5\",\"TOTAL\",\"Note\"\r\n");

// Lines as the desktop's export writes table rows, from what the simulator says it holds.
QByteArray CsvOf(const QList<QStringList>& rows)
{
    QByteArray csv;
    for (const QStringList& cells : rows)
        csv += "\"" + cells.join("\",\"").toLatin1() + "\"\r\n";
    return csv;
}

// The first `count` records of the simulator's answers, its records over and over.
QByteArray RecordsCsv(const Simulator& sim, int count)
{
    QList<QStringList> rows;
    for (int i = 0; i < count; ++i)
        rows << sim.records[i % sim.records.size()];
    return CsvOf(rows);
}

// `count` data frames with fractions, numbered on past 99 as the instrument's two digits are.
QByteArray FractionFrames(int count)
{
    QByteArray frames;
    for (int i = 1; i <= count; ++i)
        frames += QString::asprintf("\x02R%02d,%03d.5,0.250,1.5E2,-0004,00000,162.75\r", i % 100,
                                    i % 1000)
                      .toLatin1();
    return frames;
}

// The user's data folder, for one test's runs of the program: a journal of their own.
class DataHome {
public:
    DataHome()
        : m_before(qgetenv("XDG_DATA_HOME"))
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path()));
    }
    ~DataHome() { qputenv("XDG_DATA_HOME", m_before); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_before;
};

// An instrument the test plays itself: every command frame gets the same answer.
class ScriptedInstrument {
public:
    explicit ScriptedInstrument(QByteArray answer)
        : m_answer(std::move(answer))
        // Held open so that the instrument's end sees no hang-up between two programs.
        , m_slave(::open(QFile::encodeName(m_pty.device).constData(), O_RDWR | O_NOCTTY))
        , m_notifier(m_pty.master, QSocketNotifier::Read)
    {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, [this] {
            char buffer[256];
            const ssize_t n = ::read(m_pty.master, buffer, sizeof buffer);
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] != '\r')
                    continue;
                ++m_commands;
                m_pty.send(m_answer);
            }
        });
    }
    ~ScriptedInstrument() { ::close(m_slave); }

    QString device() const { return m_pty.device; }
    int commands() const { return m_commands; }

private:
    Pty m_pty;
    QByteArray m_answer;
    int m_commands = 0;
    int m_slave;
    QSocketNotifier m_notifier;
};

// qm6200-acquire, run to its end.
struct Run {
    int status = -1;
    QByteArray out;
    QString err;
};

Run RunAcquire(const QStringList& arguments, const QString& locale = {},
               std::function<void(QProcess&)> meanwhile = {})
{
    QProcess process;
    auto environment = QProcessEnvironment::systemEnvironment();
    if (!locale.isEmpty())
        environment.insert("LC_ALL", locale);
    process.setProcessEnvironment(environment);
    process.setChildProcessModifier(UnblockSignals);
    // The build's own program, unless the environment names a copy of it.
    QString program = qEnvironmentVariable("QM6200_ACQUIRE", QStringLiteral(QM6200_ACQUIRE));
    QStringList given = arguments;
    // A QString carries no bytes that are not UTF-8 to a process: the shell's printf makes
    // them from octal escapes ("\0351"), then the shell becomes the program.
    if (given.join(QString()).contains(u'\\')) {
        const QString script =
            R"sh(for a; do shift; set -- "$@" "$(printf %b "$a")"; done; exec "$@")sh";
        given = QStringList{"-c", script, "sh", program} + given;
        program = "/bin/sh";
    }
    process.start(program, given);
    Run run;
    if (!process.waitForStarted(Patience))
        return run;
    if (meanwhile)
        meanwhile(process);
    // With the event loop running: the instrument may be played by this process.
    if (!QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, Patience)
        || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

// A desktop window on the port: "Acquire Record Data", then "Save Data" to `path`.
void DesktopSaves(const QString& port, int records, const QString& path)
{
    Program program(port);
    QVERIFY(program.ui.serialControl->PortOpen());
    program.ui.acquireRecordsButton->click();
    QTRY_COMPARE_WITH_TIMEOUT(program.store().RxCount, records, Patience);
    QTRY_VERIFY_WITH_TIMEOUT(program.ui.saveButton->isEnabled(), Patience);
    program.saveDialog->answer = path;
    program.ui.saveButton->click();
    QCOMPARE(program.messages, QStringList());
}

} // namespace

class TestAcquire : public QObject {
    Q_OBJECT

private slots:
    // What was typed as a port, escape sequences and all, is listed as text: it never sets the
    // terminal's title or clears its screen.
    void theHistoryShowsWhatWasTypedWithoutActingOnIt()
    {
        JournalEntry entry;
        entry.number = 3;
        entry.sent = QDateTime::currentDateTimeUtc();
        entry.port = "/tmp/\x1b]0;owned\x07\x1b[2J";
        entry.program = "qm6200-acquire";
        entry.frame = "\x02RDD ALL\x03\r";
        const QString listing = acquire::HistoryListing({entry});
        QVERIFY2(listing.contains("/tmp/\\x1b]0;owned\\x07\\x1b[2J"), qPrintable(listing));
        QVERIFY(!listing.contains(QChar(0x1b)) && !listing.contains(QChar(0x07)));
    }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("output");
        QTest::addColumn<int>("waitMs");
        QTest::addColumn<int>("idleMs");
        QTest::addColumn<int>("timeoutMs");

        QTest::newRow("defaults") << QStringList{"records", "-p", "COM1"} << true << "" << 5000
                                  << 1000 << 60000;
        QTest::newRow("all given")
            << QStringList{"present", "--port", "/dev/ttyUSB0", "-o",        "-",  "--wait",
                           "0.25",    "--idle", "250",          "--timeout", "90", "-q"}
            << true << "" << 250 << 250 << 90000;
        QTest::newRow("options after the command")
            << QStringList{"records", "--then-clear", "--output", "day 1.csv", "-p", "COM2"} << true
            << "day 1.csv" << 5000 << 1000 << 60000;
        QTest::newRow("no wait at all")
            << QStringList{"records", "-p", "COM1", "--wait", "0"} << false << "" << 0 << 0 << 0;
        QTest::newRow("wait not a number")
            << QStringList{"records", "-p", "COM1", "--wait", "nan"} << false << "" << 0 << 0 << 0;
        QTest::newRow("port waited for no time")
            << QStringList{"records", "-p", "COM1", "--wait-port", "0"} << false << "" << 0 << 0
            << 0;
        QTest::newRow("idle in fractions")
            << QStringList{"records", "-p", "COM1", "--idle", "1.5"} << false << "" << 0 << 0 << 0;
        QTest::newRow("timeout over a day")
            << QStringList{"records", "-p", "COM1", "--timeout", "86401"} << false << "" << 0 << 0
            << 0;
        QTest::newRow("empty output name")
            << QStringList{"records", "-p", "COM1", "-o", ""} << false << "" << 0 << 0 << 0;
        QTest::newRow("two commands")
            << QStringList{"records", "present", "-p", "COM1"} << false << "" << 0 << 0 << 0;
        QTest::newRow("clear names an output")
            << QStringList{"clear", "--yes", "-p", "COM1", "-o", "x.csv"} << false << "" << 0 << 0
            << 0;
        QTest::newRow("history") << QStringList{"history"} << true << "" << 5000 << 1000 << 60000;
        QTest::newRow("history N to a file") << QStringList{"history", "12", "-o", "day.csv", "-q"}
                                             << true << "day.csv" << 5000 << 1000 << 60000;
        QTest::newRow("history N, not a number")
            << QStringList{"history", "twelve"} << false << "" << 0 << 0 << 0;
        QTest::newRow("history's list to a file")
            << QStringList{"history", "-o", "list.txt"} << false << "" << 0 << 0 << 0;
        const QStringList watch{"watch", "-p", "COM1", "-p", "/dev/ttyUSB0"};
        QTest::newRow("watch") << watch + QStringList{"--every", "1.5", "--count", "5"} << true
                               << "" << 5000 << 100 << 60000;
        QTest::newRow("watch, idle given")
            << watch + QStringList{"--every", "60", "--for", "31622400", "--idle", "300"} << true
            << "" << 5000 << 300 << 60000;
        for (const QStringList& wrong :
             {QStringList{}, QStringList{"--every", "0.999"}, QStringList{"--every", "86401"},
              QStringList{"--every", "1", "--count", "3", "--for", "10"},
              QStringList{"--every", "1", "--count", "0"},
              QStringList{"--every", "1", "--for", "31622401"},
              QStringList{"--every", "1", "--then-clear"},
              QStringList{"--every", "1", "-p", "COM1"}})
            QTest::addRow("watch %s", qPrintable(wrong.join(' ')))
                << watch + wrong << false << "" << 0 << 0 << 0;
        QTest::newRow("two ports, one reading")
            << QStringList{"records", "-p", "COM1", "-p", "COM2"} << false << "" << 0 << 0 << 0;
        QTest::newRow("an interval, one reading")
            << QStringList{"present", "-p", "COM1", "--every", "1"} << false << "" << 0 << 0 << 0;
        for (const QStringList& option :
             {QStringList{"-p", "COM1"}, QStringList{"--then-clear"}, QStringList{"--yes"},
              QStringList{"--wait", "1"}, QStringList{"--idle", "300"},
              QStringList{"--timeout", "9"}, QStringList{"--no-journal"}})
            QTest::addRow("history %s", qPrintable(option.first()))
                << QStringList{"history", "3"} + option << false << "" << 0 << 0 << 0;
        QTest::newRow("sync") << QStringList{"sync", "--database", "host=db1 dbname=lab", "-q"}
                              << true << "" << 5000 << 1000 << 60000;
        for (const QStringList& wrong :
             {QStringList{"-p", "COM1"}, QStringList{"-o", "x.csv"}, QStringList{"--every", "1"},
              QStringList{"--database", ""}, QStringList{"now"}})
            QTest::addRow("sync %s", qPrintable(wrong.join(' ')))
                << QStringList{"sync"} + wrong << false << "" << 0 << 0 << 0;
        QTest::newRow("a database, no sync")
            << QStringList{"records", "-p", "COM1", "--database", "dbname=lab"} << false << "" << 0
            << 0 << 0;
    }

    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        const auto parsed = acquire::ParseArguments(QStringList{"qm6200-acquire"} + arguments);
        QCOMPARE(parsed.kind == acquire::ParsedArguments::Run, valid);
        if (!valid) {
            QVERIFY(!parsed.problem.isEmpty());
            return;
        }
        QFETCH(QString, output);
        QFETCH(int, waitMs);
        QFETCH(int, idleMs);
        QFETCH(int, timeoutMs);
        QCOMPARE(parsed.options.output, output);
        QCOMPARE(parsed.options.wait.count(), waitMs);
        QCOMPARE(parsed.options.idle.count(), idleMs);
        QCOMPARE(parsed.options.timeout.count(), timeoutMs);
    }

    // Each span option says which it is and what it takes, with what was given.
    void spanProblems_data()
    {
        QTest::addColumn<QStringList>("option");
        QTest::addColumn<QString>("problem");
        QTest::newRow("--wait") << QStringList{
            "--wait", "0"} << "--wait takes seconds, more than 0 and at most 86400, not \"0\".";
        QTest::newRow("--wait-port")
            << QStringList{"--wait-port", "%1"}
            << "--wait-port takes seconds, more than 0 and at most 86400, not \"%1\".";
        QTest::newRow("--idle") << QStringList{
            "--idle", "1.5"} << "--idle takes whole milliseconds, from 1 to 86400000, not \"1.5\".";
        QTest::newRow("--timeout")
            << QStringList{"--timeout", "86401"}
            << "--timeout takes seconds, more than 0 and at most 86400, not \"86401\".";
    }

    void spanProblems()
    {
        QFETCH(QStringList, option);
        QFETCH(QString, problem);
        const auto parsed = acquire::ParseArguments(
            QStringList{"qm6200-acquire", "records", "-p", "COM1"} + option);
        QCOMPARE(parsed.problem, problem);
    }

    void exitStatusOrder_data()
    {
        QTest::addColumn<int>("from"); // the outcomes from this one on in the order are set
        QTest::addColumn<int>("status");
        QTest::newRow("all") << 0 << 73;
        QTest::newRow("from the signal") << 1 << 128 + SIGTERM;
        QTest::newRow("from the lost line") << 2 << 74;
        QTest::newRow("from the dropped frames") << 3 << 65;
        QTest::newRow("from the refusal") << 4 << 76;
        QTest::newRow("no answer only") << 5 << 75;
        QTest::newRow("none") << 6 << 0;
    }

    void exitStatusOrder()
    {
        QFETCH(int, from);
        QFETCH(int, status);
        acquire::Outcome outcome;
        outcome.writeFailed = from <= 0;
        outcome.signal = from <= 1 ? SIGTERM : 0;
        outcome.lost = from <= 2;
        outcome.dropped = from <= 3 ? 7 : 0;
        outcome.refused = from <= 4;
        outcome.noAnswer = from <= 5;
        QCOMPARE(acquire::ExitStatus(outcome), status);
    }

    // The README and the manual page list the statuses --help lists, in its order; the
    // manual page says which counts where two apply, as the program weighs them.
    void exitStatusesAreDocumentedAlike()
    {
        QStringList statuses;
        for (const acquire::StatusMeaning& entry : acquire::StatusMeanings)
            statuses << entry.status;
        QStringList precedence;
        for (const int status : acquire::StatusPrecedence())
            precedence << (status == acquire::exit_status::Signal ? "128+N"
                                                                  : QString::number(status));
        // "128 + N" as the documents write it.
        const QRegularExpression status(R"(\b(\d+)( \+ N)?\b)");
        auto statusesIn = [&](const QString& text) {
            QStringList found;
            for (const auto& match : status.globalMatch(text))
                found << match.captured(1) + (match.hasCaptured(2) ? "+N" : "");
            return found;
        };
        const QString readme = QString::fromUtf8(Read(QM6200_SOURCE_DIR "/README.md"));
        // What stands in brackets there is an aside ("more than the 201 the store holds").
        const QString sentence = readme.section("The exit status tells scripts what happened:", 1)
                                     .section("(`qm6200-acquire --help`", 0, 0)
                                     .remove(QRegularExpression(R"(\([^)]*\))"));
        QCOMPARE(statusesIn(sentence), statuses);

        const QString manual =
            QString::fromUtf8(Read(QM6200_SOURCE_DIR "/packaging/qm6200-acquire.1"));
        const QString section = manual.section(".SH EXIT STATUS", 1).section("\n.SH ", 0, 0);
        QStringList listed;
        for (const QString& line : section.split('\n')) {
            if (line.startsWith(".B "))
                listed << statusesIn(line.mid(3));
        }
        QCOMPARE(listed, statuses);
        QCOMPARE(
            statusesIn(
                section.section("Where two apply, the first of", 1).section("is the status", 0, 0)),
            precedence);
    }

    // What a run journals, read back as soon as the program has ended: each command sent with
    // its particulars, the bytes answered, the records as the file holds them, and how each
    // answer ended; "history" lists it newest first and gives the file back byte for byte,
    // whatever the locale now. A journal that cannot be written is told, even with -q, and
    // costs nothing else.
    void runsAreJournaled_data()
    {
        QTest::addColumn<QByteArray>("answer");     // empty: the simulator
        QTest::addColumn<QStringList>("simulator"); // its options
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QStringList>("arguments"); // PORT and FILE stand for theirs
        QTest::addColumn<QString>("journal");       // ok, file (in its folder's place), read-only
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said"); // on standard error; empty: nothing
        // "ALL 12 records records": the command, the records kept and how the answer ended,
        // oldest first; none: no journal at all.
        QTest::addColumn<QStringList>("acquisitions");

        const QStringList fast{"--no-pace"};
        const QStringList quietly{"records", "-p", "PORT", "-o", "FILE", "--idle", "300", "-q"};
        const QStringList thenClear = quietly + QStringList{"--then-clear"};
        QTest::newRow("fractions past the 100th, German")
            << FractionFrames(120) << QStringList() << "de_DE.UTF-8" << quietly << "ok" << 0 << ""
            << QStringList{"ALL 120 records records"};
        QTest::newRow("records, then clear")
            << QByteArray() << fast << "C" << thenClear << "ok" << 0 << ""
            << QStringList{"ALL 12 records records", "ALL 12 records records",
                           "CLR 0 records cleared"};
        QTest::newRow("error reply")
            << QByteArray() << (fast + QStringList{"--refuse"}) << "C" << thenClear << "ok" << 76
            << "error reply" << QStringList{"ALL 0 records error reply"};
        QTest::newRow("--no-journal")
            << QByteArray() << fast << "C" << (thenClear + QStringList{"--no-journal"}) << "ok" << 0
            << "" << QStringList();
        QTest::newRow("a file in its folder's place, then clear")
            << QByteArray() << fast << "C" << thenClear << "file" << 0 << "could not be opened"
            << QStringList();
        QTest::newRow("a read-only folder, then clear")
            << QByteArray() << fast << "C" << thenClear << "read-only" << 0 << "could not be opened"
            << QStringList();
    }

    void runsAreJournaled()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, simulator);
        QFETCH(QString, locale);
        QFETCH(QStringList, arguments);
        QFETCH(QString, journal);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(QStringList, acquisitions);
        if (journal == "read-only" && ::geteuid() == 0)
            QSKIP("root may write anywhere; its as-nobody test runs it as an ordinary user");

        const DataHome data;
        if (journal == "file")
            QVERIFY(Write(data.path() + "/qm6200", "not a folder"));
        const QByteArray encodedData = QFile::encodeName(data.path());
        auto restore = qScopeGuard([&] { ::chmod(encodedData.constData(), 0700); });
        if (journal == "read-only")
            QCOMPARE(::chmod(encodedData.constData(), 0500), 0);
        QTemporaryDir dir;
        const QString file = dir.filePath("day1.csv");
        std::optional<Simulator> sim;
        std::optional<ScriptedInstrument> scripted;
        if (answer.isEmpty())
            sim.emplace(simulator);
        else
            scripted.emplace(answer);
        const QString port = sim ? sim->device : scripted->device();
        for (QString& argument : arguments)
            argument = argument == "PORT" ? port : argument == "FILE" ? file : argument;

        const QDateTime before = QDateTime::currentDateTimeUtc();
        const Run run = RunAcquire(arguments, locale);
        const QDateTime after = QDateTime::currentDateTimeUtc();
        QVERIFY2(run.status == status,
                 qPrintable(QString("status %1: %2").arg(run.status).arg(run.err)));
        QVERIFY2(said.isEmpty() ? run.err.isEmpty() : run.err.contains(said), qPrintable(run.err));
        if (status == 0 && sim)
            QCOMPARE(Read(file), RecordsCsv(*sim, 12));

        // Read at once: what the program journaled is on the disk when it has ended.
        Run history = RunAcquire({"history"}, "C");
        if (acquisitions.isEmpty()) {
            QCOMPARE(history.status, 66);
            QVERIFY2(history.err.contains(DefaultJournalPath()), qPrintable(history.err));
            return;
        }
        JournalReader reader;
        const Result<> opened = reader.open();
        QVERIFY2(opened, qPrintable(opened.Reason()));
        const std::vector<JournalEntry> entries = reader.Entries(); // newest first
        QCOMPARE(int(entries.size()), acquisitions.size());
        QCOMPARE(history.status, 0);
        const QStringList lines = QString::fromUtf8(history.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), acquisitions.size());
        for (int i = 0; i < acquisitions.size(); ++i) {
            const JournalEntry& entry = entries[std::size_t(acquisitions.size() - 1 - i)];
            const QString expected = acquisitions[i];
            QCOMPARE(entry.number, qint64(i) + 1);
            QVERIFY(entry.sent >= before && entry.sent <= after);
            QCOMPARE(entry.port, port);
            QCOMPARE(entry.stableName, QString()); // a pseudo-terminal has none
            QCOMPARE(entry.program, QString("qm6200-acquire"));
            QCOMPARE(entry.version, QString(QM6200_VERSION));
            QCOMPARE(entry.frame,
                     QByteArray::fromHex(Frame[expected.section(' ', 0, 0)].toLatin1()));
            QCOMPARE(entry.records, expected.section(' ', 1, 1).toInt());
            QCOMPARE(JournalOutcomeText(entry.outcome), expected.section(' ', 3));
            if (scripted)
                QCOMPARE(reader.Reply(entry.number), answer);

            // Its line: the number, the time in UTC, the port, the command, the records, how
            // the answer ended, the program.
            const QString line = lines[acquisitions.size() - 1 - i];
            const QRegularExpression listed(
                QString(R"(^%1 +\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ +%2 +%3 +%4 +%5 +qm6200-acquire$)")
                    .arg(i + 1)
                    .arg(QRegularExpression::escape(port), entry.frame.mid(1, 7),
                         expected.section(' ', 1, 2), expected.section(' ', 3)));
            QVERIFY2(line.contains(listed), qPrintable(line));
        }

        // The file the run wrote, given back under another locale, to standard output and to
        // a file in the place of another; an acquisition not there is no input.
        if (status == 0) {
            history = RunAcquire({"history", "1"}, "C");
            QVERIFY2(history.status == 0, qPrintable(history.err));
            QCOMPARE(history.out, Read(file));
            const QString again = dir.filePath("again.csv");
            QVERIFY(Write(again, OldContent));
            history = RunAcquire({"history", "1", "-o", again, "-q"}, "C");
            QVERIFY2(history.status == 0 && history.err.isEmpty(), qPrintable(history.err));
            QCOMPARE(Read(again), Read(file));
        }
        const QString unknown = QString::number(acquisitions.size() + 1);
        history = RunAcquire({"history", unknown}, "C");
        QCOMPARE(history.status, 66);
        QVERIFY2(history.err.contains("acquisition " + unknown), qPrintable(history.err));
    }

    // Both programs' files for the same answer, under the same locale.
    void sameBytesAsTheDesktopsSave_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QByteArray>("answer"); // empty: the simulator's 99 records
        QTest::addColumn<QByteArray>("contains");
        QTest::newRow("99 simulated records") << "de_DE.UTF-8" << QByteArray() << QByteArray();
        QTest::newRow("fractions, German")
            << "de_DE.UTF-8"
            << QByteArray("\x02R01,012.5,0.250,1.5E2,-0004,00000,162.75\r"
                          "\x02R02,short\r")
            << QByteArray("\"1\",\"12,5\",\"0,25\",\"150\",\"-4\",\"0\",\"162,75\"\r\n");
        QTest::newRow("fractions, C") << "C" << QByteArray("\x02R01,012.5,00000,00000\r")
                                      << QByteArray("\"1\",\"12.5\",\"0\",\"0\"");
    }

    void sameBytesAsTheDesktopsSave()
    {
        QFETCH(QString, locale);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, contains);
        const QLocale before;
        QLocale::setDefault(QLocale(locale.section('.', 0, 0)));
        QTemporaryDir dir;
        const QString desktop = dir.filePath("desktop.csv");
        const QString acquired = dir.filePath("acquire.csv");

        std::optional<Simulator> sim;
        std::optional<ScriptedInstrument> scripted;
        if (answer.isEmpty())
            sim.emplace(QStringList{"--records", "99", "--no-pace"});
        else
            scripted.emplace(answer);
        const QString port = sim ? sim->device : scripted->device();
        const int records = sim ? 99 : int(answer.count('\r'));

        DesktopSaves(port, records, desktop);
        const Run run =
            RunAcquire({"records", "-p", port, "-o", acquired, "--idle", "300"}, locale);
        QLocale::setDefault(before);
        QVERIFY2(run.status == 0, qPrintable(run.err));

        const QByteArray bytes = Read(acquired);
        QCOMPARE(bytes, Read(desktop));
        QCOMPARE(int(bytes.count("\r\n")), records);
        QVERIFY(bytes.contains(contains));
        if (sim)
            QCOMPARE(bytes, RecordsCsv(*sim, 99));
    }

    // The names given are the bytes given: an argument that Qt would read as another name is
    // refused before anything is sent, and no other file is written in its place.
    void argumentsThatAreNotUtf8AreRefused_data()
    {
        QTest::addColumn<QStringList>("arguments"); // PORT and DIR stand for theirs
        QTest::addColumn<QString>("said");
        QTest::newRow("file") << QStringList{"records",           "-p",          "PORT", "-o",
                                             "DIR/day\\0351.csv", "--then-clear"}
                              << "day\\xe9.csv";
        QTest::newRow("port") << QStringList{"records", "-p", "DIR/tty\\0351", "-o", "DIR/day.csv"}
                              << "tty\\xe9";
    }

    void argumentsThatAreNotUtf8AreRefused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, said);
        Simulator sim({"--no-pace"});
        QTemporaryDir dir;
        // What a name that is not UTF-8 reads as in Qt: U+FFFD for the bad byte.
        const QString other = dir.filePath(QString::fromUtf8("day\uFFFD.csv"));
        QVERIFY(Write(other, OldContent));
        QVERIFY(::symlink(QFile::encodeName(sim.device),
                          QFile::encodeName(dir.filePath(QString::fromUtf8("tty\uFFFD"))))
                == 0);
        const QStringList listed = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System);
        for (QString& argument : arguments)
            argument = argument == "PORT" ? sim.device : argument.replace("DIR", dir.path());

        const Run run = RunAcquire(arguments, "C");
        QVERIFY2(run.status == 64,
                 qPrintable(QString("status %1: %2").arg(run.status).arg(run.err)));
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        QCOMPARE(Read(other), OldContent);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System), listed);
    }

    // A watch of three instruments, one of them silent: a line per reading as it ends, the
    // file appended to or refused, a stop signal that lets the readings under way end; and the
    // journal, whose "history N" gives the same bytes again.
    void watches_data()
    {
        QTest::addColumn<QByteArray>("before"); // the file's content; "-" for standard output
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("status");
        const QByteArray header = WatchHeader;
        QTest::newRow("to a new file") << QByteArray() << 0 << 0;
        QTest::newRow("to standard output") << QByteArray("-") << 0 << 0;
        QTest::newRow("appended, a torn line cut off")
            << header
                   + "\"2026-12-08T16:30:00.012+01:00\",\"A\",\"1\",\"2\",\"3\",\"4\",\"5\","
                     "\"15\",\"\"\r\n\"2026-12-08T16:30:01.0"
            << 0 << 0;
        QTest::newRow("another file refused") << QByteArray("\"1\",\"2\"\r\n") << 0 << 73;
        QTest::newRow("stopped") << QByteArray() << int(SIGTERM) << 128 + SIGTERM;
    }

    void watches()
    {
        QFETCH(QByteArray, before);
        QFETCH(int, signal);
        QFETCH(int, status);
        const DataHome data;
        QTemporaryDir dir;
        const QString file = dir.filePath("watch.csv");
        if (!before.isEmpty() && before != "-")
            QVERIFY(Write(file, before));
        ScriptedInstrument a(DataFrame(0, {1, 2, 3, 4, 5})), b(DataFrame(0, {10, 20, 30, 40, 50}));
        ScriptedInstrument silent{QByteArray()};
        QStringList arguments{"watch",    "--every", "1",        "--wait", "0.5",          "-p",
                              a.device(), "-p",      b.device(), "-p",     silent.device()};
        if (signal == 0)
            arguments << "--count"
                      << "2";
        if (before != "-")
            arguments << "-o" << file;
        const Run run = RunAcquire(arguments, "C", [&](QProcess& process) {
            if (signal == 0)
                return;
            QTRY_VERIFY_WITH_TIMEOUT(a.commands() >= 2, Patience);
            ::kill(pid_t(process.processId()), signal);
        });
        QVERIFY2(run.status == status,
                 qPrintable(QString("status %1: %2").arg(run.status).arg(run.err)));
        if (status == 73) {
            QCOMPARE(Read(file), before);
            QCOMPARE(a.commands() + b.commands() + silent.commands(), 0);
            return;
        }
        const QByteArray written = before == "-" ? run.out : Read(file);
        QVERIFY(written.endsWith("\r\n"));
        QByteArray mine = written;
        if (!before.isEmpty() && before != "-") {
            // What was whole stays; the torn line goes, and the first new line says so.
            const QByteArray kept = before.left(before.lastIndexOf("\r\n") + 2);
            QVERIFY(written.startsWith(kept));
            mine = WatchHeader + written.mid(kept.size());
            QVERIFY(mine.split('\n').at(1).contains("torn line"));
        }
        const QList<QByteArray> lines = mine.chopped(1).split('\n');
        QCOMPARE(lines.first() + '\n', WatchHeader);
        const QRegularExpression line(
            "^\"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d\","
            "\"([^\"]+)\",(.*)$");
        QMap<QString, int> perPort;
        for (const QByteArray& text : lines.mid(1)) {
            QVERIFY(text.endsWith('\r'));
            const auto match = line.match(QString::fromLatin1(text.chopped(1)));
            QVERIFY2(match.hasMatch(), text.constData());
            const QString port = match.captured(1);
            ++perPort[port];
            if (port == silent.device())
                QCOMPARE(match.captured(2), QString(R"("","","","","","",)") + "\"no answer\"");
            else if (port == a.device() && !text.contains("torn"))
                QCOMPARE(match.captured(2), QString(R"("1","2","3","4","5","15","")"));
        }
        if (signal == 0) {
            QCOMPARE(perPort.value(a.device()), 2);
            QCOMPARE(perPort.value(b.device()), 2);
            QCOMPARE(perPort.value(silent.device()), 2);
            QCOMPARE(a.commands(), 2);
        }

        // One line in the history, the newest; its number gives the watch's own lines again.
        const Run history = RunAcquire({"history"}, "C");
        QCOMPARE(history.status, 0);
        const QString newest = QString::fromUtf8(history.out).section('\n', 0, 0);
        QVERIFY2(newest.contains("RDD NOW every 1 s"), qPrintable(newest));
        const Run again = RunAcquire({"history", newest.section(' ', 0, 0)}, "C");
        QCOMPARE(again.status, 0);
        QCOMPARE(again.out, mine);
    }

    void outcomes_data()
    {
        QTest::addColumn<QStringList>("simulator"); // its options; none: no simulator
        QTest::addColumn<QString>("port"); // sim, busy (the test holds it), held (the line keeps
                                           // what is written), missing, node
        QTest::addColumn<QStringList>("arguments"); // PORT and FILE stand for theirs
        QTest::addColumn<bool>("readOnly");         // FILE may not be written
        QTest::addColumn<int>("signal");            // sent once the first answer is out
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");         // on standard error
        QTest::addColumn<int>("written");          // records in FILE (or on standard output);
                                                   // -1 nothing, -2 some of them
        QTest::addColumn<QStringList>("received"); // the commands the simulator got

        const QStringList fast{"--no-pace"};
        const QStringList toFile{"records", "-p", "PORT", "-o", "FILE", "--idle", "300"};
        const QStringList thenClear = toFile + QStringList{"--then-clear"};
        const QStringList all{"ALL"};

        // Success.
        QTest::newRow("records") << fast << "sim" << toFile << false << 0 << 0
                                 << "12 records saved to " << 12 << all;
        QTest::newRow("records to standard output")
            << fast << "sim" << QStringList{"records", "-p", "PORT", "-o", "-", "--idle", "300"}
            << false << 0 << 0 << "12 records written to standard output" << 12 << all;
        QTest::newRow("present") << fast << "sim"
                                 << QStringList{"present", "-p", "PORT", "--idle", "300"} << false
                                 << 0 << 0 << "1 record written" << 1 << QStringList{"NOW"};
        QTest::newRow("records, then clear")
            << fast << "sim" << thenClear << false << 0 << 0
            << "; the instrument's records were cleared" << 12 << QStringList{"ALL", "ALL", "CLR"};
        QTest::newRow("clear") << fast << "sim"
                               << QStringList{"clear", "--yes", "-p", "PORT", "--idle", "300"}
                               << false << 0 << 0 << "the instrument's records were cleared" << -1
                               << QStringList{"CLR"};
        QTest::newRow("a record beyond the 100th")
            << (fast + QStringList{"--records", "99", "--repeat", "2"}) << "sim" << toFile << false
            << 0 << 0 << "198 records saved to " << 198 << all;

        // Bad usage: nothing is sent.
        const QStringList none;
        QTest::newRow("no command") << fast << "sim" << QStringList{"-p", "PORT"} << false << 0
                                    << 64 << "no command" << -1 << none;
        QTest::newRow("no port") << none << "" << QStringList{"records"} << false << 0 << 64
                                 << "no port" << -1 << none;
        QTest::newRow("unknown option") << fast << "sim" << (toFile + QStringList{"--fast"})
                                        << false << 0 << 64 << "--help" << -1 << none;
        QTest::newRow("clear without --yes") << fast << "sim" << QStringList{"clear", "-p", "PORT"}
                                             << false << 0 << 64 << "--yes" << -1 << none;
        QTest::newRow("--then-clear with present")
            << fast << "sim" << QStringList{"present", "-p", "PORT", "-o", "FILE", "--then-clear"}
            << false << 0 << 64 << "--then-clear" << -1 << none;
        QTest::newRow("--then-clear with clear")
            << fast << "sim" << QStringList{"clear", "--yes", "-p", "PORT", "--then-clear"} << false
            << 0 << 64 << "--then-clear" << -1 << none;
        QTest::newRow("--then-clear to standard output")
            << fast << "sim" << QStringList{"records", "-p", "PORT", "--then-clear"} << false << 0
            << 64 << "--then-clear" << -1 << none;

        // The port: the desktop's messages.
        QTest::newRow("no such device")
            << none << "missing" << toFile << false << 0 << 69
            << "ttyUSB9 does not exist on this computer. Plug in the USB adapter" << -1 << none;
        QTest::newRow("not a serial line")
            << none << "node" << toFile << false << 0 << 69 << "is not a serial port" << -1 << none;
        QTest::newRow("in use") << fast << "busy" << toFile << false << 0 << 69
                                << "is in use by another program" << -1 << none;
        // The port the desktop program opened last; one that appears while it is waited for.
        const QStringList present{"present", "-p", "PORT", "--idle", "300"};
        QTest::newRow("-p last") << fast << "last"
                                 << QStringList{"present", "-p", "last", "--idle", "300"} << false
                                 << 0 << 0 << "1 record written" << 1 << QStringList{"NOW"};
        QTest::newRow("-p last, a terminal by its number")
            << fast << "last pty" << QStringList{"present", "-p", "last"} << false << 0 << 69
            << "not opened again by its number" << -1 << none;
        QTest::newRow("-p last, nothing remembered")
            << fast << "unremembered" << QStringList{"present", "-p", "last"} << false << 0 << 64
            << "no port is remembered" << -1 << none;
        QTest::newRow("--wait-port, the port appears")
            << fast << "appears" << (present + QStringList{"--wait-port", "20"}) << false << 0 << 0
            << "1 record written" << 1 << QStringList{"NOW"};
        QTest::newRow("--wait-port, the port never appears")
            << none << "missing" << QStringList{"present", "-p", "PORT", "--wait-port", "1"}
            << false << 0 << 69 << "ttyUSB9 does not exist" << -1 << none;

        // The store full: written, counted.
        const QStringList overfull = fast + QStringList{"--records", "99", "--repeat", "3"};
        QTest::newRow("store full") << overfull << "sim" << toFile << false << 0 << 65
                                    << "96 more data frames" << 201 << all;
        QTest::newRow("store full, then clear") << overfull << "sim" << thenClear << false << 0
                                                << 65 << "Nothing was cleared" << 201 << all;

        // No answer, or none complete.
        QTest::newRow("silent") << (fast + QStringList{"--records", "0"}) << "sim"
                                << (toFile + QStringList{"--wait", "0.3"}) << false << 0 << 75
                                << "no answer from the instrument on " << -1 << all;
        QTest::newRow("not complete within --timeout")
            << QStringList{"--records", "99"} << "sim"
            << (thenClear + QStringList{"--timeout", "1"}) << false << 0 << 75
            << "no answer from the instrument on " << -2 << all;
        QTest::newRow("broken off in a frame")
            << (fast + QStringList{"--records", "3", "--never-close"}) << "sim" << thenClear
            << false << 0 << 75 << "in the middle of a frame" << 3 << all;

        // Refused.
        QTest::newRow("error reply") << (fast + QStringList{"--refuse"}) << "sim" << thenClear
                                     << false << 0 << 76 << "error reply" << -1 << all;
        QTest::newRow("a record stored before the clear")
            << (fast + QStringList{"--store-after-read"}) << "sim" << thenClear << false << 0 << 76
            << "other records (13 now, 12 saved)" << 12 << QStringList{"ALL", "ALL"};
        QTest::newRow("clear refused after saving")
            << (fast + QStringList{"--refuse-clear"}) << "sim" << thenClear << false << 0 << 76
            << "did not confirm the clear" << 12 << QStringList{"ALL", "ALL", "CLR"};
        QTest::newRow("clear refused") << (fast + QStringList{"--refuse-clear"}) << "sim"
                                       << QStringList{"clear", "--yes", "-p", "PORT"} << false << 0
                                       << 76 << "error reply" << -1 << QStringList{"CLR"};

        // Lost in the middle: 200 characters are four whole frames and part of the fifth.
        const QStringList hangsUp = fast + QStringList{"--hangup-after", "200"};
        QTest::newRow("hang-up") << hangsUp << "sim" << toFile << false << 0 << 74 << "was lost"
                                 << 4 << all;
        QTest::newRow("hang-up, then clear") << hangsUp << "sim" << thenClear << false << 0 << 74
                                             << "Nothing was cleared" << 4 << all;
        // The line's output stopped: the command never leaves, and never goes out later.
        QTest::newRow("command held by the line") << fast << "held" << thenClear << false << 0 << 74
                                                  << "was not sent" << -1 << QStringList{};

        // The file.
        QTest::newRow("file not written, then clear")
            << fast << "sim" << thenClear << true << 0 << 73 << "could not be saved to " << -1
            << all;

        // Stop signals, while the answer is in but the line not yet quiet long enough.
        const QStringList waiting{"records", "-p",           "PORT",   "-o",
                                  "FILE",    "--then-clear", "--idle", "60000"};
        QTest::newRow("SIGTERM") << fast << "sim" << waiting << false << SIGTERM << 128 + SIGTERM
                                 << "stopped by SIGTERM" << 12 << all;
        QTest::newRow("SIGINT") << fast << "sim" << waiting << false << SIGINT << 128 + SIGINT
                                << "stopped by SIGINT" << 12 << all;
        QTest::newRow("SIGHUP") << fast << "sim" << waiting << false << SIGHUP << 128 + SIGHUP
                                << "stopped by SIGHUP" << 12 << all;
        QTest::newRow("SIGQUIT") << fast << "sim" << waiting << false << SIGQUIT << 128 + SIGQUIT
                                 << "stopped by SIGQUIT" << 12 << all;
    }

    void outcomes()
    {
        QFETCH(QStringList, simulator);
        QFETCH(QString, port);
        QFETCH(QStringList, arguments);
        QFETCH(bool, readOnly);
        QFETCH(int, signal);
        QFETCH(int, status);
        QFETCH(QString, said);
        QFETCH(int, written);
        QFETCH(QStringList, received);

        QTemporaryDir dir;
        const QString file = dir.filePath("day1.csv");
        QVERIFY(Write(file, OldContent));
        if (readOnly)
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup));

        std::optional<Simulator> sim;
        if (!simulator.isEmpty())
            sim.emplace(simulator);
        std::optional<SerialBackend> holder;
        QString device;
        int held = -1; // the line, opened by the test to stop its output
        const QString config = DefaultConfigPath();
        QFile::remove(config);
        if (port == "sim" || port == "busy" || port == "held" || port == "unremembered"
            || port.startsWith("last")) {
            device = sim->device;
        } else if (port == "appears") {
            device = dir.filePath("instrument");
        } else if (port == "missing") {
            device = dir.filePath("ttyUSB9");
        } else if (port == "node") {
            device = dir.filePath("null");
            // A harmless device (1:3) where it can be made, else a named pipe: neither is a line.
            const QByteArray path = QFile::encodeName(device);
            QVERIFY(::mknod(path.constData(), S_IFCHR | 0600, makedev(1, 3)) == 0
                    || ::mkfifo(path.constData(), 0600) == 0);
        }
        if (port == "busy") {
            holder.emplace();
            QVERIFY(holder->open(device, {}));
        }
        if (port == "last") // the simulator, found again by its announcement
            QVERIFY(WriteRememberedPort(RememberPort(device, device, {}, {device}), config));
        if (port == "last pty")
            QVERIFY(WriteRememberedPort({device, {}, {}, {}, {}}, config));
        const QByteArray remembered = Read(config);
        if (port == "held") {
            held = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
            QVERIFY(held >= 0);
            QCOMPARE(::tcflow(held, TCOOFF), 0);
        }
        for (QString& argument : arguments) {
            if (argument == "PORT")
                argument = device;
            else if (argument == "FILE")
                argument = file;
        }

        const Run run = RunAcquire(arguments, {}, [&](QProcess& process) {
            if (port == "appears")
                QVERIFY(::symlink(QFile::encodeName(sim->device).constData(),
                                  QFile::encodeName(device).constData())
                        == 0);
            if (signal == 0)
                return;
            QTRY_VERIFY_WITH_TIMEOUT(sim->replies >= 1, Patience);
            ::kill(pid_t(process.processId()), signal);
        });
        if (held >= 0) {
            ::tcflow(held, TCOON);
            ::close(held);
        }
        QVERIFY2(run.status == status,
                 qPrintable(QString("status %1: %2").arg(run.status).arg(run.err)));
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        // It reads what the desktop program remembers, never writes it.
        QCOMPARE(Read(config), remembered);

        // What was written, where it was to go.
        const bool toFile = arguments.contains(file);
        const QByteArray content = toFile ? Read(file) : run.out;
        if (toFile)
            QCOMPARE(run.out, QByteArray());
        else
            QCOMPARE(Read(file), OldContent);
        if (written == -1) {
            QCOMPARE(content, toFile ? OldContent : QByteArray());
        } else if (written == -2) {
            const qsizetype lines = content.count("\r\n");
            QVERIFY2(lines > 0 && lines < sim->records.size(), qPrintable(QString::number(lines)));
            QCOMPARE(content, RecordsCsv(*sim, int(lines)));
        } else if (arguments.first() == "present") {
            QCOMPARE(content, CsvOf({sim->present}));
        } else {
            QCOMPARE(content, RecordsCsv(*sim, written));
        }

        if (!sim)
            return;
        // The commands on the wire. Once the program has ended, a command of the test's own
        // comes after anything it sent: when that is reported, everything it sent has been.
        if (simulator.contains("--hangup-after")) {
            QTRY_VERIFY_WITH_TIMEOUT(sim->hungUp, Patience);
        } else {
            if (!holder) {
                holder.emplace();
                // Also tells that the program closed the port and freed its lock.
                const Result<> opened = holder->open(device, {});
                QVERIFY2(opened, qPrintable(opened.Reason()));
            }
            QVERIFY(holder->write("\x02RDD NOW\x03\r"));
            received << "NOW";
        }
        QStringList frames;
        for (const QString& name : received)
            frames << Frame[name];
        QTRY_COMPARE_WITH_TIMEOUT(sim->received, frames, Patience);
    }
};

QM6200_TEST_MAIN(TestAcquire)
#include "tst_acquire.moc"
