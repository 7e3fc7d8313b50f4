#include "shell/NoticeBoard.h"

#include "files/Names.h"
#include "ports/PortNames.h"
#include "ports/SimulatorPorts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

namespace qm {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("qm::NoticeBoard", text);
}

} // namespace

NoticeBoard::Rank NoticeBoard::RankOf(Topic topic)
{
    switch (topic) {
    case Topic::PortWillNotOpen:
    case Topic::Incomplete:
    case Topic::NoAnswer:
    case Topic::NotInTable:
    case Topic::LabAway:
        return Rank::Fault;
    case Topic::News:
        return Rank::News;
    case Topic::Port:
        break;
    }
    return Rank::State;
}

void NoticeBoard::Set(Topic topic, const QString& text)
{
    m_texts[Index(topic)] = text;
}

void NoticeBoard::CommandWritten()
{
    for (const Topic over : {Topic::Incomplete, Topic::NoAnswer, Topic::NotInTable, Topic::News})
        Clear(over);
}

void NoticeBoard::PortChanged(bool open)
{
    Clear(Topic::News);
    if (open)
        Clear(Topic::PortWillNotOpen);
}

std::optional<NoticeBoard::Notice> NoticeBoard::Top() const
{
    for (std::size_t i = 0; i < Topics; ++i) {
        if (!m_texts[i].isEmpty())
            return Notice{Topic(i), m_texts[i]};
    }
    return std::nullopt;
}

QString OpenPortText(const QString& portName, const QList<FoundPort>& found,
                     const QStringList& simulators)
{
    const QString device = SystemLocation(portName);
    if (device != portName)
        return QStringLiteral("%1 (%2)").arg(portName, device);
    // A name under /dev/serial/by-id, or a link of the operator's, leads to the device listed.
    const QString real = QFileInfo(device).canonicalFilePath();
    const auto isIt = [&](const QString& listed) {
        return listed == device
               || (!real.isEmpty() && QFileInfo(listed).canonicalFilePath() == real);
    };
    for (FoundPort port : found) {
        if (isIt(port.device)) {
            port.permitted = true; // it is open, whatever the list thought of it
            return FoundPortListText(port);
        }
    }
    for (const QString& simulator : simulators) {
        if (isIt(simulator))
            return SimulatorListText(simulator);
    }
    return ShownText(portName);
}

QString NotInTableText(std::int64_t notInTable)
{
    return notInTable == 1 ? tr("Table full: 1 more record received, not shown.")
                           : tr("Table full: %1 more records received, not shown.").arg(notInTable);
}

QString IncompleteText(std::int64_t received, std::int64_t notInTable)
{
    QString text;
    if (received == 0)
        text = tr("Table incomplete: the line was lost before any record came.");
    else if (received == 1)
        text = tr("Table incomplete: 1 record, then the line was lost.");
    else
        text = tr("Table incomplete: %1 records, then the line was lost.").arg(received);
    if (notInTable > 0)
        text += tr(" %1 of them are not in the table.").arg(notInTable);
    return text;
}

QString NoAnswerText(std::chrono::milliseconds within, const QString& portName)
{
    const QString seconds = QLocale().toString(double(within.count()) / 1000, 'g', 3);
    return tr("No answer within %1 s: check the cable, that the instrument is switched on, and "
              "that it is connected to %2.")
        .arg(seconds, ShownText(portName));
}

QString SavedText(int records, int blank, const QString& path)
{
    const QString shown = ShownText(QDir::toNativeSeparators(path));
    const QString blankLines = blank == 1 ? tr("1 blank line") : tr("%1 blank lines").arg(blank);
    if (records == 0)
        return blank == 0 ? tr("Saved an empty file to %1").arg(shown)
                          : tr("Saved %1 to %2").arg(blankLines, shown);
    const QString saved = records == 1 ? tr("1 record") : tr("%1 records").arg(records);
    return blank == 0 ? tr("Saved %1 to %2").arg(saved, shown)
                      : tr("Saved %1 and %2 to %3").arg(saved, blankLines, shown);
}

} // namespace qm
