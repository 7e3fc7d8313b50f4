// How fast a journal's backlog reaches the lab's database: a journal of 10,000 acquisitions of
// 100 records (every reply byte with them), sent by one run of "qm6200-acquire sync" to a
// PostgreSQL server on this machine (a throwaway one, on a Unix socket).
//
// Prints the time the sync took, the rows sent per second (acquisitions, records and reply
// parts), and the sending process's resident memory: at most in its first seconds (the journal
// opened), after them, at its largest since, and the growth between, which stays flat when the
// journal is read in steps.

#include "bench/Measure.h"
#include "journal/JournalWriter.h"
#include "records/CsvExport.h"
#include "tests/support/Frames.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/TemporaryHome.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace qm;

namespace {

constexpr int Acquisitions = 10000;
constexpr int RecordsEach = 100;

[[noreturn]] void Fail(const QString& what)
{
    std::fprintf(stderr, "sync_bench: %s\n", qPrintable(what));
    std::exit(1);
}

void FillJournal(const QString& path)
{
    const QByteArray answer = test::RecordAnswer(RecordsEach);
    std::vector<JournalCells> cells;
    for (int i = 1; i <= RecordsEach; ++i) {
        const QByteArray frame = test::DataFrame(i, {i, 2 * i, 3 * i, 4 * i, 5 * i});
        cells.push_back(CsvCells(frame.toStdString(), "."));
    }
    JournalWriter writer(path);
    QObject::connect(&writer, &JournalWriter::Failed,
                     [](const QString& message) { Fail(message); });
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-Acquisitions / 20);
    for (int n = 0; n < Acquisitions; ++n) {
        const auto acquisition =
            writer.CommandSent({start.addSecs(qint64(n) * 90),
                                QStringLiteral("/dev/ttyUSB0"),
                                QStringLiteral("/dev/serial/by-id/usb-Example_0001-if00-port0"),
                                QStringLiteral("qm6200-acquire"),
                                QStringLiteral(QM6200_VERSION),
                                QByteArray("\x02RDD ALL\x03\r"),
                                {}});
        writer.Received(acquisition, answer);
        for (int i = 0; i < RecordsEach; ++i)
            writer.Record(acquisition, i + 1, cells[std::size_t(i)]);
        writer.AnswerOver(acquisition, JournalOutcome::Records);
        writer.Forget(acquisition);
    }
    writer.WaitUntilWritten();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    // Nothing of the user's is read or written: the journal goes in a home of its own.
    const test::TemporaryHome home;
    const QString path = DefaultJournalPath();
    const auto filling = std::chrono::steady_clock::now();
    FillJournal(path);
    const double filled =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - filling).count();

    test::PostgresServer server;
    if (!server.Ready())
        Fail(server.Problem());
    const std::string conninfo = server.ConnInfo().toStdString();

    const auto started = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(QM6200_ACQUIRE, "qm6200-acquire", "sync", "-q", "--database", conninfo.c_str(),
                static_cast<char*>(nullptr));
        _exit(127);
    }
    // Its memory five times a second: after the first seconds, and at its largest.
    long opening = 0; // in the first seconds: the journal opened, its log folded in
    long early = 0;
    long largest = 0;
    for (;;) {
        int status = 0;
        const pid_t ended = ::waitpid(child, &status, WNOHANG);
        if (ended == child) {
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                Fail(QStringLiteral("the sync ended with status %1").arg(WEXITSTATUS(status)));
            // Not the accounting's largest: it counts the copy of this program the child was
            // before it became the sync.
            break;
        }
        const long now = qm::bench::ResidentKiB(child);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        if (early == 0 && seconds >= 3)
            early = now;
        if (early != 0)
            largest = std::max(largest, now);
        else
            opening = std::max(opening, now);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const auto count = [&](const char* table) {
        return server
            .Rows(QStringLiteral("SELECT count(*) FROM qm6200.%1").arg(QLatin1String(table)))
            .value(0)
            .value(0)
            .toLongLong();
    };
    const qint64 acquisitions = count("acquisitions");
    const qint64 records = count("records");
    const qint64 parts = count("replies");
    if (acquisitions != Acquisitions || records != qint64(Acquisitions) * RecordsEach)
        Fail(QStringLiteral("the server holds %1 acquisitions and %2 records")
                 .arg(acquisitions)
                 .arg(records));
    std::printf("sync of %d acquisitions of %d records (journal written in %.0f s):\n",
                Acquisitions, RecordsEach, filled);
    std::printf("  took %.1f s: %.0f rows a second (%lld acquisitions, %lld records, %lld reply "
                "parts)\n",
                took, double(acquisitions + records + parts) / took, qlonglong(acquisitions),
                qlonglong(records), qlonglong(parts));
    std::printf("  memory: %.1f MiB at most in the first 3 s, %.1f MiB after them, %.1f MiB at its "
                "largest since (%+.1f MiB)\n",
                double(opening) / 1024, double(early) / 1024, double(largest) / 1024,
                double(largest - early) / 1024);
    return 0;
}
