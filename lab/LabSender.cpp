#include "lab/LabSender.h"

#include "journal/JournalReader.h"
#include "journal/JournalWriter.h"
#include "lab/LabSync.h"

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace qm {

using Clock = std::chrono::steady_clock;

// What the caller and the sender's thread share; the thread holds it too, so that one left to
// end with the program uses nothing of the caller's.
struct LabSender::Shared {
    Settings settings;
    LabSender* owner = nullptr; // none once the caller's object is gone; under the mutex

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable roundDone;
    bool nudged = false;
    bool hurry = false; // SendNow: no gathering
    bool stopping = false;
    Clock::time_point retryAt{};
    std::uint64_t rounds = 0;
    bool lastRoundEmptied = false;
    bool lastRoundFailed = false; // the server away or refusing

    std::thread thread;
    bool ended = false;

    void Run();
    void Round(LabServer& server, JournalWriter& marks, bool& away,
               std::chrono::milliseconds& retry, std::set<qint64>& told);
    bool Stopping()
    {
        const std::lock_guard lock(mutex);
        return stopping;
    }
    // The owner goes on the caller's thread; what it is told comes from here, queued to it.
    template<typename Emit>
    void Tell(Emit&& emitIt)
    {
        const std::lock_guard lock(mutex);
        if (owner)
            emitIt(owner);
    }
};

void LabSender::Shared::Run()
{
    LabServer server;
    server.SetSender(settings.host, settings.user);
    // A writer of the sender's own marks what the server confirmed.
    JournalWriter marks(settings.journalPath);
    bool away = false;
    std::chrono::milliseconds retry = settings.firstRetry;
    std::set<qint64> told;
    for (;;) {
        {
            std::unique_lock lock(mutex);
            // While away, a nudge waits for the next try, which comes nudged or not.
            while (!stopping && !(nudged && (!away || Clock::now() >= retryAt))) {
                if (away && nudged)
                    wake.wait_until(lock, retryAt);
                else
                    wake.wait(lock);
            }
            if (stopping)
                break;
            if (!away && !hurry) {
                // What comes with it goes in the same round.
                wake.wait_for(lock, settings.gather, [&] { return stopping || hurry; });
                if (stopping)
                    break;
            }
            nudged = false;
            hurry = false;
        }
        Round(server, marks, away, retry, told);
    }
    const std::lock_guard lock(mutex);
    ended = true;
    roundDone.notify_all();
}

void LabSender::Shared::Round(LabServer& server, JournalWriter& marks, bool& away,
                              std::chrono::milliseconds& retry, std::set<qint64>& told)
{
    LabSyncReport report;
    {
        // The journal as its writers committed it.
        marks.WaitUntilWritten();
        JournalReader reader(settings.journalPath);
        const LabServer::Problem opened =
            server.Connected() ? LabServer::Problem{} : server.Open(settings.conninfo);
        if (opened.fault != LabServer::Fault::None)
            report.problem = opened;
        else if (reader.open())
            report = SyncJournal(server, reader, marks, [this] { return Stopping(); });
    }
    if (report.problem.fault != LabServer::Fault::None) {
        server.Close();
        if (!away)
            Tell([&](LabSender* sender) { emit sender->Away(report.problem.text); });
        away = true;
        const std::lock_guard lock(mutex);
        retryAt = Clock::now() + retry;
        retry = std::min(retry * 2, settings.longestRetry);
        // Tried again when it is time, nudged or not.
        nudged = true;
    } else if (!report.stopped) {
        if (away && report.left == qint64(report.refused.size()))
            Tell([](LabSender* sender) { emit sender->AllSent(); });
        away = false;
        retry = settings.firstRetry;
        for (const std::pair<qint64, QString>& refused : report.refused) {
            if (told.insert(refused.first).second)
                Tell([&](LabSender* sender) {
                    emit sender->Refused(refused.first, refused.second);
                });
        }
    }
    const std::lock_guard lock(mutex);
    ++rounds;
    lastRoundEmptied =
        report.problem.fault == LabServer::Fault::None && !report.stopped && report.left == 0;
    lastRoundFailed = report.problem.fault != LabServer::Fault::None;
    roundDone.notify_all();
}

LabSender::LabSender(Settings settings, QObject* parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->settings = std::move(settings);
    m_shared->owner = this;
    m_shared->thread = std::thread([shared = m_shared] { shared->Run(); });
}

LabSender::~LabSender()
{
    std::unique_lock lock(m_shared->mutex);
    m_shared->owner = nullptr;
    m_shared->stopping = true;
    m_shared->wake.notify_all();
    const bool ended = m_shared->roundDone.wait_for(lock, EndWait, [&] { return m_shared->ended; });
    lock.unlock();
    if (ended)
        m_shared->thread.join();
    else
        m_shared->thread.detach();
}

void LabSender::Nudge()
{
    {
        const std::lock_guard lock(m_shared->mutex);
        m_shared->nudged = true;
    }
    m_shared->wake.notify_all();
}

bool LabSender::SendNow(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_shared->mutex);
    const std::uint64_t before = m_shared->rounds;
    m_shared->nudged = true;
    m_shared->hurry = true;
    m_shared->wake.notify_all();
    // A round that began before this one was asked for may not hold what was journaled just
    // now: the next one after it does.
    const std::uint64_t target = before + 2;
    const bool done = m_shared->roundDone.wait_for(lock, limit, [&] {
        return m_shared->ended || m_shared->rounds >= target
               || (m_shared->rounds > before
                   && (m_shared->lastRoundEmptied || m_shared->lastRoundFailed));
    });
    return done && m_shared->lastRoundEmptied;
}

} // namespace qm
