#pragma once

#include "ports/PortList.h"
#include "ports/PortWatch.h"
#include "serial/PortOwner.h"

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <functional>

namespace qm {

// The port selection dialog: the operator picks COM1 to COM4, or one of the serial ports this
// computer has (listed after them, with what each is, and following the hardware while the
// dialog is open), or types the name of another serial device, which is then used as the
// port for this run. The dialog opens nothing itself: it hands each choice to the port's
// owner through `tryPort`, stays open with what was typed while the port will not open, and
// closes once one did. Its close box (and Esc) asks for the port in use before again.
class frmPORT : public QDialog {
    Q_OBJECT

public:
    using MessageFunction = std::function<void(const QString& text)>;
    // Opens the selection and makes it the port in use, or says why it would not open.
    using TryFunction = std::function<Result<>(const PortSelection& selection)>;

    // Where a found port's line in the list is kept (what the drop-down shows for it, and its
    // accessible name, Qt::AccessibleTextRole); the item's text is the device alone, which is
    // what the box shows.
    static constexpr int ListTextRole = Qt::UserRole + 1;

    // Loads the dialog: a new one for each showing, with the port in use preselected. The
    // ports are looked for in `system` (tests give a made-up tree).
    frmPORT(const PortSelection& inUse, TryFunction tryPort, MessageFunction showMessage,
            QWidget* parent = nullptr, const SystemRoots& system = {});

    void Form_Load();
    void Command1_Click();
    // The close box (and Esc): the port in use before is opened again, and the dialog
    // closes even when that fails.
    void reject() override;
    // The close box only closes: no port was in use for this choice (a port added to a
    // watch), so none is opened again.
    void CloseOnlyOnReject() { m_reopenOnReject = false; }

    // What the dialog ended with: the choice that opened ("Determine", accepted), or the
    // port in use before (the close box, rejected).
    const PortSelection& Choice() const { return m_choice; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Tries the selection; tells the operator why when it fails.
    bool Open(const PortSelection& selection);
    // Puts the found ports after the four entries, and the running simulators after them,
    // keeping what the box holds.
    void ListFoundPorts();
    // The box's whole text, as its tooltip and its description.
    void DescribePort(const QString& text);

    QLabel* Label1;
    QComboBox* Combo1;
    QPushButton* Command1;
    QGroupBox* Frame1;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;

    SystemRoots m_system;
    PortWatch* m_watch;

    PortSelection m_inUse;
    PortSelection m_choice;
    TryFunction m_tryPort;
    MessageFunction m_showMessage;
    bool m_reopenOnReject = true;
};

} // namespace qm
