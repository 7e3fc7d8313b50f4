// What a watch's reading costs the journal on the disk, and how soon the watches of a long
// journal are listed.
//   journal_watch_bench [WRITTEN [LISTED]]
// WRITTEN readings (100,000 unless given) of a typical present-values reply go through the
// journal's own writer, as a watch hands them over, two ports in turn. Then a journal of LISTED
// readings (10,000,000 unless given) in 1,000 watches is made by SQL directly, as the writer
// would leave it, and listed through the reader.
//
// Prints:
//   the bytes each reading takes: how much more a journal with the readings is than one with
//   the same watch and none, both as the writer left them (its log folded in, as at any
//   program's end; nothing compacted), divided by the count;
//   the listing's time: the reader opened and the watches listed (with the acquisitions, as
//   History lists both), Watches() alone, the watch of a reading found and its readings handed
//   over one at a time (median and range of several runs, the first apart).

#include "bench/Measure.h"
#include "journal/JournalDatabase.h"
#include "journal/JournalReader.h"
#include "journal/JournalWriter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sqlite3.h>
#include <string>
#include <vector>

using namespace qm;

namespace {

constexpr qint64 Watches = 1000;
constexpr int Runs = 7;

// "RDD NOW" answered: one frame of present values.
QByteArray TypicalReply()
{
    return QByteArray("\x02"
                      "001,00012,00345,06789,00001,00002,007149\r");
}

JournalWatch BenchWatch()
{
    JournalWatch watch;
    watch.started = QDateTime(QDate(2026, 12, 8), QTime(7, 30), QTimeZone::utc());
    watch.program = QStringLiteral("qm6200-acquire");
    watch.version = QStringLiteral(QM6200_VERSION);
    watch.frame = QByteArray("\x02RDD NOW\x03\r");
    watch.ports = {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB1")};
    watch.output = QStringLiteral("watch-%F.csv");
    return watch;
}

[[noreturn]] void Fail(const QString& message)
{
    std::fprintf(stderr, "journal_watch_bench: %s\n", qPrintable(message));
    std::exit(1);
}

// A journal at `path` with the watch and `readings` readings, as the writer leaves it.
qint64 WriteJournal(const QString& path, qint64 readings)
{
    {
        JournalWriter writer(path);
        QObject::connect(&writer, &JournalWriter::Failed, &Fail);
        const JournalWatch watch = BenchWatch();
        const JournalWriter::Watch started = writer.WatchStarted(watch);
        JournalReading reading;
        reading.offsetSeconds = 3600;
        reading.reply = TypicalReply();
        for (qint64 n = 0; n < readings; ++n) {
            reading.port = int(n % 2);
            reading.time = watch.started.addMSecs(n * 500 + 3);
            writer.Reading(started, reading);
            // The writer tells of failures through the event loop: let it, now and then.
            if (n % 10000 == 0)
                QCoreApplication::processEvents();
        }
        writer.WaitUntilWritten();
    }
    return QFileInfo(path).size();
}

void Check(const Result<void, journal::Error>& done)
{
    if (!done)
        Fail(QStringLiteral("making the journal: %1").arg(done.Error().detail));
}

// A journal of `readings` readings in `watches` watches, one after another, each reading
// numbered on from the last, the watches' rows as the writer keeps them.
void MakeLongJournal(const QString& path, qint64 readings, qint64 watches)
{
    auto opened = journal::Open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, 1000);
    if (!opened)
        Fail(opened.Error().detail);
    sqlite3* db = opened->get();
    // Made at once: no rollback journal, no waits for the disk, then WAL as the programs keep it.
    Check(journal::Exec(db, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; BEGIN"));
    for (const char* step : journal::SchemaSteps())
        Check(journal::Exec(db, step));
    const std::string version = "PRAGMA user_version = " + std::to_string(journal::SchemaVersion());
    Check(journal::Exec(db, version.c_str()));
    auto insertWatch = journal::Prepare(
        db, "INSERT INTO watches (id, started, program, version, command, every_ms, ports, "
            "output, decimal_separator, first_number, first_time, last_time, readings, noted) "
            "VALUES (?1, ?2, 'qm6200-acquire', ?3, ?4, 1000, ?5, 'watch-%F.csv', '.', ?6, ?7, ?8, "
            "?9, 0)");
    auto insertReading =
        journal::Prepare(db, "INSERT INTO readings (number, watch, port, time, utc_offset, note, "
                             "torn, reply) VALUES (?1, ?2, ?3, ?4, 3600, 0, 0, ?5)");
    if (!insertWatch || !insertReading)
        Fail(QStringLiteral("preparing"));
    const JournalWatch watch = BenchWatch();
    const QByteArray programVersion = watch.version.toUtf8();
    const QByteArray ports = QByteArray("/dev/ttyUSB0") + '\0' + "/dev/ttyUSB1" + '\0';
    const QByteArray reply = TypicalReply();
    const qint64 start = watch.started.toMSecsSinceEpoch();
    qint64 number = 0;
    for (qint64 w = 1; w <= watches; ++w) {
        const qint64 count = readings / watches + (w <= readings % watches ? 1 : 0);
        const qint64 began = start + w * 86400000;
        sqlite3_stmt* row = insertWatch->get();
        sqlite3_bind_int64(row, 1, w);
        sqlite3_bind_int64(row, 2, began);
        sqlite3_bind_text(row, 3, programVersion.constData(), int(programVersion.size()),
                          SQLITE_STATIC);
        sqlite3_bind_blob(row, 4, watch.frame.constData(), int(watch.frame.size()), SQLITE_STATIC);
        sqlite3_bind_blob(row, 5, ports.constData(), int(ports.size()), SQLITE_STATIC);
        sqlite3_bind_int64(row, 6, number + 1);
        sqlite3_bind_int64(row, 7, began);
        sqlite3_bind_int64(row, 8, began + (count - 1) * 1000);
        sqlite3_bind_int64(row, 9, count);
        Check(journal::Step(db, row));
        row = insertReading->get();
        for (qint64 n = 0; n < count; ++n) {
            sqlite3_bind_int64(row, 1, ++number);
            sqlite3_bind_int64(row, 2, w);
            sqlite3_bind_int(row, 3, int(n % 2));
            sqlite3_bind_int64(row, 4, began + n * 1000);
            sqlite3_bind_blob(row, 5, reply.constData(), int(reply.size()), SQLITE_STATIC);
            Check(journal::Step(db, row));
        }
    }
    insertWatch->reset();
    insertReading->reset();
    Check(journal::Exec(db, "COMMIT; PRAGMA journal_mode = WAL"));
}

struct Timing {
    double first = 0; // ms
    std::vector<double> rest;
};

Timing Time(const std::function<void()>& run)
{
    Timing timing;
    for (int i = 0; i < Runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        run();
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (i == 0)
            timing.first = ms;
        else
            timing.rest.push_back(ms);
    }
    return timing;
}

void Print(const char* what, const Timing& timing)
{
    const auto [low, high] = std::minmax_element(timing.rest.begin(), timing.rest.end());
    std::printf("  %-44s %9.3f ms (%.3f-%.3f; first %.3f)\n", what, bench::Median(timing.rest),
                *low, *high, timing.first);
}

qint64 Argument(const QStringList& arguments, int index, qint64 otherwise)
{
    if (arguments.size() <= index)
        return otherwise;
    bool ok = false;
    const qint64 value = arguments[index].toLongLong(&ok);
    if (!ok || value < 1)
        Fail(QStringLiteral("usage: journal_watch_bench [WRITTEN [LISTED]], each a count above 0"));
    return value;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "qm6200.*=false");
    const qint64 written = Argument(app.arguments(), 1, 100000);
    const qint64 listed = Argument(app.arguments(), 2, 10000000);
    const qint64 watches = std::min(Watches, listed);
    QTemporaryDir dir;
    if (!dir.isValid())
        Fail(dir.errorString());

    QElapsedTimer clock;
    clock.start();
    const qint64 none = WriteJournal(dir.filePath(QStringLiteral("none.sqlite3")), 0);
    const qint64 full = WriteJournal(dir.filePath(QStringLiteral("written.sqlite3")), written);
    std::printf("%lld readings of a %lld-byte reply through the writer (in %.1f s): %.1f bytes "
                "each (journal %lld bytes, %lld with the watch alone)\n",
                written, qint64(TypicalReply().size()), double(clock.elapsed()) / 1000,
                double(full - none) / double(written), full, none);

    const QString path = dir.filePath(QStringLiteral("long.sqlite3"));
    clock.restart();
    MakeLongJournal(path, listed, watches);
    std::printf("a journal of %lld readings in %lld watches, made in %.1f s: %.1f MB\n", listed,
                watches, double(clock.elapsed()) / 1000, double(QFileInfo(path).size()) / 1e6);

    std::size_t count = 0;
    Print("opened, watches and acquisitions listed", Time([&] {
              JournalReader reader(path);
              if (!reader.open())
                  Fail(QStringLiteral("the journal could not be read"));
              count = reader.Watches().size() + reader.Entries().size();
          }));
    if (count != std::size_t(watches))
        Fail(QStringLiteral("%1 listed, not %2").arg(count).arg(watches));
    JournalReader reader(path);
    if (!reader.open())
        Fail(QStringLiteral("the journal could not be read"));
    Print("Watches()", Time([&] { count = reader.Watches().size(); }));
    const qint64 middle = listed / 2;
    Print("WatchOf() a reading in the middle",
          Time([&] { count = reader.WatchOf(middle) ? 1 : 0; }));
    qint64 handed = 0;
    Print("Readings() of its watch, one at a time", Time([&] {
              handed = 0;
              const Result<> read = reader.Readings(middle, [&](const JournalReading&) {
                  ++handed;
                  return true;
              });
              if (!read)
                  Fail(read.Reason());
          }));
    std::printf("  (%lld readings in that watch)\n", handed);
    return 0;
}
