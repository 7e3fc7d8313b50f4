// A stop signal (a logout or shutdown, Ctrl+C, a closed terminal) ends the program as
// "Finish" does, whatever window is open.

#include "link/SerialBackend.h"
#include "link/StopSignals.h"
#include "tests/support/Session.h"

#include <QApplication>

#include <csignal>
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
        QTest::newRow("SIGTERM, splash screen") << SIGTERM << "splash screen shown";
        QTest::newRow("SIGTERM, port dialog") << SIGTERM << "port dialog shown";
        QTest::newRow("SIGINT, port dialog") << SIGINT << "port dialog shown";
        QTest::newRow("SIGHUP, port dialog") << SIGHUP << "port dialog shown";
    }

    // The real program: the port dialog at start-up runs before the main event loop.
    void endsWithStatusZeroBeforeAnyPortOpens()
    {
        QFETCH(int, signal);
        QFETCH(QString, during);
        QProcess program;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_LOGGING_RULES", "qm6200.*=true");
        program.setProcessEnvironment(environment);
        program.setChildProcessModifier(UnblockSignals);
        QString log;
        connect(&program, &QProcess::readyReadStandardError, this,
                [&] { log += QString::fromLocal8Bit(program.readAllStandardError()); });
        program.start(QM6200_DATALINK, {});
        QTRY_VERIFY_WITH_TIMEOUT(log.contains(during), Patience);

        ::kill(static_cast<pid_t>(program.processId()), signal);
        QVERIFY(program.waitForFinished(Patience));
        log += QString::fromLocal8Bit(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY2(log.contains("asked to end"), qPrintable(log));
        // Closing the port dialog on the way out opens no port.
        QVERIFY2(!log.contains("qm6200.link: open"), qPrintable(log));
    }

    void aStopWithThePortOpenUnloadsAndFreesIt()
    {
        Simulator sim({"--records", "3"});
        Program program(sim.device);
        QVERIFY(program.ui.QmtTxRx->PortOpen());
        StopSignals stop;
        connect(&stop, &StopSignals::Requested, &program.form, &frmMain::EndRun);
        program.form.show();

        // The clear-all question is open when the signal comes; it is closed unanswered.
        OnNextModal([](QWidget*) { ::kill(::getpid(), SIGTERM); });
        program.ui.Command2->click();
        QVERIFY(program.form.Ending());
        QVERIFY(!program.form.isVisible());
        QVERIFY(!program.ui.QmtTxRx->RTSEnable());
        QVERIFY(!program.ui.QmtTxRx->PortOpen());
        QVERIFY(!QApplication::activeModalWidget());
        // No port is opened again while ending, and the lock is gone: another program
        // may take the port at once.
        program.form.menuPort_Click();
        QVERIFY(!program.ui.QmtTxRx->PortOpen());
        SerialBackend other;
        QVERIFY2(other.open(sim.device, {}), qPrintable(other.errorText()));
        QVERIFY(sim.received.isEmpty());
    }
};

int main(int argc, char* argv[])
{
    // As the program does: the signals are read by the event loop.
    StopSignals::Block();
    QApplication app(argc, argv);
    TestStop test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_stop.moc"
