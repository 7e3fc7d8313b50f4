// Measures qm6200-acquire, the command-line program, as a whole process: it reads the
// records from an instrument this benchmark plays on a pseudo-terminal (the answer written
// at once, as fast as the line takes it) and saves them to a file.
//
// Prints, for answers of 1, 100 and 201 records (the store's size), the whole process's user
// and system time (median and range of several runs) and its largest resident size. Only
// whole processes are measured: a difference of two such times is smaller than their
// spread, and could come out negative on a busy machine.

#include "bench/Measure.h"
#include "tests/support/Frames.h"
#include "tests/support/TemporaryHome.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Rounds = 7;

struct Cost {
    double cpuSeconds = 0;
    long peakKiB = 0;
};

struct Costs {
    double cpuMedian, cpuLow, cpuHigh; // seconds
    long peakKiB;                      // the median
};

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "acquire_bench: %s\n", what.c_str());
    std::exit(1);
}

// One run of the program against an instrument that answers with `answer`.
Cost RunOnce(const QByteArray& answer, const std::string& file)
{
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        Fail(std::string("no pseudo-terminal: ") + std::strerror(errno));
    termios raw{};
    ::tcgetattr(slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    // Both ends stay here; the slave held open so that the master sees no hang-up.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    const std::string device = ::ttyname(slave);

    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(QM6200_ACQUIRE, "qm6200-acquire", "records", "-q", "-p", device.c_str(), "-o",
                file.c_str(), "--idle", "100", static_cast<char*>(nullptr));
        _exit(127);
    }
    // The command, then the whole answer.
    std::string command;
    while (command.find('\r') == std::string::npos) {
        pollfd fd{master, POLLIN, 0};
        if (::poll(&fd, 1, 10000) <= 0)
            Fail("no command from qm6200-acquire");
        char buffer[64];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            Fail("no command from qm6200-acquire");
        command.append(buffer, std::size_t(n));
    }
    for (qsizetype done = 0; done < answer.size();) {
        const ssize_t n =
            ::write(master, answer.constData() + done, std::size_t(answer.size() - done));
        if (n <= 0)
            Fail("the answer could not be written");
        done += n;
    }
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)
        || WEXITSTATUS(status) != 0)
        Fail("qm6200-acquire did not succeed (status " + std::to_string(status) + ")");
    ::close(master);
    ::close(slave);
    return {qm::bench::CpuSeconds(usage), usage.ru_maxrss};
}

Costs Measure(const QByteArray& answer, const std::string& file)
{
    std::vector<double> cpu;
    std::vector<long> peak;
    for (int round = 0; round < Rounds; ++round) {
        const Cost cost = RunOnce(answer, file);
        cpu.push_back(cost.cpuSeconds);
        peak.push_back(cost.peakKiB);
    }
    const auto [low, high] = std::minmax_element(cpu.begin(), cpu.end());
    return {qm::bench::Median(cpu), *low, *high, qm::bench::Median(peak)};
}

} // namespace

int main()
{
    // Nothing of the user's is read or written (the journal, the remembered port).
    const qm::test::TemporaryHome home;
    char folder[] = "/tmp/acquire_bench.XXXXXX";
    if (!::mkdtemp(folder))
        Fail(std::string("no temporary folder: ") + std::strerror(errno));
    const std::string file = std::string(folder) + "/records.csv";

    for (const int records : {1, 100, 201}) {
        const QByteArray answer = qm::test::RecordAnswer(records);
        const Costs costs = Measure(answer, file);
        std::printf("qm6200-acquire, %d record%s (%lld characters), %d runs: %.1f ms CPU "
                    "(%.1f-%.1f), %.1f MiB peak memory\n",
                    records, records == 1 ? "" : "s", qlonglong(answer.size()), Rounds,
                    costs.cpuMedian * 1e3, costs.cpuLow * 1e3, costs.cpuHigh * 1e3,
                    double(costs.peakKiB) / 1024);
    }
    ::unlink(file.c_str());
    ::rmdir(folder);
    return 0;
}
