#pragma once

#include "lab/LabServer.h"

#include <QString>

#include <functional>
#include <vector>

namespace qm {

class JournalReader;
class JournalWriter;

// Sends what the journal holds and the lab's database has not confirmed, oldest first, one
// acquisition (or reading) a transaction, and marks in the journal what the server confirmed.
// The journal is read in steps: a backlog of years is never held whole. Killed at any point, a
// run sends again at most what was sent and not yet marked, which the server then finds there
// already: nothing is ever there twice.
struct LabSyncReport {
    qint64 added = 0;        // sent and taken
    qint64 alreadyThere = 0; // the server had them (sent before, the mark lost)
    // Refused for what they hold: by number, with why; they stay unsent, and the rest went.
    std::vector<std::pair<qint64, QString>> refused;
    qint64 left = 0; // not sent when the run ended, the refused among them
    // Why the run ended before the end (unreachable, refused, a stop); none when it did not.
    LabServer::Problem problem;
    bool stopped = false; // asked to stop
};

// One sync over `server` (opened): reads `reader`'s journal (open), marks through `writer`
// (of the same journal). `stopRequested` is asked between acquisitions. `progress` hears the
// counts now and then.
LabSyncReport SyncJournal(LabServer& server, const JournalReader& reader, JournalWriter& writer,
                          const std::function<bool()>& stopRequested,
                          const std::function<void(const LabSyncReport&)>& progress = {});

} // namespace qm
