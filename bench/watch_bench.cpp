// Measures a watch as the operator runs it: one qm6200-acquire watch process reading 8
// simulated instruments (qm6200-sim, each on its own pseudo-terminal) every second.
//
// Prints the readings present against those due, each command's lateness against its due
// time (median, 99th percentile, maximum; from the times the CSV gives, against the first
// reading's time plus whole intervals), the process's CPU share, its resident memory after
// 10 s and at the end, and the journal's growth per reading.
//   watch_bench [SECONDS] [--lab]    how long the watch runs (default 120); with --lab, a lab's
//                                    database set (a server on this machine), and whether each
//                                    reading is there within 5 s of its time

#include "bench/Measure.h"
#include "tests/support/Files.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TemporaryHome.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <signal.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Instruments = 8;

[[noreturn]] void Fail(const QString& what)
{
    std::fprintf(stderr, "watch_bench: %s\n", qPrintable(what));
    std::exit(1);
}

qint64 JournalBytes(const QString& folder)
{
    qint64 bytes = 0;
    for (const char* name : {"journal.sqlite3", "journal.sqlite3-wal"})
        bytes += QFileInfo(folder + QStringLiteral("/qm6200/") + QLatin1String(name)).size();
    return bytes;
}

// Runs qm6200-acquire with `arguments` to its end; its resource use in `usage`, and its memory
// after 10 s in `early` when it runs that long. `tick` is called about once a second while it
// runs.
int Acquire(const QStringList& arguments, rusage* usage = nullptr, long* early = nullptr,
            const std::function<void()>& tick = {})
{
    std::vector<std::string> texts{"qm6200-acquire"};
    for (const QString& argument : arguments)
        texts.push_back(argument.toStdString());
    std::vector<char*> argv;
    for (std::string& text : texts)
        argv.push_back(text.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execv(QM6200_ACQUIRE, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage used{};
    const auto started = std::chrono::steady_clock::now();
    for (;;) {
        const pid_t ended = ::wait4(child, &status, WNOHANG, &used);
        if (ended == child)
            break;
        if (ended < 0)
            Fail(QStringLiteral("qm6200-acquire could not be waited for"));
        std::this_thread::sleep_for(std::chrono::milliseconds(tick ? 1000 : 100));
        if (early && *early == 0
            && std::chrono::steady_clock::now() - started >= std::chrono::seconds(10))
            *early = qm::bench::ResidentKiB(child);
        if (tick)
            tick();
    }
    if (!WIFEXITED(status))
        Fail(QStringLiteral("qm6200-acquire did not end by itself"));
    if (usage)
        *usage = used;
    return WEXITSTATUS(status);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const int seconds =
        argc > 1 && arguments[1] != QLatin1String("--lab") ? std::atoi(argv[1]) : 120;
    const bool lab = arguments.contains(QStringLiteral("--lab"));
    if (seconds < 12)
        Fail(QStringLiteral("give 12 seconds at least: memory is read after 10"));
    // Nothing of the user's is read or written (the journal, the remembered port).
    const qm::test::TemporaryHome home;
    QTemporaryDir work;

    std::vector<std::unique_ptr<QProcess>> simulators;
    QStringList ports;
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
        ports << QStringLiteral("-p") << device;
    }

    // --lab: a lab's database set, a throwaway server on this machine.
    std::unique_ptr<qm::test::PostgresServer> server;
    const auto readingsSent = [&] {
        return server
            ->Rows(QStringLiteral("SELECT count(*) FROM qm6200.acquisitions WHERE watch "
                                  "IS NOT NULL"))
            .value(0)
            .value(0)
            .toLongLong();
    };
    if (lab) {
        server = std::make_unique<qm::test::PostgresServer>();
        if (!server->Ready())
            Fail(server->Problem());
        if (!qm::test::WriteSettings(qm::test::LabSettings(server->ConnInfo())))
            Fail(QStringLiteral("the settings could not be written"));
    }

    // A first reading of each makes the journal, so that what the watch adds is its own.
    if (Acquire(QStringList{QStringLiteral("watch"), QStringLiteral("-q"),
                            QStringLiteral("--every"), QStringLiteral("1"),
                            QStringLiteral("--count"), QStringLiteral("1"), QStringLiteral("-o"),
                            work.filePath(QStringLiteral("first.csv"))}
                + ports)
        != 0)
        Fail(QStringLiteral("the first watch failed"));
    const QString data = qEnvironmentVariable("XDG_DATA_HOME");
    const qint64 journalBefore = JournalBytes(data);

    const QString file = work.filePath(QStringLiteral("watch.csv"));
    rusage usage{};
    long early = 0;
    // With the lab's database: once a second, the readings whose time is 5 s past against
    // those the server holds.
    const qint64 sentBefore = lab ? readingsSent() : 0;
    qint64 worstShort = 0;
    int checks = 0;
    int short5s = 0;
    const auto check = [&] {
        QFile written(file);
        if (!written.open(QIODevice::ReadOnly))
            return;
        const qint64 due = QDateTime::currentMSecsSinceEpoch() - 5000;
        qint64 past = 0;
        for (const QByteArray& line : written.readAll().split('\n')) {
            const QDateTime time = QDateTime::fromString(
                QString::fromLatin1(line.split(',').value(0).mid(1).chopped(1)), Qt::ISODateWithMs);
            if (time.isValid() && time.toMSecsSinceEpoch() <= due)
                ++past;
        }
        const qint64 missing = past - (readingsSent() - sentBefore);
        ++checks;
        if (missing > 0)
            ++short5s;
        worstShort = std::max(worstShort, missing);
    };
    const auto started = std::chrono::steady_clock::now();
    const int status =
        Acquire(QStringList{QStringLiteral("watch"), QStringLiteral("-q"),
                            QStringLiteral("--every"), QStringLiteral("1"), QStringLiteral("--for"),
                            QString::number(seconds), QStringLiteral("-o"), file}
                    + ports,
                &usage, &early, lab ? std::function<void()>(check) : std::function<void()>());
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (status != 0)
        Fail(QStringLiteral("the watch ended with status %1").arg(status));
    const long peak = usage.ru_maxrss;

    QFile csv(file);
    if (!csv.open(QIODevice::ReadOnly))
        Fail(QStringLiteral("no CSV"));
    QList<QByteArray> lines = csv.readAll().split('\n');
    lines.removeFirst(); // the header
    std::vector<qint64> times;
    int present = 0;
    int noted = 0;
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> fields = line.trimmed().split(',');
        const QDateTime time = QDateTime::fromString(
            QString::fromLatin1(fields.value(0).mid(1).chopped(1)), Qt::ISODateWithMs);
        times.push_back(time.toMSecsSinceEpoch());
        if (fields.value(8) == "\"\"")
            ++present;
        else
            ++noted;
    }
    if (times.empty())
        Fail(QStringLiteral("the CSV holds no reading"));
    const qint64 first = *std::min_element(times.begin(), times.end());
    std::vector<double> lateness;
    for (const qint64 time : times) {
        const qint64 since = time - first;
        lateness.push_back(double(since - std::llround(double(since) / 1000) * 1000));
    }
    std::sort(lateness.begin(), lateness.end());
    const double p99 = lateness[std::min(lateness.size() - 1, lateness.size() * 99 / 100)];

    const int due = Instruments * seconds;
    const qint64 journalAfter = JournalBytes(data);
    std::printf("watch of %d simulated instruments every 1 s for %d s:\n", Instruments, seconds);
    std::printf("  readings present: %d of %d (%d with a note)\n", present, due, noted);
    std::printf("  lateness against the due time: median %.0f ms, 99th percentile %.0f ms, "
                "maximum %.0f ms\n",
                qm::bench::Median(lateness), p99, lateness.back());
    std::printf("  CPU: %.2f%% of a core (%.2f s in %.1f s)\n",
                100 * qm::bench::CpuSeconds(usage) / wall, qm::bench::CpuSeconds(usage), wall);
    std::printf("  memory: %.2f MiB after 10 s, %.2f MiB at its largest (%+.2f MiB)\n",
                double(early) / 1024, double(peak) / 1024, double(peak - early) / 1024);
    std::printf("  journal: %.0f bytes per reading (%lld bytes for %zu readings)\n",
                double(journalAfter - journalBefore) / double(times.size()),
                qlonglong(journalAfter - journalBefore), times.size());
    if (lab)
        std::printf("  lab's database: %lld readings there at the end; of %d checks once a second, "
                    "%d found a reading 5 s old not there yet (at most %lld)\n",
                    qlonglong(readingsSent() - sentBefore), checks, short5s, qlonglong(worstShort));
    for (auto& sim : simulators) {
        sim->terminate();
        sim->waitForFinished(5000);
    }
    return 0;
}
