#pragma once

#include "journal/Journal.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

namespace qm {

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

    // The writer's own number for a watch, from 1; 0 is none, and what names it is not
    // journaled.
    using Watch = quint64;

    // A watch started: the readings that name its number belong to it. The history lists it
    // once its first reading is journaled.
    Watch WatchStarted(const JournalWatch& watch);
    // A whole reading of the watch, once it ended. It takes the next number of the count the
    // acquisitions take theirs from, in the order handed over.
    void Reading(Watch watch, const JournalReading& reading);

    // The lab's database confirmed that it holds these, at `at`: marked, so that they are not
    // sent again.
    void LabSent(std::vector<LabConfirmed> confirmed, const QDateTime& at);
    // It refused this one for what it holds, and why; kept until it is taken.
    void LabRefused(const LabConfirmed& refused, const QString& why);

    // Blocks until the journal was opened (and brought up to date) and everything handed over
    // so far is committed, or could not be: for a program about to end, and for tests. A failure
    // that happened meanwhile is signalled before it returns.
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
    Watch m_lastWatch = 0;
};

} // namespace qm
