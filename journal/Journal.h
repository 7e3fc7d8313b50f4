#pragma once

#include "protocol/AnswerWatch.h"
#include "records/RecordLayout.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qm {

// The journal: every command the programs send, every byte the instrument answers and every
// record, kept on disk as they come, so that no acquisition is lost to a crash, a power cut
// or a window closed without saving. One SQLite database per user, shared by both programs.

// ${XDG_DATA_HOME:-~/.local/share}/qm6200/journal.sqlite3
QString DefaultJournalPath();

// How the answer to a journaled command ended.
enum class JournalOutcome {
    Pending,    // not over yet (or the program ended first)
    Records,    // data records came
    Accepted,   // the command was accepted (an accepted-command reply)
    Cleared,    // the instrument's records were cleared (the clear accepted)
    ErrorReply, // the instrument answered with an error reply
    NoAnswer,   // nothing, or nothing whole, in time
    CutShort,   // the answer broke off inside a frame
    NotSent,    // the command never left the port
    LostLine,   // the port went away
    Stopped,    // the port was closed or changed, or the program was asked to end
};
// As the history lists it: "records", "accepted", "cleared", "error reply", ...
QString JournalOutcomeText(JournalOutcome outcome);

// What the frames of an answer were, as both programs count them.
struct AnswerTally {
    int records = 0;      // data records, kept or not
    int errorReplies = 0; // error replies
    int accepted = 0;     // accepted-command replies
};
// How a journaled answer ended: from how it came to an end and what it held. An answer to the
// clear that was accepted is the clear done.
JournalOutcome JournalOutcomeOf(AnswerEnd end, const AnswerTally& tally, bool clearCommand);

// A record as the table and the CSV show it: its seven cell texts, as the bytes the CSV line
// holds (the locale's decimal separator of the moment included). The same as RecordCells
// gives.
using JournalCells = std::array<std::string, RecordColumns>;

// A command as it is sent.
struct JournalCommand {
    QDateTime sent;     // UTC
    QString port;       // the device opened
    QString stableName; // the adapter's /dev/serial/by-id name; empty when it has none
    QString program;    // "qm6200-datalink", "qm6200-acquire"
    QString version;
    QByteArray frame; // the command's bytes on the wire
};

// Writes the journal from a thread of its own, with its own connection: a durable commit
// waits for the disk, which the window must never do. Every call but WaitUntilWritten returns
// at once, having handed its event to the journal's thread: what reached the program is on the
// disk within a second, even when the caller's thread is busy or stuck afterwards. That thread
// gathers what follows an event for a moment and commits it in one transaction, at once when
// an answer is over; other programs may write the same journal meanwhile. The calls come from
// the thread the writer lives in, whose event loop hears of failures.
//
// A journal that cannot be opened or written costs nothing else: Failed comes, and the run
// goes on without the journal. A damaged journal is moved aside and a new one started (Failed
// says so, naming both files); a journal of a newer version of the program is left as it is.
class JournalWriter : public QObject {
    Q_OBJECT

public:
    explicit JournalWriter(const QString& path = DefaultJournalPath(), QObject* parent = nullptr);
    // Commits what is still pending, then ends the thread.
    ~JournalWriter() override;

    // The writer's own number for an acquisition, from 1; 0 is none, and what names it is not
    // journaled. Several may be under way at once (a port each), and each keeps its own.
    using Acquisition = quint64;

    // A command was sent: a new acquisition, which what names its number belongs to.
    Acquisition CommandSent(const JournalCommand& command);
    // Bytes of the answer, as received, those that come after it is over too. Cheap enough for
    // each byte on its own.
    void Received(Acquisition acquisition, const QByteArray& bytes);
    // A data record of the answer, at its place in it (1 for the first).
    void Record(Acquisition acquisition, int place, const JournalCells& cells);
    // The answer is over. The acquisition's count of records is the journal's own: the
    // records it holds.
    void AnswerOver(Acquisition acquisition, JournalOutcome outcome);
    // Nothing more comes for the acquisition (the next command on its port was sent, say):
    // what the writer keeps of it goes. What the journal holds stays.
    void Forget(Acquisition acquisition);

    // Blocks until everything handed over so far is committed, or could not be: for a
    // program about to end, and for tests. A failure that happened meanwhile is signalled
    // before it returns.
    void WaitUntilWritten();

signals:
    // What happened to the journal and where, in an operator's words: it could not be opened
    // or written (the run goes on without it), or it was damaged and a new one was started.
    // Comes at most once per writer.
    void Failed(const QString& message);

private:
    void ReportFailure();

    class Worker;
    std::unique_ptr<Worker> m_worker;
    Acquisition m_lastAcquisition = 0;
};

// One journaled command and how it ended, as the history lists it.
struct JournalEntry {
    qint64 number = 0; // the acquisition's number, counted up from 1
    QDateTime sent;    // UTC
    QString port;
    QString stableName;
    QString program;
    QString version;
    QByteArray frame;
    int records = 0;
    JournalOutcome outcome = JournalOutcome::Pending;
};

// Reads the journal, read-only; the writers may go on meanwhile. Each call sees what was
// committed when it began.
class JournalReader {
public:
    explicit JournalReader(const QString& path = DefaultJournalPath());
    ~JournalReader();
    JournalReader(const JournalReader&) = delete;
    JournalReader& operator=(const JournalReader&) = delete;

    // False, with `error` in an operator's words, when there is no journal or it cannot be
    // read.
    bool open(QString* error);
    // Newest first.
    std::vector<JournalEntry> Entries() const;
    std::optional<JournalEntry> Entry(qint64 number) const;
    // The records of an acquisition, in the order they came; none for an unknown number.
    std::vector<JournalCells> Records(qint64 number) const;
    // Every byte the instrument answered to it, as received.
    QByteArray Reply(qint64 number) const;

private:
    class Connection;
    QString m_path;
    std::unique_ptr<Connection> m_connection;
};

} // namespace qm
