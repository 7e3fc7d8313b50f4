#include "lab/LabSync.h"

#include "journal/JournalReader.h"
#include "journal/JournalWriter.h"

#include <QDateTime>

#include <optional>

namespace qm {

namespace {

// Read a step at a time, marked a step at a time.
constexpr int Step = 200;
// An acquisition whose answer may still be coming (another program's, running now) waits for
// its end; one pending for longer than any answer lasts was cut off by its program's end, and
// goes as it is.
constexpr qint64 AnswerMayLastSeconds = 10 * 60;

} // namespace

LabSyncReport SyncJournal(LabServer& server, const JournalReader& reader, JournalWriter& writer,
                          const std::function<bool()>& stopRequested,
                          const std::function<void(const LabSyncReport&)>& progress)
{
    LabSyncReport report;
    std::vector<LabConfirmed> marks;
    const auto mark = [&] {
        writer.LabSent(std::move(marks), QDateTime::currentDateTimeUtc());
        marks.clear();
    };
    const auto end = [&]() -> LabSyncReport {
        mark();
        writer.WaitUntilWritten();
        report.left = reader.UnsentCount();
        return report;
    };

    qint64 after = 0;
    for (;;) {
        const std::vector<std::pair<qint64, bool>> unsent = reader.Unsent(after, Step);
        if (unsent.empty())
            return end();
        for (const auto& [number, reading] : unsent) {
            if (stopRequested && stopRequested()) {
                report.stopped = true;
                return end();
            }
            after = number;
            std::optional<LabAcquisition> item;
            QUuid markedBy;
            if (reading) {
                const std::optional<JournalWatchEntry> watch = reader.WatchOf(number);
                if (watch) {
                    item = LabReadingOf(reader, *watch, number);
                    markedBy = watch->watch.uid;
                }
            } else {
                item = LabAcquisitionOf(reader, number);
                if (item && item->outcome == QLatin1String("pending")
                    && item->sent.secsTo(QDateTime::currentDateTimeUtc()) < AnswerMayLastSeconds)
                    continue;
                if (item)
                    markedBy = item->uid;
            }
            if (!item)
                continue;
            switch (server.Send(*item)) {
            case LabServer::Sent::Added:
                ++report.added;
                marks.push_back({number, markedBy, reading});
                break;
            case LabServer::Sent::AlreadyThere:
                ++report.alreadyThere;
                marks.push_back({number, markedBy, reading});
                break;
            case LabServer::Sent::RefusedContent:
                report.refused.emplace_back(number, server.LastProblem().text);
                writer.LabRefused({number, markedBy, reading}, server.LastProblem().text);
                break;
            case LabServer::Sent::LineLost:
            case LabServer::Sent::Stopped:
                report.problem = server.LastProblem();
                return end();
            }
        }
        mark();
        if (progress)
            progress(report);
    }
}

} // namespace qm
