// What the programs journal reaches the lab's database by itself: the desktop's acquisitions
// with no action of the operator's, told on the notice line while the server is away and when
// all is sent again, nothing doubled; a watch's readings while the watch runs.

#include "tests/support/Files.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/Session.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QProcess>

using namespace qm;
using namespace qm::test;

class TestLabSender : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_server.Ready(), qPrintable(m_server.Problem()));
        QVERIFY(WriteSettings(LabSettings(m_server.ConnInfo())));
    }
    void cleanup() { QVERIFY(m_server.Start()); }

    // The operator acquires; the server gets it. Then it goes away: the next acquisition waits,
    // the notice line says so once; back, everything goes, once, and the line says so.
    void desktopAcquisitionsReachTheServer()
    {
        MainWindow rig;
        QVERIFY(rig.openPort());
        const auto acquire = [&](int value) {
            rig.ui.acquirePresentButton->click();
            rig.arrive(DataFrame(0, {value, 1, 1, 1, 1}));
            QTRY_VERIFY(rig.commandsEnabled());
        };
        acquire(1);
        QTRY_COMPARE_WITH_TIMEOUT(Count(), 1, Patience);

        m_server.Stop();
        acquire(2);
        QTRY_VERIFY_WITH_TIMEOUT(rig.ui.noticeText->toolTip().contains("kept in the journal"),
                                 Patience);
        QCOMPARE(Count(), -1); // no server to ask
        QVERIFY(m_server.Start());
        // Tried again after 5 s, by itself.
        QTRY_VERIFY_WITH_TIMEOUT(
            rig.ui.noticeText->toolTip().contains("Everything waiting was sent"), Patience);
        QCOMPARE(Count(), 2);
        QCOMPARE(m_server.Rows("SELECT count(DISTINCT journal_number) FROM qm6200.acquisitions")
                     .value(0)
                     .value(0)
                     .toInt(),
                 2);
    }

    // A watch's readings reach the server while it runs, not only at its end.
    void watchReadingsGoAsTheyCome()
    {
        Simulator sim({"--no-pace"});
        QProcess watch;
        watch.start(qEnvironmentVariable("QM6200_ACQUIRE", QStringLiteral(QM6200_ACQUIRE)),
                    {"watch", "-q", "--every", "1", "--count", "5", "-p", sim.device});
        QTRY_VERIFY_WITH_TIMEOUT(Count("WHERE watch IS NOT NULL") > 0, Patience);
        QVERIFY(watch.state() != QProcess::NotRunning);
        QVERIFY(watch.waitForFinished(Patience));
        QCOMPARE(watch.exitCode(), 0);
        QCOMPARE(Count("WHERE watch IS NOT NULL"), 5);
    }

private:
    // The acquisitions the server holds; -1 when it cannot be asked.
    int Count(const QString& which = {})
    {
        const QList<QStringList> rows =
            m_server.Rows("SELECT count(*) FROM qm6200.acquisitions " + which);
        return rows.isEmpty() ? -1 : rows.value(0).value(0).toInt();
    }

    PostgresServer m_server;
};

QM6200_TEST_MAIN(TestLabSender)
#include "tst_labsender.moc"
