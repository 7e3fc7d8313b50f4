#include "line/Exchange.h"

#include "ports/Log.h"
#include "protocol/CommandFrame.h"
#include "records/CsvExport.h"
#include "serial/QmtTxRx.h"

#include <QDateTime>

namespace qm {

Exchange::Exchange(std::string_view verb, std::string_view argument, const Settings& settings,
                   QObject* parent)
    : QObject(parent)
    , m_frame(ComposeCommand(verb, argument))
    , m_clear(verb == VerbClear)
    , m_settings(settings)
    , m_journal(settings.journal)
{
    m_answer.setIntervals(m_settings.intervals);
    m_answer.setStillSending([this] { return m_port && m_port->OutBufferCount() > 0; });
    connect(&m_answer, &AnswerWatch::Over, this, &Exchange::Finish);
}

Exchange::~Exchange()
{
    // Late characters are this acquisition's no more: the next one's, or none's.
    if (m_journal)
        m_journal->Forget(m_acquisition);
}

void Exchange::Begin(QmtTxRx& port, const QString& device, const QString& stableName)
{
    m_port = &port;
    const QByteArray frame(m_frame.data(), qsizetype(m_frame.size()));
    // Journaled first: a command that cannot be written is kept as not sent.
    if (m_journal)
        m_acquisition = m_journal->CommandSent({QDateTime::currentDateTimeUtc(),
                                                device,
                                                stableName,
                                                m_settings.program,
                                                m_settings.version,
                                                frame,
                                                {}});
    if (const Result<> written = port.Output(QString::fromLatin1(frame)); !written) {
        const QString reason = written.Reason();
        if (m_journal)
            m_journal->AnswerOver(m_acquisition, JournalOutcome::NotSent);
        m_over = true;
        m_end = AnswerEnd::NotSent;
        emit NotWritten(reason);
        return;
    }
    // Written first, then the store emptied: no character can come in between, since both
    // run before the event loop does again.
    m_link.ResetReception();
    m_answer.CommandWritten();
    emit Written();
}

void Exchange::Take(const QByteArray& chunk)
{
    if (m_journal)
        m_journal->Received(m_acquisition, chunk);
    // After the answer is over, what comes is kept as received, never read into its records.
    if (!m_answer.Waiting())
        return;
    const ChunkOutcome outcome =
        m_link.Receive(std::string_view(chunk.constData(), std::size_t(chunk.size())));
    switch (outcome) {
    case ChunkOutcome::Nothing:
        break;
    case ChunkOutcome::ErrorReply:
        ++m_tally.errorReplies;
        emit ErrorReply();
        break;
    case ChunkOutcome::CommandAccepted:
        ++m_tally.accepted;
        emit Accepted();
        break;
    case ChunkOutcome::RecordStored: {
        ++m_tally.records;
        AnswerRecord& record = m_records.emplace_back();
        record.place = m_link.RxCount;
        record.frame = m_link.RxRecords[std::size_t(m_link.RxCount - 1)];
        record.read = DecodeRecord(record.frame, m_settings.decimalSeparator);
        record.bytes = CsvCells(record.read);
        // Each record as it comes, so that one the file or the table never gets (the run
        // killed, the disk full) is kept all the same.
        if (m_journal)
            m_journal->Record(m_acquisition, record.place, record.bytes);
        emit RecordKept(record);
        break;
    }
    case ChunkOutcome::RecordDropped:
        ++m_tally.records;
        emit RecordDropped();
        break;
    case ChunkOutcome::FrameAbandoned:
        qCInfo(lcLink) << "a reply frame grew past" << LinkState::MaxFrameLength
                       << "characters without its CR and was abandoned";
        break;
    }
    m_answer.CharacterArrived(outcome, m_link.RxFlag != 0);
}

void Exchange::PortLost(const QString& reason)
{
    m_lostReason = reason;
    m_answer.Stop(AnswerEnd::Lost);
}

void Exchange::Stop(AnswerEnd end)
{
    m_answer.Stop(end);
}

void Exchange::Retire()
{
    m_records = {};
    m_link.ResetReception();
    m_link.RxRecords = {};
    m_link.RxBuffer.shrink_to_fit();
    if (m_journal)
        m_journal->Forget(std::exchange(m_acquisition, 0));
}

void Exchange::Finish(AnswerEnd end)
{
    // Dropped, so that it cannot go out later behind the next command and bring its answer
    // into that command's.
    if (end == AnswerEnd::NotSent && m_port)
        m_port->setOutBufferCount(0);
    if (m_journal)
        m_journal->AnswerOver(m_acquisition, JournalOutcomeOf(end, m_tally, m_clear));
    m_end = end;
    m_over = true;
    emit Over(end);
}

} // namespace qm
