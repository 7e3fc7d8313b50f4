// Soak: many acquisitions in one run of the program, against qm6200-sim without pacing.
// Every cycle's rows are checked against the records the simulator lists; memory and open
// file descriptors are compared between the 100th cycle and the last.
//   soak [--cycles N]   (default 1000)
// Prints its figures; exits with 1 when a cycle was wrong, memory grew by more than 5 %,
// or descriptors were left open.

#include "serial/MakeSerialBackend.h"
#include "tests/support/TemporaryHome.h"
#include "tests/support/Window.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>

#include <cstdio>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

constexpr int Records = 99;

long ResidentKiB()
{
    long pages = 0;
    long resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE) / 1024;
}

qsizetype OpenDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::NoDotAndDotDot | QDir::System)
        .size();
}

bool WaitFor(const std::function<bool()>& done, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    // The program's event loop deletes what was let go as it returns to it; processEvents
    // alone never does.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return done();
}

} // namespace

int main(int argc, char* argv[])
{
    // Nothing of the user's is read or written (the journal, the remembered port).
    const qm::test::TemporaryHome home;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qm6200.*=false");
    QApplication app(argc, argv);
    int cycles = 1000;
    const QStringList args = QCoreApplication::arguments();
    if (const qsizetype at = args.indexOf(QStringLiteral("--cycles"));
        at > 0 && at + 1 < args.size())
        cycles = args[at + 1].toInt();
    if (cycles < 100) {
        std::fprintf(stderr, "soak: --cycles takes a number of 100 or more\n");
        return 2;
    }

    QProcess sim;
    sim.start(QStringLiteral(QM6200_SIM),
              {QStringLiteral("--no-pace"), QStringLiteral("--list"), QStringLiteral("--records"),
               QString::number(Records), QStringLiteral("--seed"), QStringLiteral("5")});
    QString device;
    QList<QStringList> expected;
    WaitFor([&] {
        while (sim.canReadLine()) {
            const QStringList words =
                QString::fromLatin1(sim.readLine()).trimmed().split(QLatin1Char(' '));
            if (words.first() == QLatin1String("device"))
                device = words.value(1);
            else if (words.first() == QLatin1String("record"))
                expected << words.mid(1);
        }
        return expected.size() == Records;
    });
    if (device.isEmpty() || expected.size() != Records) {
        std::fprintf(stderr, "soak: the simulator did not start\n");
        return 1;
    }

    MainWindow window(MakeSerialBackend());
    const QStringList& messages = window.messages;
    window.form.show();
    window.choosePort(device);

    int wrong = 0;
    long residentAt100 = 0;
    qsizetype descriptorsAt100 = 0;
    QElapsedTimer clock;
    clock.start();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        window.form.AcquireRecords();
        bool right = WaitFor([&] { return window.store().RxCount == Records; });
        for (int r = 1; right && r <= Records; ++r) {
            right = right && window.row(r) == expected[r - 1];
        }
        if (!right) {
            ++wrong;
            std::fprintf(stderr, "soak: cycle %d wrong (%d records)\n", cycle,
                         int(window.store().RxCount));
        }
        if (cycle == 100) {
            residentAt100 = ResidentKiB();
            descriptorsAt100 = OpenDescriptors();
        }
    }
    const double seconds = double(clock.elapsed()) / 1000.0;
    const long residentAtEnd = ResidentKiB();
    const qsizetype descriptorsAtEnd = OpenDescriptors();
    const double growth = 100.0 * double(residentAtEnd - residentAt100) / double(residentAt100);

    std::printf("cycles: %d (%d records of 42 characters each), wrong: %d, messages: %d\n", cycles,
                Records, wrong, int(messages.size()));
    std::printf("time: %.1f s, %.0f records/s\n", seconds, double(cycles) * Records / seconds);
    std::printf("resident memory: %ld KiB after cycle 100, %ld KiB at the end (%+.2f %%)\n",
                residentAt100, residentAtEnd, growth);
    std::printf("open descriptors: %d after cycle 100, %d at the end\n", int(descriptorsAt100),
                int(descriptorsAtEnd));
    sim.terminate();
    sim.waitForFinished(3000);
    const bool ok =
        wrong == 0 && messages.isEmpty() && growth <= 5.0 && descriptorsAtEnd <= descriptorsAt100;
    std::printf("%s\n", ok ? "soak passed" : "soak FAILED");
    return ok ? 0 : 1;
}
