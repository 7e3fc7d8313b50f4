#include "process/StopSignals.h"

#include <QLoggingCategory>
#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace qm {

namespace {

// The program asked to end, and how it hears of it.
Q_LOGGING_CATEGORY(lcProcess, "qm6200.process", QtCriticalMsg)

sigset_t Signals()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int stop : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM})
        sigaddset(&set, stop);
    return set;
}

} // namespace

void StopSignals::Block()
{
    const sigset_t set = Signals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A pipe with nobody reading (standard error into `| head`, a closed terminal's pipe) is
    // a failed write, never the end of the program.
    std::signal(SIGPIPE, SIG_IGN);
}

StopSignals::StopSignals(QObject* parent)
    : QObject(parent)
{
    const sigset_t set = Signals();
    m_fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0) {
        qCWarning(lcProcess) << "no signalfd: a stop signal ends the program at once";
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StopSignals::Read);
}

StopSignals::~StopSignals()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd);
}

void StopSignals::Read()
{
    signalfd_siginfo info{};
    while (::read(m_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        qCInfo(lcProcess) << "signal" << info.ssi_signo << "asks the program to end";
        emit Requested(static_cast<int>(info.ssi_signo));
    }
}

} // namespace qm
