// A watch over lines on in-memory ports: each port its own, whatever the others do; readings
// that cannot be sent written with their note; a command of another user of the line queued,
// never mixed; the end by count, by time or by a stop.

#include "journal/JournalReader.h"
#include "journal/JournalWriter.h"
#include "line/Line.h"
#include "tests/support/Frames.h"
#include "tests/support/MemoryBackend.h"
#include "tests/support/TestMain.h"
#include "watch/Watch.h"
#include "watch/WatchCsv.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;

namespace {

const QByteArray ReadNow("\x02RDD NOW\x03\r");

// What each line's instrument does with a command.
enum class Plays { Answers, Silent, ErrorReply };

// The lines the watch writes, kept in memory.
struct Lines final : WatchOutput {
    QList<QByteArray>* kept;
    explicit Lines(QList<QByteArray>* into)
        : kept(into)
    {
    }
    Result<> Open(const JournalWatch&, const QDateTime&, int) override { return {}; }
    Result<> Write(const JournalWatch& watch, JournalReading& reading) override
    {
        *kept << QByteArray::fromStdString(WatchCsvLine(watch, reading));
        return {};
    }
    Result<> Sync() override { return {}; }
};

// Lines on in-memory ports, open, each with an instrument that plays its part; a watch over
// them every 200 ms of a clock the test moves, whose answers are over after 20 ms of quiet or
// 3 s of silence (real time: a silent instrument is still awaited over several steps).
struct Rig {
    QTemporaryDir dir;
    JournalWriter journal{dir.filePath("journal.sqlite3")};
    std::vector<std::unique_ptr<Line>> lines;
    std::vector<MemoryBackend*> ports;
    QList<QByteArray> written;
    std::unique_ptr<Watch> watch;
    std::chrono::nanoseconds now{0};

    explicit Rig(const QList<Plays>& plays, qint64 count = 3, std::chrono::milliseconds span = {})
    {
        std::vector<Line*> used;
        Watch::Settings settings;
        for (int i = 0; i < plays.size(); ++i) {
            auto port = std::make_unique<MemoryBackend>();
            MemoryBackend* backend = port.get();
            ports.push_back(backend);
            lines.push_back(std::make_unique<Line>(std::move(port)));
            used.push_back(lines.back().get());
            [&] {
                QVERIFY(lines.back()->Owner().TryOpen({std::int16_t(i + 1), {}}));
            }();
            const Plays part = plays[i];
            backend->onWrite = [backend, part, i](const QByteArray& frame) {
                if (part == Plays::Answers)
                    backend->deliver(frame == ReadNow ? DataFrame(0, {i, 2, 3, 4, 5})
                                                      : RecordAnswer(2));
                else if (part == Plays::ErrorReply)
                    backend->deliver(STX + NAK + CR);
            };
            settings.watch.ports << QString("port %1").arg(i + 1);
        }
        settings.watch.every = 200ms;
        settings.watch.program = "tst_watch";
        settings.intervals.quiet = 20ms;
        settings.intervals.noAnswer = 3000ms;
        settings.intervals.longest = 2000ms;
        settings.intervals.quietOnlyAfterAFrame = true;
        settings.count = count;
        settings.span = span;
        settings.clock = [this] {
            return now;
        };
        watch = std::make_unique<Watch>(used, settings, std::make_unique<Lines>(&written));
        watch->JournalTo(&journal);
    }

    // The next reading is due: taken, then the lines written come to `total`.
    void step(qsizetype total)
    {
        const std::int64_t taken = watch->Taken();
        now += 200ms;
        QTRY_VERIFY(watch->Taken() > taken);
        QTRY_COMPARE(written.size(), total);
    }

    // Started, the lines written coming to each of `totals` after each step, then on to its
    // end.
    void run(const QList<qsizetype>& totals)
    {
        QSignalSpy finished(watch.get(), &Watch::Finished);
        QVERIFY(watch->Start());
        QTRY_COMPARE(written.size(), totals.value(0));
        for (qsizetype after : totals.mid(1))
            step(after);
        QTRY_COMPARE(finished.count(), 1);
    }

    QList<QByteArray> of(int port) const
    {
        QList<QByteArray> found;
        for (const QByteArray& line : written) {
            if (line.contains(QString("\"port %1\"").arg(port).toLatin1()))
                found << line;
        }
        return found;
    }
    static QByteArray note(const QByteArray& line) { return line.split(',').last().trimmed(); }
};

} // namespace

class TestWatch : public QObject {
    Q_OBJECT

private slots:
    // A silent instrument and one that refuses hold up nobody: the one that answers is read
    // every time, the silent one's readings due while it is still awaited are noted, not sent.
    void eachPortItsOwn()
    {
        Rig rig({Plays::Answers, Plays::Silent, Plays::ErrorReply});
        rig.run({2, 5, 8});
        QCOMPARE(rig.written.size(), 9);
        QCOMPARE(rig.ports[0]->written(), ReadNow + ReadNow + ReadNow);
        for (const QByteArray& line : rig.of(1)) {
            QVERIFY2(line.contains("\"0\",\"2\",\"3\",\"4\",\"5\",\"14\",\"\""), line.constData());
        }
        for (const QByteArray& line : rig.of(3))
            QCOMPARE(Rig::note(line), QByteArray("\"error reply\""));
        QStringList silent;
        for (const QByteArray& line : rig.of(2))
            silent << Rig::note(line);
        QCOMPARE(silent.count("\"skipped: the reading before was still running\""), 2);
        QCOMPARE(silent.last(), "\"no answer\"");
        QCOMPARE(rig.ports[1]->written(), ReadNow);

        // The journal holds them as one watch, in the order written.
        rig.journal.WaitUntilWritten();
        JournalReader reader(rig.dir.filePath("journal.sqlite3"));
        QVERIFY(reader.open());
        const auto watches = reader.Watches();
        QCOMPARE(watches.size(), std::size_t(1));
        QCOMPARE(watches[0].readings, 9);
        QList<QByteArray> again;
        QVERIFY(reader.Readings(watches[0].number, [&](const JournalReading& reading) {
            again << QByteArray::fromStdString(WatchCsvLine(watches[0].watch, reading));
            return true;
        }));
        QCOMPARE(again, rig.written);
    }

    // A port lost in the middle: its reading under way says so, and so do those due while it
    // is away; the other port goes on; back, it is read again.
    void aLostPortIsNotedWhileTheOthersGoOn()
    {
        Rig rig({Plays::Answers, Plays::Answers}, 8);
        QSignalSpy finished(rig.watch.get(), &Watch::Finished);
        QVERIFY(rig.watch->Start());
        QTRY_COMPARE(rig.written.size(), 2);
        rig.step(4);
        rig.ports[0]->onWrite = [](const QByteArray&) {
        }; // lost before it answers
        rig.step(5);
        rig.ports[0]->loseDevice("unplugged");
        QTRY_COMPARE(rig.written.size(), 6);
        rig.step(8);
        QVERIFY(rig.lines[0]->Owner().TryOpen({1, {}}));
        rig.ports[0]->onWrite = [port = rig.ports[0]](const QByteArray&) {
            port->deliver(DataFrame(0, {9, 9, 9, 9, 9}));
        };
        for (qsizetype total : {10, 12, 14, 16})
            rig.step(total);
        QTRY_COMPARE(finished.count(), 1);
        QStringList notes;
        for (const QByteArray& line : rig.of(1))
            notes << Rig::note(line);
        QCOMPARE(notes.size(), 8);
        QCOMPARE(notes, QStringList({"\"\"", "\"\"", "\"line lost\"", "\"line lost\"", "\"\"",
                                     "\"\"", "\"\"", "\"\""}));
        QCOMPARE(rig.of(2).size(), 8);
        for (const QByteArray& line : rig.of(2))
            QCOMPARE(Rig::note(line), QByteArray("\"\""));
    }

    // Another user of the line (a window) sends while a reading is under way: its command
    // waits for the reading's answer, and the reading after waits for its answer.
    void anotherCommandOnTheLineIsQueued()
    {
        Rig rig({Plays::Answers}, 3);
        QSignalSpy finished(rig.watch.get(), &Watch::Finished);
        rig.ports[0]->onWrite = [&rig](const QByteArray& frame) {
            if (frame != ReadNow)
                return rig.ports[0]->deliver(RecordAnswer(2));
            // The window's command, sent as soon as the reading's went out.
            if (rig.ports[0]->written().isEmpty()) {
                QTimer::singleShot(0, rig.lines[0].get(), [&rig] {
                    Exchange::Settings settings;
                    settings.intervals.quiet = 20ms;
                    settings.intervals.noAnswer = 250ms;
                    rig.lines[0]->Run(new Exchange("RDD", "ALL", settings));
                });
            }
            rig.ports[0]->deliver(DataFrame(0, {1, 2, 3, 4, 5}));
        };
        QVERIFY(rig.watch->Start());
        QTRY_COMPARE(rig.written.size(), 1);
        QTRY_VERIFY(!rig.lines[0]->Busy());
        rig.step(2);
        rig.step(3);
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(rig.ports[0]->written().left(2 * ReadNow.size()),
                 ReadNow + QByteArray("\x02RDD ALL\x03\r"));
        for (const QByteArray& line : rig.of(1))
            QCOMPARE(Rig::note(line), QByteArray("\"\""));
    }

    // The end: by the time given (the reading due at its end is no longer the watch's), or by a
    // stop, which lets the reading under way end and sends no other.
    void itEndsByTimeOrByAStop()
    {
        Rig timed({Plays::Answers}, 0, 500ms);
        timed.run({1, 2, 3});
        QCOMPARE(timed.written.size(), 3);

        Rig stopped({Plays::Answers}, 0);
        stopped.ports[0]->onWrite = [&stopped](const QByteArray&) {
            stopped.watch->Stop(15);
            stopped.ports[0]->deliver(DataFrame(0, {1, 2, 3, 4, 5}));
        };
        stopped.run({1});
        QCOMPARE(stopped.written.size(), 1);
        QCOMPARE(Rig::note(stopped.written[0]), QByteArray("\"\""));
        QCOMPARE(stopped.watch->Signal(), 15);
    }
};

QM6200_TEST_GUILESS_MAIN(TestWatch)
#include "tst_watch.moc"
