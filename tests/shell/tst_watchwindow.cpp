// The watch window: a watch of simulated instruments started and stopped from it, its table and
// chart following the readings, the main window's port shared with it, and its CSV.

#include "journal/JournalReader.h"
#include "shell/frmHistory.h"
#include "shell/frmWatch.h"
#include "tests/support/Files.h"
#include "tests/support/Session.h"
#include "tests/support/TestMain.h"
#include "ui/WatchChart.h"
#include "watch/Watch.h"

#include <QAccessible>
#include <QListWidget>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <memory>

using namespace qm;
using namespace qm::test;

namespace {

// The main window on the first of three simulators, and its watch window open.
struct Rig {
    Rig()
        : main(sims[0]->device)
    {
        main.form.ShowWatch();
        window = main.form.WatchWindow();
        window->SetEvery(1, frmWatch::Unit::Seconds);
    }

    // Adds each simulator's port, as the port dialog's "Determine" does.
    void addAll()
    {
        for (const auto& sim : sims)
            QVERIFY(window->AddPort(SelectionFor(sim->device)));
    }

    QString cell(int row, int column) const
    {
        const QTableWidgetItem* item = Find<QTableWidget>(*window, "grdLatest")->item(row, column);
        return item ? item->text() : QString();
    }

    // Readings of every port at least `each` each, by the chart's count.
    bool readingsOfEach(int each) const
    {
        const WatchChartData& data = window->ChartReadings();
        for (int i = 0; i < data.Instruments(); ++i) {
            if (data.Points(i).size() < std::size_t(each))
                return false;
        }
        return data.Instruments() > 0;
    }

    std::vector<std::unique_ptr<Simulator>> sims = [] {
        std::vector<std::unique_ptr<Simulator>> made;
        for (int i = 0; i < 3; ++i)
            made.push_back(std::make_unique<Simulator>(
                QStringList{"--no-pace", "--seed", QString::number(i + 1)}));
        return made;
    }();
    Program main;
    frmWatch* window = nullptr;
};

} // namespace

class TestWatchWindow : public QObject {
    Q_OBJECT

private slots:
    // Three instruments read every second: the table shows each one's latest values, the chart
    // gets every reading, and the CSV saved is the one "qm6200-acquire history N" gives.
    void threeInstrumentsWatchedAndSaved()
    {
        Rig rig;
        rig.addAll();
        QCOMPARE(rig.window->Ports().size(), 3);
        QVERIFY(!rig.window->AddPort(SelectionFor(rig.sims[1]->device))); // twice: refused
        QSignalSpy finished(rig.window, &frmWatch::Finished);
        Find<QPushButton>(*rig.window, "cmdStart")->click();
        QVERIFY(rig.window->Running());
        QVERIFY(!Find<QPushButton>(*rig.window, "cmdAddPort")->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(rig.readingsOfEach(2), Patience);
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(rig.cell(row, 0), rig.sims[std::size_t(row)]->device);
            QCOMPARE(rig.cell(row, 8), QString()); // no note
            QVERIFY(!rig.cell(row, 7).isEmpty());  // the total
        }
        QVERIFY(rig.window->Chart()->DrawCount().strips + rig.window->Chart()->DrawCount().whole
                > 0);
        Find<QPushButton>(*rig.window, "cmdStop")->click();
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(!rig.window->Running());
        const qint64 readings = rig.window->CurrentWatch()->Readings();
        QCOMPARE(rig.window->ChartReadings().Count(), readings);
        QCOMPARE(rig.window->CurrentWatch()->Noted(), 0);

        QTemporaryDir dir;
        rig.main.saveDialog->answer = dir.filePath("watch.csv");
        Find<QPushButton>(*rig.window, "cmdSave")->click();
        QVERIFY(
            QFileInfo(rig.main.saveDialog->shownWith.constLast()).fileName().contains("-watch-"));
        const QByteArray saved = Read(dir.filePath("watch.csv"));
        QCOMPARE(saved.count("\r\n"), readings + 1);
        JournalReader reader;
        QVERIFY(reader.open());
        const qint64 number = reader.Watches().front().number;
        QProcess history;
        history.start(QStringLiteral(QM6200_ACQUIRE),
                      {"history", QString::number(number), "-o", dir.filePath("history.csv")});
        QVERIFY(history.waitForFinished(Patience));
        QCOMPARE(history.exitCode(), 0);
        QCOMPARE(Read(dir.filePath("history.csv")), saved);
    }

    // The main window's port is watched on its own line: a command from the main window and
    // a reading take turns on the wire, whichever comes first, and each gets its own answer.
    void theMainWindowsCommandAndAReadingTakeTurns_data()
    {
        QTest::addColumn<bool>("commandFirst");
        QTest::newRow("the reading first") << false;
        QTest::newRow("the command first") << true;
    }
    void theMainWindowsCommandAndAReadingTakeTurns()
    {
        QFETCH(bool, commandFirst);
        Rig rig;
        QVERIFY(rig.window->AddPort(SelectionFor(rig.sims[0]->device)));
        if (commandFirst)
            rig.main.ui.acquirePresentButton->click();
        Find<QPushButton>(*rig.window, "cmdStart")->click();
        if (!commandFirst)
            rig.main.ui.acquirePresentButton->click();
        QTRY_VERIFY_WITH_TIMEOUT(rig.main.commandsEnabled() && rig.readingsOfEach(2), Patience);
        rig.window->cmdStop_Click();
        QTRY_VERIFY(!rig.window->Running());

        // The main window's answer: one record, the present values, nothing of a reading's.
        QCOMPARE(rig.main.row(1).constFirst(), "0");
        QVERIFY(!rig.main.row(1).constLast().isEmpty());
        QVERIFY(rig.main.rowBlank(2));
        QCOMPARE(rig.main.ui.receiveBox->Text().count(QChar(0x02)), 1);
        // Every reading whole and answered; every command answered once.
        QCOMPARE(rig.window->CurrentWatch()->Noted(), 0);
        QTRY_COMPARE(rig.sims[0]->replies, rig.sims[0]->received.size());
        QCOMPARE(rig.sims[0]->received.size(), rig.window->CurrentWatch()->Readings() + 1);
    }

    // The main window chooses its port again while its port is watched: the watch lets go of
    // that line, and never reads what opens on it next, even the same port.
    void theMainWindowChoosesItsPortAgain()
    {
        Rig rig;
        rig.addAll();
        Find<QPushButton>(*rig.window, "cmdStart")->click();
        QTRY_VERIFY_WITH_TIMEOUT(rig.readingsOfEach(1), Patience);
        QVERIFY(rig.main.choosePort(rig.sims[0]->device));
        QCOMPARE(rig.window->Ports(), QStringList({rig.sims[1]->device, rig.sims[2]->device}));
        QTRY_VERIFY_WITH_TIMEOUT(rig.cell(0, 8) == "line lost", Patience);
        const qsizetype sentToFirst = rig.sims[0]->received.size();
        QTRY_VERIFY_WITH_TIMEOUT(rig.window->ChartReadings().Points(0).size() >= 3, Patience);
        rig.window->cmdStop_Click();
        QTRY_VERIFY(!rig.window->Running());
        QCOMPARE(rig.sims[0]->received.size(), sentToFirst);
        // The others go on, one command per reading.
        QTRY_COMPARE(rig.sims[1]->received.size(),
                     qsizetype(rig.window->ChartReadings().Points(1).size()));
    }

    // Closing the window stops the watch: the readings under way end and are kept, none is
    // sent after; opened again, it shows the watch that ran.
    void closedWhileRunning()
    {
        Rig rig;
        rig.addAll();
        QSignalSpy finished(rig.window, &frmWatch::Finished);
        Find<QPushButton>(*rig.window, "cmdStart")->click();
        QTRY_VERIFY_WITH_TIMEOUT(rig.readingsOfEach(1), Patience);
        rig.window->close();
        QTRY_COMPARE(finished.count(), 1);
        const qint64 readings = rig.window->CurrentWatch()->Readings();
        std::vector<qsizetype> sent;
        for (const auto& sim : rig.sims)
            sent.push_back(sim->received.size());
        QTest::qWait(1500); // a reading would be due within this
        for (std::size_t i = 0; i < sent.size(); ++i)
            QCOMPARE(rig.sims[i]->received.size(), sent[i]);
        rig.main.form.findChild<JournalWriter*>()->WaitUntilWritten();
        JournalReader reader;
        QVERIFY(reader.open());
        QCOMPARE(reader.Watches().front().readings, readings);
        rig.main.ui.watchAction->trigger();
        QCOMPARE(rig.main.form.WatchWindow(), rig.window);
        QVERIFY(rig.window->isVisible());
        QVERIFY(Find<QPushButton>(*rig.window, "cmdStart")->isEnabled());
    }

    // The program asked to end (a logout, Ctrl+C) while a watch runs: the watch stops with
    // the main window, every reading it took is in the journal, and nothing is left behind.
    void theProgramEndsWhileWatching()
    {
        auto rig = std::make_unique<Rig>();
        rig->addAll();
        rig->window->cmdStart_Click();
        QTRY_VERIFY_WITH_TIMEOUT(rig->readingsOfEach(1), Patience);
        rig->main.form.EndRun();
        QVERIFY(!rig->window->isVisible());
        QTRY_VERIFY(!rig->window->Running());
        const qint64 readings = rig->window->CurrentWatch()->Readings();
        rig->main.form.findChild<JournalWriter*>()->WaitUntilWritten();
        rig.reset();
        JournalReader reader;
        QVERIFY(reader.open());
        QCOMPARE(reader.Watches().front().readings, readings);
    }

    // Alt+W opens it; every control has a name and a role a screen reader reads; the series
    // are a tree of check boxes; Esc closes it and the menu's keys work from it.
    void reachedByKeyboardAndScreenReader()
    {
        Rig rig;
        rig.window->close();
        rig.main.form.show();
        rig.main.form.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&rig.main.form));
        QTest::keyClick(&rig.main.form, Qt::Key_W, Qt::AltModifier);
        QTRY_VERIFY(rig.window->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(rig.window));
        rig.addAll();
        rig.window->cmdStart_Click();
        QTRY_VERIFY_WITH_TIMEOUT(rig.readingsOfEach(1), Patience);

        QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(rig.window);
        QCOMPARE(frame->role(), QAccessible::Window);
        QCOMPARE(frame->text(QAccessible::Name), "Watch");
        const std::vector<std::pair<const char*, QAccessible::Role>> named{
            {"lstPorts", QAccessible::List},    {"txtEvery", QAccessible::SpinBox},
            {"cboUnit", QAccessible::ComboBox}, {"grdLatest", QAccessible::Table},
            {"chtWatch", QAccessible::Chart},   {"trvSeries", QAccessible::Tree},
        };
        for (const auto& [name, role] : named) {
            QAccessibleInterface* control =
                QAccessible::queryAccessibleInterface(Find<QWidget>(*rig.window, name));
            QVERIFY2(control && control->role() == role, name);
            QVERIFY2(!control->text(QAccessible::Name).isEmpty(), name);
        }
        QVERIFY(QAccessible::queryAccessibleInterface(rig.window->Chart())
                    ->text(QAccessible::Description)
                    .contains("3 instruments"));

        // A series hidden from the tree is hidden in the chart.
        auto* series = Find<QTreeWidget>(*rig.window, "trvSeries");
        QCOMPARE(series->topLevelItemCount(), 3);
        QTreeWidgetItem* second = series->topLevelItem(1)->child(2);
        QCOMPARE(second->text(0), "CNTR3");
        second->setCheckState(0, Qt::Unchecked);
        QVERIFY(!rig.window->Chart()->SeriesShown(1, 2));
        QVERIFY(rig.window->Chart()->SeriesShown(0, 2));
        Find<QRadioButton>(*rig.window, "optChanges")->click();
        QCOMPARE(rig.window->Chart()->Mode(), WatchChartMode::Changes);

        QTest::keyClick(rig.window, Qt::Key_H, Qt::AltModifier);
        QTRY_VERIFY(rig.main.form.findChild<frmHistory*>());
        rig.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(rig.window));
        QTest::keyClick(rig.window, Qt::Key_Escape);
        QTRY_VERIFY(!rig.window->isVisible());
        QTRY_VERIFY(!rig.window->Running());
    }
};

QM6200_TEST_MAIN(TestWatchWindow)
#include "tst_watchwindow.moc"
