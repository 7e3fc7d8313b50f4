#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

namespace qm {

// Sends the journal to the lab's database in the background, from a thread of its own: a round
// (SyncJournal) soon after it is nudged (an acquisition or a reading was journaled), what came
// meanwhile going together. While the server cannot be reached or refuses, it tries again after
// 5 s, then twice as long each time, up to 5 minutes; a nudge does not hurry it then. The
// caller never waits for the server, but for SendNow.
//
// Its signals come from its thread: a receiver on another thread gets them queued.
class LabSender : public QObject {
    Q_OBJECT

public:
    struct Settings {
        QString conninfo;
        QString journalPath;
        QString host; // as each row names the computer and the user
        QString user;
        // How long a round waits after a nudge: what comes with it goes together, and what
        // was journaled is committed by then (within a second).
        std::chrono::milliseconds gather{1500};
        std::chrono::milliseconds firstRetry{5000};
        std::chrono::milliseconds longestRetry{300000};
    };

    explicit LabSender(Settings settings, QObject* parent = nullptr);
    // Asks the round under way to end at its next acquisition and waits for it, at most
    // `EndWait`; one held up longer (a server that does not answer) is left to end with the
    // program, owning all it uses: what it sent and did not mark goes again next time, and is
    // found there.
    ~LabSender() override;
    static constexpr std::chrono::milliseconds EndWait{500};

    // Something new is in the journal.
    void Nudge();
    // A round now, and waits for its end, at most `limit`; true when it ended with nothing
    // left to send.
    bool SendNow(std::chrono::milliseconds limit);

signals:
    // The server cannot be reached, or refuses: once, until everything is sent again.
    void Away(const QString& why);
    // Everything is sent again after it was away.
    void AllSent();
    // The server refused acquisition `number` for what it holds: once for each.
    void Refused(qint64 number, const QString& why);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace qm
