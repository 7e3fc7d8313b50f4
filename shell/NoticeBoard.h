#pragma once

#include "ports/PortList.h"

#include <QString>
#include <QStringList>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

namespace qm {

// What the line under the main window's table says. Several things may hold at once (the line
// was lost during the last acquisition, the table was saved, a port is open); the line shows
// one of them, the most pressing. Each topic holds one text or none, and the topics are
// ranked: a fault outranks news, and news outranks the standing state.
//
// - Faults, in the alarm colour, first to last:
//   - the lost port came back but would not open: nothing can be done until it opens; until it
//     does, or the operator chooses a port;
//   - the table is incomplete: the line was lost while records came; until the next command;
//   - no answer came within the time after a command; until the next command;
//   - received records that the table has no row for; until the next command;
//   - the lab's database cannot be reached, or refuses: until everything waiting is sent.
// - News, the newest alone (the table saved, the port opened again by itself): until the next
//   command, newer news, or the port opens or closes, after which it would be out of date.
// - The standing state: which port is open, or that none is. Always there.
//
// A fault changes what the operator does next, so nothing hides it; news says that something
// asked for was done, and once it is old the state shows again. The lab database's fault comes
// under the port's and the answer's: the acquisition itself is safe in the journal.
class NoticeBoard {
public:
    // In the order of precedence.
    enum class Topic {
        PortWillNotOpen,
        Incomplete,
        NoAnswer,
        NotInTable,
        LabAway,
        News,
        Port,
    };
    enum class Rank { Fault, News, State };
    static Rank RankOf(Topic topic);

    struct Notice {
        Topic topic;
        QString text;
        Rank rank() const { return RankOf(topic); }
        friend bool operator==(const Notice&, const Notice&) = default;
    };

    // An empty text: the topic holds nothing.
    void Set(Topic topic, const QString& text);
    void Clear(Topic topic) { Set(topic, QString()); }
    const QString& Text(Topic topic) const { return m_texts[Index(topic)]; }

    // A command was written: what the last answer told, and the news, are over.
    void CommandWritten();
    // The port opened or closed: the news is out of date, and an open port ends the fault of
    // one that would not open.
    void PortChanged(bool open);

    // What the line shows: the first topic that holds a text; nothing when none does.
    std::optional<Notice> Top() const;

private:
    static constexpr std::size_t Topics = std::size_t(Topic::Port) + 1;
    static std::size_t Index(Topic topic) { return std::size_t(topic); }

    std::array<QString, Topics> m_texts;
};

// The open port as the port dialog's list shows it: a port of this computer that the list
// finds among `found` (by its device, a name under /dev/serial/by-id, or a link to it) with
// what it is, "/dev/ttyUSB0 — FT232R USB UART (FTDI), serial number A9X1"; one of the running
// `simulators` as a simulated instrument; COM1 to COM4 with their device, "COM1 (/dev/ttyS0)";
// any other by its name.
QString OpenPortText(const QString& portName, const QList<FoundPort>& found,
                     const QStringList& simulators);

// The line's texts. Received records that have no row in the table.
QString NotInTableText(std::int64_t notInTable);
// The line lost after `received` records came, `notInTable` of them without a row.
QString IncompleteText(std::int64_t received, std::int64_t notInTable);
// Nothing came `within` the time after a command on `portName`.
QString NoAnswerText(std::chrono::milliseconds within, const QString& portName);
// `records` rows with text and `blank` rows without were saved to `path`.
QString SavedText(int records, int blank, const QString& path);

} // namespace qm
