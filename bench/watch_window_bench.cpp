// Measures what the watch window adds: the same watch of 8 simulated instruments (qm6200-sim,
// each on its own pseudo-terminal) every second, once as qm6200-acquire runs it, once in the
// desktop program with the watch window open on them (offscreen, drawn as on a screen). Each
// runs as a process of its own; its CPU time comes from the process accounting, the desktop's
// from the watch's start to its end.
//
// Prints each one's CPU share of a core and the difference, with the readings each took, and
// how often the window's chart was drawn whole or in strips.
//   watch_window_bench [SECONDS]    how long each watch runs (default 60)

#include "bench/Measure.h"
#include "serial/MakeSerialBackend.h"
#include "shell/frmMain.h"
#include "shell/frmWatch.h"
#include "tests/support/TemporaryHome.h"
#include "ui/WatchChart.h"
#include "watch/Watch.h"

#include <QApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Instruments = 8;

[[noreturn]] void Fail(const QString& what)
{
    std::fprintf(stderr, "watch_window_bench: %s\n", qPrintable(what));
    std::exit(1);
}

struct Run {
    double cpu = 0;  // s
    double wall = 0; // s
};

// Runs `program` with `arguments` to its end, its standard output into `output`; what it took,
// its start included.
Run Measure(const char* program, const QStringList& arguments, const QString& output)
{
    std::vector<std::string> texts{program};
    for (const QString& argument : arguments)
        texts.push_back(argument.toStdString());
    std::vector<char*> argv;
    for (std::string& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    const auto started = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        if (!output.isEmpty() && !std::freopen(qPrintable(output), "w", stdout))
            _exit(126);
        ::execv(program, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage used{};
    if (::wait4(child, &status, 0, &used) != child || !WIFEXITED(status)
        || WEXITSTATUS(status) != 0)
        Fail(QStringLiteral("%1 failed").arg(QLatin1String(program)));
    return {qm::bench::CpuSeconds(used),
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count()};
}

// The child: the desktop program's main window, its watch window open on the ports, a watch
// every second for `seconds`; what it took and drew on standard output.
int DesktopWatch(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int seconds = std::atoi(argv[2]);
    qm::frmMain::Dialogs dialogs;
    dialogs.splash = [] {
    };
    dialogs.message = [](const QString& text) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    };
    qm::frmMain main(qm::MakeSerialBackend(), std::move(dialogs));
    main.Load();
    main.show();
    main.ShowWatch();
    qm::frmWatch& window = *main.WatchWindow();
    for (int i = 3; i < argc; ++i) {
        if (!window.AddPort(qm::SelectionFor(QString::fromLocal8Bit(argv[i]))))
            return 2;
    }
    window.SetEvery(1, qm::frmWatch::Unit::Seconds);
    QObject::connect(&window, &qm::frmWatch::Finished, &application, &QApplication::quit);
    // From the watch's start to its end: the program's start is not the window's cost.
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const auto started = std::chrono::steady_clock::now();
    window.cmdStart_Click();
    QTimer::singleShot(seconds * 1000, &window, &qm::frmWatch::cmdStop_Click);
    QApplication::exec();
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const qm::WatchChart::Draws draws = window.Chart()->DrawCount();
    std::printf("%lld %lld %d %d %.4f %.4f\n", qlonglong(window.CurrentWatch()->Readings()),
                qlonglong(window.CurrentWatch()->Noted()), draws.whole, draws.strips,
                qm::bench::CpuSeconds(after) - qm::bench::CpuSeconds(before), wall);
    main.Unload();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::string(argv[1]) == "--desktop")
        return DesktopWatch(argc, argv);

    QCoreApplication application(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds < 5)
        Fail(QStringLiteral("give 5 seconds at least"));
    // Nothing of the user's is read or written (the journal, the remembered port).
    const qm::test::TemporaryHome home;
    QTemporaryDir work;

    std::vector<std::unique_ptr<QProcess>> simulators;
    QStringList devices;
    for (int i = 0; i < Instruments; ++i) {
        auto& sim = simulators.emplace_back(std::make_unique<QProcess>());
        sim->start(QStringLiteral(QM6200_SIM), {QStringLiteral("--seed"), QString::number(i + 1)});
        if (!sim->waitForReadyRead(10000))
            Fail(QStringLiteral("qm6200-sim did not start"));
        const QString device = QRegularExpression(QStringLiteral("(/dev/pts/\\d+)"))
                                   .match(QString::fromLocal8Bit(sim->readLine()))
                                   .captured(1);
        if (device.isEmpty())
            Fail(QStringLiteral("qm6200-sim named no device"));
        devices << device;
    }
    QStringList ports;
    for (const QString& device : devices)
        ports << QStringLiteral("-p") << device;

    const Run acquire = Measure(
        QM6200_ACQUIRE,
        QStringList{QStringLiteral("watch"), QStringLiteral("-q"), QStringLiteral("--every"),
                    QStringLiteral("1"), QStringLiteral("--for"), QString::number(seconds),
                    QStringLiteral("-o"), work.filePath(QStringLiteral("watch.csv"))}
            + ports,
        {});
    const QString report = work.filePath(QStringLiteral("desktop.txt"));
    const Run whole = Measure(
        argv[0], QStringList{QStringLiteral("--desktop"), QString::number(seconds)} + devices,
        report);
    QFile drawn(report);
    if (!drawn.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("the desktop run told nothing"));
    const QList<QByteArray> figures = drawn.readAll().trimmed().split(' ');
    const Run desktop{figures.value(4).toDouble(), figures.value(5).toDouble()};
    if (desktop.wall <= 0)
        Fail(QStringLiteral("the desktop run told no times"));

    const double acquireShare = 100 * acquire.cpu / acquire.wall;
    const double desktopShare = 100 * desktop.cpu / desktop.wall;
    std::printf("watch of %d simulated instruments every 1 s for %d s:\n", Instruments, seconds);
    std::printf("  qm6200-acquire watch: %.2f%% of a core (%.2f s in %.1f s)\n", acquireShare,
                acquire.cpu, acquire.wall);
    std::printf("  desktop, watch window open: %.2f%% of a core (%.2f s in %.1f s; %.2f s with "
                "its start)\n",
                desktopShare, desktop.cpu, desktop.wall, whole.cpu);
    std::printf("  the window adds %.2f%% of a core\n", desktopShare - acquireShare);
    std::printf("  desktop readings: %s (%s with a note); chart drawn whole %s times, in strips "
                "%s times\n",
                figures.value(0).constData(), figures.value(1).constData(),
                figures.value(2).constData(), figures.value(3).constData());
    for (auto& sim : simulators) {
        sim->terminate();
        sim->waitForFinished(5000);
    }
    return 0;
}
