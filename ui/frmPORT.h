#pragma once

#include "link/LinkState.h"
#include "link/QmtTxRx.h"

#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include <functional>

namespace qm {

// The port selection dialog. While it is open the port is closed; closing it, by
// "Determine" or by the close box, opens the chosen port with RTS raised.
// Besides the four entries, the box takes the name of any other serial device (a USB
// adapter's /dev/ttyUSB0, say), which is then used as the port for this run.
class frmPORT : public QDialog {
    Q_OBJECT

public:
    using MessageFunction = std::function<void(const QString& text)>;

    // Loads the dialog: a new one for each showing.
    frmPORT(LinkState& link, QmtTxRx& comm, MessageFunction showMessage, QWidget* parent = nullptr);

    void Form_Load();
    void Command1_Click();
    // Opens the port in use (the one chosen last, or the one in use before the dialog);
    // false (the operator told why) when it would not open.
    bool Form_Unload();
    // The close box (and Esc): the port in use before is opened again, and the dialog
    // closes even when that fails.
    void reject() override;

    QLabel* Label1;
    QComboBox* Combo1;
    QPushButton* Command1;
    QGroupBox* Frame1;
    QLabel* Label7;
    QLabel* Label8;
    QLabel* Label9;
    QLabel* Label10;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Opens COM<number>, or the device when one is named, with RTS raised; false (the
    // operator told why) when it would not open.
    bool OpenPort(std::int16_t number, const std::string& device);

    LinkState& m_link;
    QmtTxRx& m_comm;
    MessageFunction m_showMessage;
};

} // namespace qm
