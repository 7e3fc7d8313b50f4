#pragma once

#include "journal/JournalWriter.h"
#include "protocol/AnswerWatch.h"
#include "protocol/LinkState.h"
#include "records/RecordLayout.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace qm {

class QmtTxRx;

// A record of an answer, read once.
struct AnswerRecord {
    int place = 0;      // in the answer: 1 for the first
    std::string frame;  // as received, STX to CR
    DecodedRecord read; // its texts and values
    JournalCells bytes; // its texts as the table holds them, in bytes: the CSV's and the journal's
};

// One command and its answer on a line (Line::Run): the command composed, journaled and
// written when its turn comes; each character of the answer framed and classified, each data
// record stored and read once; the answer's end told, by the intervals given; all of it
// journaled as it comes. Whoever shows or keeps the answer listens to it.
//
// Characters that come after the answer is over are journaled as this acquisition's bytes,
// until the next exchange on the line begins, and never read into its records.
class Exchange : public QObject {
    Q_OBJECT

public:
    // When an answer is over (AnswerWatch's).
    using Intervals = AnswerWatch::Intervals;
    // The records an answer keeps; data frames beyond them are counted, not kept.
    static constexpr int StoreSize = LinkState::StoreSize;

    struct Settings {
        Intervals intervals;
        // The separator the cells get (the locale's, taken once by the caller): what the table
        // shows, the file gets and the journal keeps are the same texts.
        std::string decimalSeparator = ".";
        JournalWriter* journal = nullptr; // none: nothing is journaled
        QString program;                  // as the journal names it: "qm6200-datalink"
        QString version;
    };

    Exchange(std::string_view verb, std::string_view argument, const Settings& settings,
             QObject* parent = nullptr);
    ~Exchange() override;

    // The command's bytes on the wire.
    const std::string& Command() const { return m_frame; }
    // The answer is awaited: the command was written, the answer is not over.
    bool Waiting() const { return m_answer.Waiting(); }
    // How it ended; meaningful once Over came.
    AnswerEnd End() const { return m_end; }
    bool IsOver() const { return m_over; }

    // What the answer brought: its frames as counted, and the records kept (the store holds
    // LinkState::StoreSize), in the order they came; data frames that came with it full.
    const AnswerTally& Tally() const { return m_tally; }
    const std::vector<AnswerRecord>& Records() const { return m_records; }
    std::int64_t Dropped() const { return m_link.RxDropped; }
    // The store and the receiver as they stand, for tests.
    const LinkState& Store() const { return m_link; }

    // Nothing more is awaited (the port closed or changed, the program ends); Over comes now,
    // if the answer was awaited.
    void Stop(AnswerEnd end = AnswerEnd::Stopped);
    // Why the port was lost, when it ended so.
    const QString& LostReason() const { return m_lostReason; }

signals:
    // The command was written, and the answer is awaited.
    void Written();
    // The command could not be written (the port refused it): nothing was sent, and it
    // is over as not sent.
    void NotWritten(const QString& reason);
    // A reply frame closed: an error reply, an accepted command, a data record kept at its
    // place, or one that the full store could not keep.
    void ErrorReply();
    void Accepted();
    void RecordKept(const qm::AnswerRecord& record);
    void RecordDropped();
    // The answer is over, or will never come. After NotSent, the rest of the command was
    // dropped from the port.
    void Over(qm::AnswerEnd end);

private:
    friend class Line;
    // The line's calls: its turn on `port`, named `device` (and `stableName`) in the journal;
    // each chunk that arrives; the command left the port; the port went away.
    void Begin(QmtTxRx& port, const QString& device, const QString& stableName);
    void Take(const QByteArray& chunk);
    void CommandLeft() { m_answer.CommandLeft(); }
    void PortLost(const QString& reason);
    void Finish(AnswerEnd end);
    // The next exchange has begun: what this one kept goes now, before the object itself
    // (deleted later, when control is back in the event loop).
    void Retire();

    std::string m_frame;
    bool m_clear = false;
    Settings m_settings;
    // The journal may end before the last exchange does (at a program's end).
    QPointer<JournalWriter> m_journal;
    QmtTxRx* m_port = nullptr;
    LinkState m_link;
    AnswerWatch m_answer;
    AnswerTally m_tally;
    std::vector<AnswerRecord> m_records;
    JournalWriter::Acquisition m_acquisition = 0;
    AnswerEnd m_end = AnswerEnd::Stopped;
    bool m_over = false;
    QString m_lostReason;
};

} // namespace qm

Q_DECLARE_METATYPE(qm::AnswerRecord)
