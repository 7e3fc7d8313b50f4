// A line per port and the exchanges on it, alone: one command and its answer taken in,
// told and journaled, however the answer ends; exchanges queued on one line never mixed on
// the wire; lines side by side, each its own.

#include "journal/JournalReader.h"
#include "journal/JournalWriter.h"
#include "line/Line.h"
#include "tests/support/Frames.h"
#include "tests/support/MemoryBackend.h"
#include "tests/support/TestMain.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(qm::AnswerEnd)
Q_DECLARE_METATYPE(qm::JournalOutcome)

namespace {

const QByteArray ReadAll("\x02RDD ALL\x03\r");
const QByteArray ReadNow("\x02RDD NOW\x03\r");
const QByteArray ClearAll("\x02\x43LR ALL\x03\r");

// A line on an in-memory port, open, with a journal of its own; answers over after 20 ms of
// quiet.
struct Rig {
    QTemporaryDir dir;
    JournalWriter journal{dir.filePath("journal.sqlite3")};
    std::vector<std::unique_ptr<Line>> lines;
    std::vector<MemoryBackend*> ports;

    explicit Rig(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            auto port = std::make_unique<MemoryBackend>();
            ports.push_back(port.get());
            lines.push_back(std::make_unique<Line>(std::move(port)));
            QVERIFY(lines.back()->Owner().TryOpen({std::int16_t(i + 1), {}}));
        }
    }

    Exchange* exchange(const char* verb, const char* argument)
    {
        Exchange::Settings settings;
        settings.intervals.quiet = 20ms;
        settings.intervals.noAnswer = 100ms;
        settings.intervals.longest = 2000ms;
        settings.journal = &journal;
        settings.program = "tst_line";
        return new Exchange(verb, argument, settings);
    }

    // The journal's acquisitions, oldest first.
    std::vector<JournalEntry> journaled()
    {
        journal.WaitUntilWritten();
        JournalReader reader(dir.filePath("journal.sqlite3"));
        if (!reader.open())
            return {};
        auto entries = reader.Entries();
        std::reverse(entries.begin(), entries.end());
        return entries;
    }
    QByteArray reply(qint64 number)
    {
        journal.WaitUntilWritten();
        JournalReader reader(dir.filePath("journal.sqlite3"));
        return reader.open() ? reader.Reply(number) : QByteArray();
    }
};

} // namespace

class TestLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<qm::AnswerEnd>();
        qRegisterMetaType<qm::AnswerRecord>();
    }

    // However the answer ends, what came is told once, counted and journaled as it came, and
    // characters after the end are journaled as this acquisition's, never read into records.
    void anExchangeTakesItsAnswer_data()
    {
        QTest::addColumn<QString>("command");   // records, present, clear
        QTest::addColumn<QByteArray>("answer"); // as it arrives
        QTest::addColumn<QString>("then");      // "", "lose", "stop"
        QTest::addColumn<QByteArray>("late");   // after the end
        QTest::addColumn<AnswerEnd>("end");
        QTest::addColumn<int>("records");
        QTest::addColumn<JournalOutcome>("outcome");
        QTest::newRow("records") << "records" << RecordAnswer(3) << "" << QByteArray()
                                 << AnswerEnd::Complete << 3 << JournalOutcome::Records;
        QTest::newRow("present value")
            << "present" << DataFrame(0, {1, 2, 3, 4, 5}) << "" << QByteArray()
            << AnswerEnd::Complete << 1 << JournalOutcome::Records;
        QTest::newRow("accepted") << "clear" << ACK + CR << "" << QByteArray()
                                  << AnswerEnd::Complete << 0 << JournalOutcome::Cleared;
        QTest::newRow("error reply") << "records" << STX + NAK + CR << "" << QByteArray()
                                     << AnswerEnd::Complete << 0 << JournalOutcome::ErrorReply;
        QTest::newRow("no answer") << "records" << QByteArray() << "" << QByteArray()
                                   << AnswerEnd::NoAnswer << 0 << JournalOutcome::NoAnswer;
        QTest::newRow("cut short")
            << "records" << RecordAnswer(2) + STX + "R03,0"
            << "" << QByteArray() << AnswerEnd::CutShort << 2 << JournalOutcome::CutShort;
        QTest::newRow("lost line") << "records" << RecordAnswer(2) << "lose" << QByteArray()
                                   << AnswerEnd::Lost << 2 << JournalOutcome::LostLine;
        QTest::newRow("stopped") << "records" << RecordAnswer(1) << "stop" << QByteArray()
                                 << AnswerEnd::Stopped << 1 << JournalOutcome::Stopped;
        QTest::newRow("a frame too long to keep, then a record")
            << "records" << STX + QByteArray(5000, 'n') + DataFrame(1, {1, 2, 3, 4, 5}) << ""
            << QByteArray() << AnswerEnd::CutShort << 1 << JournalOutcome::CutShort;
        QTest::newRow("late characters") << "records" << RecordAnswer(2) << "" << RecordAnswer(1)
                                         << AnswerEnd::Complete << 2 << JournalOutcome::Records;
    }
    void anExchangeTakesItsAnswer()
    {
        QFETCH(QString, command);
        QFETCH(QByteArray, answer);
        QFETCH(QString, then);
        QFETCH(QByteArray, late);
        QFETCH(AnswerEnd, end);
        QFETCH(int, records);
        QFETCH(JournalOutcome, outcome);
        Rig rig;
        Line& line = *rig.lines[0];
        Exchange* exchange = command == "records"   ? rig.exchange("RDD", "ALL")
                             : command == "present" ? rig.exchange("RDD", "NOW")
                                                    : rig.exchange("CLR", "ALL");
        QSignalSpy over(exchange, &Exchange::Over);
        QSignalSpy kept(exchange, &Exchange::RecordKept);
        QSignalSpy received(&line, &Line::Received);
        line.Run(exchange);
        QCOMPARE(line.Current(), exchange);
        QVERIFY(exchange->Waiting() && line.Busy());
        QCOMPARE(rig.ports[0]->written(), command == "records"   ? ReadAll
                                          : command == "present" ? ReadNow
                                                                 : ClearAll);
        rig.ports[0]->deliver(answer);
        if (then == "lose") {
            QTRY_COMPARE(kept.size(), records);
            rig.ports[0]->loseDevice("unplugged");
        } else if (then == "stop") {
            QTRY_COMPARE(kept.size(), records);
            exchange->Stop();
        }
        QTRY_COMPARE(over.size(), 1);
        QCOMPARE(over[0][0].value<AnswerEnd>(), end);
        QCOMPARE(exchange->End(), end);
        QVERIFY(!line.Busy());
        if (!late.isEmpty()) {
            rig.ports[0]->deliver(late);
            QTRY_COMPARE(received.size(), answer.size() + late.size());
        }
        QCOMPARE(kept.size(), records);
        QCOMPARE(int(exchange->Records().size()), records);
        for (int place = 1; place <= records; ++place) {
            const AnswerRecord& record = exchange->Records()[std::size_t(place - 1)];
            QCOMPARE(record.place, place);
            QCOMPARE(QByteArray::fromStdString(record.frame),
                     command == "present"
                         ? answer
                         : DataFrame(place, {place, 2 * place, 3 * place, 4 * place, 5 * place}));
            QCOMPARE(record.read.cells[0], std::to_string(command == "present" ? 0 : place));
            QCOMPARE(record.read.values[0],
                     std::optional<double>(command == "present" ? 1 : place));
        }
        QCOMPARE(over.size(), 1);
        QVERIFY(exchange->Store().RxBuffer.size() <= LinkState::MaxFrameLength);
        const auto entries = rig.journaled();
        QCOMPARE(entries.size(), std::size_t(1));
        QCOMPARE(entries[0].outcome, outcome);
        QCOMPARE(entries[0].records, records);
        QCOMPARE(rig.reply(entries[0].number), answer + late);
    }

    // A command the port refuses is not sent: told, and journaled as not sent.
    void aCommandThePortRefusesIsNotSent()
    {
        Rig rig;
        rig.ports[0]->setWriteFailure("refused");
        Exchange* exchange = rig.exchange("RDD", "ALL");
        QSignalSpy refused(exchange, &Exchange::NotWritten);
        rig.lines[0]->Run(exchange);
        QCOMPARE(refused.size(), 1);
        QVERIFY(!rig.lines[0]->Busy());
        QCOMPARE(rig.journaled().at(0).outcome, JournalOutcome::NotSent);
    }

    // Two exchanges on one line: the second command goes out once the first answer is over,
    // and what comes between belongs to the first.
    void exchangesQueuedOnOneLineTakeTurns()
    {
        Rig rig;
        Line& line = *rig.lines[0];
        Exchange* first = rig.exchange("RDD", "ALL");
        Exchange* second = rig.exchange("RDD", "NOW");
        QSignalSpy firstOver(first, &Exchange::Over);
        QSignalSpy secondOver(second, &Exchange::Over);
        line.Run(first);
        line.Run(second);
        QVERIFY(line.Busy());
        QCOMPARE(rig.ports[0]->written(), ReadAll);
        rig.ports[0]->deliver(RecordAnswer(2));
        QTRY_COMPARE(firstOver.size(), 1);
        QTRY_COMPARE(rig.ports[0]->written(), ReadAll + ReadNow);
        QCOMPARE(line.Current(), second);
        rig.ports[0]->deliver(DataFrame(0, {1, 2, 3, 4, 5}));
        QTRY_COMPARE(secondOver.size(), 1);
        QCOMPARE(second->Records().size(), std::size_t(1));
        const auto entries = rig.journaled();
        QCOMPARE(entries.size(), std::size_t(2));
        QCOMPARE(entries[0].records, 2);
        QCOMPARE(entries[1].records, 1);
    }

    // Three lines at once, their answers arriving interleaved: each exchange has its own, and
    // so has each acquisition in the journal.
    void linesAtOnceKeepTheirOwn()
    {
        Rig rig(3);
        std::vector<Exchange*> exchanges;
        std::vector<std::unique_ptr<QSignalSpy>> overs;
        for (auto& line : rig.lines) {
            exchanges.push_back(rig.exchange("RDD", "ALL"));
            overs.push_back(std::make_unique<QSignalSpy>(exchanges.back(), &Exchange::Over));
            line->Run(exchanges.back());
        }
        for (int place = 1; place <= 4; ++place) {
            for (int i = 0; i < 3; ++i) {
                if (place <= i + 2)
                    rig.ports[std::size_t(i)]->deliver(
                        DataFrame(place, {place, 2 * place, 3 * place, 4 * place, 5 * place}));
            }
            QCoreApplication::processEvents();
        }
        for (int i = 0; i < 3; ++i) {
            QTRY_COMPARE(overs[std::size_t(i)]->size(), 1);
            QCOMPARE(int(exchanges[std::size_t(i)]->Records().size()), i + 2);
        }
        const auto entries = rig.journaled();
        QCOMPARE(entries.size(), std::size_t(3));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(entries[std::size_t(i)].records, i + 2);
            QCOMPARE(rig.reply(entries[std::size_t(i)].number), RecordAnswer(i + 2));
        }
    }
};

QM6200_TEST_MAIN(TestLine)
#include "tst_line.moc"
