// Whole sessions: the program's real serial path against the instrument simulator on a
// pseudo-terminal.

#include "tests/support/Session.h"
#include "tests/support/TestMain.h"
#include "ui/CLR_ALL.h"

#include <QFile>
#include <QTemporaryDir>

using namespace qm;
using namespace qm::test;

namespace {

const QString ReadAllHex = QStringLiteral("02 52 44 44 20 41 4C 4C 03 0D");
const QString ReadNowHex = QStringLiteral("02 52 44 44 20 4E 4F 57 03 0D");

} // namespace

class TestSession : public QObject {
    Q_OBJECT

private slots:
    void recordsArriveDecodedRowByRow()
    {
        Simulator sim({"--records", "12", "--seed", "3"}); // paced like the real line
        Program program(sim.device);
        QVERIFY(program.ui.serialControl->PortOpen());
        QCOMPARE(program.messages, QStringList());
        QCOMPARE(program.ui.noticeText->accessibleName(),
                 "Port open: " + sim.device + " \u2014 simulated instrument (qm6200-sim)");

        for (int round = 0; round < 2; ++round) {
            program.form.AcquireRecords();
            QTRY_COMPARE_WITH_TIMEOUT(sim.received.size(), round + 1, Patience);
            QCOMPARE(sim.received.last(), ReadAllHex);
            QTRY_COMPARE_WITH_TIMEOUT(program.store().RxCount, 12, Patience);
            for (int r = 1; r <= 12; ++r)
                QCOMPARE(program.row(r), sim.records[r - 1]);
            QCOMPARE(program.row(13).join(QString()), QString());
            QCOMPARE(program.ui.statusText->text(), QString("COMMAND OK !"));
        }
    }

    void presentValueAndATypedLink()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("instrument");
        Simulator sim({"--no-pace", "--link", link});
        Program program(link);
        QVERIFY(program.ui.serialControl->PortOpen());
        program.form.AcquirePresentValue();
        QTRY_COMPARE_WITH_TIMEOUT(program.store().RxCount, 1, Patience);
        // The simulator's report may come after its answer has been handled.
        QTRY_COMPARE_WITH_TIMEOUT(sim.received, QStringList{ReadNowHex}, Patience);
        QCOMPARE(program.row(1), sim.present);
    }

    void errorReply()
    {
        Simulator sim({"--no-pace", "--refuse"});
        Program program(sim.device);
        program.form.AcquireRecords();
        QTRY_COMPARE_WITH_TIMEOUT(program.ui.statusText->text(), QString("ERROR..."), Patience);
        QCOMPARE(program.store().RxCount, 0);
        QCOMPARE(program.ui.receiveBox->Text(), QString("\x02\x15\r"));
    }

    void noiseAndAFrameThatNeverCloses()
    {
        Simulator sim({"--no-pace", "--noise", "--never-close", "--records", "20"});
        Program program(sim.device);
        program.form.AcquireRecords();
        QTRY_VERIFY_WITH_TIMEOUT(
            program.ui.receiveBox->Text().endsWith("this frame never gets its carriage return"),
            Patience);
        QCOMPARE(program.store().RxCount, 20);
        for (int r = 1; r <= 20; ++r)
            QCOMPARE(program.row(r), sim.records[r - 1]);
        QCOMPARE(program.store().RxFlag, 1); // the last frame is still open
        QCOMPARE(program.messages, QStringList());
    }

    void saveThenClearTheInstrument()
    {
        Simulator sim({"--no-pace", "--records", "5", "--seed", "11"});
        Program program(sim.device);
        program.form.AcquireRecords();
        QTRY_COMPARE_WITH_TIMEOUT(program.store().RxCount, 5, Patience);

        QTemporaryDir dir;
        program.saveDialog->answer = dir.filePath("records.csv");
        program.ui.saveButton->click();
        QFile saved(program.saveDialog->answer);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QByteArray expected;
        for (const QStringList& record : sim.records)
            expected += "\"" + record.join("\",\"").toLatin1() + "\"\r\n";
        QCOMPARE(saved.readAll(), expected);

        // The buttons come back once the answer is over.
        QTRY_VERIFY_WITH_TIMEOUT(program.ui.clearAllButton->isEnabled(), Patience);
        OnNextModal([](QWidget* modal) { Find<QPushButton>(*modal, "OKButton")->click(); });
        program.ui.clearAllButton->click();
        QTRY_COMPARE_WITH_TIMEOUT(program.ui.statusText->text(), QString("COMMAND OK!"), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(sim.received.size(), 2, Patience);
        QCOMPARE(sim.received.last(), QString("02 43 4C 52 20 41 4C 4C 03 0D"));

        program.form.AcquireRecords();
        QTRY_COMPARE_WITH_TIMEOUT(sim.replies, 3, Patience);
        ProcessQueued();
        QCOMPARE(program.store().RxCount, 0);
        QCOMPARE(program.row(1).join(QString()), QString());
        QCOMPARE(program.messages, QStringList());
    }

    void hangUpInTheMiddleOfAReply()
    {
        // Two whole frames of 42 characters and part of a third.
        Simulator sim({"--no-pace", "--hangup-after", "100"});
        Program program(sim.device);
        program.form.AcquireRecords();
        QTRY_COMPARE_WITH_TIMEOUT(program.messages.size(), 1, Patience);
        QVERIFY(program.messages.first().contains(sim.device));
        QVERIFY(!program.ui.serialControl->PortOpen());
        QCOMPARE(program.store().RxCount, 2);
        QCOMPARE(program.row(1), sim.records[0]);
        QCOMPARE(program.row(2), sim.records[1]);
        QCOMPARE(program.ui.receiveBox->Text().size(), 100);
        QCOMPARE(program.ui.noticeText->accessibleName(),
                 QString("Table incomplete: 2 records, then the line was lost."));

        // Told once; a command now says the port is closed and changes nothing.
        ProcessQueued();
        QCOMPARE(program.messages.size(), 1);
        program.form.AcquireRecords();
        QCOMPARE(program.messages.size(), 2);
        QVERIFY(program.messages.last().contains("not open"));
        QCOMPARE(program.row(2), sim.records[1]);
        QCOMPARE(program.ui.receiveBox->Text().size(), 100);
    }
};

QM6200_TEST_MAIN(TestSession)
#include "tst_session.moc"
