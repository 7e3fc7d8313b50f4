#include "acquire/Acquisition.h"

#include "protocol/CommandFrame.h"
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

std::string RecordsCsv(const std::vector<AnswerRecord>& records)
{
    std::string csv;
    for (const AnswerRecord& record : records)
        csv += CsvLine(std::vector<std::string>(record.bytes.begin(), record.bytes.end()));
    return csv;
}

QString Destination(const Options& options)
{
    return options.toStandardOutput() ? QStringLiteral("standard output")
                                      : QDir::toNativeSeparators(options.output);
}

QString SaveProblem(const Options& options, const SaveFailure& saved)
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
        .arg(Destination(options), saved.reason, what);
}

Exchange::Intervals AnswerIntervals(const Options& options)
{
    Exchange::Intervals intervals;
    intervals.quiet = options.idle;
    intervals.noAnswer = std::min(options.wait, options.timeout);
    intervals.longest = options.timeout;
    intervals.leave = Acquisition::LeaveTime;
    intervals.quietOnlyAfterAFrame = true;
    return intervals;
}

Acquisition::Acquisition(Line& line, const Options& options, Save save, QObject* parent)
    : QObject(parent)
    , m_line(line)
    , m_options(options)
    , m_save(std::move(save))
{
    m_settings.intervals = AnswerIntervals(m_options);
    // The locale's, once: the journal's cells and the file's are the same bytes.
    m_settings.decimalSeparator = QLocale().decimalPoint().toStdString();
    m_settings.program = QStringLiteral("qm6200-acquire");
    m_settings.version = QStringLiteral(QM6200_VERSION);
}

QString Acquisition::Activity() const
{
    const QString received = QStringLiteral(": %1").arg(
        Records(m_exchange ? qsizetype(m_exchange->Records().size()) : 0));
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
    case Command::Watch:   // a run of its own, over all of its ports
    case Command::Sync:    // sends the journal, not the instrument
        return Finish();
    }
}

void Acquisition::Stop(int signal)
{
    if (m_outcome.signal > 0 || m_finished)
        return;
    m_outcome.signal = signal;
    if (!Waiting())
        return; // Start() has not run yet, and will not send anything
    // Posted behind whatever the line has already brought, so that it is taken in.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_exchange)
                m_exchange->Stop(AnswerEnd::Stopped);
        },
        Qt::QueuedConnection);
}

void Acquisition::Ask(Step step, std::string_view verb, std::string_view argument)
{
    m_step = step;
    m_settings.journal = m_journal;
    auto* exchange = new Exchange(verb, argument, m_settings);
    m_exchange = exchange;
    connect(exchange, &Exchange::Over, this, [this, exchange](AnswerEnd end) {
        AnswerOver(end, end == AnswerEnd::Lost ? exchange->LostReason() : QString());
    });
    // A command the port refuses is as good as a port lost.
    connect(exchange, &Exchange::NotWritten, this,
            [this](const QString& reason) { AnswerOver(AnswerEnd::Lost, reason); });
    m_line.Run(exchange);
}

void Acquisition::AnswerOver(AnswerEnd end, const QString& reason)
{
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
    const Exchange& answer = *m_exchange;
    const auto kept = qsizetype(answer.Records().size());
    AnswerFailed(end, reason);
    if (answer.Tally().errorReplies > 0) {
        m_outcome.refused = true;
        m_problems << QStringLiteral("the instrument on %1 answered with an error reply: it did "
                                     "not carry out the command.")
                          .arg(m_options.port);
    }
    if (answer.Dropped() > 0) {
        m_outcome.dropped = answer.Dropped();
        m_problems << QStringLiteral("%1 more data frames arrived after the store was full and "
                                     "were dropped: only the first %2 are written.")
                          .arg(answer.Dropped())
                          .arg(Records(Exchange::StoreSize));
    }
    if (end != AnswerEnd::Complete && end != AnswerEnd::NoAnswer)
        m_problems << QStringLiteral("%1 had arrived.").arg(Records(kept));

    const bool clean = ExitStatus(m_outcome) == exit_status::Success;
    // An empty file would take the place of one that held records: only an answer that came
    // whole may write nothing.
    if (clean || kept > 0)
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
    m_saved.clear();
    for (const AnswerRecord& record : m_exchange->Records())
        m_saved.push_back(record.frame);
    const SaveResult saved = m_save(RecordsCsv(m_exchange->Records()));
    if (!saved) {
        m_outcome.writeFailed = true;
        m_problems << SaveProblem(m_options, saved.Error());
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
    const Exchange& answer = *m_exchange;
    const auto& now = answer.Records();
    const bool same = answer.Dropped() == 0
                      && std::equal(m_saved.begin(), m_saved.end(), now.begin(), now.end(),
                                    [](const std::string& saved, const AnswerRecord& record) {
                                        return saved == record.frame;
                                    });
    if (answer.Tally().errorReplies > 0) {
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
                                .arg(qsizetype(now.size()) + answer.Dropped())
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
    const Exchange& answer = *m_exchange;
    const bool accepted = end == AnswerEnd::Complete && answer.Tally().accepted > 0
                          && answer.Tally().errorReplies == 0 && answer.Records().empty()
                          && answer.Dropped() == 0;
    if (accepted) {
        const QString cleared = QStringLiteral("the instrument's records were cleared");
        m_summary = m_summary.isEmpty() ? cleared : m_summary + QStringLiteral("; ") + cleared;
        return Finish();
    }
    QString why;
    if (answer.Tally().errorReplies > 0)
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
    if (end == AnswerEnd::Complete || answer.Tally().errorReplies > 0)
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
    m_line.Unload();
    emit Finished();
}

QString Acquisition::SignalName() const
{
    if (const char* name = ::sigabbrev_np(m_outcome.signal))
        return QStringLiteral("SIG") + QLatin1String(name);
    return QStringLiteral("signal %1").arg(m_outcome.signal);
}

} // namespace qm::acquire
