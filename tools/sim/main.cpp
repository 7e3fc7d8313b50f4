// qm6200-sim: plays the QM-6200 instrument on a pseudo-terminal, for demonstrations,
// operator training and tests. See --help.

#include "tools/sim/Instrument.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <random>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

const char* const Usage = R"(Usage: qm6200-sim [options]

Plays the QM-6200 counting instrument on a pseudo-terminal. It prints the device, which the
data link program's port list shows while it runs as a simulated instrument (or type it into
the port box), then answers the program's commands:

  RDD ALL   one data frame for each stored record
  RDD NOW   one data frame with the present counter values (they move on a little each time)
  CLR ALL   ACK CR; the stored records are gone
  other     STX NAK CR (an error reply)

A data frame is 42 characters: STX, a class character (R for a stored record, N for the
present values), the record number (2 digits; 00 for the present values), then, each after
a comma, counters 1 to 5 (5 digits each) and their total (6 digits), then CR.

Options:
  --records N        how many records it stores, 0 to 99 (default 12)
  --seed N           seed for the counter values, for reproducible runs (default 1)
  --no-pace          send at once; by default characters go out at the pace of a
                     9600-baud line (about one every 1.04 ms)
  --link PATH        also make a symbolic link to the device at PATH (removed on exit)
  --list             print the stored records and the present values at start
  --noise            send a few noise characters (never STX, ACK, NAK or CR) between frames
  --never-close      end every answer with a frame that never gets its CR
  --refuse           answer every command with an error reply
  --refuse-clear     answer CLR ALL with an error reply; the records stay
  --repeat N         send the records N times over in each answer to RDD ALL, 1 to 10
                     (a faulty instrument; 3 times 99 records overfill the data link's store)
  --store-after-read store one more record after each answer to RDD ALL, as an instrument
                     that goes on counting between two readings
  --hangup-after N   hang up (close the line and exit) after N characters of an answer
  --help             show this text

Standard output, one line each, flushed at once:
  device PATH                 first: the device (the port list shows it from then on)
  link PATH                   with --link
  record N C1 C2 C3 C4 C5 T   with --list, for each stored record, then
  present C1 C2 C3 C4 C5 T
  received HH HH ...          each command frame received, as hexadecimal bytes
  replied N                   each answer written out whole, N characters (0: no answer)
  hangup                      when it hangs up

While it runs, a file of its own in $XDG_RUNTIME_DIR/qm6200/ names the device, for the port
list; without XDG_RUNTIME_DIR there is none.
)";

struct Options {
    int records = 12;
    unsigned seed = 1;
    bool pace = true;
    std::string link;
    bool list = false;
    bool noise = false;
    bool neverClose = false;
    bool refuse = false;
    bool refuseClear = false;
    int repeat = 1;
    bool storeAfterRead = false;
    long hangupAfter = -1;
};

[[noreturn]] void Fail(const std::string& message)
{
    std::fprintf(stderr, "qm6200-sim: %s\n", message.c_str());
    std::exit(2);
}

long Number(const char* text, const char* option, long low, long high)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value < low || value > high)
        Fail(std::string(option) + " takes a number from " + std::to_string(low) + " to "
             + std::to_string(high));
    return value;
}

Options Parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc)
                Fail(std::string(arg) + " needs a value");
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            std::exit(0);
        } else if (arg == "--records") {
            options.records = int(Number(value(), "--records", 0, qmsim::Instrument::MaxRecords));
        } else if (arg == "--seed") {
            options.seed = unsigned(Number(value(), "--seed", 0, 4294967295L));
        } else if (arg == "--no-pace") {
            options.pace = false;
        } else if (arg == "--link") {
            options.link = value();
        } else if (arg == "--list") {
            options.list = true;
        } else if (arg == "--noise") {
            options.noise = true;
        } else if (arg == "--never-close") {
            options.neverClose = true;
        } else if (arg == "--refuse") {
            options.refuse = true;
        } else if (arg == "--refuse-clear") {
            options.refuseClear = true;
        } else if (arg == "--repeat") {
            options.repeat = int(Number(value(), "--repeat", 1, 10));
        } else if (arg == "--store-after-read") {
            options.storeAfterRead = true;
        } else if (arg == "--hangup-after") {
            options.hangupAfter = Number(value(), "--hangup-after", 0, 1000000);
        } else {
            Fail("unknown option " + std::string(arg) + " (see --help)");
        }
    }
    return options;
}

void Say(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string Hex(std::string_view bytes)
{
    std::string text;
    char byte[4];
    for (const char c : bytes) {
        std::snprintf(byte, sizeof byte, "%s%02X", text.empty() ? "" : " ",
                      unsigned(static_cast<unsigned char>(c)));
        text += byte;
    }
    return text;
}

std::string Describe(const char* what, const qmsim::Instrument::Record& r)
{
    std::string line = what;
    if (std::string_view(what) == "record")
        line += " " + std::to_string(r.number);
    for (const int c : r.counters)
        line += " " + std::to_string(c);
    return line + " " + std::to_string(r.total());
}

// Adds noise and the never-closing frame to an answer, as the options ask.
std::string Disturb(const std::string& answer, const Options& options, std::mt19937& random)
{
    if (!options.noise && !options.neverClose)
        return answer;
    static constexpr std::string_view NoiseCharacters = "abcxyzXYZ0123456789 #*+-.\x01\x04\x7f\n";
    std::uniform_int_distribution<std::size_t> pick(0, NoiseCharacters.size() - 1);
    std::uniform_int_distribution<int> length(1, 5);
    auto noise = [&] {
        std::string text;
        for (int n = length(random); n > 0; --n)
            text += NoiseCharacters[pick(random)];
        return text;
    };
    std::string out;
    if (options.noise)
        out += noise();
    for (const char c : answer) {
        out += c;
        if (c == '\r' && options.noise)
            out += noise();
    }
    if (options.neverClose)
        out += "\x02R99,this frame never gets its carriage return";
    return out;
}

// The port list of the data link finds the simulators running now by a file of each in
// $XDG_RUNTIME_DIR/qm6200/ that names its device, locked (flock) for as long as it runs. The
// lock is what tells a running simulator's file from one left by a simulator killed outright:
// the system gives a pseudo-terminal's number to the next one at once, so such a file names
// a device that may be anyone's now, and the list leaves it out (ports/SimulatorPorts.cpp).
struct Announcement {
    int fd = -1;
    std::string path;
};

Announcement Announce(const std::string& device)
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    // Without a runtime folder of the session's own there is no safe place for it; the device
    // is typed in as before.
    if (runtime == nullptr || runtime[0] != '/')
        return {};
    const std::string folder = std::string(runtime) + "/qm6200";
    const std::string pid = std::to_string(::getpid());
    const std::string path = folder + "/sim-" + pid;
    // Written whole under a name the list does not read, locked before it takes its name: the
    // list never sees a file half written or not yet locked. A file of a dead simulator that
    // had the same process number is replaced.
    const std::string draft = folder + "/.sim-" + pid + ".new";
    const std::string text = device + "\n";
    Announcement announcement;
    std::string failure;
    // Only a folder of the user's own that nobody else may write: where another user made it
    // first (a runtime folder open to all, such as /tmp), they could plant a link under the
    // draft's name, and the announcement would be written over whatever it leads to.
    struct stat place {};
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        failure = folder + ": " + std::strerror(errno);
    else if (::lstat(folder.c_str(), &place) != 0)
        failure = folder + ": " + std::strerror(errno);
    else if (!S_ISDIR(place.st_mode) || place.st_uid != ::geteuid())
        failure = folder + " is not a folder of this user's own";
    else if ((place.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        failure = folder + ": " + std::strerror(errno);
    // A draft left by a dead simulator of the same number goes first: the new one is made
    // anew, never opened through whatever stands at its name.
    else if ((::unlink(draft.c_str()) != 0 && errno != ENOENT)
             || (announcement.fd = ::open(
                     draft.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600))
                    < 0)
        failure = draft + ": " + std::strerror(errno);
    else if (::flock(announcement.fd, LOCK_EX | LOCK_NB) != 0
             || ::write(announcement.fd, text.data(), text.size()) != ssize_t(text.size())
             || ::rename(draft.c_str(), path.c_str()) != 0)
        failure = draft + ": " + std::strerror(errno);
    if (failure.empty()) {
        announcement.path = path;
        return announcement;
    }
    // The simulator is as useful without it: the operator types the device.
    std::fprintf(stderr,
                 "qm6200-sim: the port list will not show this simulator (%s); type its "
                 "device into the port box\n",
                 failure.c_str());
    if (announcement.fd >= 0) {
        ::unlink(draft.c_str());
        ::close(announcement.fd);
    }
    return {};
}

// Removed before the lock goes with the descriptor, so that the file is never there unlocked;
// and only while the name is still this file's (a simulator of the same number in another
// process namespace of the session may have taken it).
void Withdraw(const Announcement& announcement)
{
    if (announcement.fd < 0)
        return;
    struct stat own {};
    struct stat named {};
    if (::fstat(announcement.fd, &own) == 0 && ::stat(announcement.path.c_str(), &named) == 0
        && own.st_dev == named.st_dev && own.st_ino == named.st_ino)
        ::unlink(announcement.path.c_str());
    ::close(announcement.fd);
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = Parse(argc, argv);

    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        Fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
    // Raw, so that CR stays CR and nothing is echoed back.
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    const std::string device = ttyname(slave);

    // The signals that end the run arrive as readable data, so that the device link is
    // removed and the line closed on the way out.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int stop = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (stop < 0)
        Fail(std::string("cannot watch for signals: ") + std::strerror(errno));
    // Ends with the process that started it (a test that failed, a script killed), the same
    // way: a simulator left behind would hold its pseudo-terminal and its link for ever.
    const pid_t parent = ::getppid();
    if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0)
        Fail(std::string("cannot follow the starting process: ") + std::strerror(errno));
    if (::getppid() != parent)
        return 0;
    std::signal(SIGPIPE, SIG_IGN);

    if (!options.link.empty()) {
        ::unlink(options.link.c_str());
        if (::symlink(device.c_str(), options.link.c_str()) != 0)
            Fail("cannot make the link " + options.link + ": " + std::strerror(errno));
    }
    // Before the device is told: whoever waits for that line finds it in the port list too.
    const Announcement announcement = Announce(device);
    Say("device " + device);
    if (!options.link.empty())
        Say("link " + options.link);

    qmsim::Instrument instrument(options.records, options.seed);
    instrument.setRefuseAll(options.refuse);
    instrument.setRefuseClear(options.refuseClear);
    instrument.setRepeat(options.repeat);
    instrument.setStoreAfterRead(options.storeAfterRead);
    if (options.list) {
        for (const auto& record : instrument.records())
            Say(Describe("record", record));
        Say(Describe("present", instrument.present()));
    }

    using Clock = std::chrono::steady_clock;
    constexpr auto CharacterTime = std::chrono::nanoseconds(1'041'667);
    std::mt19937 random(options.seed);
    qmsim::CommandReader reader;
    std::string out;      // the answer being sent
    std::size_t sent = 0; // characters of it sent
    bool replied = true;  // the answer has been written out whole and said so
    Clock::time_point due = Clock::now();
    bool hungUp = false;

    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {stop, POLLIN, 0}};
        pollfd& fd = fds[0];
        timespec wait{};
        const timespec* timeout = nullptr; // nothing to send: wait for a command
        if (sent < out.size()) {
            if (options.pace) {
                const auto left = std::max(due - Clock::now(), Clock::duration::zero());
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
                wait = timespec{time_t(ns / 1'000'000'000), long(ns % 1'000'000'000)};
            } else {
                fd.events |= POLLOUT;
            }
            timeout = &wait;
            if (!options.pace)
                timeout = nullptr;
        }
        if (::ppoll(fds, 2, timeout, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN)
            break;

        if (fd.revents & POLLIN) {
            char buffer[256];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                for (const std::string& frame : reader.Feed(std::string_view(buffer, size_t(n)))) {
                    Say("received " + Hex(frame));
                    if (sent >= out.size()) {
                        out.clear();
                        sent = 0;
                    }
                    out += Disturb(instrument.Respond(frame), options, random);
                    replied = false;
                    due = Clock::now();
                }
            }
        }

        while (sent < out.size() && (!options.pace || Clock::now() >= due)) {
            std::size_t chunk = options.pace ? 1 : out.size() - sent;
            if (options.hangupAfter >= 0) {
                const std::size_t limit = std::size_t(options.hangupAfter);
                if (sent >= limit) {
                    hungUp = true;
                    break;
                }
                chunk = std::min(chunk, limit - sent);
            }
            const ssize_t n = ::write(master, out.data() + sent, chunk);
            if (n <= 0)
                break;
            sent += std::size_t(n);
            due += CharacterTime * n;
            if (options.pace)
                break;
        }
        if (hungUp)
            break;
        if (!replied && sent == out.size()) {
            replied = true;
            Say("replied " + std::to_string(out.size()));
        }
    }

    if (hungUp) {
        // Give the line a moment to drain what was written, then drop it.
        ::tcdrain(master);
        ::usleep(50'000);
        Say("hangup");
    }
    ::close(master);
    ::close(slave);
    ::close(stop);
    Withdraw(announcement);
    if (!options.link.empty())
        ::unlink(options.link.c_str());
    return 0;
}
