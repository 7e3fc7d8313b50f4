#pragma once

#include "lab/LabRows.h"

#include <QString>

#include <memory>

struct pg_conn;

namespace qm {

// The lab's PostgreSQL server, through libpq: the connection, the schema qm6200 (made when the
// role may, checked when it was made by the lab's administrator), and one acquisition at a
// time sent in a transaction of its own, never twice.
class LabServer {
public:
    // The schema's version this program writes; a newer one on the server is left alone.
    static constexpr int SchemaVersion = 1;

    // What went wrong, by what the operator can do about it.
    enum class Fault {
        None,
        Unreachable, // no server answers there (try again later)
        Refused,     // it answers and refuses: authentication, permission
        Settings,    // the settings are wrong, or the server's schema is newer
    };
    struct Problem {
        Fault fault = Fault::None;
        QString text; // in an operator's words, no password in it
    };

    // How sending one went.
    enum class Sent {
        Added,          // it is there now, once
        AlreadyThere,   // it was there before (sent before, its mark lost)
        RefusedContent, // the server refused what it holds (LastProblem says why); it is not there
        LineLost,       // the connection failed in the middle: nothing more goes now
        Stopped,        // the server refuses every one (permission): nothing more goes now
    };

    LabServer();
    ~LabServer();
    LabServer(const LabServer&) = delete;
    LabServer& operator=(const LabServer&) = delete;

    // Connects, and makes the schema or checks it; the problem when not.
    Problem Open(const QString& conninfo);
    void Close();
    bool Connected() const { return m_connection != nullptr; }

    Sent Send(const LabAcquisition& acquisition);
    const Problem& LastProblem() const { return m_problem; }

    // Who sends: this computer's name and the user's, as each row keeps them.
    void SetSender(const QString& host, const QString& user);

private:
    Problem EnsureSchema();
    Problem Fail(Fault fault, const QString& text);

    struct Finish {
        void operator()(pg_conn* connection) const;
    };
    std::unique_ptr<pg_conn, Finish> m_connection;
    Problem m_problem;
    QString m_host;
    QString m_user;
};

} // namespace qm
