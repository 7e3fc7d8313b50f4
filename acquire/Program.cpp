#include "acquire/Program.h"

#include "acquire/Acquisition.h"
#include "acquire/History.h"
#include "files/SafeWrite.h"
#include "journal/JournalReader.h"
#include "journal/JournalWriter.h"
#include "line/Line.h"
#include "ports/PortList.h"
#include "ports/PortMemory.h"
#include "ports/PortNames.h"
#include "ports/ReturnWatch.h"
#include "ports/SimulatorPorts.h"
#include "process/StopSignals.h"
#include "serial/MakeSerialBackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace qm::acquire {

namespace {

// Writes all of the bytes; 0, or the error that stopped it.
int WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        bytes.remove_prefix(std::size_t(written));
    }
    return 0;
}

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
        const QByteArray listing = HistoryListing(reader.Entries()).toLocal8Bit();
        if (const int error = WriteAll(
                STDOUT_FILENO, std::string_view(listing.constData(), std::size_t(listing.size())));
            error != 0) {
            Tell(QStringLiteral("The list could not be written to standard output: %1.")
                     .arg(qt_error_string(error)));
            return exit_status::CannotWrite;
        }
        return exit_status::Success;
    }
    if (!reader.Entry(options.acquisition)) {
        Tell(QStringLiteral("there is no acquisition %1 in the journal %2; \"qm6200-acquire "
                            "history\" lists those there are.")
                 .arg(options.acquisition)
                 .arg(QDir::toNativeSeparators(path)));
        return exit_status::NoInput;
    }
    const std::vector<JournalCells> records = reader.Records(options.acquisition);
    const std::string csv = JournalCsv(records);
    const SaveResult saved =
        options.toStandardOutput() ? SaveToStandardOutput(csv) : SaveToFile(options.output, csv);
    if (!saved) {
        Tell(SaveProblem(options, saved.Error()));
        return exit_status::CannotWrite;
    }
    if (!options.quiet)
        Print(STDERR_FILENO,
              QStringLiteral("acquisition %1: %2 %3 %4\n")
                  .arg(options.acquisition)
                  .arg(records.size() == 1 ? QStringLiteral("1 record")
                                           : QStringLiteral("%1 records").arg(records.size()),
                       options.toStandardOutput() ? QStringLiteral("written to")
                                                  : QStringLiteral("saved to"),
                       Destination(options)));
    return exit_status::Success;
}

// The port to open, in `chosen`: as given, or for "last" the one the desktop program last
// opened, where it is now; waited for as long as --wait-port allows. Returns the exit status
// when there is none to open: "last" with nothing remembered, or an adapter that is not here
// or cannot be told from another like it, which is never opened in its place.
int ChoosePort(const Options& options, QString* chosen)
{
    QString port = options.port;
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

    QString portName;
    if (const int status = ChoosePort(options, &portName); status != exit_status::Success)
        return status;
    // The names the desktop's port dialog takes, refused with its words.
    const PortChoice choice = InterpretPortText(portName);
    if (choice.kind == PortChoice::Invalid) {
        Tell(choice.problem);
        return exit_status::PortUnavailable;
    }
    Line line(MakeSerialBackend());
    line.Owner().Prepare();
    const PortSelection selection =
        choice.kind == PortChoice::Entry
            ? PortSelection{static_cast<std::int16_t>(choice.entry + 1), {}}
            : PortSelection{1, choice.device};
    if (const Result<> opened = line.Owner().TryOpen(selection); !opened) {
        Tell(opened.Reason());
        return exit_status::PortUnavailable;
    }

    StopSignals stop;
    ProgressLine progress(!options.quiet && ::isatty(STDERR_FILENO) == 1);
    // Opened beside the run: a journal that cannot be kept is told at once, even with -q,
    // and costs nothing else, not the status, not the clear.
    std::unique_ptr<JournalWriter> journal;
    if (options.journal) {
        journal = std::make_unique<JournalWriter>();
        QObject::connect(journal.get(), &JournalWriter::Failed, journal.get(),
                         [&progress](const QString& message) {
                             progress.Clear();
                             Tell(message);
                         });
    }
    Acquisition run(line, options, [&](std::string_view csv) {
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

    for (const QString& problem : run.problems())
        Tell(problem);
    if (!options.quiet && !run.summary().isEmpty())
        Print(STDERR_FILENO, run.summary() + QLatin1Char('\n'));
    return ExitStatus(run.outcome());
}

} // namespace qm::acquire
