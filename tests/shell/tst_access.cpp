// What a screen reader and a keyboard meet: every window's accessible tree, the status text's
// change told, a whole session without the mouse, and cells copied into a spreadsheet.

#include "journal/JournalWriter.h"
#include "shell/frmChart.h"
#include "shell/frmHistory.h"
#include "shell/frmSplash.h"
#include "tests/support/Dialogs.h"
#include "tests/support/Files.h"
#include "tests/support/Frames.h"
#include "tests/support/TestMain.h"
#include "tests/support/Window.h"
#include "ui/CLR_ALL.h"

#include <QAccessible>
#include <QClipboard>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace qm;
using namespace qm::test;
using namespace std::chrono_literals;

namespace {

// Every shown control that takes the focus or shows something, below `node`, that has no role
// or no name, as "role path". Item views are checked as a whole, not cell by cell.
void Unnamed(QAccessibleInterface* node, const QString& path, QStringList& faults)
{
    const QAccessible::State state = node->state();
    if (state.invisible)
        return;
    const QAccessible::Role role = node->role();
    const QString name = node->text(QAccessible::Name);
    const QString here = path + QLatin1Char('/')
                         + (node->object() ? node->object()->objectName() : QStringLiteral("?"));
    static const QList<QAccessible::Role> containers{QAccessible::Client,    QAccessible::Grouping,
                                                     QAccessible::Pane,      QAccessible::Window,
                                                     QAccessible::Dialog,    QAccessible::MenuBar,
                                                     QAccessible::ScrollBar, QAccessible::Separator,
                                                     QAccessible::PopupMenu, QAccessible::Border};
    if (role == QAccessible::NoRole)
        faults << QStringLiteral("no role: %1").arg(here);
    else if (name.trimmed().isEmpty() && (state.focusable || !containers.contains(role)))
        faults << QStringLiteral("no name: %1 (role %2)").arg(here).arg(int(role));
    if (role == QAccessible::Table || role == QAccessible::List || role == QAccessible::Tree)
        return;
    for (int i = 0; i < node->childCount(); ++i) {
        if (QAccessibleInterface* child = node->child(i))
            Unnamed(child, here, faults);
    }
}

QStringList Unnamed(QWidget& window)
{
    QStringList faults;
    Unnamed(QAccessible::queryAccessibleInterface(&window), QString(), faults);
    return faults;
}

// The main window on an in-memory port, shown and active, as the operator has it: loaded, the
// port still closed; an answer is over after 20 ms of quiet.
struct Rig : MainWindow {
    Rig()
    {
        form.SetAnswerIntervals({20ms, 20ms, 1000ms});
        form.show();
        if (!QTest::qWaitForWindowActive(&form))
            qWarning("the main window did not become active");
    }

    // The window active again after a modal one closed, as the window manager makes it (the
    // offscreen platform leaves no window active).
    void backToTheWindow()
    {
        QTRY_VERIFY(!QApplication::activeModalWidget());
        form.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &form);
    }

    // A key as the operator presses it, to whatever has the focus.
    static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = {})
    {
        QWidget* focus = QApplication::focusWidget();
        QVERIFY(focus);
        QTest::keyClick(focus, key, modifiers);
    }

    // Runs `act` in the modal window that the next key opens, once it is active.
    static void InNextModal(std::function<void(QWidget*)> act)
    {
        OnNextModal([act = std::move(act)](QWidget* modal) {
            QPointer<QWidget> open(modal);
            if (QTest::qWaitFor([modal] { return QApplication::activeWindow() == modal; }))
                act(modal);
            else
                QTest::qFail("the modal window did not become active", __FILE__, __LINE__);
            // A check that failed in it leaves it open: closed, so that the test goes on.
            if (auto* dialog = qobject_cast<QDialog*>(open.data()); dialog && dialog->isVisible())
                dialog->done(QDialog::Rejected);
        });
    }
};

} // namespace

class TestAccess : public QObject {
    Q_OBJECT

private slots:
    void everyControlHasANameAndARole()
    {
        const auto named = [](QObject* control) {
            return QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
        };
        Rig rig;
        // Before any command: the status shows nothing, and is named still.
        QStringList faults = Unnamed(rig.form);
        rig.openPort();
        rig.ui.acquireRecordsButton->click();
        rig.arrive(RecordAnswer(3));
        QTRY_VERIFY(rig.commandsEnabled());
        faults << Unnamed(rig.form);
        // The boxes by their captions, the focus taking text inside each too.
        QCOMPARE(named(rig.ui.transmitBox->editor()), QString("Transmit Format"));
        QCOMPARE(named(rig.ui.receiveBox), QString("Receive Format"));
        QCOMPARE(rig.ui.receiveCaption->buddy(), rig.ui.receiveBox);
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(rig.ui.recordTable);
        QCOMPARE(table->text(QAccessible::Name), QString("Records"));
        QTRY_COMPARE(table->text(QAccessible::Description), QString("3 records shown"));
        QAccessibleInterface* status = QAccessible::queryAccessibleInterface(rig.ui.statusText);
        QCOMPARE(status->text(QAccessible::Name), QString("COMMAND OK !"));
        QCOMPARE(status->text(QAccessible::Description), QString("Status"));

        // The port dialog: the box's whole text, which it cannot show, told and tipped.
        const QString device = "/dev/serial/by-id/usb-Northwind_UB-232_Cable_NW0042-if00-port0";
        QStringList port; // the text's name and description, the box's and its tooltip
        OnNextModal([&](QWidget* dialog) {
            auto* box = Find<QComboBox>(*dialog, "Combo1");
            box->setEditText(device);
            for (QObject* control :
                 {static_cast<QObject*>(box->lineEdit()), static_cast<QObject*>(box)})
                port << named(control)
                     << QAccessible::queryAccessibleInterface(control)->text(
                            QAccessible::Description);
            port << box->toolTip();
            if (Find<QLabel>(*dialog, "Label1")->buddy() != box)
                faults << "the port's caption names another control";
            faults << Unnamed(*dialog);
            if (named(box->view()).isEmpty())
                faults << "the port list has no name";
            static_cast<QDialog*>(dialog)->done(QDialog::Rejected);
        });
        rig.form.ChoosePort();
        // On Linux Qt names an editable box after its text; the text in it has the name.
        QCOMPARE(port, QStringList({"Communication port", device, device, device, device}));
        OnNextModal([&faults](QWidget* question) {
            QVERIFY(qobject_cast<CLR_ALL*>(question));
            faults << Unnamed(*question);
            static_cast<QDialog*>(question)->reject();
        });
        rig.ui.clearAllButton->click();

        rig.ui.historyAction->trigger();
        auto* history = rig.form.findChild<frmHistory*>();
        QVERIFY(history);
        faults << Unnamed(*history);
        QCOMPARE(named(Find<QTableView>(*history, "grdRecords")), QString("Records"));

        rig.form.ShowChart();
        frmChart* chart = rig.form.ChartWindow();
        QVERIFY(chart && QTest::qWaitForWindowExposed(chart));
        faults << Unnamed(*chart);
        QAccessibleInterface* drawn = QAccessible::queryAccessibleInterface(chart->Chart());
        QCOMPARE(drawn->role(), QAccessible::Chart);
        QCOMPARE(drawn->text(QAccessible::Description), QString("3 records"));

        frmSplash splash;
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        faults << Unnamed(splash);
        if (named(&splash).isEmpty())
            faults << "the splash screen has no name";
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    // A session without the mouse: the port chosen, the records acquired, the echo copied, the
    // table saved, the clear asked and refused with Esc, then done, the About box, Finish; each
    // button pressed with the key of the row.
    void aWholeSessionByKeyboard_data()
    {
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("Space") << Qt::Key_Space << Qt::KeyboardModifiers();
        QTest::newRow("Return") << Qt::Key_Return << Qt::KeyboardModifiers();
        QTest::newRow("keypad Enter") << Qt::Key_Enter << Qt::KeyboardModifiers(Qt::KeypadModifier);
    }

    void aWholeSessionByKeyboard()
    {
        QFETCH(Qt::Key, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        Rig rig;
        const MainControls& ui = rig.ui;
        const auto press = [&] {
            Rig::Press(key, modifiers);
        };

        Rig::InNextModal([&](QWidget* dialog) {
            QCOMPARE(QApplication::focusWidget(), Find<QPushButton>(*dialog, "Command1"));
            press();
        });
        QTest::keyClick(&rig.form, Qt::Key_P, Qt::AltModifier);
        QVERIFY(ui.serialControl->PortOpen());
        rig.backToTheWindow();
        QCOMPARE(QApplication::focusWidget(), ui.acquireRecordsButton);

        press();
        QCOMPARE(rig.backend->written(), STX + "RDD ALL\x03\r");
        // While the commands are off the focus stays on the pressed one, which takes no key:
        // nothing is sent again and no save dialog opens.
        QCOMPARE(QApplication::focusWidget(), ui.acquireRecordsButton);
        QVERIFY(!ui.acquireRecordsButton->isEnabled());
        rig.backend->clearWritten();
        press();
        QCOMPARE(rig.backend->written(), QByteArray());
        QVERIFY(rig.saveDialog->shownWith.isEmpty());
        const QByteArray answer = RecordAnswer(3);
        rig.arrive(answer);
        QTRY_VERIFY(rig.commandsEnabled());
        QCOMPARE(QApplication::focusWidget(), ui.acquireRecordsButton);

        QTest::keyClick(&rig.form, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString::fromLatin1(answer));

        QTemporaryDir dir;
        rig.saveDialog->answer = dir.filePath("records.csv");
        for (int tab = 0; tab < 3; ++tab)
            Rig::Press(Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), ui.saveButton);
        press();
        QCOMPARE(Read(dir.filePath("records.csv")).count("\r\n"), 3);

        Rig::Press(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), ui.clearAllButton);
        rig.backend->clearWritten();
        Rig::InNextModal([](QWidget*) { Rig::Press(Qt::Key_Escape); });
        press();
        QCOMPARE(rig.backend->written(), QByteArray());
        rig.backToTheWindow();
        Rig::InNextModal([&](QWidget* question) {
            QCOMPARE(QApplication::focusWidget(), Find<QPushButton>(*question, "OKButton"));
            press();
        });
        press();
        QCOMPARE(rig.backend->written(), STX + "CLR ALL\x03\r");
        rig.backToTheWindow();
        QVERIFY(QApplication::focusWidget() != ui.saveButton);
        rig.arrive(ACK + CR);
        QTRY_VERIFY(rig.commandsEnabled());
        QCOMPARE(QApplication::focusWidget(), ui.clearAllButton);
        QCOMPARE(ui.statusText->text(), QString("COMMAND OK!"));

        bool aboutShown = false;
        Rig::InNextModal([&aboutShown](QWidget* about) {
            aboutShown = qobject_cast<QMessageBox*>(about);
            Rig::Press(Qt::Key_Escape);
        });
        QTest::keyClick(&rig.form, Qt::Key_A, Qt::AltModifier);
        QVERIFY(aboutShown);
        rig.backToTheWindow();

        QTest::keyClick(&rig.form, Qt::Key_Z, Qt::AltModifier);
        QVERIFY(!rig.form.isVisible());
        QVERIFY(!ui.serialControl->PortOpen());
    }

    // History and Chart are windows of their own, for a screen reader too; Esc closes them and
    // the menu's keys work from them.
    void sideWindowsAreWindowsThatAnswerTheKeys()
    {
        Rig rig;
        rig.ui.historyAction->trigger();
        auto* history = rig.form.findChild<frmHistory*>();
        QVERIFY(history && QTest::qWaitForWindowActive(history));
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(history);
        QCOMPARE(window->role(), QAccessible::Window);
        QCOMPARE(window->text(QAccessible::Name), QString("History"));

        Rig::Press(Qt::Key_C, Qt::AltModifier);
        QTRY_VERIFY(rig.form.ChartWindow() && rig.form.ChartWindow()->isActiveWindow());
        QPointer<frmChart> chart = rig.form.ChartWindow();
        QCOMPARE(QAccessible::queryAccessibleInterface(chart)->role(), QAccessible::Window);
        Rig::Press(Qt::Key_Escape);
        QTRY_VERIFY(!chart);
        history->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(history));
        Rig::Press(Qt::Key_Escape);
        QTRY_VERIFY(!history->isVisible());
    }

    void theFocusStaysWhereTheOperatorMovedIt()
    {
        Rig rig;
        rig.openPort();
        rig.ui.acquirePresentButton->setFocus();
        Rig::Press(Qt::Key_Space);
        QCOMPARE(QApplication::focusWidget(), rig.ui.acquirePresentButton);
        Rig::Press(Qt::Key_Tab); // on, while the answer comes
        QWidget* moved = QApplication::focusWidget();
        QVERIFY(moved != rig.ui.acquirePresentButton);
        rig.arrive(DataFrame(0, {1, 2, 3, 4, 5}));
        QTRY_VERIFY(rig.commandsEnabled());
        QCOMPARE(QApplication::focusWidget(), moved);
    }

    // Cells chosen with the arrow keys and Shift, copied with Ctrl+C: a block of the main table,
    // rows of the History window's.
    void selectedCellsCopyAsASpreadsheetPastesThem()
    {
        Rig rig;
        rig.openPort();
        rig.ui.acquireRecordsButton->click();
        rig.arrive(RecordAnswer(4));
        QTRY_VERIFY(rig.commandsEnabled());
        const auto cell = [&rig](int row, int column) {
            return rig.ui.recordTable->TextMatrix(row, column);
        };

        rig.ui.recordTable->setFocus();
        Rig::Press(Qt::Key_Home, Qt::ControlModifier);
        Rig::Press(Qt::Key_Down);
        Rig::Press(Qt::Key_Right);
        Rig::Press(Qt::Key_Down, Qt::ShiftModifier);
        Rig::Press(Qt::Key_Down, Qt::ShiftModifier);
        Rig::Press(Qt::Key_Right, Qt::ShiftModifier);
        Rig::Press(Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringList({cell(2, 1) + '\t' + cell(2, 2), cell(3, 1) + '\t' + cell(3, 2),
                              cell(4, 1) + '\t' + cell(4, 2)})
                     .join('\n'));

        rig.form.findChild<JournalWriter*>()->WaitUntilWritten();
        rig.ui.historyAction->trigger();
        auto* history = rig.form.findChild<frmHistory*>();
        auto* records = Find<QTableView>(*history, "grdRecords");
        QCOMPARE(records->model()->rowCount(), 4);
        history->activateWindow();
        records->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), records);
        records->selectAll();
        Rig::Press(Qt::Key_C, Qt::ControlModifier);
        QStringList rows;
        for (int row = 1; row <= 4; ++row)
            rows << QStringList({cell(row, 0), cell(row, 1), cell(row, 2), cell(row, 3),
                                 cell(row, 4), cell(row, 5), cell(row, 6)})
                        .join('\t');
        QCOMPARE(QGuiApplication::clipboard()->text(), rows.join('\n'));
    }

    void copyAllReceivedHasItsShortcutInTheMenu()
    {
        Rig rig;
        std::unique_ptr<QMenu> menu(rig.ui.receiveBox->ContextMenu());
        QStringList shortcuts;
        for (QAction* action : menu->actions()) {
            if (action->text() == "Copy all received")
                shortcuts << action->shortcut().toString();
        }
        QCOMPARE(shortcuts, QStringList("Ctrl+Shift+C"));
    }
};

QM6200_TEST_MAIN(TestAccess)
#include "tst_access.moc"
