#include "ports/PortNames.h"
#include "serial/QmtTxRx.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/MemoryBackend.h"
#include "tests/support/Pty.h"
#include "tests/support/Session.h"
#include "tests/support/TestMain.h"
#include "tests/support/Window.h"
#include "ui/frmPORT.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>

using namespace qm;
using namespace qm::test;

namespace {

QComboBox* Combo1(const frmPORT& dialog)
{
    return Find<QComboBox>(dialog, "Combo1");
}

QPushButton* Command1(const frmPORT& dialog)
{
    return Find<QPushButton>(dialog, "Command1");
}

// The serial control on an in-memory port and its owner, prepared as the main window's
// load leaves them, on a made-up computer without serial ports until a test plugs some in.
struct Rig {
    MemoryBackend* backend = new MemoryBackend;
    QmtTxRx control{std::unique_ptr<CommBackend>(backend)};
    PortOwner owner{control};
    QStringList messages;
    FakeSystem system;

    Rig() { owner.Prepare(); }

    // The dialog as the menu shows it: the port closes first.
    std::unique_ptr<frmPORT> dialog()
    {
        owner.CloseForChoosing();
        return std::make_unique<frmPORT>(
            owner.InUse(), [this](const PortSelection& choice) { return owner.TryOpen(choice); },
            [this](const QString& text) { messages << text; }, nullptr, system.roots);
    }

    // Shows the dialog, chooses by typing into its box, presses "Determine".
    void choose(const QString& text)
    {
        auto d = dialog();
        Combo1(*d)->setEditText(text);
        d->Command1_Click();
    }
};

QStringList Entries(const QComboBox& combo)
{
    QStringList entries;
    for (int i = 0; i < combo.count(); ++i)
        entries << combo.itemText(i);
    return entries;
}

const QStringList FourEntries{"COM1", "COM2", "COM3", "COM4"};

// A UART on the board, as the serial core files it.
FakePort BoardPort(const QString& name, const QString& number)
{
    FakePort port(name, number);
    port.hardware = "platform/serial8250/serial8250:0/serial8250:0.1";
    port.uartType = "4";
    return port;
}

} // namespace

class TestFrmPort : public QObject {
    Q_OBJECT

private slots:
    void typedTextMeansAPortOrAProblem()
    {
        Pty pty;
        QVERIFY(!pty.device.isEmpty());
        QTemporaryDir dir; // nothing in it but what a case makes
        const QString adapter = dir.filePath("ttyUSB0");
        const QString byId = dir.filePath("serial/by-id/usb-Northwind_UB-232_NW0042-if00-port0");
        const QString plugIn = " does not exist on this computer. Plug in the USB adapter";
        const QString checkName = " does not exist on this computer. Check the name";
        const struct {
            QString text;
            PortChoice::Kind kind;
            int entry;
            QString said; // part of the problem
        } cases[] = {
            {"COM3", PortChoice::Entry, 2, {}},
            {"com1", PortChoice::Entry, 0, {}},
            {" Com4 ", PortChoice::Entry, 3, {}},
            {pty.device, PortChoice::Device, -1, {}},
            {pty.device.mid(5), PortChoice::Device, -1, {}}, // "pts/N", under /dev
            {"", PortChoice::Invalid, -1, "Choose one of the ports from the list"},
            {"   ", PortChoice::Invalid, -1, "Choose one of the ports from the list"},
            {"Port Select...", PortChoice::Invalid, -1, "/dev/Port Select..." + checkName},
            {"COM0", PortChoice::Invalid, -1, "/dev/COM0" + checkName},
            {"/etc/passwd", PortChoice::Invalid, -1, "\"/etc/passwd\" is not a serial port"},
            {"/dev/no-such-port", PortChoice::Invalid, -1, "/dev/no-such-port" + checkName},
            {adapter, PortChoice::Invalid, -1, adapter + plugIn},
            {dir.filePath("ttyACM12"), PortChoice::Invalid, -1, dir.filePath("ttyACM12") + plugIn},
            {byId, PortChoice::Invalid, -1, byId + plugIn},
        };
        for (const auto& c : cases) {
            const PortChoice choice = InterpretPortText(c.text);
            QVERIFY2(choice.kind == c.kind, qPrintable(c.text));
            QCOMPARE(choice.entry, c.entry);
            QVERIFY2(c.said.isEmpty() ? choice.problem.isEmpty() : choice.problem.contains(c.said),
                     qPrintable(choice.problem));
            if (c.kind == PortChoice::Device)
                QCOMPARE(choice.device, pty.device);
        }
    }

    void entriesLiveWhereThisSystemKeepsThem()
    {
        QCOMPARE(SystemLocation("COM1"), QString("/dev/ttyS0"));
        QCOMPARE(SystemLocation("COM4"), QString("/dev/ttyS3"));
        QCOMPARE(SystemLocation("COM5"), QString("COM5"));
        QCOMPARE(SystemLocation("/dev/ttyUSB0"), QString("/dev/ttyUSB0"));
    }

    void openFailuresNameThePortAndWhatToDo()
    {
        OpenFailure noRights;
        noRights.reason = OpenFailure::NoPermission;
        noRights.deviceGroup = "uucp";
        noRights.deviceMode = 0660;
        const QString denied = DescribeOpenFailure("COM2 (/dev/ttyS1)", noRights);
        QVERIFY(denied.contains("COM2 (/dev/ttyS1)"));
        QVERIFY(denied.contains("\"uucp\""));
        QVERIFY(denied.contains("sudo usermod -aG uucp <your user>"));
        noRights.userListedInGroup = true;
        QVERIFY(DescribeOpenFailure("COM2", noRights).contains("log out and in again"));
        QVERIFY(!DescribeOpenFailure("COM2", noRights).contains("usermod"));
        // Without a known owner no group is guessed: the administrator is asked.
        const QString unknown = DescribeOpenFailure("COM2", {OpenFailure::NoPermission, {}, {}});
        QVERIFY(unknown.contains("administrator to give your user access to that device"));
        QVERIFY(!unknown.contains("usermod"));
        QVERIFY(DescribeOpenFailure("/tmp/x", {OpenFailure::NotSerial, {}, {}})
                    .contains("\"/tmp/x\" is not a serial port"));

        QVERIFY(DescribeOpenFailure("/dev/ttyUSB0", {OpenFailure::InUse, {}, {}})
                    .contains("in use by another program"));
        QVERIFY(DescribeOpenFailure("COM3 (/dev/ttyS2)", {OpenFailure::NoSuchDevice, {}, {}})
                    .startsWith("COM3 (/dev/ttyS2) does not exist on this computer. This computer "
                                "has no such port"));
        QVERIFY(DescribeOpenFailure("COM3", {OpenFailure::Other, {}, "I/O error"})
                    .contains("I/O error"));
    }

    void loadClosesThePortAndListsTheFourEntries()
    {
        Rig rig;
        QVERIFY(rig.control.setPortOpen(true));
        QVERIFY(rig.owner.TryOpen({3, {}}));
        auto dialog = rig.dialog();
        QVERIFY(!rig.control.PortOpen());
        QVERIFY(!rig.control.RTSEnable());
        QCOMPARE(Entries(*Combo1(*dialog)), FourEntries);
        QCOMPARE(Combo1(*dialog)->currentText(), QString("COM3"));
        dialog.reset();

        // Shown again after typed choices: still four entries, nothing added.
        rig.choose("com2");
        auto typed = rig.dialog();
        typed->show();
        Combo1(*typed)->lineEdit()->clear();
        QTest::keyClicks(Combo1(*typed)->lineEdit(), "anything");
        QTest::keyClick(Combo1(*typed)->lineEdit(), Qt::Key_Return);
        QCOMPARE(Entries(*Combo1(*typed)), FourEntries);
        typed.reset();
        auto again = rig.dialog();
        QCOMPARE(Entries(*Combo1(*again)), FourEntries);
        QCOMPARE(Combo1(*again)->currentText(), QString("COM2"));
    }

    void determineOpensTheChosenEntry()
    {
        Rig rig;
        auto dialog = rig.dialog();
        Combo1(*dialog)->setCurrentIndex(2);
        dialog->Command1_Click();
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(rig.owner.PortNumber(), 3);
        QCOMPARE(rig.control.CommPort(), 3);
        QVERIFY(rig.control.PortOpen());
        QCOMPARE(rig.backend->portName(), QString("COM3"));
        const LineSettings expected{9600, Parity::None, 8, StopBits::One};
        QCOMPARE(rig.backend->settings(), expected);
        QVERIFY(rig.control.RTSEnable());
        QVERIFY(rig.backend->requestToSend());
        QVERIFY(rig.messages.isEmpty());
    }

    void aTypedDeviceIsUsedAndShownAgain()
    {
        Pty pty;
        Rig rig;
        rig.choose("COM3");
        rig.choose(pty.device);
        QVERIFY(rig.control.PortOpen());
        QCOMPARE(rig.backend->portName(), pty.device);
        // The number keeps the last entry: it never reaches the port as 0.
        QCOMPARE(rig.owner.PortNumber(), 3);
        QCOMPARE(rig.control.CommPort(), 3);

        auto again = rig.dialog();
        QCOMPARE(Combo1(*again)->currentText(), pty.device);
        QCOMPARE(Entries(*Combo1(*again)), FourEntries);
        // The close box opens the same device again.
        again->reject();
        QCOMPARE(rig.backend->portName(), pty.device);
        QVERIFY(rig.control.PortOpen());

        // An entry chosen later replaces the device.
        rig.choose("COM1");
        QCOMPARE(rig.backend->portName(), QString("COM1"));
        QCOMPARE(Combo1(*rig.dialog())->currentText(), QString("COM1"));
    }

    void foundPortsComeAfterTheEntriesWithWhatTheyAre()
    {
        Rig rig;
        rig.system.plugIn(BoardPort("ttyS0", "4:64")); // COM1 itself
        rig.system.plugIn(BoardPort("ttyS5", "4:69"));
        FakePort adapter("ttyUSB0");
        adapter.record = {"E:ID_MODEL_ENC=UB-232\\x20Cable", "E:ID_VENDOR=Northwind",
                          "E:ID_SERIAL_SHORT=NW0042"};
        rig.system.plugIn(adapter);
        const QString device = rig.system.device("ttyUSB0");
        auto dialog = rig.dialog();
        QComboBox* combo = Combo1(*dialog);
        QCOMPARE(Entries(*combo), FourEntries + QStringList({rig.system.device("ttyS5"), device}));
        QCOMPARE(combo->currentText(), QString("COM1"));
        const QString line =
            device + QString::fromUtf8(" \u2014 UB-232 Cable (Northwind), serial number NW0042");
        QCOMPARE(combo->itemData(5, frmPORT::ListTextRole).toString(), line);

        // The box shows the device alone; the drop-down shows each line whole, wider than
        // the box.
        combo->setCurrentIndex(5);
        QCOMPARE(combo->lineEdit()->text(), device);
        dialog->show();
        combo->showPopup();
        QAbstractItemView* list = combo->view();
        QTRY_VERIFY(list->isVisible());
        QVERIFY(list->window()->width() > combo->width());
        const int shown = list->sizeHintForIndex(combo->model()->index(5, 0)).width();
        QVERIFY(shown > list->fontMetrics().horizontalAdvance(line));
        QVERIFY(shown <= list->viewport()->width());
        combo->hidePopup();
        dialog->reject();
    }

    // The drop-down shows each line whole, within the screen, however narrow the box; a screen
    // reader reads each item as the list shows it.
    void theListShowsAndNamesEachLineWhole_data()
    {
        QTest::addColumn<QString>("model"); // an adapter's, in udev's words; empty: a simulator
        QTest::addColumn<bool>("fits");     // on the screen whole
        QTest::newRow("an adapter") << "UB-232 Cable" << true;
        QTest::newRow("a simulator") << "" << true;
        QTest::newRow("wider than the screen") << QString(200, 'W') << false;
    }

    void theListShowsAndNamesEachLineWhole()
    {
        QFETCH(QString, model);
        QFETCH(bool, fits);
        Rig rig;
        std::optional<Simulator> simulator;
        if (model.isEmpty()) {
            simulator.emplace(QStringList());
        } else {
            FakePort adapter("ttyUSB0");
            adapter.record = {"E:ID_MODEL=" + model, "E:ID_VENDOR=Northwind"};
            rig.system.plugIn(adapter);
        }
        auto dialog = rig.dialog();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QComboBox* combo = Combo1(*dialog);
        QCOMPARE(combo->count(), PortEntries + 1);
        QCOMPARE(combo->width(), 81);
        combo->showPopup();
        QAbstractItemView* list = combo->view();
        QTRY_VERIFY(list->isVisible());

        const QRect screen = combo->screen()->availableGeometry();
        QVERIFY(screen.contains(list->window()->geometry()));
        QAccessibleTableInterface* items =
            QAccessible::queryAccessibleInterface(list)->tableInterface();
        QVERIFY(items);
        for (int row = 0; row < combo->count(); ++row) {
            const QString line = row < PortEntries
                                     ? PortEntryName(row)
                                     : combo->itemData(row, frmPORT::ListTextRole).toString();
            QVERIFY(line.contains(combo->itemText(row)));
            QCOMPARE(items->cellAt(row, 0)->text(QAccessible::Name), line);
            if (fits)
                QVERIFY2(list->sizeHintForIndex(combo->model()->index(row, 0)).width()
                             <= list->viewport()->width(),
                         qPrintable(line));
        }
        QCOMPARE(list->window()->width() == screen.width(), !fits);
        combo->hidePopup();
        dialog->reject();
    }

    void aFoundPortOpensAsItsTypedNameDoes()
    {
        Pty pty;
        Rig rig;
        FakePort adapter("ttyUSB0");
        adapter.linkTo = pty.device;
        rig.system.plugIn(adapter);
        const QString device = rig.system.device("ttyUSB0");
        auto dialog = rig.dialog();
        Combo1(*dialog)->setCurrentIndex(PortEntries);
        dialog->Command1_Click();
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(rig.owner.InUse(), (PortSelection{1, device}));
        QCOMPARE(rig.backend->portName(), device);
        QVERIFY(rig.control.PortOpen());
        QVERIFY(rig.messages.isEmpty());

        // Shown again, the port in use is that entry of the list.
        auto again = rig.dialog();
        QCOMPARE(Combo1(*again)->currentIndex(), PortEntries);
        QCOMPARE(Combo1(*again)->currentText(), device);
    }

    void theListFollowsTheHardwareAndKeepsWhatTheOperatorDid()
    {
        Rig rig;
        auto dialog = rig.dialog();
        dialog->show();
        QComboBox* combo = Combo1(*dialog);
        QLineEdit* edit = combo->lineEdit();
        edit->clear();
        QTest::keyClicks(edit, "/dev/ttyAC");
        QTest::keyClick(edit, Qt::Key_Left);

        // Plugged in: listed within two seconds; the typing goes on where it was.
        rig.system.plugIn(FakePort("ttyUSB1", "188:1"));
        const QString second = rig.system.device("ttyUSB1");
        QTRY_COMPARE_WITH_TIMEOUT(Entries(*combo), FourEntries + QStringList(second), 2000);
        QCOMPARE(edit->text(), QString("/dev/ttyAC"));
        QCOMPARE(edit->cursorPosition(), 9);

        // A port chosen from the list stays chosen while another comes before it.
        combo->setCurrentIndex(PortEntries);
        rig.system.plugIn(FakePort("ttyUSB0", "188:0"));
        QTRY_COMPARE_WITH_TIMEOUT(combo->count(), PortEntries + 2, 2000);
        QCOMPARE(combo->currentIndex(), PortEntries + 1);
        QCOMPARE(edit->text(), second);

        // udev's words come after the node: the line takes them up.
        rig.system.record("188:0", {"E:ID_MODEL=Serial_Bridge"});
        QTRY_VERIFY_WITH_TIMEOUT(combo->itemData(PortEntries, frmPORT::ListTextRole)
                                     .toString()
                                     .endsWith("Serial Bridge"),
                                 2000);

        // Pulled out: gone within two seconds, its name still in the box.
        rig.system.pullOut("ttyUSB1");
        QTRY_COMPARE_WITH_TIMEOUT(combo->count(), PortEntries + 1, 2000);
        QCOMPARE(edit->text(), second);
        dialog->reject();
    }

    void textThatNamesNoPortKeepsTheDialogOpen()
    {
        Rig rig;
        QVERIFY(rig.owner.TryOpen({2, {}}));
        auto dialog = rig.dialog();
        Combo1(*dialog)->setEditText("COM9x");
        dialog->Command1_Click();
        QCOMPARE(rig.messages.size(), 1);
        QVERIFY(rig.messages.first().contains("COM9x"));
        QCOMPARE(dialog->result(), int(QDialog::Rejected)); // not accepted: still open
        QCOMPARE(rig.owner.PortNumber(), 2);
        QVERIFY(!rig.control.PortOpen());
        QCOMPARE(rig.backend->openCount(), 1); // the one before the dialog
    }

    void aPortThatWillNotOpenKeepsTheDialogOpen()
    {
        Rig rig;
        rig.backend->setOpenFailure("The serial port COM2 is in use by another program.");
        auto dialog = rig.dialog();
        Combo1(*dialog)->setCurrentIndex(1);
        dialog->Command1_Click();
        QCOMPARE(rig.messages, QStringList{"The serial port COM2 is in use by another program."});
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!rig.control.PortOpen());

        // Another choice that opens closes the dialog.
        rig.backend->setOpenFailure({});
        Combo1(*dialog)->setCurrentIndex(0);
        dialog->Command1_Click();
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QVERIFY(rig.control.PortOpen());
        QCOMPARE(rig.messages.size(), 1);
    }

    void aFailedTryKeepsThePortInUse_data()
    {
        QTest::addColumn<bool>("fromMenu");
        QTest::addColumn<bool>("typed");
        QTest::addColumn<bool>("escape");
        QTest::newRow("from the menu, an entry, close box") << true << false << false;
        QTest::newRow("from the menu, a typed device, Esc") << true << true << true;
        QTest::newRow("at start-up, a typed device, close box") << false << true << false;
    }

    void aFailedTryKeepsThePortInUse()
    {
        QFETCH(bool, fromMenu);
        QFETCH(bool, typed);
        QFETCH(bool, escape);
        Pty pty;
        Rig rig;
        if (fromMenu)
            rig.choose("COM2");
        const QString inUse = fromMenu ? "COM2" : "COM1"; // COM1 at start-up
        auto dialog = rig.dialog();
        dialog->show();
        rig.backend->setOpenFailure("busy");
        Combo1(*dialog)->setEditText(typed ? pty.device : QString("COM4"));
        dialog->Command1_Click();
        QCOMPARE(rig.messages, QStringList{"busy"});

        rig.backend->setOpenFailure({});
        if (escape)
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        else
            dialog->close();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(rig.messages.size(), 1); // the failed port is not tried again
        QVERIFY(rig.control.PortOpen());
        QCOMPARE(rig.backend->portName(), inUse);
        QCOMPARE(rig.owner.PortNumber(), fromMenu ? 2 : 1);
        QVERIFY(rig.owner.InUse().PortDevice.isEmpty());
    }

    void closeBoxReopensThePortInUseEvenWhenThatFails()
    {
        Rig rig;
        rig.choose("COM4");
        auto dialog = rig.dialog();
        Combo1(*dialog)->setCurrentIndex(0); // chosen, but not determined
        dialog->reject();
        QCOMPARE(rig.backend->portName(), QString("COM4"));
        QVERIFY(rig.control.PortOpen());

        rig.backend->setOpenFailure("gone");
        auto failing = rig.dialog();
        failing->show();
        failing->close(); // the close box

        QCOMPARE(rig.messages, QStringList{"gone"});
        QVERIFY(!failing->isVisible());
        QVERIFY(!rig.control.PortOpen());
        QCOMPARE(rig.owner.PortNumber(), 4);
    }

    // The simulators running now come after the found ports, with what they are; the list
    // follows simulators started and ended while the dialog is open (also one killed outright,
    // which leaves its announcement behind); and one opens as its typed device does.
    void runningSimulatorsComeLastAndOpenAsTypedDevices_data()
    {
        QTest::addColumn<int>("ending"); // the signal that ends the second simulator
        QTest::newRow("ended by a stop signal") << int(SIGTERM);
        QTest::newRow("killed outright") << int(SIGKILL);
    }

    void runningSimulatorsComeLastAndOpenAsTypedDevices()
    {
        QFETCH(int, ending);
        Rig rig;
        rig.system.plugIn(FakePort("ttyUSB0"));
        Simulator first({});
        const QStringList listed =
            FourEntries + QStringList{rig.system.device("ttyUSB0"), first.device};
        auto dialog = rig.dialog();
        dialog->show();
        QComboBox* combo = Combo1(*dialog);
        QCOMPARE(Entries(*combo), listed);
        QCOMPARE(combo->itemData(PortEntries + 1, frmPORT::ListTextRole).toString(),
                 first.device + QString::fromUtf8(" \u2014 simulated instrument (qm6200-sim)"));

        {
            Simulator second({});
            QTRY_VERIFY_WITH_TIMEOUT(Entries(*combo).contains(second.device), 2000);
            QCOMPARE(combo->count(), PortEntries + 3);
            second.end(ending);
        }
        QTRY_COMPARE_WITH_TIMEOUT(Entries(*combo), listed, 2000);

        combo->setCurrentIndex(PortEntries + 1);
        QCOMPARE(combo->currentText(), first.device);
        dialog->Command1_Click();
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        QCOMPARE(rig.owner.InUse(), (PortSelection{1, first.device}));
        QCOMPARE(rig.backend->portName(), first.device);
        QVERIFY(rig.control.PortOpen());
        QVERIFY(rig.messages.isEmpty());
    }

    // Determine has the focus when the dialog opens, and comes first. The port box, come to by
    // Tab or a click, has its text taken whole, so that typing replaces "COM1"; a second click
    // puts the cursor where it falls.
    void determineHasTheFocusAndTheBoxIsTakenWhole_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("whole");
        QTest::newRow("Tab") << "Tab" << true;
        QTest::newRow("Shift+Tab") << "Backtab" << true;
        QTest::newRow("a click") << "click" << true;
        QTest::newRow("a second click") << "two clicks" << false;
    }

    void determineHasTheFocusAndTheBoxIsTakenWhole()
    {
        QFETCH(QString, way);
        QFETCH(bool, whole);
        Rig rig;
        auto dialog = rig.dialog();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QCOMPARE(QApplication::focusWidget(), Command1(*dialog));
        QCOMPARE(dialog->windowTitle(), QString("COM PORT"));
        QCOMPARE(dialog->size(), QSize(332, 166));
        QComboBox* combo = Combo1(*dialog);
        QLineEdit* edit = combo->lineEdit();
        QVERIFY(!edit->hasSelectedText());

        const QPoint middle = edit->rect().center();
        if (way == "Tab" || way == "Backtab")
            QTest::keyClick(Command1(*dialog), way == "Tab" ? Qt::Key_Tab : Qt::Key_Backtab);
        else
            QTest::mouseClick(edit, Qt::LeftButton, {}, middle);
        if (way == "two clicks")
            QTest::mouseClick(edit, Qt::LeftButton, {}, middle);
        QVERIFY(combo->hasFocus());
        QCOMPARE(edit->selectedText(), whole ? QString("COM1") : QString());
        const int cursor = edit->cursorPosition();
        QTest::keyClicks(combo, "/dev/pts/1");
        if (whole) {
            QCOMPARE(edit->text(), QString("/dev/pts/1"));
        } else {
            QVERIFY2(cursor > 0 && cursor < 4, qPrintable(QString::number(cursor)));
            QCOMPARE(edit->text(), QString("COM1").insert(cursor, "/dev/pts/1"));
        }
        dialog->reject();
    }

    // The list opened and closed again leaves the box with the focus: its text is taken whole
    // all the same, and the first click into it keeps it so; what is typed then replaces it.
    void typingAfterTheListClosedReplacesTheText_data()
    {
        QTest::addColumn<bool>("byKeyboard"); // opened with Tab and F4, or by a click on the arrow
        QTest::addColumn<bool>("choosing");   // closed by a click on an entry, or with Esc
        QTest::newRow("a click on the arrow, Esc") << false << false;
        QTest::newRow("Tab and F4, Esc") << true << false;
        QTest::newRow("Tab and F4, an entry clicked") << true << true;
    }

    void typingAfterTheListClosedReplacesTheText()
    {
        QFETCH(bool, byKeyboard);
        QFETCH(bool, choosing);
        Rig rig;
        auto dialog = rig.dialog();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QComboBox* combo = Combo1(*dialog);
        QLineEdit* edit = combo->lineEdit();
        combo->setEditText("/home/lab/qm-sim");

        if (byKeyboard) {
            QTest::keyClick(Command1(*dialog), Qt::Key_Tab);
            QTest::keyClick(combo, Qt::Key_F4);
        } else {
            const QPoint arrow((edit->geometry().right() + combo->width()) / 2,
                               combo->height() / 2);
            QTest::mouseClick(combo, Qt::LeftButton, {}, arrow);
        }
        QAbstractItemView* list = combo->view();
        QTRY_VERIFY(list->isVisible());
        if (choosing) {
            const QRect second = list->visualRect(combo->model()->index(1, 0));
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second.center());
        } else {
            QTest::keyClick(list, Qt::Key_Escape);
        }
        QTRY_VERIFY(!list->isVisible());
        const QString before = choosing ? QString("COM2") : QString("/home/lab/qm-sim");
        QCOMPARE(edit->text(), before);
        QCOMPARE(edit->selectedText(), before);

        QTest::mouseClick(edit, Qt::LeftButton, {}, edit->rect().center());
        QCOMPARE(edit->selectedText(), before);
        QTest::keyClicks(edit, "/dev/ttyUSB0");
        QCOMPARE(edit->text(), QString("/dev/ttyUSB0"));
        QTest::mouseClick(Command1(*dialog), Qt::LeftButton);
        // What Determine tells is of the device typed, whatever this computer has.
        const PortChoice typed = InterpretPortText("/dev/ttyUSB0");
        QCOMPARE(rig.messages,
                 typed.problem.isEmpty() ? QStringList() : QStringList(typed.problem));
        dialog->reject();
    }
};

QM6200_TEST_MAIN(TestFrmPort)
#include "tst_frmport.moc"
