#pragma once

// Acquisitions and watches as the journal tests hand them over, the same in the test and in its
// helper program (journal_writer), so that what is read back is compared with what was sent: data
// frames whose counters have fractions, and the cells the table makes of them.

#include "journal/JournalWriter.h"
#include "records/RecordLayout.h"

#include <QTimeZone>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace qm::test {

struct SampleAcquisition {
    JournalCommand command;
    std::vector<QByteArray> frames; // as received, a record each
    std::vector<JournalCells> cells;
    QByteArray trailer; // what came after the records: an end frame, an error reply
    JournalOutcome outcome = JournalOutcome::Pending; // Pending: the answer is not over

    QByteArray Reply() const
    {
        QByteArray reply;
        for (const QByteArray& frame : frames)
            reply += frame;
        return reply + trailer;
    }
};

// A 42-character data frame with values of its own for each acquisition and place: counters
// such as " 4.17", a total such as " 123.4", the record number counting on past 99 as the
// instrument's two digits do.
inline QByteArray SampleFrame(int number, int place)
{
    const auto value = [&](int k) {
        return double((number * 7919 + place * 131 + k * 17) % 10000);
    };
    char text[64];
    std::snprintf(text, sizeof text, "\x02%c%02d,%5.2f,%5.2f,%5.2f,%5.2f,%5.2f,%6.1f\r", '0',
                  place % 100, value(1) / 100, value(2) / 100, value(3) / 100, value(4) / 100,
                  value(5) / 100, value(6) / 10);
    return QByteArray(text);
}

// Acquisition `number` on `port`: `records` records with the decimal separator given, sent a
// second apart with their milliseconds, every other one on an adapter with a stable name.
inline SampleAcquisition Sample(int number, const QString& port, int records,
                                std::string_view separator, JournalOutcome outcome)
{
    SampleAcquisition sample;
    sample.command.sent =
        QDateTime(QDate(2026, 12, 8), QTime(7, 30, 12, 345), QTimeZone::utc()).addSecs(number);
    sample.command.port = port;
    if (number % 2 == 0)
        sample.command.stableName =
            QStringLiteral("/dev/serial/by-id/usb-Example_Serial_%1-if00-port0").arg(number);
    sample.command.program = QStringLiteral("journal-test");
    sample.command.version = QStringLiteral("1.2.%1").arg(number);
    sample.command.frame = QByteArray("\x02R\x03\r", 4) + QByteArray::number(number);
    for (int place = 1; place <= records; ++place) {
        sample.frames.push_back(SampleFrame(number, place));
        const QByteArray& frame = sample.frames.back();
        sample.cells.push_back(
            RecordCells(std::string_view(frame.constData(), std::size_t(frame.size())), separator));
    }
    sample.outcome = outcome;
    return sample;
}

// As a program hands it over: the command, each byte on its own, each record once its frame
// is in, then the end, unless the answer is not over. The writer's number for it.
inline JournalWriter::Acquisition Journal(JournalWriter& writer, const SampleAcquisition& sample)
{
    const JournalWriter::Acquisition acquisition = writer.CommandSent(sample.command);
    for (std::size_t i = 0; i < sample.frames.size(); ++i) {
        for (const char byte : sample.frames[i])
            writer.Received(acquisition, QByteArray(1, byte));
        writer.Record(acquisition, int(i) + 1, sample.cells[i]);
    }
    for (const char byte : sample.trailer)
        writer.Received(acquisition, QByteArray(1, byte));
    if (sample.outcome != JournalOutcome::Pending)
        writer.AnswerOver(acquisition, sample.outcome);
    return acquisition;
}

// A watch of `ports`, reading every 2.5 s into a CSV file named with its date.
inline JournalWatch SampleWatch(const QStringList& ports, std::string_view separator = ".")
{
    JournalWatch watch;
    watch.started = QDateTime(QDate(2026, 12, 8), QTime(7, 30, 0, 1), QTimeZone::utc());
    watch.program = QStringLiteral("journal-test");
    watch.version = QStringLiteral("2.0.1");
    watch.frame = QByteArray("\x02RDD NOW\x03\r");
    watch.every = std::chrono::milliseconds(2500);
    watch.ports = ports;
    watch.output = QStringLiteral("watch-%F.csv");
    watch.decimalSeparator = separator;
    return watch;
}

// Reading `n` of a watch of `ports` ports: offsets from UTC west and east, of half and three
// quarter hours too; every note, a torn line now and then; replies of values, none, and one
// of every byte there is.
inline JournalReading SampleReading(int n, int ports)
{
    constexpr int Offsets[] = {0, 3600, -18000, 19800, -12600, 50400, -43200, 20700};
    JournalReading reading;
    reading.port = n % ports;
    reading.time =
        QDateTime(QDate(2026, 12, 8), QTime(7, 30, 1, 7), QTimeZone::utc()).addMSecs(n * 2501);
    reading.offsetSeconds = Offsets[n % 8];
    reading.note = ReadingNote(n % 7);
    reading.tornBefore = n % 5 == 4;
    if (n % 6 == 4) {
        for (int byte = 0; byte < 256; ++byte)
            reading.reply += char(byte);
    } else if (n % 6 != 3) {
        char text[64];
        std::snprintf(text, sizeof text, "\x02%03d,%05d,%05d,%05d,%05d,%05d,%06d\r", n % 1000,
                      n * 7 % 100000, n * 13 % 100000, n * 17 % 100000, n * 19 % 100000, n % 3,
                      n * 101 % 1000000);
        reading.reply = text;
    }
    return reading;
}

} // namespace qm::test
