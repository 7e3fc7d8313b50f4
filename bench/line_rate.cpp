// What receiving at the line rate costs the program, against the floor of what reading a
// port costs at all. One paced writer sends the same stream, one character per write at
// 9600 baud, to two pseudo-terminals at once: the real program reads one (the main window
// on the serial backend, as an operator runs it), a reader that does nothing but read,
// as cat does, reads the other. Each one's CPU time over the stream gives its share of a
// core; the program's over the reader's is how far it is from the floor.
//
// Prints, as median and range of interleaved runs (five of the 100-record answer, three of
// ten times that, five of the 100-record answer with the chart window open; with --quick three,
// one and three):
//   program N% of a core, floor N%: N× the floor at line rate
// how long the chart takes to draw 201 records whole,
// the delay from the first character after a quiet spell to the program's receive event and
// to the receive box, and how soon the window answers while a device floods the line at
// full pseudo-terminal speed. With --lab, the 100-record answer again, interleaved, in a window
// that sends each acquisition to a lab's database (a local server) and in one that does not.

#include "bench/Measure.h"
#include "serial/MakeSerialBackend.h"
#include "shell/frmChart.h"
#include "tests/support/Files.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/Pty.h"
#include "tests/support/TemporaryHome.h"
#include "tests/support/Window.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace qm;
using namespace qm::test;
using qm::bench::CpuSeconds;
using qm::bench::Median;

namespace {

// One character at 9600 baud, 8 data bits, no parity, 1 stop bit: 10 bits.
constexpr std::chrono::nanoseconds CharacterTime{1'041'667};

// Every time the process gave up the processor: a wakeup, and its cost, each.
long Switches(const rusage& usage)
{
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

rusage Own()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage;
}

// The floor: reads the device until `count` characters came, as they come.
pid_t StartReader(const QString& device, qsizetype count, int ready)
{
    const QByteArray path = device.toLocal8Bit();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int fd = ::open(path.constData(), O_RDONLY | O_NOCTTY);
    const char yes = 1;
    if (fd < 0 || ::write(ready, &yes, 1) != 1)
        ::_exit(1);
    char buffer[4096];
    qsizetype got = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            ::_exit(1);
        got += n;
    }
    ::_exit(0);
}

// The paced writer: each character to both lines, one write each, at the line's pace.
pid_t StartWriter(int first, int second, const QByteArray& stream)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    auto due = std::chrono::steady_clock::now();
    for (const char c : stream) {
        if (::write(first, &c, 1) != 1 || ::write(second, &c, 1) != 1)
            ::_exit(1);
        due += CharacterTime;
        std::this_thread::sleep_until(due);
    }
    ::_exit(0);
}

struct Shares {
    double program; // of a core
    double floor;
    double programWakeups; // per second
    double floorWakeups;
};

// One run: the stream to the program and to the floor at once.
Shares Run(MainWindow& window, const QByteArray& stream)
{
    Pty programLine;
    Pty floorLine;
    if (!window.choosePort(programLine.device)) {
        std::fprintf(stderr, "the program did not open %s\n", qPrintable(programLine.device));
        std::exit(1);
    }
    // An empty table, as at the first acquisition: each record is a new row to draw.
    window.form.ClearTable();
    qsizetype received = 0;
    QEventLoop untilAll;
    const auto counting =
        QObject::connect(window.ui.serialControl, &QmtTxRx::OnComm, &window.form, [&] {
            if (++received == stream.size())
                untilAll.quit();
        });
    window.form.AcquireRecords();
    programLine.read(10); // the command frame

    int ready[2];
    if (::pipe(ready) != 0)
        std::exit(1);
    const pid_t reader = StartReader(floorLine.device, stream.size(), ready[1]);
    char yes = 0;
    if (::read(ready[0], &yes, 1) != 1) {
        std::fprintf(stderr, "the floor's reader did not start\n");
        std::exit(1);
    }
    ::close(ready[0]);
    ::close(ready[1]);

    QElapsedTimer wall;
    wall.start();
    const rusage before = Own();
    const pid_t writer = StartWriter(programLine.master, floorLine.master, stream);
    untilAll.exec();
    const rusage after = Own();
    const double cpu = CpuSeconds(after) - CpuSeconds(before);
    const long switches = Switches(after) - Switches(before);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    QObject::disconnect(counting);

    int status = 0;
    ::waitpid(writer, &status, 0);
    rusage floorUsage{};
    if (::wait4(reader, &status, 0, &floorUsage) < 0 || !WIFEXITED(status)
        || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "the floor's reader failed\n");
        std::exit(1);
    }
    // Closed before its pseudo-terminal goes: a window measured next must not find this one's
    // line lost.
    (void)window.ui.serialControl->setPortOpen(false);
    return {cpu / seconds, CpuSeconds(floorUsage) / seconds, double(switches) / seconds,
            double(Switches(floorUsage)) / seconds};
}

void Report(const char* what, const std::vector<Shares>& runs)
{
    std::vector<double> program;
    std::vector<double> floor;
    std::vector<double> ratio;
    std::vector<double> programWakeups;
    std::vector<double> floorWakeups;
    for (const Shares& run : runs) {
        program.push_back(100 * run.program);
        floor.push_back(100 * run.floor);
        ratio.push_back(run.program / run.floor);
        programWakeups.push_back(run.programWakeups);
        floorWakeups.push_back(run.floorWakeups);
    }
    const auto [low, high] = std::minmax_element(ratio.begin(), ratio.end());
    std::printf("%s, %zu runs: program %.2f%% of a core (%.2f-%.2f), floor %.2f%% (%.2f-%.2f): "
                "%.2f× the floor at line rate (%.2f-%.2f)\n",
                what, runs.size(), Median(program),
                *std::min_element(program.begin(), program.end()),
                *std::max_element(program.begin(), program.end()), Median(floor),
                *std::min_element(floor.begin(), floor.end()),
                *std::max_element(floor.begin(), floor.end()), Median(ratio), *low, *high);
    std::printf("  switches per second: program %.0f, floor %.0f\n", Median(programWakeups),
                Median(floorWakeups));
}

// The delay from a character after a quiet spell to the program's receive event, and to
// the receive box showing it; the median and the longest of 20.
void MeasureFirstCharacter(MainWindow& window)
{
    Pty line;
    window.choosePort(line.device);
    window.form.AcquireRecords();
    line.read(10);
    std::vector<double> event;
    std::vector<double> shown;
    for (int i = 0; i < 20; ++i) {
        // A quiet spell, longer than the gathering and the box's refresh.
        QEventLoop quiet;
        QTimer::singleShot(200, &quiet, &QEventLoop::quit);
        quiet.exec();
        const qsizetype before = window.ui.receiveBox->Text().size();
        QElapsedTimer clock;
        clock.start();
        const char c = char('A' + i % 26);
        if (::write(line.master, &c, 1) != 1)
            std::exit(1);
        while (window.ui.receiveBox->Text().size() == before)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        event.push_back(double(clock.nsecsElapsed()) / 1e6);
        const QChar sent(u'A' + i % 26);
        while (!window.ui.receiveBox->ShownText().endsWith(sent))
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        shown.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("first character after a quiet spell: receive event after %.1f ms (longest "
                "%.1f), shown after %.1f ms (longest %.1f)\n",
                Median(event), *std::max_element(event.begin(), event.end()), Median(shown),
                *std::max_element(shown.begin(), shown.end()));
}

// A device that ignores the baud rate floods the line for a few seconds; meanwhile a timer
// asks the window for a turn every 20 ms. How late the turns come is how long the window
// would keep an operator waiting.
void MeasureFlood(MainWindow& window)
{
    constexpr auto Flood = std::chrono::seconds(3);
    constexpr auto Tick = std::chrono::milliseconds(20);
    Pty line;
    window.choosePort(line.device);
    window.form.AcquireRecords();
    line.read(10);
    const long peakBefore = Own().ru_maxrss;
    const QByteArray stream = RecordAnswer(100).repeated(50);
    const pid_t writer = ::fork();
    if (writer == 0) {
        const auto end = std::chrono::steady_clock::now() + Flood;
        while (std::chrono::steady_clock::now() < end) {
            if (::write(line.master, stream.constData(), std::size_t(stream.size())) < 0)
                ::_exit(1);
        }
        ::_exit(0);
    }
    qsizetype received = 0;
    const auto counting = QObject::connect(window.ui.serialControl, &QmtTxRx::OnComm, &window.form,
                                           [&] { ++received; });
    std::vector<double> late;
    QElapsedTimer sinceTick;
    QElapsedTimer wall;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QEventLoop flooding;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        late.push_back(
            std::max(0.0, double(sinceTick.nsecsElapsed()) / 1e6 - double(Tick.count())));
        sinceTick.start();
        if (wall.hasExpired(std::chrono::milliseconds(Flood).count()))
            flooding.quit();
    });
    wall.start();
    sinceTick.start();
    tick.start(Tick);
    flooding.exec();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    QObject::disconnect(counting);
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    std::printf("a flood at full speed for %.0f s: the window's turn every %d ms came %.1f ms "
                "late at the median, %.1f ms at the longest; %.0f KiB/s read; peak memory "
                "%+.1f MiB\n",
                seconds, int(Tick.count()), Median(late),
                *std::max_element(late.begin(), late.end()), double(received) / 1024 / seconds,
                double(Own().ru_maxrss - peakBefore) / 1024);
}

} // namespace

// A chart of a full store (201 records) drawn whole, as on a resize, a legend click or a new
// scale: into a picture of the chart window's size, as the window keeps it.
void MeasureWholeChart()
{
    ChartData records(201);
    for (int place = 1; place <= 201; ++place)
        records.SetRecord(
            place, DataFrame(place, {place, 7 * place % 100, 3, 400, place % 9}).toStdString(),
            ".");
    CommonDialog neverShown;
    frmChart shown(records, neverShown, [](const QString&) {});
    shown.show();
    const QSize size = shown.Chart()->size();
    QPixmap picture(size);
    std::vector<double> ms;
    for (int draw = 0; draw < 50; ++draw) {
        QElapsedTimer clock;
        clock.start();
        {
            QPainter painter(&picture);
            shown.Chart()->DrawWhole(painter, size);
        }
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("chart of 201 records drawn whole at %dx%d: %.2f ms (median of 50, longest %.2f)\n",
                size.width(), size.height(), Median(ms), *std::max_element(ms.begin(), ms.end()));
}

int main(int argc, char* argv[])
{
    // Nothing of the user's is read or written (the journal, the remembered port).
    const qm::test::TemporaryHome home;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qm6200.*=false");
    QApplication app(argc, argv);
    // --quick: fewer runs (three, one and three), for a figure in about a minute and a half.
    const bool quick = QCoreApplication::arguments().contains(QStringLiteral("--quick"));
    const int runs = quick ? 3 : 5;
    const int longRuns = quick ? 1 : 3;
    MainWindow window(MakeSerialBackend());
    window.form.show();

    const QByteArray answer = RecordAnswer(100);
    const QByteArray tenTimes = answer.repeated(10);
    std::vector<Shares> once;
    std::vector<Shares> ten;
    std::vector<Shares> charted;
    // Interleaved, so that whatever else the machine does falls on every kind alike.
    for (int run = 0; run < runs; ++run) {
        once.push_back(Run(window, answer));
        if (run < longRuns)
            ten.push_back(Run(window, tenTimes));
        window.form.ShowChart();
        charted.push_back(Run(window, answer));
        window.form.ChartWindow()->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    // --lab: the same against a window that sends each acquisition to a lab's database (a
    // throwaway server on this machine), interleaved with one that sends nothing.
    if (QCoreApplication::arguments().contains(QStringLiteral("--lab"))) {
        PostgresServer server;
        if (!server.Ready()) {
            std::fprintf(stderr, "line_rate: %s\n", qPrintable(server.Problem()));
            return 1;
        }
        if (!WriteSettings(LabSettings(server.ConnInfo())))
            return 1;
        MainWindow sending(MakeSerialBackend());
        sending.form.show();
        std::vector<Shares> without;
        std::vector<Shares> with;
        for (int run = 0; run < runs; ++run) {
            without.push_back(Run(window, answer));
            with.push_back(Run(sending, answer));
        }
        Report("4200 characters (100 records), no lab database", without);
        Report("4200 characters (100 records), lab database set", with);
        const QList<QStringList> sent =
            server.Rows(QStringLiteral("SELECT count(*) FROM qm6200.acquisitions"));
        std::printf("  acquisitions in the lab's database at the end: %s (both windows "
                    "journal into one journal, and the one that sends sends it all)\n",
                    qPrintable(sent.value(0).value(0)));
    }
    std::printf("platform: %s\n", qPrintable(QGuiApplication::platformName()));
    Report("4200 characters (100 records)", once);
    Report("42000 characters (10 times)", ten);
    Report("4200 characters (100 records), chart open", charted);
    MeasureWholeChart();
    MeasureFirstCharacter(window);
    MeasureFlood(window);
    for (const QString& text : window.messages)
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    return window.messages.isEmpty() ? 0 : 1;
}
