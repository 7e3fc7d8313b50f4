#pragma once

#include "protocol/AnswerWatch.h"
#include "records/RecordLayout.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <array>
#include <chrono>
#include <string>

namespace qm {

// The journal: every command the programs send, every byte the instrument answers and every
// record, kept on disk as they come, so that no acquisition is lost to a crash, a power cut
// or a window closed without saving. One SQLite database per user, shared by both programs.
// Here: what the writer (JournalWriter.h) is handed and the reader (JournalReader.h) gives.

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
    // Who it is wherever it goes (the lab's database): made when it is journaled, unless given.
    QUuid uid;
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
    QUuid uid;
    // When the lab's database confirmed it (UTC; null while not); why it refused it, if it did.
    QDateTime labSent;
    QString labRefused;
};

// A watch: the present values of one or more instruments read at an interval. Each reading is
// numbered as an acquisition is, from the same count, and is kept whole (when, where, every
// byte answered, why it holds no values), so that the watch's CSV can be written again from
// the journal alone, byte for byte.

// Why a reading holds no values; None for a good one.
enum class ReadingNote : int {
    None = 0,
    NoAnswer = 1,       // nothing, or nothing whole, in time
    ErrorReply = 2,     // the instrument answered with an error reply
    LineLost = 3,       // the port went away during the reading
    WaitingForPort = 4, // due while the port was away: not sent
    Skipped = 5,        // due while the reading before was still running: not sent
    NotSent = 6,        // the port did not let the command out
    Missed = 7,         // due while the program could not run (held up, the machine asleep)
};
// As the watch's CSV gives it: "no answer", "error reply", ...; empty for None. `tornBefore`
// adds that a torn last line was cut off the file before this one.
QString ReadingNoteText(ReadingNote note, bool tornBefore = false);

// What the lab's database confirmed it holds: an acquisition by its number and uid, or a
// reading by its number and its watch's uid. Both are named, so that a mark never lands on
// another journal's row of the same number (a damaged journal replaced meanwhile).
struct LabConfirmed {
    qint64 number = 0;
    QUuid uid; // the acquisition's, or the reading's watch's
    bool reading = false;
};

// A reading's uid: made from its watch's and its own number, the same whenever it is asked
// for, so that a reading keeps no uid of its own and is still never sent twice.
QUuid ReadingUid(const QUuid& watch, qint64 number);

// A watch as it starts.
struct JournalWatch {
    QDateTime started; // UTC
    QString program;   // "qm6200-acquire", "qm6200-datalink"
    QString version;
    QByteArray frame; // the command each reading sends
    std::chrono::milliseconds every{1000};
    QStringList ports; // as the operator named them, in the order given
    QString output;    // the CSV file as given (%F and all); empty for standard output
    std::string decimalSeparator = "."; // of the cells the CSV got
    // Who it is wherever it goes: made when it is journaled, unless given. Each reading's is
    // made from it and the reading's number (ReadingUid).
    QUuid uid;
};

// One reading of a watch.
struct JournalReading {
    int port = 0;          // its index in JournalWatch::ports
    QDateTime time;        // UTC, to the millisecond: when the command left, or was due
    int offsetSeconds = 0; // local time's offset from UTC in force at `time`
    ReadingNote note = ReadingNote::None;
    bool tornBefore = false; // a torn line was cut off the file before this reading's
    QByteArray reply;        // every byte answered, as received
};

// A watch as the history lists it: under its first reading's number.
struct JournalWatchEntry {
    qint64 number = 0; // the first reading's number; 0 while it has none
    JournalWatch watch;
    QDateTime first; // UTC: the first reading's time, and the last's
    QDateTime last;
    qint64 readings = 0;
    qint64 noted = 0;      // readings that carry a note
    qint64 labWaiting = 0; // readings the lab's database has not confirmed
};

} // namespace qm
