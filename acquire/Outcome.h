#pragma once

#include <cstdint>

namespace qm::acquire {

// The exit statuses, from the BSD list that scripts know (sysexits.h).
namespace exit_status {
inline constexpr int Success = 0;
inline constexpr int Usage = 64;           // EX_USAGE
inline constexpr int RecordsDropped = 65;  // EX_DATAERR
inline constexpr int PortUnavailable = 69; // EX_UNAVAILABLE
inline constexpr int CannotWrite = 73;     // EX_CANTCREAT
inline constexpr int ConnectionLost = 74;  // EX_IOERR
inline constexpr int NoAnswer = 75;        // EX_TEMPFAIL: trying again later may help
inline constexpr int Refused = 76;         // EX_PROTOCOL
inline constexpr int Signal = 128;         // plus the signal's number, as a shell reports it
} // namespace exit_status

// What went wrong in a run once the port was open; several things may have.
struct Outcome {
    bool writeFailed = false; // the CSV could not be written
    int signal = 0;           // the stop signal that ended the run
    bool lost = false;        // the line went away in the middle
    std::int64_t dropped = 0; // data frames that arrived with the store full
    bool refused = false;     // an error reply; a clear not accepted or not safe to send
    bool noAnswer = false;    // nothing, or nothing complete, in the time allowed
};

// The most important of what went wrong decides the status: first a file that was not
// written (records may be lost for good), then the stop signal the caller sent, then the
// lost line, the dropped frames, the refusal, the missing answer.
constexpr int ExitStatus(const Outcome& outcome)
{
    if (outcome.writeFailed)
        return exit_status::CannotWrite;
    if (outcome.signal > 0)
        return exit_status::Signal + outcome.signal;
    if (outcome.lost)
        return exit_status::ConnectionLost;
    if (outcome.dropped > 0)
        return exit_status::RecordsDropped;
    if (outcome.refused)
        return exit_status::Refused;
    if (outcome.noAnswer)
        return exit_status::NoAnswer;
    return exit_status::Success;
}

} // namespace qm::acquire
