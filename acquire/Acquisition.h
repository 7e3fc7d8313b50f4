#pragma once

#include "acquire/Options.h"
#include "acquire/Outcome.h"
#include "files/SafeWrite.h"
#include "journal/JournalWriter.h"
#include "line/Line.h"
#include "records/CsvExport.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::acquire {

// The records as "Save Data (.csv file)" of the desktop program writes its table: each
// record's seven cells as the table shows them (and as its text gives them back to the
// export), one line each; here for every record, not only the table's first 100.
std::string RecordsCsv(const std::vector<AnswerRecord>& records);

// Where the options send the CSV, as messages name it: the file, or standard output.
QString Destination(const Options& options);
// A save that failed, in the desktop program's words, which say what became of an old file.
QString SaveProblem(const Options& options, const SaveFailure& saved);

// When an answer is over, by the options: see Acquisition.
Exchange::Intervals AnswerIntervals(const Options& options);

// The run on an open line: one command, its answer, and for "records --then-clear" the
// reading again and the clear, each an exchange on the line. Everything happens in the event
// loop; Finished comes once, with the port closed.
//
// An answer is over, as the desktop program's is, with this program's intervals: when the
// line has been quiet for `idle` after at least one closed frame (complete, or cut short if
// that left a frame open), when nothing at all arrived within `wait` (no answer), when it is
// not complete after `timeout`, when its command did not leave the port within LeaveTime,
// when the port is lost, or when a stop signal came.
class Acquisition : public QObject {
    Q_OBJECT

public:
    // Writes the CSV where the options say; a failure in the words of SaveResult.
    using Save = std::function<SaveResult(std::string_view csv)>;

    // A command takes about 10 ms to leave at 9600 baud; one still held by the line after
    // this (its output stopped by flow control or by another program) is dropped.
    static constexpr std::chrono::seconds LeaveTime{2};

    Acquisition(Line& line, const Options& options, Save save, QObject* parent = nullptr);

    // Journals each command sent, the bytes of its answer, the records kept, each with the
    // cells the file gets, and how the answer ended. Call before Start; without it, or with
    // no writer, nothing is journaled.
    void JournalTo(JournalWriter* writer) { m_journal = writer; }

    // Sends the first command. Call once, from the event loop.
    void Start();
    // A stop signal: no further command is sent, what arrived is written. What already waits
    // on the line is taken in first.
    void Stop(int signal);

    const Outcome& outcome() const { return m_outcome; }
    // What went wrong, in sentences for the operator, in the order it happened.
    const QStringList& problems() const { return m_problems; }
    // What was done, in one line ("100 records saved to day1.csv"); empty when nothing was.
    const QString& summary() const { return m_summary; }

    // For the progress: whether an answer is awaited, and what for with the records it
    // brought so far ("reading the records: 42 records").
    bool Waiting() const { return m_exchange && m_exchange->Waiting(); }
    QString Activity() const;

signals:
    void Finished();

private:
    enum class Step { Reading, Checking, Clearing };

    void Ask(Step step, std::string_view verb, std::string_view argument);
    void AnswerOver(AnswerEnd end, const QString& reason = {});
    void ReadingOver(AnswerEnd end, const QString& reason);
    void CheckingOver(AnswerEnd end, const QString& reason);
    void ClearingOver(AnswerEnd end, const QString& reason);
    void WriteRecords();
    void Finish();

    // An answer that did not come whole: counts it in the outcome and says why, after
    // `context`. False for a whole answer.
    bool AnswerFailed(AnswerEnd end, const QString& reason, const QString& context = {});
    // Counts an answer that did not come whole in the outcome.
    void Count(AnswerEnd end);
    QString WhyNoAnswer(AnswerEnd end, const QString& reason) const;
    QString SignalName() const;

    Line& m_line;
    Options m_options;
    Save m_save;
    Exchange::Settings m_settings; // every command's
    JournalWriter* m_journal = nullptr;
    QPointer<Exchange> m_exchange; // the command under way, or the last

    Step m_step = Step::Reading;
    bool m_finished = false;

    std::vector<std::string> m_saved; // the records written, whole frames
    bool m_written = false;           // and the file holds them
    Outcome m_outcome;
    QStringList m_problems;
    QString m_summary;
};

} // namespace qm::acquire
