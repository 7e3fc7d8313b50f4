#pragma once

#include "journal/Journal.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUuid>

#include <array>
#include <optional>
#include <vector>

namespace qm {

class JournalReader;

// A record as the lab's database keeps it: its place in the answer, its seven texts as the
// table shows them, and the counters and the total as numbers (none where the field holds no
// number, where the table shows 0).
struct LabRecord {
    int place = 0;
    JournalCells cells;
    std::array<std::optional<double>, RecordColumns - 1> values;
};

// An acquisition as the lab's database takes it: one journaled command and its answer, or one
// reading of a watch (then `watch` is its watch's uid).
struct LabAcquisition {
    QUuid uid;
    qint64 number = 0; // in the journal it came from
    QDateTime sent;    // UTC
    QString port;
    QString stableName;
    QString program;
    QString version;
    QByteArray command;
    QString outcome; // the journal's word for how it ended, or the reading's note
    QUuid watch;     // null for an acquisition of its own
    std::vector<LabRecord> records;
    std::vector<QByteArray> replies; // the answer's parts, as received
};

// The acquisition numbered `number` in the journal, whole; none when there is none.
std::optional<LabAcquisition> LabAcquisitionOf(const JournalReader& reader, qint64 number);

// The reading numbered `number` of `watch`, as an acquisition of its own: when it was, its
// port, the watch's command, its note ("records" when it brought values), its one record and
// its reply; none when there is no such reading.
std::optional<LabAcquisition> LabReadingOf(const JournalReader& reader,
                                           const JournalWatchEntry& watch, qint64 number);

// The words a reading's note is sent as: "records" for one with values, else the note's.
QString LabNoteWord(ReadingNote note, bool hasRecord);

} // namespace qm
