#include "protocol/AnswerWatch.h"
#include "shell/frmMain.h"
#include "tests/support/Dialogs.h"
#include "tests/support/Files.h"
#include "tests/support/Frames.h"
#include "tests/support/Pty.h"
#include "tests/support/TestMain.h"
#include "tests/support/Window.h"
#include "ui/CLR_ALL.h"
#include "ui/frmPORT.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFontMetricsF>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(qm::AnswerWatch::Intervals)

namespace {

const QByteArray AcquireRecords = QByteArray::fromHex("025244442041 4C4C030D");
const QByteArray AcquirePresent = QByteArray::fromHex("0252444420 4E4F57030D");

const QByteArray ClearAll = QByteArray::fromHex("02434C5220414C4C030D");

// The main window on an in-memory port, loaded and open as after start-up; an answer is
// over after 20 ms of quiet.
struct Rig : MainWindow {
    Rig()
    {
        openPort();
        answerOver({20ms, 20ms, 1000ms});
    }

    // When the command buttons come back after a command, in test time.
    void answerOver(const AnswerWatch::Intervals& intervals) { form.SetAnswerIntervals(intervals); }

    // "Clear All Data", answered with the given button of the confirmation.
    void clearAll(bool ok)
    {
        QTRY_VERIFY(ui.clearAllButton->isEnabled());
        OnNextModal([ok](QWidget* modal) {
            QVERIFY(qobject_cast<CLR_ALL*>(modal));
            Find<QPushButton>(*modal, ok ? "OKButton" : "CancelButton")->click();
        });
        ui.clearAllButton->click();
    }

    void fillAllRows()
    {
        for (int r = 1; r <= TableDataRows; ++r) {
            for (int c = 0; c < RecordColumns; ++c)
                ui.recordTable->setTextMatrix(r, c, QStringLiteral("old"));
        }
    }
};

QString Text(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes);
}

// The notice line shows its whole text, or as much of it as fits and an ellipsis; whole in its
// tooltip and its accessible name.
bool NoticeShowsItsText(const QLabel& line)
{
    const QString whole = line.accessibleName();
    const QString shown = line.text();
    const bool cut = shown.endsWith(QChar(0x2026)) && whole.startsWith(shown.chopped(1));
    return line.isVisibleTo(line.window()) && line.toolTip() == whole && (shown == whole || cut)
           && QFontMetricsF(line.font(), &line).horizontalAdvance(shown)
                  <= line.contentsRect().width() + 0.5;
}

// The notice line is in the alarm colour, not the status text's.
bool Alarm(const MainControls& ui)
{
    return ui.noticeText->palette().color(QPalette::WindowText)
           != ui.statusText->palette().color(QPalette::WindowText);
}

} // namespace

class TestFrmMain : public QObject {
    Q_OBJECT

private slots:
    void loadPreparesPortOneWithoutOpening()
    {
        MainWindow window;
        const MainControls& form = window.ui;
        QCOMPARE(window.form.PortLine().Owner().PortNumber(), std::int16_t(1));
        QCOMPARE(form.serialControl->CommPort(), std::int16_t(1));
        QCOMPARE(form.serialControl->Settings(), QStringLiteral("9600,n,8,1"));
        QVERIFY(form.serialControl->RTSEnable());
        QVERIFY(!form.serialControl->PortOpen());
        QVERIFY(form.transmitBox->Text().isEmpty());
        QVERIFY(form.receiveBox->Text().isEmpty());
        QVERIFY(form.statusText->text().isEmpty());
        QCOMPARE(form.noticeText->text(),
                 QString("No port open: choose one with \"CommPort Select\"."));
        QCOMPARE(form.recordTable->TextMatrix(0, 0), QStringLiteral("No."));
        QCOMPARE(form.transmitBox->editor()->focusPolicy(), Qt::ClickFocus);
        QCOMPARE(form.receiveBox->editor()->focusPolicy(), Qt::ClickFocus);
    }

    void acquireCommandsSendTheirTenBytes()
    {
        Rig rig;
        QVERIFY(rig.backend->requestToSend());
        rig.ui.acquireRecordsButton->click();
        QCOMPARE(rig.backend->written(), AcquireRecords);
        QCOMPARE(rig.ui.transmitBox->Text(), Text(AcquireRecords));
        QCOMPARE(QByteArray::fromStdString(rig.TxCommand()), AcquireRecords);

        rig.backend->clearWritten();
        QTRY_VERIFY(rig.commandsEnabled());
        rig.ui.acquirePresentButton->click();
        QCOMPARE(rig.backend->written(), AcquirePresent);
        QCOMPARE(rig.ui.transmitBox->Text(), Text(AcquirePresent));

        // The handler sends a frame each time: nothing is queued. The button, though, is
        // off until the answer to the first is over.
        rig.backend->clearWritten();
        rig.form.AcquireRecords();
        rig.form.AcquireRecords();
        QCOMPARE(rig.backend->written(), AcquireRecords + AcquireRecords);
        rig.ui.acquireRecordsButton->click();
        QCOMPARE(rig.backend->written(), AcquireRecords + AcquireRecords);
    }

    void acquireStepsRunInOrder()
    {
        Rig rig;
        rig.answerOver({60s, 60s, 60s});
        rig.form.AcquireRecords();
        rig.arrive(STX + "old" + CR + ACK + CR);
        rig.fillAllRows();
        QCOMPARE(rig.store().RxCount, std::int16_t(1));

        // At the moment the frame goes out it is shown and the table and status are blank,
        // but the echo and the store are only emptied after the write.
        bool checked = false;
        rig.backend->onWrite = [&](const QByteArray& bytes) {
            checked = true;
            QCOMPARE(bytes, AcquireRecords);
            QCOMPARE(rig.ui.transmitBox->Text(), Text(AcquireRecords));
            QVERIFY(rig.rowBlank(1));
            QVERIFY(rig.rowBlank(100));
            QVERIFY(rig.ui.statusText->text().isEmpty());
            QVERIFY(!rig.ui.receiveBox->Text().isEmpty());
            QCOMPARE(rig.store().RxCount, std::int16_t(1));
        };
        rig.form.AcquireRecords();
        QVERIFY(checked);
        QVERIFY(rig.ui.receiveBox->Text().isEmpty());
        QCOMPARE(rig.store().RxCount, std::int16_t(0));
        QCOMPARE(rig.store().RxFlag, std::int16_t(0));
        QVERIFY(rig.store().RxRecords[0].empty());
        QCOMPARE(rig.ui.recordTable->TextMatrix(0, 6), QStringLiteral("TOTAL"));
    }

    void answerFillsTheTable()
    {
        Rig rig;
        rig.form.AcquireRecords();
        const QByteArray answer = RecordAnswer(3) + ACK + CR;
        rig.arrive(answer);
        QCOMPARE(rig.store().RxCount, std::int16_t(3));
        QCOMPARE(rig.row(1), (QStringList{"1", "1", "2", "3", "4", "5", "15"}));
        QCOMPARE(rig.row(3), (QStringList{"3", "3", "6", "9", "12", "15", "45"}));
        QVERIFY(rig.rowBlank(4));
        QCOMPARE(rig.ui.statusText->text(), QStringLiteral("COMMAND OK!"));
        QCOMPARE(rig.form.ChartRecords().LastPlace(), 3); // the chart holds what the table shows
        // Every character is echoed, control characters included.
        QCOMPARE(rig.ui.receiveBox->Text(), Text(answer));
        QCOMPARE(rig.ui.noticeText->text(), QString("Port open: COM1 (/dev/ttyS0)"));
    }

    void statusTextFollowsEachReply()
    {
        Rig rig;
        rig.answerOver({60s, 60s, 60s});
        rig.form.AcquireRecords();
        rig.arrive(DataFrame(1, {1, 1, 1, 1, 1}));
        QCOMPARE(rig.ui.statusText->text(), QStringLiteral("COMMAND OK !"));
        rig.arrive(STX + NAK + CR);
        QCOMPARE(rig.ui.statusText->text(), QStringLiteral("ERROR..."));
        // Opening a frame leaves the status as it was.
        rig.arrive(ACK);
        QCOMPARE(rig.ui.statusText->text(), QStringLiteral("ERROR..."));
        rig.arrive(CR);
        QCOMPARE(rig.ui.statusText->text(), QStringLiteral("COMMAND OK!"));
        QCOMPARE(rig.store().RxCount, std::int16_t(1));
    }

    void newAcquisitionLeavesNoStaleRow()
    {
        Rig rig;
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(100));
        QCOMPARE(rig.ui.recordTable->TextMatrix(100, 0), QStringLiteral("0")); // record 100 is "00"
        QCOMPARE(rig.ui.recordTable->TextMatrix(100, 1), QStringLiteral("100"));

        rig.form.AcquirePresentValue();
        rig.arrive(DataFrame(0, {9, 9, 9, 9, 9}));
        QCOMPARE(rig.row(1), (QStringList{"0", "9", "9", "9", "9", "9", "45"}));
        for (int r = 2; r <= 100; ++r)
            QVERIFY2(rig.rowBlank(r), qPrintable(QString::number(r)));
    }

    void clrBlanksTableButKeepsTheStore()
    {
        Rig rig;
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(100));
        rig.ui.statusText->setText(QStringLiteral("COMMAND OK !"));
        rig.backend->clearWritten();

        rig.ui.clearTableButton->click();
        for (int r = 1; r <= 100; ++r)
            QVERIFY(rig.rowBlank(r));
        QVERIFY(rig.ui.statusText->text().isEmpty());
        QCOMPARE(rig.store().RxCount, std::int16_t(100));
        QVERIFY(rig.backend->written().isEmpty());
        QVERIFY(!rig.ui.receiveBox->Text().isEmpty());
    }

    void clrThenMoreRecordsContinueBelow()
    {
        Rig rig;
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(3));
        rig.form.ClearTable();
        QCOMPARE(rig.form.ChartRecords().LastPlace(), 0);
        rig.arrive(DataFrame(4, {4, 0, 0, 0, 0}));
        QVERIFY(rig.rowBlank(3));
        QCOMPARE(rig.row(4), (QStringList{"4", "4", "0", "0", "0", "0", "4"}));
        QVERIFY(!rig.form.ChartRecords().At(3));
        QCOMPARE(rig.form.ChartRecords().LastPlace(), 4);
    }

    void recordsBeyondTheTableAreCountedNotLost()
    {
        Rig rig;
        rig.answerOver({60s, 60s, 60s});
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(100));
        const QStringList row100 = rig.row(100);
        rig.arrive(DataFrame(1, {7, 7, 7, 7, 7}) + DataFrame(2, {8, 8, 8, 8, 8}));
        QCOMPARE(rig.store().RxCount, std::int16_t(102));
        QCOMPARE(rig.row(100), row100);
        QTRY_VERIFY(rig.ui.noticeText->text().contains(QStringLiteral("2 more records")));
        // The status text of later replies is still shown.
        rig.arrive(ACK + CR);
        QCOMPARE(rig.ui.statusText->text(), QStringLiteral("COMMAND OK!"));

        // A new acquisition starts with an empty store and no notice of it.
        rig.form.AcquireRecords();
        QVERIFY(!rig.ui.noticeText->text().contains(QStringLiteral("Table full")));
    }

    void fullStoreDropsButStillEchoes()
    {
        Rig rig;
        rig.answerOver({60s, 60s, 60s});
        rig.form.AcquireRecords();
        const QByteArray answer = RecordAnswer(205);
        rig.arrive(answer);
        QCOMPARE(rig.store().RxCount, std::int16_t(201));
        QCOMPARE(rig.store().RxDropped, std::int64_t(4));
        QCOMPARE(QByteArray::fromStdString(rig.store().RxRecords[200]),
                 DataFrame(201, {201, 402, 603, 804, 1005}));
        QTRY_VERIFY(rig.ui.noticeText->text().contains(QStringLiteral("105 more records")));
        QCOMPARE(rig.ui.receiveBox->Text(), Text(answer));

        // A record that finds the store full still shows as a record received.
        rig.form.ClearTable();
        QCOMPARE(rig.ui.statusText->text(), QString());
        rig.arrive(DataFrame(99, {9, 9, 9, 9, 9}));
        QCOMPARE(rig.store().RxDropped, std::int64_t(5));
        QCOMPARE(rig.ui.statusText->text(), QString("COMMAND OK !"));
    }

    void clickDuringAReplyAbandonsIt()
    {
        Rig rig;
        rig.form.AcquireRecords();
        const QByteArray frame = DataFrame(5, {1, 2, 3, 4, 5});
        rig.arrive(frame.left(20));
        QCOMPARE(rig.store().RxFlag, std::int16_t(1));
        rig.form.AcquirePresentValue();
        rig.arrive(frame.mid(20) + DataFrame(6, {6, 6, 6, 6, 6}));
        QCOMPARE(rig.store().RxCount, std::int16_t(1));
        QCOMPARE(rig.ui.recordTable->TextMatrix(1, 0), QStringLiteral("6"));
    }

    void endlessFrameKeepsItsEcho()
    {
        Rig rig;
        rig.form.AcquireRecords();
        const QByteArray flood = STX + QByteArray(5000, 'n');
        rig.arrive(flood);
        QCOMPARE(rig.store().RxFlag, std::int16_t(0));
        QVERIFY(rig.store().RxBuffer.size() <= LinkState::MaxFrameLength);
        QCOMPARE(rig.ui.receiveBox->Text(), Text(flood));
        rig.arrive(DataFrame(1, {1, 1, 1, 1, 1}));
        QCOMPARE(rig.store().RxCount, std::int16_t(1));
    }

    void commandWithPortClosedChangesNothing()
    {
        Rig rig;
        rig.answerOver({60s, 60s, 60s});
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(2));
        rig.ui.statusText->setText(QStringLiteral("COMMAND OK !"));
        QVERIFY(rig.ui.serialControl->setPortOpen(false));
        rig.backend->clearWritten();
        const QString echo = rig.ui.receiveBox->Text();

        rig.form.AcquireRecords();
        rig.form.AcquirePresentValue();
        QCOMPARE(rig.messages.size(), 2);
        QVERIFY(rig.messages.first().contains(QStringLiteral("not open")));
        QVERIFY(rig.backend->written().isEmpty());
        QCOMPARE(rig.store().RxCount, std::int16_t(2));
        QCOMPARE(rig.ui.recordTable->TextMatrix(2, 0), QStringLiteral("2"));
        QCOMPARE(rig.ui.receiveBox->Text(), echo);
        QCOMPARE(rig.ui.statusText->text(), QStringLiteral("COMMAND OK !"));
        QCOMPARE(rig.ui.transmitBox->Text(), Text(AcquireRecords)); // the last one sent
    }

    void aCommandThatCannotBeSentChangesNothing()
    {
        Rig rig;
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(2) + ACK + CR);
        const QString echo = rig.ui.receiveBox->Text();
        QTRY_VERIFY(rig.commandsEnabled());
        rig.backend->setWriteFailure("the adapter refused it");

        rig.ui.acquirePresentButton->click();
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY(rig.messages.first().contains("was not sent: the adapter refused it"));
        QCOMPARE(rig.ui.transmitBox->Text(), Text(AcquireRecords));
        QCOMPARE(QByteArray::fromStdString(rig.TxCommand()), AcquireRecords);
        QCOMPARE(rig.row(2), (QStringList{"2", "2", "4", "6", "8", "10", "30"}));
        QCOMPARE(rig.form.ChartRecords().LastPlace(), 2);
        QCOMPARE(rig.ui.statusText->text(), QString("COMMAND OK!"));
        QCOMPARE(rig.ui.receiveBox->Text(), echo);
        QCOMPARE(rig.store().RxCount, 2);
        QVERIFY(rig.commandsEnabled()); // nothing is awaited
    }

    // How an answer ended stays on the notice line until the next command: a fault in the
    // alarm colour, and once none holds, the port.
    void theNoticeLineTellsHowTheAnswerEnded_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<bool>("alarm");
        QTest::newRow("records") << "records"
                                 << "Port open: COM1 (/dev/ttyS0)" << false;
        QTest::newRow("no answer")
            << "nothing"
            << "No answer within 0.02 s: check the cable, that the instrument is switched on, "
               "and that it is connected to COM1."
            << true;
        QTest::newRow("the line lost after 48 records")
            << "lost"
            << "Table incomplete: 48 records, then the line was lost." << true;
        QTest::newRow("lost after 130")
            << "lost, table full"
            << "Table incomplete: 130 records, then the line was lost. 30 of them are not in the "
               "table."
            << true;
    }

    void theNoticeLineTellsHowTheAnswerEnded()
    {
        QFETCH(QString, what);
        QFETCH(QString, notice);
        QFETCH(bool, alarm);
        Rig rig;
        rig.answerOver({20ms, 20ms, 60s});
        rig.form.AcquireRecords();
        if (what.startsWith("lost")) {
            rig.arrive(RecordAnswer(what.endsWith("full") ? 130 : 48)
                       + "\x02"
                         "0");
            rig.backend->loseDevice("unplugged");
        } else if (what == "records") {
            rig.arrive(RecordAnswer(3));
        }
        QTRY_VERIFY(rig.commandsEnabled());
        QCOMPARE(rig.ui.noticeText->accessibleName(), notice);
        QVERIFY(NoticeShowsItsText(*rig.ui.noticeText));
        QCOMPARE(Alarm(rig.ui), alarm);
        QCOMPARE(rig.ui.statusText->text(), QString(what == "nothing" ? "" : "COMMAND OK !"));

        // The port back, the fault stays until the next command.
        rig.openPort();
        QCOMPARE(rig.ui.noticeText->accessibleName(), notice);
        rig.form.AcquirePresentValue();
        QCOMPARE(rig.ui.noticeText->accessibleName(), QString("Port open: COM1 (/dev/ttyS0)"));
        QVERIFY(!Alarm(rig.ui));
    }

    // A save says what it wrote; a table with nothing in it is saved only when the operator
    // says so; an incomplete one is saved and said to be.
    void savingSaysWhatItWrote_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<bool>("yes"); // the answer to a question
        QTest::addColumn<bool>("asked");
        QTest::addColumn<int>("lines");      // in the file; -1: none written
        QTest::addColumn<QString>("notice"); // %1: the file
        QTest::addColumn<QString>("message");
        QTest::newRow("records") << "3 records" << true << false << 3 << "Saved 3 records to %1"
                                 << "";
        QTest::newRow("empty, no")
            << "empty" << false << true << -1 << "Port open: COM1 (/dev/ttyS0)"
            << "";
        QTest::newRow("blanked, yes")
            << "blanked" << true << true << 3 << "Saved 3 blank lines to %1"
            << "";
        QTest::newRow("incomplete")
            << "incomplete" << true << false << 48
            << "Table incomplete: 48 records, then the line was lost."
            << "The table was saved to %1, but it is incomplete: the line was lost while the "
               "records came (48 received).";
    }

    void savingSaysWhatItWrote()
    {
        QFETCH(QString, table);
        QFETCH(bool, yes);
        QFETCH(bool, asked);
        QFETCH(int, lines);
        QFETCH(QString, notice);
        QFETCH(QString, message);
        Rig rig;
        QTemporaryDir dir;
        if (table != "empty") {
            rig.form.AcquireRecords();
            rig.arrive(RecordAnswer(table == "incomplete" ? 48 : 3));
        }
        if (table == "blanked")
            rig.ui.clearTableButton->click();
        if (table == "incomplete")
            rig.backend->loseDevice("unplugged");
        rig.messages.clear();
        // A name longer than the line.
        const QString path = dir.filePath(QString(80, 'n') + ".csv");
        rig.saveDialog->answer = path;
        rig.answerYes = yes;
        rig.ui.saveButton->click();
        QCOMPARE(rig.questions.size(), asked ? 1 : 0);
        QCOMPARE(QFile::exists(path), lines >= 0);
        if (lines >= 0)
            QCOMPARE(Read(path).count('\n'), lines);
        QCOMPARE(rig.ui.noticeText->accessibleName(), notice.arg(path));
        QVERIFY(NoticeShowsItsText(*rig.ui.noticeText));
        QCOMPARE(Alarm(rig.ui), table == "incomplete");
        QCOMPARE(rig.messages.size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty())
            QVERIFY2(rig.messages.first().startsWith(message.arg(path)),
                     qPrintable(rig.messages.first()));
    }

    void commandButtonsRestWhileAnAnswerArrives_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<AnswerWatch::Intervals>("intervals");
        const auto never = 60s;
        QTest::newRow("answer, then quiet")
            << "answer" << AnswerWatch::Intervals{30ms, never, never};
        QTest::newRow("no answer") << "nothing" << AnswerWatch::Intervals{never, 30ms, never};
        QTest::newRow("endless talk") << "talk" << AnswerWatch::Intervals{200ms, never, 300ms};
        QTest::newRow("port lost") << "lost" << AnswerWatch::Intervals{never, never, never};
        QTest::newRow("port closed") << "closed" << AnswerWatch::Intervals{never, never, never};
        QTest::newRow("port changed") << "changed" << AnswerWatch::Intervals{never, never, never};
    }

    void commandButtonsRestWhileAnAnswerArrives()
    {
        QFETCH(QString, what);
        QFETCH(AnswerWatch::Intervals, intervals);
        Rig rig;
        rig.answerOver(intervals);
        rig.arrive(DataFrame(9, {9, 9, 9, 9, 9})); // no command outstanding: nothing goes off
        QVERIFY(rig.commandsEnabled());

        rig.ui.acquireRecordsButton->click();
        QVERIFY(!rig.commandsEnabled());
        // CLR and the menu stay usable.
        QVERIFY(rig.ui.clearTableButton->isEnabled() && rig.ui.saveButton->isEnabled());
        QVERIFY(rig.ui.choosePortAction->isEnabled() && rig.ui.finishAction->isEnabled());

        // A second click in the middle of the answer is not taken: the rest of the answer
        // still lands below the first half, once.
        // It comes before the port has told that the command left, as a quick instrument's
        // may.
        const bool answers = what != "nothing";
        if (answers)
            rig.backend->arrive(RecordAnswer(2));
        rig.ui.acquireRecordsButton->click();
        rig.ui.clearAllButton->click();
        QCOMPARE(rig.backend->written(), AcquireRecords);
        if (answers)
            rig.backend->arrive(DataFrame(3, {3, 3, 3, 3, 3}));
        QCOMPARE(rig.store().RxCount, answers ? 3 : 0);
        QVERIFY(!rig.commandsEnabled());

        QTimer talk;
        if (what == "talk") {
            QObject::connect(&talk, &QTimer::timeout, [&] { rig.backend->arrive("n"); });
            talk.start(5);
        } else if (what == "lost") {
            rig.backend->loseDevice("unplugged");
        } else if (what == "closed") {
            rig.form.Unload();
        } else if (what == "changed") {
            OnNextModal([](QWidget* modal) { modal->close(); });
            rig.form.ChoosePort();
        }
        QTRY_VERIFY(rig.commandsEnabled());
        QCOMPARE(rig.row(3).first(), answers ? QString("3") : QString());
        QVERIFY(rig.rowBlank(4));
    }

    // A line whose output is stopped (flow control, another program) holds the command: the
    // answer is not awaited before the command has left. One that does not leave in time is
    // dropped and said once, and never goes out later behind the next command.
    void aCommandTheLineHoldsIsAwaitedThenDropped()
    {
        Rig rig;
        rig.answerOver({20ms, 1000ms, 1000ms, 500ms});
        rig.backend->setOutputStopped(true);
        rig.ui.acquireRecordsButton->click();
        bool restedWhileHeld = false;
        QTimer::singleShot(100ms, &rig.form, [&] {
            restedWhileHeld = !rig.commandsEnabled();
            rig.backend->setOutputStopped(false);
        });
        QTRY_COMPARE(rig.backend->written(), AcquireRecords);
        QVERIFY(restedWhileHeld);
        rig.arrive(RecordAnswer(3));
        QTRY_VERIFY(rig.commandsEnabled());
        QCOMPARE(rig.store().RxCount, 3);

        rig.answerOver({20ms, 20ms, 1000ms, 30ms});
        rig.backend->clearWritten();
        rig.backend->setOutputStopped(true);
        rig.ui.acquirePresentButton->click();
        QTRY_VERIFY(rig.commandsEnabled());
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY2(rig.messages.first().startsWith("The command was not sent"),
                 qPrintable(rig.messages.first()));
        QCOMPARE(rig.ui.serialControl->OutBufferCount(), 0);
        rig.backend->setOutputStopped(false);
        rig.ui.acquireRecordsButton->click();
        QCOMPARE(rig.backend->written(), AcquireRecords);
    }

    // The port that opened is remembered, and offered first at the next start, where the
    // close box opens it as it opens COM1 at a first start; once gone, COM1 is offered. A
    // pseudo-terminal chosen by its number is not: the number may be another terminal's by then.
    void theOpenedPortIsOfferedAtTheNextStart_data()
    {
        QTest::addColumn<bool>("stillThere");
        QTest::addColumn<bool>("byNumber");
        QTest::newRow("still there") << true << false;
        QTest::newRow("gone since") << false << false;
        QTest::newRow("a terminal by its number") << true << true;
    }

    void theOpenedPortIsOfferedAtTheNextStart()
    {
        QFETCH(bool, stillThere);
        QFETCH(bool, byNumber);
        auto line = std::make_unique<Pty>();
        QTemporaryDir dir;
        const QString device = byNumber ? line->device : dir.filePath("instrument");
        QVERIFY(byNumber || QFile::link(line->device, device));
        {
            MainWindow first;
            QVERIFY(first.choosePort(device));
        }
        if (!stillThere)
            line.reset();
        MainWindow next;
        QString offered;
        OnNextModal([&](QWidget* modal) {
            offered = Find<QComboBox>(*modal, "Combo1")->currentText();
            qobject_cast<QDialog*>(modal)->reject();
        });
        next.form.ChoosePort();
        const QString expected = stillThere && !byNumber ? device : QString("COM1");
        QCOMPARE(offered, expected);
        QCOMPARE(next.backend->portName(), expected);
    }

    void copyAllReceivedTakesEveryByteSinceTheCommand()
    {
        Rig rig;
        rig.arrive("from before the command");
        rig.form.AcquireRecords();
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all += char(b);
        const QByteArray answer = RecordAnswer(300) + all; // far more than the box shows
        rig.arrive(answer);

        std::unique_ptr<QMenu> menu(rig.ui.receiveBox->ContextMenu());
        QStringList entries;
        QAction* copyAll = nullptr;
        for (QAction* action : menu->actions()) {
            entries << action->text();
            if (action->text() == "Copy all received")
                copyAll = action;
        }
        // The box's own copy stays beside it.
        QVERIFY2(copyAll && entries.filter("Copy").size() == 2, qPrintable(entries.join(", ")));
        copyAll->trigger();
        QString expected = QString::fromLatin1(answer);
        expected[expected.indexOf(QChar(0))] = QChar(0x2400);
        QCOMPARE(QGuiApplication::clipboard()->text(), expected);
    }

    void lostPortIsToldOnceAndKeepsEverything()
    {
        Rig rig;
        rig.form.AcquireRecords();
        const QByteArray partial = RecordAnswer(3)
                                   + "\x02"
                                     "0";
        rig.arrive(partial);
        rig.backend->loseDevice(QStringLiteral("unplugged"));
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY(rig.messages.first().contains(QStringLiteral("COM1")));
        QVERIFY(rig.messages.first().contains(QStringLiteral("CommPort Select")));
        QVERIFY(!rig.ui.serialControl->PortOpen());
        QCOMPARE(rig.store().RxCount, 3);
        QCOMPARE(rig.row(3), (QStringList{"3", "3", "6", "9", "12", "15", "45"}));
        QCOMPARE(rig.ui.receiveBox->Text(), Text(partial));

        // The menu brings the port back; the table is still there.
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<frmPORT*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            dialog->Command1_Click();
        });
        rig.form.ChoosePort();
        QVERIFY(rig.ui.serialControl->PortOpen());
        QCOMPARE(rig.backend->openCount(), 2);
        QCOMPARE(rig.row(3).first(), QStringLiteral("3"));
        QCOMPARE(rig.messages.size(), 1);
    }

    void echoHoldsTheLongestAnswer()
    {
        Rig rig;
        rig.form.AcquireRecords();
        // A full store and more: every character, in order.
        const QByteArray answer = QByteArray("noise") + RecordAnswer(220) + ACK + CR;
        rig.arrive(answer);
        QCOMPARE(rig.ui.receiveBox->Text(), Text(answer));
        QVERIFY(frmMain::EchoCapacity >= 10 * answer.size());
    }

    void exportWritesTheRowsShown()
    {
        Rig rig;
        QTemporaryDir dir;
        rig.form.AcquireRecords();
        rig.arrive(DataFrame(7, {123, 0, 45, 10, 1}) + DataFrame(8, {1, 2, 3, 4, 5})
                   + DataFrame(9, {0, 0, 0, 0, 0}));
        rig.ui.recordTable->setTextMatrix(3, 2, QString()); // what the table shows is written
        rig.saveDialog->answer = dir.filePath("first.csv");
        rig.ui.saveButton->click();
        QCOMPARE(Read(rig.saveDialog->answer),
                 QByteArray("\"7\",\"123\",\"0\",\"45\",\"10\",\"1\",\"179\"\r\n"
                            "\"8\",\"1\",\"2\",\"3\",\"4\",\"5\",\"15\"\r\n"
                            "\"9\",\"0\",\"\",\"0\",\"0\",\"0\",\"0\"\r\n"));
        QVERIFY(rig.messages.isEmpty());

        // The next export starts from the name chosen; a cancel changes nothing.
        rig.saveDialog->cancel = true;
        rig.form.AcquireRecords(); // empty table now
        rig.ui.saveButton->click();
        QCOMPARE(rig.saveDialog->shownWith, (QStringList{"", dir.filePath("first.csv")}));
        QCOMPARE(Read(dir.filePath("first.csv")).count('\n'), 3);
        // No records: an empty file.
        rig.saveDialog->cancel = false;
        rig.ui.saveButton->click();
        QCOMPARE(Read(dir.filePath("first.csv")), QByteArray());
        rig.saveDialog->answer.clear(); // no name: nothing happens
        rig.ui.saveButton->click();
        QVERIFY(rig.messages.isEmpty());
    }

    // The chart window: one at a time, a record clicked in it selects its row's cells, a
    // selected cell marks its record, its image saved as chosen, closed at Finish.
    void chartFollowsTheTableBothWays()
    {
        Rig rig;
        QTemporaryDir dir;
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(5));
        rig.form.ShowChart();
        QPointer<frmChart> window = rig.form.ChartWindow();
        QVERIFY(window && window->isVisible());
        rig.form.ShowChart();
        QCOMPARE(rig.form.ChartWindow(), window.data());
        RecordChart* chart = window->Chart();

        QTest::mouseClick(chart, Qt::LeftButton, {}, chart->PlacePoint(4));
        QModelIndexList cells = rig.ui.recordTable->selectionModel()->selectedIndexes();
        QCOMPARE(cells.size(), RecordColumns);
        for (const QModelIndex& cell : cells)
            QCOMPARE(cell.row() + 1, 4); // table row 4
        QCOMPARE(chart->Marked(), std::vector<int>{4});
        const QAbstractItemModel* model = rig.ui.recordTable->model();
        rig.ui.recordTable->selectionModel()->select(
            QItemSelection(model->index(1, 5), model->index(2, 6)),
            QItemSelectionModel::ClearAndSelect);
        QCOMPARE(chart->Marked(), (std::vector<int>{2, 3}));

        // An image is written where a file of the operator's would be.
        rig.imageDialog->answer = dir.filePath("records");
        rig.imageDialog->type = 1;
        window->cmdSaveImage_Click();
        QVERIFY(rig.messages.isEmpty());
        QVERIFY(Read(dir.filePath("records")).contains("<svg"));
        rig.imageDialog->answer = dir.filePath("records.png");
        window->cmdSaveImage_Click();
        QCOMPARE(QImage(dir.filePath("records.png")).size(), chart->size());
        rig.imageDialog->answer = dir.filePath("no-such-folder/records.png");
        window->cmdSaveImage_Click();
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY(rig.messages.first().startsWith("The chart could not be saved to"));

        rig.ui.finishAction->trigger();
        QVERIFY(!window || !window->isVisible());
    }

    void exportOfAFullTableSaysWhatWasLeftOut()
    {
        Rig rig;
        QTemporaryDir dir;
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(130));
        rig.saveDialog->answer = dir.filePath("full.csv");
        rig.form.SaveTable();
        const QList<QByteArray> lines = Read(rig.saveDialog->answer).split('\n');
        QCOMPARE(lines.size(), 101); // 100 lines and what follows the last
        QVERIFY(lines[99].startsWith("\"0\",\"100\",\"200\",")); // record 100 numbers itself 00
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY(rig.messages.first().contains("30 more received records"));
    }

    void exportThatCannotWriteKeepsTheOldFile()
    {
        Rig rig;
        QTemporaryDir dir;
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(2));
        const QString path = dir.filePath("kept.csv");
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        rig.saveDialog->answer = path;
        rig.form.SaveTable();
        QCOMPARE(Read(path), QByteArray("old"));
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY(rig.messages.first().contains(path));
        QVERIFY(rig.messages.first().contains("read-only"));
        QCOMPARE(rig.row(2).first(), QString("2")); // the table is still there
    }

    void clearAllSendsItsFrameOnceAndEmptiesEverything()
    {
        Rig rig;
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(3)
                   + "\x02"
                     "0");
        rig.fillAllRows();
        rig.backend->clearWritten();
        rig.clearAll(true);
        QCOMPARE(rig.backend->written(), ClearAll);
        QCOMPARE(rig.ui.transmitBox->Text(), Text(ClearAll));
        QCOMPARE(QByteArray::fromStdString(rig.TxCommand()), ClearAll);
        QVERIFY(rig.ui.receiveBox->Text().isEmpty());
        QVERIFY(rig.ui.statusText->text().isEmpty());
        for (int r = 1; r <= 100; ++r)
            QVERIFY(rig.rowBlank(r));
        QCOMPARE(rig.ui.recordTable->TextMatrix(0, 6), QString("TOTAL"));
        QCOMPARE(rig.store().RxCount, 0);
        QCOMPARE(rig.store().RxFlag, 0);
        QVERIFY(std::all_of(rig.store().RxRecords.begin(), rig.store().RxRecords.end(),
                            [](const std::string& r) { return r.empty(); }));
        rig.arrive(ACK + CR);
        QCOMPARE(rig.ui.statusText->text(), QString("COMMAND OK!"));
        QCOMPARE(rig.store().RxCount, 0);
    }

    void clearAllCancelledOrClosedChangesNothing()
    {
        Rig rig;
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(2));
        rig.backend->clearWritten();
        rig.clearAll(false);
        OnNextModal([](QWidget* modal) { modal->close(); }); // the close box
        rig.form.ClearAll();
        QCOMPARE(rig.backend->written(), QByteArray());
        QCOMPARE(rig.store().RxCount, 2);
        QCOMPARE(rig.row(2).first(), QString("2"));
        QCOMPARE(rig.ui.transmitBox->Text(), Text(AcquireRecords));

        // What arrives while the question is open is still received and echoed; the answer
        // being over, it is read into no record.
        OnNextModal([&rig](QWidget* modal) {
            rig.arrive(DataFrame(3, {1, 1, 1, 1, 1}));
            QVERIFY(rig.ui.receiveBox->Text().endsWith(Text(DataFrame(3, {1, 1, 1, 1, 1}))));
            QVERIFY(rig.rowBlank(3));
            Find<QPushButton>(*modal, "CancelButton")->click();
        });
        rig.form.ClearAll();
        QCOMPARE(rig.store().RxCount, 2);
    }

    void clearAllWithThePortClosedSaysSoAndKeepsEverything()
    {
        Rig rig;
        rig.form.AcquireRecords();
        rig.arrive(RecordAnswer(2));
        QVERIFY(rig.ui.serialControl->setPortOpen(false));
        rig.clearAll(true);
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY(rig.messages.first().contains("not open"));
        QCOMPARE(rig.store().RxCount, 2);
        QCOMPARE(rig.row(2).first(), QString("2"));
        QVERIFY(!QApplication::activeModalWidget()); // the question has closed
    }

    void clearAllQuestionAsDesigned()
    {
        CLR_ALL question([] {});
        question.show();
        QVERIFY(QTest::qWaitForWindowExposed(&question));
        QCOMPARE(question.windowTitle(), QString("Clear Data"));
        QCOMPARE(question.size(), QSize(334, 116));
        QCOMPARE(Find<QLabel>(question, "Label1")->text(), QString("Clear all record data?"));
        QCOMPARE(QApplication::focusWidget(), Find<QPushButton>(question, "OKButton"));
        QTest::keyClick(Find<QPushButton>(question, "OKButton"), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), Find<QPushButton>(question, "CancelButton"));
    }

    void unloadDropsRtsThenCloses()
    {
        Rig rig;
        QVERIFY(rig.backend->requestToSend());
        rig.form.close();
        QVERIFY(!rig.ui.serialControl->RTSEnable());
        QVERIFY(!rig.ui.serialControl->PortOpen());
        rig.form.Unload(); // already closed: still fine
    }
};

QM6200_TEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
