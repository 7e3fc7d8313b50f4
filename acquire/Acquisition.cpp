#include "acquire/Acquisition.h"

#include "link/CommandFrame.h"
#include "link/QmtTxRx.h"
#include "records/RecordLayout.h"

#include <QDir>
#include <QLocale>

#include <algorithm>
#include <csignal>
#include <cstring>

namespace qm::acquire {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

namespace {

QString Records(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 record") : QStringLiteral("%1 records").arg(count);
}

QString Seconds(milliseconds time)
{
    return QString::number(double(time.count()) / 1000, 'g', 6);
}

} // namespace

std::string RecordsCsv(const std::vector<std::string>& records, const QString& decimalSeparator)
{
    std::string csv;
    for (const std::string& record : records) {
        const auto cells = CsvCells(record, decimalSeparator);
        csv += CsvLine(std::vector<std::string>(cells.begin(), cells.end()));
    }
    return csv;
}

QString Destination(const Options& options)
{
    return options.toStandardOutput() ? QStringLiteral("standard output")
                                      : QDir::toNativeSeparators(options.output);
}

QString SaveProblem(const Options& options, const SaveResult& saved)
{
    QString what;
    if (!options.toStandardOutput() && saved.oldContentKept)
        what = QStringLiteral(" Nothing was changed on the disk.");
    else if (!options.toStandardOutput())
        what = saved.oldContentCopy.isEmpty()
                   ? QStringLiteral(" The file's old content may be damaged.")
                   : QStringLiteral(" The file's old content may be damaged; a copy of it is "
                                    "kept in %1.")
                         .arg(saved.oldContentCopy);
    return QStringLiteral("The records could not be saved to %1: %2.%3")
        .arg(Destination(options), saved.failure, what);
}

Acquisition::Acquisition(QmtTxRx& port, const Options& options, Save save, QObject* parent)
    : QObject(parent)
    , m_port(port)
    , m_options(options)
    , m_save(std::move(save))
    , m_decimalSeparator(QLocale().decimalPoint())
{
    AnswerWatch::Intervals intervals;
    intervals.quiet = m_options.idle;
    intervals.noAnswer = std::min(m_options.wait, m_options.timeout);
    intervals.longest = m_options.timeout;
    intervals.leave = LeaveTime;
    intervals.quietOnlyAfterAFrame = true;
    m_answer.setIntervals(intervals);
    m_answer.setStillSending([this] { return m_port.OutBufferCount() > 0; });
    connect(&m_answer, &AnswerWatch::Over, this, [this](AnswerEnd end) {
        // Dropped, so that it never goes out behind a later command, or after this program.
        if (end == AnswerEnd::NotSent)
            m_port.setOutBufferCount(0);
        AnswerOver(end, end == AnswerEnd::Lost ? m_lostReason : QString());
    });
    connect(&m_port, &QmtTxRx::OnComm, this, &Acquisition::OnComm);
    connect(&m_port, &QmtTxRx::Sent, &m_answer, &AnswerWatch::CommandLeft);
    connect(&m_port, &QmtTxRx::PortLost, this, [this](const QString& reason) {
        m_lostReason = reason;
        m_answer.Stop(AnswerEnd::Lost);
    });
}

QString Acquisition::Activity() const
{
    const QString received = QStringLiteral(": %1").arg(Records(m_link.RxCount));
    switch (m_step) {
    case Step::Reading:
        return (m_options.command == Command::Present ? QStringLiteral("reading the present values")
                                                      : QStringLiteral("reading the records"))
               + received;
    case Step::Checking:
        return QStringLiteral("reading them again before the clear") + received;
    case Step::Clearing:
        return QStringLiteral("clearing");
    }
    return {};
}

void Acquisition::JournalTo(JournalWriter* writer, const JournalCommand& command)
{
    m_journal = writer;
    m_journaled = command;
}

void Acquisition::Start()
{
    if (m_outcome.signal > 0) {
        m_problems << QStringLiteral("stopped by %1 before anything was sent.").arg(SignalName());
        return Finish();
    }
    switch (m_options.command) {
    case Command::Records:
        return Ask(Step::Reading, VerbRead, ArgumentAll);
    case Command::Present:
        return Ask(Step::Reading, VerbRead, ArgumentNow);
    case Command::Clear:
        return Ask(Step::Clearing, VerbClear, ArgumentAll);
    case Command::History: // reads the journal: nothing to send
        return Finish();
    }
}

void Acquisition::Stop(int signal)
{
    if (m_outcome.signal > 0 || m_finished)
        return;
    m_outcome.signal = signal;
    if (!m_answer.Waiting())
        return; // Start() has not run yet, and will not send anything
    // Posted behind whatever the line has already brought, so that it is taken in.
    QMetaObject::invokeMethod(
        this, [this] { m_answer.Stop(AnswerEnd::Stopped); }, Qt::QueuedConnection);
}

void Acquisition::Ask(Step step, std::string_view verb, std::string_view argument)
{
    m_step = step;
    m_errorReplies = 0;
    m_accepted = 0;
    // Written first, then the store emptied, as the desktop's buttons do: no character can
    // come in between, since both run before the event loop does again.
    const std::string frame = ComposeCommand(verb, argument);
    if (m_journal != nullptr) {
        JournalCommand command = m_journaled;
        command.sent = QDateTime::currentDateTimeUtc();
        command.frame = QByteArray(frame.data(), static_cast<qsizetype>(frame.size()));
        m_journal->Forget(m_acquisition);
        m_acquisition = m_journal->CommandSent(command);
    }
    const bool sent =
        m_port.Output(QString::fromLatin1(frame.data(), static_cast<qsizetype>(frame.size())));
    m_link.ResetReception();
    m_answer.CommandWritten();
    if (!sent) {
        m_lostReason = m_port.ErrorText();
        m_answer.Stop(AnswerEnd::Lost);
    }
}

void Acquisition::OnComm()
{
    if (m_port.CommEvent() != QmtTxRx::comEvReceive)
        return;
    const QByteArray chunk = m_port.Input().toLatin1();
    // After the answer is over, nothing that comes is part of it.
    if (!m_answer.Waiting())
        return;
    if (m_journal != nullptr)
        m_journal->Received(m_acquisition, chunk);
    const ChunkOutcome outcome =
        m_link.Receive(std::string_view(chunk.constData(), std::size_t(chunk.size())));
    // Each record as it comes, so that one the file never gets (the run killed, the disk
    // full) is kept all the same.
    if (outcome == ChunkOutcome::RecordStored && m_journal != nullptr) {
        const std::string& record = m_link.RxRecords[std::size_t(m_link.RxCount - 1)];
        m_journal->Record(m_acquisition, m_link.RxCount, CsvCells(record, m_decimalSeparator));
    }
    if (outcome == ChunkOutcome::ErrorReply)
        ++m_errorReplies;
    else if (outcome == ChunkOutcome::CommandAccepted)
        ++m_accepted;
    m_answer.CharacterArrived(outcome, m_link.RxFlag != 0);
}

void Acquisition::AnswerOver(AnswerEnd end, const QString& reason)
{
    if (m_journal != nullptr) {
        const AnswerTally tally{int(m_link.RxCount + m_link.RxDropped), m_errorReplies, m_accepted};
        m_journal->AnswerOver(m_acquisition,
                              JournalOutcomeOf(end, tally, m_step == Step::Clearing));
    }
    switch (m_step) {
    case Step::Reading:
        return ReadingOver(end, reason);
    case Step::Checking:
        return CheckingOver(end, reason);
    case Step::Clearing:
        return ClearingOver(end, reason);
    }
}

QString Acquisition::WhyNoAnswer(AnswerEnd end, const QString& reason) const
{
    const QString port = m_options.port;
    switch (end) {
    case AnswerEnd::NoAnswer:
        return QStringLiteral("no answer from the instrument on %1 within %2 s. Check that it is "
                              "switched on and connected to this port; an instrument that holds "
                              "no records may also stay silent.")
            .arg(port, Seconds(std::min(m_options.wait, m_options.timeout)));
    case AnswerEnd::TimedOut:
        return QStringLiteral("no answer from the instrument on %1: the answer was not complete "
                              "after %2 s (--timeout).")
            .arg(port, Seconds(m_options.timeout));
    case AnswerEnd::CutShort:
        return QStringLiteral("no complete answer from the instrument on %1: the answer broke off "
                              "in the middle of a frame.")
            .arg(port);
    case AnswerEnd::Lost:
        return QStringLiteral("the connection to the instrument on %1 was lost in the middle of "
                              "the answer: %2.")
            .arg(port, reason);
    case AnswerEnd::NotSent:
        return QStringLiteral("the command was not sent to the instrument on %1: the port did "
                              "not let it out within %2 s (its output is held, by the line's "
                              "flow control or by another program). Nothing of it will be sent.")
            .arg(port)
            .arg(LeaveTime.count());
    case AnswerEnd::Stopped:
        return QStringLiteral("stopped by %1 while the instrument answered.").arg(SignalName());
    case AnswerEnd::Complete:
        break;
    }
    return {};
}

void Acquisition::Count(AnswerEnd end)
{
    switch (end) {
    case AnswerEnd::Complete:
        break;
    case AnswerEnd::NoAnswer:
    case AnswerEnd::TimedOut:
    case AnswerEnd::CutShort:
        m_outcome.noAnswer = true;
        break;
    case AnswerEnd::Lost:
    case AnswerEnd::NotSent:
        m_outcome.lost = true;
        break;
    case AnswerEnd::Stopped: // the signal counts already
        break;
    }
}

bool Acquisition::AnswerFailed(AnswerEnd end, const QString& reason, const QString& context)
{
    if (end == AnswerEnd::Complete)
        return false;
    Count(end);
    m_problems << context + WhyNoAnswer(end, reason);
    return true;
}

void Acquisition::ReadingOver(AnswerEnd end, const QString& reason)
{
    AnswerFailed(end, reason);
    if (m_errorReplies > 0) {
        m_outcome.refused = true;
        m_problems << QStringLiteral("the instrument on %1 answered with an error reply: it did "
                                     "not carry out the command.")
                          .arg(m_options.port);
    }
    if (m_link.RxDropped > 0) {
        m_outcome.dropped = m_link.RxDropped;
        m_problems << QStringLiteral("%1 more data frames arrived after the store was full and "
                                     "were dropped: only the first %2 are written.")
                          .arg(m_link.RxDropped)
                          .arg(Records(LinkState::StoreSize));
    }
    if (end != AnswerEnd::Complete && end != AnswerEnd::NoAnswer)
        m_problems << QStringLiteral("%1 had arrived.").arg(Records(m_link.RxCount));

    const bool clean = ExitStatus(m_outcome) == exit_status::Success;
    // An empty file would take the place of one that held records: only an answer that came
    // whole may write nothing.
    if (clean || m_link.RxCount > 0)
        WriteRecords();
    else
        m_problems << QStringLiteral("Nothing was written.");

    if (!m_options.thenClear)
        return Finish();
    if (ExitStatus(m_outcome) != exit_status::Success || !m_written) {
        m_problems << QStringLiteral("Nothing was cleared: the instrument still holds its "
                                     "records.");
        return Finish();
    }
    // The records are safely in the file. Whatever the instrument stored since must not be
    // erased unsaved: it is asked once more, and cleared only if it holds just these.
    Ask(Step::Checking, VerbRead, ArgumentAll);
}

void Acquisition::WriteRecords()
{
    m_saved.assign(m_link.RxRecords.begin(), m_link.RxRecords.begin() + m_link.RxCount);
    const SaveResult saved = m_save(RecordsCsv(m_saved, m_decimalSeparator));
    if (!saved.failure.isEmpty()) {
        m_outcome.writeFailed = true;
        m_problems << SaveProblem(m_options, saved);
        return;
    }
    m_written = true;
    m_summary = QStringLiteral("%1 %2 %3")
                    .arg(Records(qsizetype(m_saved.size())),
                         m_options.toStandardOutput() ? QStringLiteral("written to")
                                                      : QStringLiteral("saved to"),
                         Destination(m_options));
}

void Acquisition::CheckingOver(AnswerEnd end, const QString& reason)
{
    const QString notCleared =
        QStringLiteral("The records were saved to %1, but nothing was cleared: ")
            .arg(Destination(m_options));
    if (AnswerFailed(end, reason, notCleared))
        return Finish();
    const bool same = m_link.RxDropped == 0
                      && std::equal(m_saved.begin(), m_saved.end(), m_link.RxRecords.begin(),
                                    m_link.RxRecords.begin() + m_link.RxCount);
    if (m_errorReplies > 0) {
        m_outcome.refused = true;
        m_problems << notCleared
                          + QStringLiteral("asked for its records once more, the instrument "
                                           "answered with an error reply.");
        return Finish();
    }
    if (!same) {
        m_outcome.refused = true;
        m_problems << notCleared
                          + QStringLiteral("asked for its records once more, the instrument "
                                           "answered with other records (%1 now, %2 saved). A "
                                           "record stored meanwhile would have been erased "
                                           "unsaved; read the records again.")
                                .arg(m_link.RxCount + m_link.RxDropped)
                                .arg(qsizetype(m_saved.size()));
        return Finish();
    }
    if (m_outcome.signal > 0) { // came while the answer was being checked
        m_problems << notCleared
                          + QStringLiteral("stopped by %1 before the clear.").arg(SignalName());
        return Finish();
    }
    Ask(Step::Clearing, VerbClear, ArgumentAll);
}

void Acquisition::ClearingOver(AnswerEnd end, const QString& reason)
{
    const bool accepted = end == AnswerEnd::Complete && m_accepted > 0 && m_errorReplies == 0
                          && m_link.RxCount == 0 && m_link.RxDropped == 0;
    if (accepted) {
        const QString cleared = QStringLiteral("the instrument's records were cleared");
        m_summary = m_summary.isEmpty() ? cleared : m_summary + QStringLiteral("; ") + cleared;
        return Finish();
    }
    QString why;
    if (m_errorReplies > 0)
        why = QStringLiteral("the instrument on %1 answered the clear with an error reply.")
                  .arg(m_options.port);
    else if (end == AnswerEnd::Complete)
        why = QStringLiteral("the instrument on %1 answered the clear with something other "
                             "than the accepted reply.")
                  .arg(m_options.port);
    else
        why = WhyNoAnswer(end, reason);

    if (m_options.thenClear) {
        // The records are safe whatever happened: what matters is that the clear is not
        // known to have happened.
        m_outcome.refused = true;
        m_problems << QStringLiteral("The records were saved to %1, but the instrument did not "
                                     "confirm the clear, so they may still be in it: %2")
                          .arg(Destination(m_options), why);
        return Finish();
    }
    Count(end);
    // A whole answer that was not the accepted reply is a refusal.
    if (end == AnswerEnd::Complete || m_errorReplies > 0)
        m_outcome.refused = true;
    m_problems << why + QStringLiteral(" The instrument did not confirm the clear.");
    Finish();
}

void Acquisition::Finish()
{
    if (m_finished)
        return;
    m_finished = true;
    // RTS down and the port closed, which also removes its lock file, before anyone is told
    // that the run is over.
    m_port.setRTSEnable(false);
    m_port.setPortOpen(false);
    emit Finished();
}

QString Acquisition::SignalName() const
{
    if (const char* name = ::sigabbrev_np(m_outcome.signal))
        return QStringLiteral("SIG") + QLatin1String(name);
    return QStringLiteral("signal %1").arg(m_outcome.signal);
}

} // namespace qm::acquire
