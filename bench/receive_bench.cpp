// Measures the whole receive path of the main window: bytes from the port, through the
// serial control's one-event-per-byte delivery, the framing and the store, into the echo,
// the status text and the table, with every widget update and repaint (offscreen).
//
// Prints:
//   N chars/s                     the answer to "Acquire Record Data" (100 records)
//   N chars/s                     ten times that answer (most frames then dropped)
//   ratio N                       time for ten times the characters / time for one
//   N% CPU at line rate           the same answer arriving at 9600 baud: the program's CPU
//                                 time over the wall time of the run

#include "bench/Measure.h"
#include "tests/support/TemporaryHome.h"
#include "tests/support/Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace qm;
using namespace qm::test;
using qm::bench::Median;

namespace {

constexpr int Rounds = 5;
// One character at 9600 baud, 8 data bits, no parity, 1 stop bit: 10 bits.
constexpr qint64 LineCharacterNs = 1'041'667;

// The main window on an in-memory port, shown (repaints are part of the cost) and open.
struct Window : MainWindow {
    Window()
    {
        form.show();
        openPort();
    }
    ~Window()
    {
        for (const QString& text : messages)
            std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
};

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Every byte is its own trip through the event loop, with timers and repaints in between.
double SecondsToReceive(Window& window, const QByteArray& stream)
{
    window.form.AcquireRecords();
    QCoreApplication::processEvents();
    // The program's event loop deletes what was let go (the last command's exchange) as it
    // returns to it; processEvents alone never does, and the posted deletions pile up.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QElapsedTimer timer;
    timer.start();
    for (const char byte : stream) {
        window.backend->deliver(QByteArray(1, byte));
        QCoreApplication::processEvents();
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (window.ui.receiveBox->Text().size() != stream.size()) {
        std::fprintf(stderr, "echo incomplete: %lld of %lld characters\n",
                     qlonglong(window.ui.receiveBox->Text().size()), qlonglong(stream.size()));
        std::exit(1);
    }
    return seconds;
}

// Plays the serial line in a child process: one byte every 1.04 ms into a pipe, which the
// program watches as it watches a serial port, with a socket notifier on the descriptor.
// Returns the share of one core that the program (this process alone) used meanwhile.
double CpuShareAtLineRate(Window& window, const QByteArray& stream)
{
    window.form.AcquireRecords();
    QCoreApplication::processEvents();

    int fds[2];
    if (pipe(fds) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t line = fork();
    if (line == 0) {
        close(fds[0]);
        for (qsizetype i = 0; i < stream.size(); ++i) {
            const qint64 at = qint64(start.tv_nsec) + (i + 1) * LineCharacterNs;
            const timespec due{start.tv_sec + time_t(at / 1'000'000'000), long(at % 1'000'000'000)};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) != 0) {
            }
            if (write(fds[1], stream.constData() + i, 1) != 1)
                _exit(1);
        }
        _exit(0);
    }
    close(fds[1]);

    QEventLoop loop;
    QSocketNotifier notifier(fds[0], QSocketNotifier::Read);
    qsizetype received = 0;
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
        char buffer[256];
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0) {
            window.backend->arrive(QByteArray(buffer, n));
            received += n;
        } else {
            notifier.setEnabled(false);
            // Let the last repaint through.
            QTimer::singleShot(50, &loop, &QEventLoop::quit);
        }
    });
    const double cpuStart = CpuSeconds();
    QElapsedTimer clock;
    clock.start();
    loop.exec();
    const double wall = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = CpuSeconds() - cpuStart;
    close(fds[0]);
    waitpid(line, nullptr, 0);
    if (received != stream.size() || window.ui.receiveBox->Text().size() != stream.size()) {
        std::fprintf(stderr, "paced run lost characters: %lld of %lld\n", qlonglong(received),
                     qlonglong(stream.size()));
        std::exit(1);
    }
    return cpu / wall;
}

} // namespace

int main(int argc, char* argv[])
{
    // Nothing of the user's is read or written (the journal, the remembered port).
    const qm::test::TemporaryHome home;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Window window;

    const QByteArray answer = test::RecordAnswer(100);
    const QByteArray tenfold = answer.repeated(10);

    SecondsToReceive(window, answer); // warm up
    std::vector<double> one;
    std::vector<double> ten;
    for (int round = 0; round < Rounds; ++round) {
        one.push_back(SecondsToReceive(window, answer));
        ten.push_back(SecondsToReceive(window, tenfold));
    }
    const double t1 = Median(one);
    const double t10 = Median(ten);
    if (window.store().RxCount != LinkState::StoreSize) {
        std::fprintf(stderr, "store holds %d records, expected %d\n", window.store().RxCount,
                     LinkState::StoreSize);
        return 1;
    }

    std::printf("stream of %lld characters (100 records): %.0f chars/s\n", qlonglong(answer.size()),
                double(answer.size()) / t1);
    std::printf("stream of %lld characters (10 times): %.0f chars/s\n", qlonglong(tenfold.size()),
                double(tenfold.size()) / t10);
    std::printf("ratio %.2f (time for 10 times the characters / time for one)\n", t10 / t1);
    std::fflush(stdout);

    const double share = CpuShareAtLineRate(window, answer);
    std::printf("%.1f%% CPU at line rate (%lld characters paced at 9600 baud)\n", share * 100,
                qlonglong(answer.size()));
    return 0;
}
