#pragma once

#include <QObject>

class QSocketNotifier;

namespace qm {

// The signals that ask the program to end: a logout or shutdown (SIGTERM), Ctrl+C
// (SIGINT), a closed terminal (SIGHUP), and the others whose default ends a program at once:
// Ctrl+\ (SIGQUIT), SIGUSR1, SIGUSR2 and SIGALRM, which nothing here uses for anything else.
// They are held back from every thread and read by the event loop instead, so that a
// program ends in its own orderly way, never in the middle of a step: RTS dropped, the port
// closed and its lock released. The desktop
// program ends as "Finish" ends it; the command-line program keeps what arrived.
class StopSignals : public QObject {
    Q_OBJECT

public:
    // Holds the signals back, and ignores SIGPIPE. Call first thing in main, before any
    // thread starts: a thread that does not hold them back would be ended by them.
    static void Block();

    // Reads the signals that Block() holds back; emits Requested for each.
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void Requested(int signal);

private:
    void Read();

    int m_fd = -1;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace qm
