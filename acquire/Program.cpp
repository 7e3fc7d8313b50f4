#include "acquire/Program.h"

#include "acquire/Acquisition.h"
#include "acquire/History.h"
#include "files/Descriptors.h"
#include "files/Names.h"
#include "files/SafeWrite.h"
#include "journal/JournalReader.h"
#include "journal/JournalWriter.h"
#include "lab/LabSender.h"
#include "lab/LabSettings.h"
#include "lab/LabSync.h"
#include "line/Line.h"
#include "ports/PortList.h"
#include "ports/PortMemory.h"
#include "ports/PortNames.h"
#include "ports/ReturnWatch.h"
#include "ports/SimulatorPorts.h"
#include "process/StopSignals.h"
#include "protocol/CommandFrame.h"
#include "serial/MakeSerialBackend.h"
#include "watch/Watch.h"
#include "watch/WatchCsv.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSysInfo>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace qm::acquire {

namespace {

void Print(int fd, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    WriteAll(fd, std::string_view(bytes.constData(), std::size_t(bytes.size())));
}

// A problem, on standard error, named by the program: a script's log may hold several.
void Tell(const QString& problem)
{
    Print(STDERR_FILENO, QStringLiteral("qm6200-acquire: %1\n").arg(problem));
}

// One line on the terminal, rewritten in place.
class ProgressLine {
public:
    explicit ProgressLine(bool shown)
        : m_shown(shown)
    {
    }
    bool shown() const { return m_shown; }

    void Show(const QString& text)
    {
        if (!m_shown)
            return;
        // Padded over what a longer line before left.
        Print(STDERR_FILENO, QLatin1Char('\r') + text.leftJustified(m_width));
        m_width = text.size();
    }

    void Clear()
    {
        if (!m_shown || m_width == 0)
            return;
        Print(STDERR_FILENO,
              QLatin1Char('\r') + QString(m_width, QLatin1Char(' ')) + QLatin1Char('\r'));
        m_width = 0;
    }

private:
    bool m_shown;
    qsizetype m_width = 0;
};

SaveResult SaveToStandardOutput(std::string_view csv)
{
    if (const int error = WriteAll(STDOUT_FILENO, csv); error != 0)
        return SaveFailure{qt_error_string(error)};
    return {};
}

SaveResult SaveToFile(const QString& path, std::string_view csv)
{
    SaveResult saved = WriteWholeFile(path, csv);
    if (!saved)
        return saved;
    // The file's bytes are on the disk; so must be its name in the folder, before the
    // instrument may be cleared: after a power cut the folder could still show the old file.
    const QString folder = QFileInfo(QFileInfo(path).canonicalFilePath()).absolutePath();
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        if (::fsync(fd) != 0)
            error = errno;
        ::close(fd);
    }
    // Some file systems cannot sync a folder, and need not.
    if (error != 0 && error != EINVAL && error != EROFS)
        return SaveFailure{QStringLiteral("the folder %1 could not be written to the disk: %2")
                               .arg(QDir::toNativeSeparators(folder), qt_error_string(error)),
                           false};
    return {};
}

// The journal a run keeps, unless --no-journal: one that cannot be kept is told at once, on
// a line of its own, even with -q.
std::unique_ptr<JournalWriter> OpenJournal(const Options& options, ProgressLine& progress)
{
    if (!options.journal)
        return nullptr;
    auto journal = std::make_unique<JournalWriter>();
    QObject::connect(journal.get(), &JournalWriter::Failed, journal.get(),
                     [&progress](const QString& message) {
                         progress.Clear();
                         Tell(message);
                     });
    return journal;
}

// The CSV of "history N" where the options send it, then what was written where ("watch 4:
// 10 readings saved to w.csv"), unless quiet.
int Deliver(const Options& options, std::string_view csv, const QString& what)
{
    const SaveResult saved =
        options.toStandardOutput() ? SaveToStandardOutput(csv) : SaveToFile(options.output, csv);
    if (!saved) {
        Tell(SaveProblem(options, saved.Error()));
        return exit_status::CannotWrite;
    }
    if (!options.quiet)
        Print(STDERR_FILENO, QStringLiteral("%1 %2 %3\n")
                                 .arg(what,
                                      options.toStandardOutput() ? QStringLiteral("written to")
                                                                 : QStringLiteral("saved to"),
                                      Destination(options)));
    return exit_status::Success;
}

// "history N" of a watch: its CSV again, the header and its readings' lines, as the watch
// wrote them (all its days in one, for a file a day).
int WriteWatch(const Options& options, const JournalReader& reader, const JournalWatchEntry& entry)
{
    if (options.acquisition != entry.number && !options.quiet)
        Print(STDERR_FILENO, QStringLiteral("acquisition %1 is a reading of the watch %2: its "
                                            "whole CSV follows.\n")
                                 .arg(options.acquisition)
                                 .arg(entry.number));
    const Result<std::string> csv = WatchCsvOf(reader, entry);
    if (!csv) {
        Tell(csv.Reason());
        return exit_status::NoInput;
    }
    return Deliver(options, *csv,
                   QStringLiteral("watch %1: %2")
                       .arg(entry.number)
                       .arg(entry.readings == 1
                                ? QStringLiteral("1 reading")
                                : QStringLiteral("%1 readings").arg(entry.readings)));
}

// "history": the journal's acquisitions listed, or one's records written as CSV. Reads the
// journal alone; the writers may go on meanwhile.
int ShowHistory(const Options& options)
{
    const QString path = DefaultJournalPath();
    JournalReader reader(path);
    if (const Result<> opened = reader.open(); !opened) {
        Tell(opened.Reason());
        return exit_status::NoInput;
    }
    if (options.acquisition == 0) {
        // What the lab's database has not confirmed is marked when one is set.
        const Result<std::optional<LabDatabase>> lab =
            FindLabDatabase({}, DefaultConfigPath(), SystemConfigFolders());
        const bool marked = lab && lab->has_value();
        const QByteArray listing =
            HistoryListing(reader.Entries(), reader.Watches(), marked).toLocal8Bit();
        if (const int error = WriteAll(
                STDOUT_FILENO, std::string_view(listing.constData(), std::size_t(listing.size())));
            error != 0) {
            Tell(QStringLiteral("The list could not be written to standard output: %1.")
                     .arg(qt_error_string(error)));
            return exit_status::CannotWrite;
        }
        return exit_status::Success;
    }
    if (const std::optional<JournalWatchEntry> watch = reader.WatchOf(options.acquisition))
        return WriteWatch(options, reader, *watch);
    if (!reader.Entry(options.acquisition)) {
        Tell(QStringLiteral("there is no acquisition %1 in the journal %2; \"qm6200-acquire "
                            "history\" lists those there are.")
                 .arg(options.acquisition)
                 .arg(QDir::toNativeSeparators(path)));
        return exit_status::NoInput;
    }
    const std::vector<JournalCells> records = reader.Records(options.acquisition);
    const std::string csv = JournalCsv(records);
    return Deliver(options, csv,
                   QStringLiteral("acquisition %1: %2")
                       .arg(options.acquisition)
                       .arg(records.size() == 1
                                ? QStringLiteral("1 record")
                                : QStringLiteral("%1 records").arg(records.size())));
}

// The port to open, in `chosen`: as given, or for "last" the one the desktop program last
// opened, where it is now; waited for as long as --wait-port allows. Returns the exit status
// when there is none to open: "last" with nothing remembered, or an adapter that is not here
// or cannot be told from another like it, which is never opened in its place.
int ChoosePort(const Options& options, const QString& given, QString* chosen)
{
    QString port = given;
    // What is waited for: an adapter by who it is, any other port by its path.
    RememberedPort awaited{SystemLocation(port), {}, {}, {}, {}};
    if (port == QLatin1String("last")) {
        const auto read = ReadRememberedPort(DefaultConfigPath());
        const QString problem = read.Reason();
        const std::optional<RememberedPort> remembered = read.ValueOr(std::nullopt);
        if (!remembered) {
            Tell(QStringLiteral("no port is remembered%1: \"-p last\" uses the port "
                                "qm6200-datalink opened last, and it has opened none here. Give "
                                "the port, such as -p /dev/ttyUSB0, or open it once in "
                                "qm6200-datalink.")
                     .arg(problem.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(problem)));
            return exit_status::Usage;
        }
        if (!remembered->CanReturn()) {
            Tell(QStringLiteral("the port qm6200-datalink opened last, the pseudo-terminal %1, is "
                                "not opened again by its number: once a pseudo-terminal has "
                                "closed, the system gives its number to the next terminal opened, "
                                "which may be another program's. Give the port, such as -p %1 if "
                                "it is still the instrument's.")
                     .arg(remembered->choice));
            return exit_status::PortUnavailable;
        }
        port = remembered->choice;
        awaited = *remembered;
        if (!remembered->IsAdapter())
            awaited.choice = SystemLocation(port);
    } else if (NamesPseudoTerminal(awaited.choice)
               || awaited.choice.startsWith(QLatin1String("/dev/pts/"))) {
        // Taken as it is now: a terminal waited for by its number would be whichever terminal
        // is opened next.
        *chosen = port;
        return exit_status::Success;
    }
    const auto simulators = [&] {
        return awaited.kind == RememberedPort::Kind::Simulator ? RunningSimulators()
                                                               : QStringList();
    };
    auto located = LocateRememberedPort(awaited, FindSerialPorts(), simulators());
    if (!located && options.waitPort.count() > 0) {
        // Told by the kernel when the device folder, udev's records, the simulators' folder or
        // the port's own folder change; looked for again after each.
        QEventLoop waiting;
        ReturnWatch watch(awaited);
        QObject::connect(&watch, &ReturnWatch::Returned, &waiting, [&](const QString& device) {
            located = device;
            waiting.quit();
        });
        QTimer::singleShot(options.waitPort, &waiting, &QEventLoop::quit);
        waiting.exec();
    }
    // An adapter found under another name, or the simulator running now, is opened by the
    // name it has now; any other port that is not there is tried all the same, and its open
    // says why it fails.
    if (awaited.kind == RememberedPort::Kind::Simulator && !located) {
        const qsizetype running = simulators().size();
        if (running == 0)
            Tell(QStringLiteral("the port qm6200-datalink opened last, the instrument simulator, "
                                "is not running. Start qm6200-sim, or give the port, such as "
                                "-p /dev/ttyUSB0."));
        else
            Tell(QStringLiteral("the port qm6200-datalink opened last was the instrument "
                                "simulator, and %1 simulators run now. Give the port of the one "
                                "to use, such as -p %2.")
                     .arg(running)
                     .arg(simulators().value(0)));
        return exit_status::PortUnavailable;
    }
    if (awaited.IsAdapter() && !located) {
        const qsizetype alike = AdaptersAlike(awaited, FindSerialPorts());
        if (alike > 1) {
            Tell(QStringLiteral("the port qm6200-datalink opened last, the adapter %1, cannot be "
                                "told apart: %2 adapters here answer to its vendor, product and "
                                "serial number. Give the port of the one to use, such as "
                                "-p /dev/ttyUSB0.")
                     .arg(awaited.byId.isEmpty() ? awaited.choice : awaited.byId)
                     .arg(alike));
            return exit_status::PortUnavailable;
        }
        Tell(QStringLiteral("the port qm6200-datalink opened last, the adapter %1, is not "
                            "here%2. Give the port, such as -p /dev/ttyUSB0.")
                 .arg(awaited.byId.isEmpty() ? awaited.choice : awaited.byId,
                      awaited.serialNumber.isEmpty()
                          ? QStringLiteral(", or cannot be told from another adapter like "
                                           "it (it has no serial number of its own)")
                          : QString()));
        return exit_status::PortUnavailable;
    }
    if (located && (awaited.IsAdapter() || awaited.kind == RememberedPort::Kind::Simulator))
        port = *located;
    *chosen = port;
    return exit_status::Success;
}

// The port given, chosen as ChoosePort says and opened on a line of its own; none, with the exit
// status in `status`, when it cannot be. For a watch, remembered on the line as the desktop
// program remembers its port, and waited for by the same rules once lost; a single run ends
// with its line.
std::unique_ptr<Line> OpenLine(const Options& options, const QString& given, int* status)
{
    QString portName;
    if (*status = ChoosePort(options, given, &portName); *status != exit_status::Success)
        return nullptr;
    // The names the desktop's port dialog takes, refused with its words.
    const PortChoice choice = InterpretPortText(portName);
    if (choice.kind == PortChoice::Invalid) {
        Tell(choice.problem);
        *status = exit_status::PortUnavailable;
        return nullptr;
    }
    auto line = std::make_unique<Line>(MakeSerialBackend());
    line->Owner().Prepare();
    const PortSelection selection =
        choice.kind == PortChoice::Entry
            ? PortSelection{static_cast<std::int16_t>(choice.entry + 1), {}}
            : PortSelection{1, choice.device};
    if (const Result<> opened = line->Owner().TryOpen(selection); !opened) {
        Tell(opened.Reason());
        *status = exit_status::PortUnavailable;
        return nullptr;
    }
    if (options.command == Command::Watch) {
        const QString opened = selection.PortDevice.isEmpty()
                                   ? PortEntryName(selection.PortNumber - 1)
                                   : selection.PortDevice;
        line->Remember(
            RememberPort(opened, SystemLocation(opened), FindSerialPorts(), RunningSimulators()));
    }
    return line;
}

// With a lab's database set and a journal kept: what this run journals goes there from a thread
// of its own as it comes. None otherwise; a setting that cannot be used is told, and the run
// goes on.
std::unique_ptr<LabSender> StartLabSender(const Options& options, const JournalWriter* journal)
{
    if (!options.journal || !journal)
        return nullptr;
    const Result<std::optional<LabDatabase>> found =
        FindLabDatabase({}, DefaultConfigPath(), SystemConfigFolders());
    if (!found) {
        Tell(found.Reason()
             + QStringLiteral(" Nothing is sent to the lab's database; the journal "
                              "keeps everything."));
        return nullptr;
    }
    if (!*found)
        return nullptr;
    LabSender::Settings settings;
    settings.conninfo = (*found)->conninfo;
    settings.journalPath = DefaultJournalPath();
    settings.host = QSysInfo::machineHostName();
    settings.user = UserName(::geteuid());
    return std::make_unique<LabSender>(settings);
}

// At a run's end: what it journaled goes to the lab's database if it can within a short while;
// the rest waits for the next run or "sync", and is said to.
void SendToLabAtEnd(LabSender* lab, const Options& options)
{
    if (!lab)
        return;
    if (!lab->SendNow(std::chrono::seconds(2)) && !options.quiet)
        Print(STDERR_FILENO, QStringLiteral("not everything reached the lab's database yet: the "
                                            "journal keeps it for the next run or "
                                            "\"qm6200-acquire sync\".\n"));
}

// "watch": the present values of every port given, at the interval, until the count or the
// time is reached or a stop signal comes; a CSV line for each reading as it ends.
int RunWatch(const Options& options)
{
    std::vector<std::unique_ptr<Line>> lines;
    for (const QString& given : options.ports) {
        int status = exit_status::Success;
        lines.push_back(OpenLine(options, given, &status));
        if (!lines.back())
            return status;
    }
    std::vector<Line*> used;
    for (const auto& line : lines)
        used.push_back(line.get());

    Watch::Settings settings;
    JournalWatch& watch = settings.watch;
    watch.program = QStringLiteral("qm6200-acquire");
    watch.version = QStringLiteral(QM6200_VERSION);
    const std::string command = ComposeCommand(VerbRead, ArgumentNow);
    watch.frame = QByteArray(command.data(), qsizetype(command.size()));
    watch.every = options.every;
    watch.ports = options.ports;
    watch.output = options.output;
    watch.decimalSeparator = QLocale().decimalPoint().toStdString();
    settings.intervals = AnswerIntervals(options);
    settings.count = options.count;
    settings.span = options.span;

    StopSignals stop;
    ProgressLine progress(!options.quiet && ::isatty(STDERR_FILENO) == 1);
    const std::unique_ptr<JournalWriter> journal = OpenJournal(options, progress);
    Watch run(used, settings,
              options.toStandardOutput() ? StreamOutput(STDOUT_FILENO)
                                         : FileOutput(options.output));
    run.JournalTo(journal.get());
    // Readings reach the lab's database in batches as they come.
    const std::unique_ptr<LabSender> lab = StartLabSender(options, journal.get());
    if (lab)
        QObject::connect(&run, &Watch::ReadingWritten, lab.get(), &LabSender::Nudge);
    QObject::connect(&run, &Watch::WriteProblem, &run, [&](const QString& problem) {
        progress.Clear();
        Tell(QStringLiteral("the readings could not be written to %1: %2. The watch goes on, and "
                            "the journal keeps every reading: \"qm6200-acquire history\" lists "
                            "the watch, and \"history N\" writes its CSV.")
                 .arg(Destination(options), problem));
    });
    QObject::connect(&run, &Watch::ReadingWritten, &run, [&] {
        progress.Show(QStringLiteral("watching %1: %2 readings, %3 with a note")
                          .arg(options.ports.size() == 1
                                   ? QStringLiteral("1 port")
                                   : QStringLiteral("%1 ports").arg(options.ports.size()))
                          .arg(run.Readings())
                          .arg(run.Noted()));
    });
    QObject::connect(&stop, &StopSignals::Requested, &run,
                     [&run](int signal) { run.Stop(signal); });
    QObject::connect(&run, &Watch::Finished, QCoreApplication::instance(), &QCoreApplication::quit);
    bool started = false;
    QMetaObject::invokeMethod(
        &run,
        [&] {
            started = run.Start();
            if (!started)
                QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    QCoreApplication::exec();
    progress.Clear();
    for (const auto& line : lines)
        line->Unload();
    if (journal)
        journal->WaitUntilWritten();
    SendToLabAtEnd(lab.get(), options);
    if (!started) {
        Tell(QStringLiteral("the readings cannot be written to %1: %2. Nothing was sent.")
                 .arg(Destination(options), run.Problem()));
        return exit_status::CannotWrite;
    }
    if (!options.quiet)
        Print(STDERR_FILENO, QStringLiteral("%1 readings of %2 written to %3, %4 with a note\n")
                                 .arg(run.Readings())
                                 .arg(options.ports.size() == 1
                                          ? QStringLiteral("1 port")
                                          : QStringLiteral("%1 ports").arg(options.ports.size()),
                                      Destination(options))
                                 .arg(run.Noted()));
    if (run.WriteFailed())
        return exit_status::CannotWrite;
    if (run.Signal() > 0)
        return exit_status::Signal + run.Signal();
    return exit_status::Success;
}

// "sync": what the journal holds and the lab's database has not confirmed, sent there.
int RunSync(const Options& options)
{
    const QString path = DefaultJournalPath();
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        Tell(QStringLiteral("there is no journal (%1): nothing to send.")
                 .arg(path.isEmpty() ? QStringLiteral("no folder for it") : path));
        return exit_status::NoInput;
    }
    const Result<std::optional<LabDatabase>> found =
        FindLabDatabase(options.database, DefaultConfigPath(), SystemConfigFolders());
    if (!found) {
        Tell(found.Reason());
        return exit_status::Configuration;
    }
    if (!*found) {
        Tell(QStringLiteral("no lab database is set: give --database CONNINFO, or set database= "
                            "under [lab] in %1.")
                 .arg(DefaultConfigPath()));
        return exit_status::Configuration;
    }
    // The writer brings the journal up to date before it is read, and keeps the marks.
    JournalWriter writer(path);
    QString journalProblem;
    QObject::connect(&writer, &JournalWriter::Failed,
                     [&](const QString& message) { journalProblem = message; });
    writer.WaitUntilWritten();
    JournalReader reader(path);
    if (const Result<> opened = reader.open(); !opened) {
        Tell(opened.Reason());
        return exit_status::NoInput;
    }
    LabServer server;
    server.SetSender(QSysInfo::machineHostName(), UserName(::geteuid()));
    const LabServer::Problem problem = server.Open((*found)->conninfo);
    const auto statusOf = [](LabServer::Fault fault) {
        switch (fault) {
        case LabServer::Fault::None:
            return exit_status::Success;
        case LabServer::Fault::Unreachable:
            return exit_status::PortUnavailable;
        case LabServer::Fault::Refused:
            return exit_status::NoPermission;
        case LabServer::Fault::Settings:
            return exit_status::Configuration;
        }
        return exit_status::Configuration;
    };
    if (problem.fault != LabServer::Fault::None) {
        Tell(problem.text);
        return statusOf(problem.fault);
    }

    StopSignals stop;
    int signal = 0;
    QObject::connect(&stop, &StopSignals::Requested, [&](int which) { signal = which; });
    ProgressLine progress(!options.quiet && ::isatty(STDERR_FILENO) == 1);
    const LabSyncReport report = SyncJournal(
        server, reader, writer,
        [&] {
            QCoreApplication::processEvents();
            return signal != 0;
        },
        [&](const LabSyncReport& sofar) {
            progress.Show(QStringLiteral("sync: %1 sent").arg(sofar.added + sofar.alreadyThere));
        });
    progress.Clear();
    for (const auto& [number, why] : report.refused)
        Tell(QStringLiteral("the lab's database refused acquisition %1: %2. It stays in the "
                            "journal, unsent; the rest went.")
                 .arg(number)
                 .arg(why));
    if (!journalProblem.isEmpty())
        Tell(journalProblem);
    if (report.problem.fault != LabServer::Fault::None)
        Tell(report.problem.text);
    if (!options.quiet)
        Print(STDERR_FILENO,
              QStringLiteral("sync: %1 sent, %2 there already, %3 refused, %4 left\n")
                  .arg(report.added)
                  .arg(report.alreadyThere)
                  .arg(qsizetype(report.refused.size()))
                  .arg(report.left));
    if (report.problem.fault != LabServer::Fault::None)
        return statusOf(report.problem.fault);
    if (report.stopped)
        return exit_status::Signal + signal;
    if (!report.refused.empty())
        return exit_status::RecordsDropped;
    return exit_status::Success;
}

} // namespace

void KeepStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        int ends[2];
        if (::pipe(ends) != 0)
            return;
        // The other end is closed: a pipe with no reader refuses writes (SIGPIPE is
        // ignored), one with no writer is at its end.
        const int kept = fd == STDIN_FILENO ? ends[0] : ends[1];
        if (kept != fd)
            ::dup2(kept, fd);
        for (const int end : ends) {
            if (end != fd)
                ::close(end);
        }
    }
}

int Run(const QList<QByteArray>& arguments)
{
    const ParsedArguments parsed = ParseCommandLine(arguments);
    switch (parsed.kind) {
    case ParsedArguments::Help:
        Print(STDOUT_FILENO, HelpText());
        return exit_status::Success;
    case ParsedArguments::Version:
        Print(STDOUT_FILENO,
              QStringLiteral("qm6200-acquire %1\n").arg(QCoreApplication::applicationVersion()));
        return exit_status::Success;
    case ParsedArguments::Usage:
        Tell(parsed.problem + QStringLiteral("\nTry \"qm6200-acquire --help\" for the options."));
        return exit_status::Usage;
    case ParsedArguments::Run:
        break;
    }
    const Options& options = parsed.options;
    if (options.command == Command::History)
        return ShowHistory(options);
    if (options.command == Command::Sync)
        return RunSync(options);
    if (options.command == Command::Watch)
        return RunWatch(options);

    int status = exit_status::Success;
    const std::unique_ptr<Line> line = OpenLine(options, options.port, &status);
    if (!line)
        return status;
    StopSignals stop;
    ProgressLine progress(!options.quiet && ::isatty(STDERR_FILENO) == 1);
    // Opened beside the run: a journal that cannot be kept is told at once, even with -q,
    // and costs nothing else, not the status, not the clear.
    const std::unique_ptr<JournalWriter> journal = OpenJournal(options, progress);
    Acquisition run(*line, options, [&](std::string_view csv) {
        progress.Clear();
        return options.toStandardOutput() ? SaveToStandardOutput(csv)
                                          : SaveToFile(options.output, csv);
    });
    run.JournalTo(journal.get());
    QObject::connect(&stop, &StopSignals::Requested, &run, &Acquisition::Stop);
    QObject::connect(&run, &Acquisition::Finished, QCoreApplication::instance(),
                     &QCoreApplication::quit);

    QElapsedTimer clock;
    clock.start();
    QTimer ticker;
    ticker.setInterval(200);
    QObject::connect(&ticker, &QTimer::timeout, &run, [&] {
        if (!run.Waiting())
            return;
        progress.Show(QStringLiteral("%1, %2 s")
                          .arg(run.Activity())
                          .arg(double(clock.elapsed()) / 1000, 0, 'f', 1));
    });
    if (progress.shown())
        ticker.start();

    QMetaObject::invokeMethod(&run, &Acquisition::Start, Qt::QueuedConnection);
    QCoreApplication::exec(); // until Finished: the port is closed by then
    ticker.stop();
    progress.Clear();
    // A run that ended has its journal on the disk, the last answer's end included.
    if (journal)
        journal->WaitUntilWritten();
    SendToLabAtEnd(StartLabSender(options, journal.get()).get(), options);

    for (const QString& problem : run.problems())
        Tell(problem);
    if (!options.quiet && !run.summary().isEmpty())
        Print(STDERR_FILENO, run.summary() + QLatin1Char('\n'));
    return ExitStatus(run.outcome());
}

} // namespace qm::acquire
