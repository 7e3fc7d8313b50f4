// A stop signal (a logout or shutdown, Ctrl+C, a closed terminal, and the others that would
// end it at once) ends the program as "Finish" does, whatever window is open; a log nobody
// reads does not end it.

#include "process/StopSignals.h"
#include "serial/SerialBackend.h"
#include "tests/support/Session.h"
#include "tests/support/TemporaryHome.h"

#include <QApplication>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

class TestStop : public QObject {
    Q_OBJECT

private slots:
    void endsWithStatusZeroBeforeAnyPortOpens_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("during");
        QTest::addColumn<bool>("nobodyReads"); // standard error is a pipe nobody reads
        QTest::newRow("SIGTERM, splash screen") << SIGTERM << "splash screen shown" << false;
        QTest::newRow("SIGTERM, port dialog") << SIGTERM << "port dialog shown" << false;
        QTest::newRow("SIGINT, port dialog") << SIGINT << "port dialog shown" << false;
        QTest::newRow("SIGHUP, port dialog") << SIGHUP << "port dialog shown" << false;
        QTest::newRow("SIGQUIT") << SIGQUIT << "splash screen shown" << false;
        QTest::newRow("SIGUSR1") << SIGUSR1 << "splash screen shown" << false;
        QTest::newRow("SIGUSR2") << SIGUSR2 << "splash screen shown" << false;
        QTest::newRow("SIGALRM") << SIGALRM << "splash screen shown" << false;
        QTest::newRow("SIGTERM, nobody reads the log") << SIGTERM << "splash screen shown" << true;
    }

    // The real program: the port dialog at start-up runs before the main event loop. Its log
    // goes to a pipe of the test's own, which the test can stop reading.
    void endsWithStatusZeroBeforeAnyPortOpens()
    {
        QFETCH(int, signal);
        QFETCH(QString, during);
        QFETCH(bool, nobodyReads);
        int log[2];
        QCOMPARE(::pipe2(log, O_CLOEXEC), 0);
        QProcess program;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_LOGGING_RULES", "qm6200.*=true");
        program.setProcessEnvironment(environment);
        program.setChildProcessModifier([&] {
            UnblockSignals();
            ::dup2(log[1], STDERR_FILENO);
        });
        program.start(QM6200_DATALINK, {});
        ::close(log[1]);
        ::fcntl(log[0], F_SETFL, O_NONBLOCK);
        QString said;
        auto readLog = [&] {
            char buffer[4096];
            for (ssize_t n; (n = ::read(log[0], buffer, sizeof buffer)) > 0;)
                said += QString::fromLocal8Bit(buffer, n);
            return said;
        };
        QTRY_VERIFY_WITH_TIMEOUT(readLog().contains(during), Patience);
        if (nobodyReads)
            ::close(log[0]);

        ::kill(static_cast<pid_t>(program.processId()), signal);
        QVERIFY(program.waitForFinished(Patience));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        if (nobodyReads)
            return;
        readLog();
        ::close(log[0]);
        QVERIFY2(said.contains("asked to end"), qPrintable(said));
        // Closing the port dialog on the way out opens no port.
        QVERIFY2(!said.contains("qm6200.link: open"), qPrintable(said));
    }

    void aStopWithThePortOpenUnloadsAndFreesIt()
    {
        Simulator sim({"--records", "3"});
        Program program(sim.device);
        QVERIFY(program.ui.serialControl->PortOpen());
        StopSignals stop;
        connect(&stop, &StopSignals::Requested, &program.form, &frmMain::EndRun);
        program.form.show();

        // The clear-all question is open when the signal comes; it is closed unanswered.
        OnNextModal([](QWidget*) { ::kill(::getpid(), SIGTERM); });
        program.ui.clearAllButton->click();
        QVERIFY(program.form.Ending());
        QVERIFY(!program.form.isVisible());
        QVERIFY(!program.ui.serialControl->RTSEnable());
        QVERIFY(!program.ui.serialControl->PortOpen());
        QVERIFY(!QApplication::activeModalWidget());
        // No port is opened again while ending, and the lock is gone: another program
        // may take the port at once.
        program.form.ChoosePort();
        QVERIFY(!program.ui.serialControl->PortOpen());
        SerialBackend other;
        const Result<> opened = other.open(sim.device, {});
        QVERIFY2(opened, qPrintable(opened.Reason()));
        QVERIFY(sim.received.isEmpty());
    }
};

int main(int argc, char* argv[])
{
    // As the program does: the signals are read by the event loop.
    StopSignals::Block();
    TemporaryHome home;
    QApplication app(argc, argv);
    TestStop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_stop.moc"
