#pragma once

// A session of the real program with the instrument simulator: qm6200-sim on a
// pseudo-terminal, and the main window on the real serial backend.

#include "serial/MakeSerialBackend.h"
#include "tests/support/Window.h"
#include "ui/frmPORT.h"

#include <QProcess>
#include <QTest>

#include <csignal>

namespace qm::test {

// ms; a paced answer of 12 records takes about half a second
inline constexpr int Patience = 10000;

// A child starts with no signal held back, whatever the test holds back for itself: the
// stop signal at a test's end must reach it.
inline void UnblockSignals()
{
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
}

// qm6200-sim, started for one test and stopped at its end.
class Simulator {
public:
    explicit Simulator(QStringList options)
    {
        // The build's own simulator, unless the environment names a copy of it.
        m_process.setProgram(qEnvironmentVariable("QM6200_SIM", QStringLiteral(QM6200_SIM)));
        m_process.setArguments(options << QStringLiteral("--list"));
        m_process.setChildProcessModifier(UnblockSignals);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                         [this] { readLines(); });
        m_process.start();
        QTRY_VERIFY_WITH_TIMEOUT(present.size() == 7, Patience);
    }

    ~Simulator()
    {
        m_process.terminate();
        m_process.waitForFinished(3000);
    }

    // Ends it by `signal` (SIGKILL: with no chance to clean up) and waits until it has.
    void end(int signal)
    {
        ::kill(pid_t(m_process.processId()), signal);
        QVERIFY(m_process.waitForFinished(Patience));
    }

    QString device;
    QList<QStringList> records; // each as the table shows it: number, counters, total
    QStringList present;        // the present values as the table shows them (number 0)
    QStringList received;       // the command frames, as hexadecimal bytes
    int replies = 0;            // answers written out whole
    bool hungUp = false;

private:
    void readLines()
    {
        while (m_process.canReadLine()) {
            const QString line = QString::fromLatin1(m_process.readLine()).trimmed();
            const QString word = line.section(QLatin1Char(' '), 0, 0);
            const QString rest = line.section(QLatin1Char(' '), 1);
            if (word == QLatin1String("device"))
                device = rest;
            else if (word == QLatin1String("record"))
                records << rest.split(QLatin1Char(' '));
            else if (word == QLatin1String("present"))
                present = QStringList{QStringLiteral("0")} + rest.split(QLatin1Char(' '));
            else if (word == QLatin1String("received"))
                received << rest;
            else if (word == QLatin1String("replied"))
                ++replies;
            else if (word == QLatin1String("hangup"))
                hungUp = true;
        }
    }

    QProcess m_process;
};

// The main window on the real serial backend, its port chosen by typing into the dialog.
struct Program : MainWindow {
    explicit Program(const QString& port)
        : MainWindow(MakeSerialBackend())
    {
        choosePort(port);
    }
};

} // namespace qm::test
