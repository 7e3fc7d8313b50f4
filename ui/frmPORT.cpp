#include "ui/frmPORT.h"

#include "link/Log.h"
#include "link/PortNames.h"
#include "ui/Twips.h"

namespace qm {

frmPORT::frmPORT(LinkState& link, QmtTxRx& comm, MessageFunction showMessage, QWidget* parent)
    : QDialog(parent, FixedDialogFlags)
    , m_link(link)
    , m_comm(comm)
    , m_showMessage(std::move(showMessage))
{
    DesignWindow(*this, QStringLiteral("COM PORT"), 4980, 2490, QColor(192, 192, 192),
                 DesignFont("Lucida Sans Unicode", 9));

    Label1 =
        Place(new QLabel(QStringLiteral("Please choose the communication port to be used"), this),
              480, 360, 2655, 855);
    Label1->setFont(DesignFont("Tahoma", 9.75, true));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Combo1 = Place(new QComboBox(this), 3240, 360, 1215, 300);
    Combo1->setEditable(true);
    // Typed text selects or names a port; it never becomes an entry of the list.
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setEditText(QStringLiteral("Port Select..."));

    Command1 = Place(new QPushButton(QStringLiteral("Determine"), this), 3240, 840, 1215, 375);
    Command1->setFont(DesignFont("Tahoma", 9));

    Frame1 = Place(new QGroupBox(QStringLiteral("Communication Conditions"), this), 360, 1440, 4335,
                   855);
    Frame1->setFont(DesignFont("Tahoma", 9));
    Label7 = Place(new QLabel(QStringLiteral("Baud Rate: 9600"), Frame1), 240, 240, 1695, 255);
    Label8 = Place(new QLabel(QStringLiteral("Parity: None"), Frame1), 2400, 240, 1695, 255);
    Label9 = Place(new QLabel(QStringLiteral("Data Length: 8-bit"), Frame1), 240, 480, 1695, 255);
    Label10 = Place(new QLabel(QStringLiteral("Stop bit: 1 bit"), Frame1), 2400, 480, 2295, 255);

    setTabOrder(Command1, Combo1);
    connect(Command1, &QPushButton::clicked, this, &frmPORT::Command1_Click);

    Form_Load();
}

void frmPORT::Form_Load()
{
    if (m_comm.PortOpen())
        m_comm.setPortOpen(false);
    for (int entry = 0; entry < PortEntries; ++entry)
        Combo1->addItem(PortEntryName(entry));
    if (m_link.PortDevice.empty()) {
        Combo1->setCurrentIndex(m_link.PortNumber - 1);
    } else {
        Combo1->setCurrentIndex(-1);
        Combo1->setEditText(QString::fromStdString(m_link.PortDevice));
    }
    m_comm.setRTSEnable(false);
}

void frmPORT::Command1_Click()
{
    const PortChoice choice = InterpretPortText(Combo1->currentText());
    // The choice becomes the port in use only once its port has opened: after a failed
    // try, the close box still goes back to the port in use before the dialog.
    std::int16_t number = m_link.PortNumber;
    std::string device;
    switch (choice.kind) {
    case PortChoice::Invalid:
        m_showMessage(choice.problem);
        return;
    case PortChoice::Entry:
        number = static_cast<std::int16_t>(choice.entry);
        number = static_cast<std::int16_t>(number + 1);
        break;
    case PortChoice::Device:
        // PortNumber keeps the last entry chosen.
        device = choice.device.toStdString();
        break;
    }
    // A port that will not open keeps the dialog open for another choice.
    if (!OpenPort(number, device))
        return;
    m_link.PortNumber = number;
    m_link.PortDevice = device;
    accept();
}

bool frmPORT::Form_Unload()
{
    return OpenPort(m_link.PortNumber, m_link.PortDevice);
}

bool frmPORT::OpenPort(std::int16_t number, const std::string& device)
{
    m_comm.setCommPort(number);
    m_comm.setDeviceName(QString::fromStdString(device));
    m_comm.setSettings(QString::fromLatin1(InstrumentSettings));
    const bool opened = m_comm.setPortOpen(true);
    m_comm.setRTSEnable(true);
    if (!opened)
        m_showMessage(m_comm.ErrorText());
    return opened;
}

void frmPORT::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Command1->setFocus();
    qCInfo(lcLink) << "port dialog shown";
}

void frmPORT::reject()
{
    Form_Unload();
    QDialog::reject();
}

} // namespace qm
