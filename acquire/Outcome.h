#pragma once

#include <array>
#include <cstdint>

namespace qm::acquire {

// The exit statuses, from the BSD list that scripts know (sysexits.h).
namespace exit_status {
inline constexpr int Success = 0;
inline constexpr int Usage = 64;           // EX_USAGE
inline constexpr int RecordsDropped = 65;  // EX_DATAERR
inline constexpr int NoInput = 66;         // EX_NOINPUT: for "history", no journal or no entry
inline constexpr int PortUnavailable = 69; // EX_UNAVAILABLE: for "sync", the server too
inline constexpr int CannotWrite = 73;     // EX_CANTCREAT
inline constexpr int ConnectionLost = 74;  // EX_IOERR
inline constexpr int NoAnswer = 75;        // EX_TEMPFAIL: trying again later may help
inline constexpr int Refused = 76;         // EX_PROTOCOL
inline constexpr int NoPermission = 77;    // EX_NOPERM: the lab's server refuses
inline constexpr int Configuration = 78;   // EX_CONFIG: the lab's database settings
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

// The order in which ExitStatus weighs what went wrong, read off it: where two apply, the
// first of these is the status (Signal stands for 128 + N).
constexpr std::array<int, 6> StatusPrecedence()
{
    std::array<int, 6> order{};
    // Everything went wrong; each time the status says which counts most, it is taken away.
    Outcome all{true, 15, true, 1, true, true};
    for (int& status : order) {
        status = ExitStatus(all);
        if (status == exit_status::CannotWrite)
            all.writeFailed = false;
        else if (status > exit_status::Signal) {
            all.signal = 0;
            status = exit_status::Signal;
        } else if (status == exit_status::ConnectionLost)
            all.lost = false;
        else if (status == exit_status::RecordsDropped)
            all.dropped = 0;
        else if (status == exit_status::Refused)
            all.refused = false;
        else if (status == exit_status::NoAnswer)
            all.noAnswer = false;
    }
    return order;
}

// Each status with what it means, in the order --help lists them. The README and the manual
// page list the same statuses in the same order (tests/acquire holds them to it).
struct StatusMeaning {
    const char* status;
    const char* meaning;
};
inline constexpr StatusMeaning StatusMeanings[] = {
    {"0", "success: the file written (or the CSV on standard output); for \"watch\", the "
          "watch ran its course, whatever notes its readings carry"},
    {"64", "bad usage: unknown option, no command or port, \"clear\" without --yes, "
           "--then-clear with \"present\", \"clear\" or standard output, an option of a run "
           "on the port with \"history\", an argument that is not UTF-8 (names are used as "
           "given, and such a one would be read as another file's or port's)"},
    {"66", "\"history\", \"sync\": there is no journal, or it cannot be read (the message "
           "says where it was looked for and why), or there is no acquisition N in it"},
    {"77", "\"sync\": the lab's database refuses: authentication, or permission (to insert, "
           "or to make the schema qm6200 where there is none)"},
    {"78", "\"sync\": no lab database is set, its setting cannot be used (a password in it, "
           "a string libpq cannot read), or its schema qm6200 is newer than this program's"},
    {"69", "the port cannot be opened, or is no serial line; for \"sync\", the lab's "
           "database cannot be reached (what was sent before is marked, the rest goes next "
           "time)"},
    {"65", "data frames dropped because the store (201 records) was full; the file is written, "
           "and the message gives the count; for \"sync\", the lab's database refused some "
           "acquisitions for what they hold (told by number), and took the rest"},
    {"75", "no answer within --wait (an instrument that holds no records may also stay "
           "silent), or none complete within --timeout; nothing is written unless something "
           "arrived"},
    {"76", "the instrument answered with an error reply (the records received are still "
           "written), did not accept the clear, or holds other records than were saved when "
           "asked again before the clear"},
    {"74", "the connection was lost in the middle, or the port did not let the command out; "
           "what arrived is written"},
    {"73", "the file cannot be written; an old file is kept as it was, unless the message says "
           "it may be damaged (and names the copy of its old content, if there is one); for "
           "\"watch\", FILE is no watch's CSV (it is left as it was, and nothing is sent) or "
           "could not be written to (the journal keeps the readings)"},
    {"128+N", "ended by signal N (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM): "
              "the port closed and its lock removed, what arrived written; a watch ends so "
              "once the readings under way are written"},
};

} // namespace qm::acquire
