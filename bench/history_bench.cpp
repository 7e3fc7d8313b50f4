// How soon the History window opens on a long journal, and how much room an acquisition
// takes in it. The journal is written by the journal's own writer, as the programs write it:
// 10,000 acquisitions of 100 records each, every reply byte with them.
//
// Prints:
//   the window's opening time, from its construction until it has painted its first frame
//   with the newest acquisition chosen (median and range of several openings);
//   the journal's size, and per 100-record acquisition.

#include "bench/Measure.h"
#include "journal/JournalWriter.h"
#include "records/CsvExport.h"
#include "shell/frmHistory.h"
#include "tests/support/Frames.h"
#include "tests/support/TemporaryHome.h"
#include "ui/CommonDialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace qm;

namespace {

constexpr int Acquisitions = 10000;
constexpr int RecordsEach = 100;

void FillJournal(const QString& path)
{
    const QByteArray answer = test::RecordAnswer(RecordsEach);
    std::vector<JournalCells> cells;
    for (int i = 1; i <= RecordsEach; ++i) {
        const QByteArray frame = test::DataFrame(i, {i, 2 * i, 3 * i, 4 * i, 5 * i});
        cells.push_back(CsvCells(frame.toStdString(), QLocale().decimalPoint()));
    }
    JournalWriter writer(path);
    QObject::connect(&writer, &JournalWriter::Failed, [](const QString& message) {
        std::fprintf(stderr, "history_bench: %s\n", qPrintable(message));
        std::exit(1);
    });
    const QDateTime start = QDateTime::currentDateTimeUtc().addDays(-Acquisitions / 20);
    for (int n = 0; n < Acquisitions; ++n) {
        const auto acquisition =
            writer.CommandSent({start.addSecs(qint64(n) * 90),
                                QStringLiteral("/dev/ttyUSB0"),
                                QStringLiteral("/dev/serial/by-id/usb-Example_0001-if00-port0"),
                                QStringLiteral("qm6200-datalink"),
                                QStringLiteral(QM6200_VERSION),
                                QByteArray("\x02RDD ALL\x03\r"),
                                {}});
        writer.Received(acquisition, answer);
        for (int i = 0; i < RecordsEach; ++i)
            writer.Record(acquisition, i + 1, cells[std::size_t(i)]);
        writer.AnswerOver(acquisition, JournalOutcome::Records);
        writer.Forget(acquisition);
        // The writer hands over from the event loop; let it, now and then.
        if (n % 200 == 0)
            QCoreApplication::processEvents();
    }
    writer.WaitUntilWritten();
}

} // namespace

int main(int argc, char* argv[])
{
    // Nothing of the user's is read or written (the journal, the remembered port).
    const test::TemporaryHome home;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qm6200.*=false");
    QApplication app(argc, argv);
    const QString path = DefaultJournalPath();
    QElapsedTimer filling;
    filling.start();
    FillJournal(path);
    const double fillSeconds = double(filling.elapsed()) / 1000;

    CommonDialog save;
    std::vector<double> opening;
    for (int run = 0; run < 7; ++run) {
        QElapsedTimer clock;
        clock.start();
        frmHistory window(path, save, [](const QString&) {});
        window.show();
        // Until it has painted, the newest acquisition's records in it.
        QCoreApplication::processEvents();
        window.grab();
        opening.push_back(double(clock.nsecsElapsed()) / 1e6);
        const auto* list = window.findChild<QTableView*>(QStringLiteral("lstAcquisitions"));
        if (!list || list->model()->rowCount() != Acquisitions) {
            std::fprintf(stderr, "history_bench: the window did not list every acquisition\n");
            return 1;
        }
    }
    const auto [low, high] = std::minmax_element(opening.begin(), opening.end());
    std::printf("History window, %d acquisitions of %d records: opens in %.0f ms (%.0f-%.0f, %zu "
                "openings)\n",
                Acquisitions, RecordsEach, bench::Median(opening), *low, *high, opening.size());
    qint64 size = 0;
    for (const char* suffix : {"", "-wal"})
        size += QFileInfo(path + QLatin1String(suffix)).size();
    std::printf("journal: %.1f MB, %.1f KB per %d-record acquisition (written in %.0f s)\n",
                double(size) / 1e6, double(size) / 1e3 / Acquisitions, RecordsEach, fillSeconds);
    return 0;
}
