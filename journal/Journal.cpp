#include "journal/Journal.h"

#include "files/OwnFiles.h"

#include <QObject>

namespace qm {

QString DefaultJournalPath()
{
    const OwnPath folder = ProgramFolder(UserFolderKind::Data);
    return !folder || folder->isEmpty() ? QString() : *folder + QStringLiteral("/journal.sqlite3");
}

JournalOutcome JournalOutcomeOf(AnswerEnd end, const AnswerTally& tally, bool clearCommand)
{
    switch (end) {
    case AnswerEnd::NotSent:
        return JournalOutcome::NotSent;
    case AnswerEnd::Lost:
        return JournalOutcome::LostLine;
    case AnswerEnd::Stopped:
        return JournalOutcome::Stopped;
    case AnswerEnd::NoAnswer:
    case AnswerEnd::TimedOut:
        return JournalOutcome::NoAnswer;
    case AnswerEnd::CutShort:
        return JournalOutcome::CutShort;
    case AnswerEnd::Complete:
        break;
    }
    if (tally.errorReplies > 0)
        return JournalOutcome::ErrorReply;
    if (tally.records > 0)
        return JournalOutcome::Records;
    if (tally.accepted > 0)
        return clearCommand ? JournalOutcome::Cleared : JournalOutcome::Accepted;
    // Only what belongs to no frame came.
    return JournalOutcome::NoAnswer;
}

QString JournalOutcomeText(JournalOutcome outcome)
{
    switch (outcome) {
    case JournalOutcome::Pending:
        return QObject::tr("pending");
    case JournalOutcome::Records:
        return QObject::tr("records");
    case JournalOutcome::Accepted:
        return QObject::tr("accepted");
    case JournalOutcome::Cleared:
        return QObject::tr("cleared");
    case JournalOutcome::ErrorReply:
        return QObject::tr("error reply");
    case JournalOutcome::NoAnswer:
        return QObject::tr("no answer");
    case JournalOutcome::CutShort:
        return QObject::tr("cut short");
    case JournalOutcome::NotSent:
        return QObject::tr("not sent");
    case JournalOutcome::LostLine:
        return QObject::tr("lost line");
    case JournalOutcome::Stopped:
        return QObject::tr("stopped");
    }
    return {};
}

QString ReadingNoteText(ReadingNote note, bool tornBefore)
{
    QString text;
    switch (note) {
    case ReadingNote::None:
        break;
    case ReadingNote::NoAnswer:
        text = QObject::tr("no answer");
        break;
    case ReadingNote::ErrorReply:
        text = QObject::tr("error reply");
        break;
    case ReadingNote::LineLost:
        text = QObject::tr("line lost");
        break;
    case ReadingNote::WaitingForPort:
        text = QObject::tr("waiting for the port");
        break;
    case ReadingNote::Skipped:
        text = QObject::tr("skipped: the reading before was still running");
        break;
    case ReadingNote::NotSent:
        text = QObject::tr("not sent: the port did not let the command out");
        break;
    case ReadingNote::Missed:
        text = QObject::tr("missed: the program could not run when it was due");
        break;
    }
    if (!tornBefore)
        return text;
    const QString torn = QObject::tr("a torn line was cut off the file before this one");
    return text.isEmpty() ? torn : text + QStringLiteral("; ") + torn;
}

QUuid ReadingUid(const QUuid& watch, qint64 number)
{
    return QUuid::createUuidV5(watch, QByteArray::number(number));
}

} // namespace qm
