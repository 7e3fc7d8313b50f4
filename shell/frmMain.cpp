#include "frmMain.h"

#include "AppIdentity.h"
#include "CommandFrame.h"
#include "RecordTable.h"
#include "Twips.h"
#include "frmPORT.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLoggingCategory>
#include <QMenuBar>
#include <QMessageBox>

namespace qm {

Q_LOGGING_CATEGORY(lcShell, "qm6200.shell")

namespace {

// Texts travel as one byte per character, codes 0 to 255.
QString FromBytes(std::string_view bytes)
{
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

std::string ToBytes(const QString& text)
{
    const QByteArray latin1 = text.toLatin1();
    return std::string(latin1.constData(), static_cast<std::size_t>(latin1.size()));
}

template<typename Widget>
Widget* Place(Widget* widget, const QRect& geometry)
{
    widget->setGeometry(geometry);
    return widget;
}

} // namespace

frmMain::frmMain(LinkState& link, std::unique_ptr<CommBackend> backend, QWidget* parent)
    : QMainWindow(parent)
    , m_link(link)
{
    setWindowTitle(QString::fromLatin1(AppTitle));
    auto* client = new QWidget(this);
    client->setFixedSize(Px(12870), Px(6285));
    setCentralWidget(client);

    Title1 = Place(new QLabel(QStringLiteral("QM-6200  DATA LINK SOFTWARE"), client),
                   TwipsRect(240, 240, 5775, 495));
    Command1 = Place(new QPushButton(QStringLiteral("Acquire Record Data"), client),
                     TwipsRect(360, 1320, 2655, 495));
    Command4 = Place(new QPushButton(QStringLiteral("Acquire Present Value"), client),
                     TwipsRect(360, 2280, 2655, 495));
    Label1 = Place(new QLabel(QStringLiteral("Transmit Format"), client),
                   TwipsRect(240, 3600, 1815, 255));
    cmdFormat = Place(new TextBox(client), TwipsRect(240, 3840, 5535, 375));
    Label2 = Place(new QLabel(QStringLiteral("Receive Format"), client),
                   TwipsRect(240, 4560, 1935, 255));
    txtRx = Place(new TextBox(client), TwipsRect(240, 4800, 5535, 375));
    txtRx->SetCapacity(EchoCapacity);
    Label5 = Place(new QLabel(client), TwipsRect(360, 5280, 1815, 255));
    Frame3 = Place(new QGroupBox(QStringLiteral("CSV"), client), TwipsRect(6240, 360, 6495, 5775));
    QmtData = Place(new qm::QmtData(Frame3), TwipsRect(240, 360, 6015, 4335));
    Command3 =
        Place(new QPushButton(QStringLiteral("CLR"), Frame3), TwipsRect(5400, 4740, 855, 375));
    lblNotInTable = Place(new QLabel(Frame3), TwipsRect(240, 4740, 5040, 375));
    lblNotInTable->setStyleSheet(QStringLiteral("color: #b00000;"));
    lblNotInTable->hide();

    QmtTxRx = new qm::QmtTxRx(std::move(backend), this);

    menuPort = menuBar()->addAction(QStringLiteral("CommPort Select(&P)"));

    ShowMessage = [this](const QString& text) {
        // Over whatever modal window is open (the port dialog, say), else over this one.
        QWidget* over = QApplication::activeModalWidget();
        QMessageBox::warning(over ? over : this, QString::fromLatin1(AppTitle), text);
    };

    m_noticeUpdate.setSingleShot(true);
    m_noticeUpdate.setInterval(33);
    connect(&m_noticeUpdate, &QTimer::timeout, this, &frmMain::ShowRecordsNotInTable);

    connect(Command1, &QPushButton::clicked, this, &frmMain::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &frmMain::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &frmMain::Command4_Click);
    connect(QmtTxRx, &qm::QmtTxRx::OnComm, this, &frmMain::QmtTxRx_OnComm);
    connect(QmtTxRx, &qm::QmtTxRx::PortLost, this, &frmMain::QmtTxRx_PortLost);
    connect(menuPort, &QAction::triggered, this, &frmMain::menuPort_Click);
}

frmMain::~frmMain() = default;

void frmMain::Form_Load()
{
    cmdFormat->SetText(QString());
    txtRx->SetText(QString());
    Label5->setText(QString());
    InitGrid();
    // The two boxes only show frames; Tab passes them by, a click still reaches them.
    cmdFormat->editor()->setFocusPolicy(Qt::ClickFocus);
    txtRx->editor()->setFocusPolicy(Qt::ClickFocus);

    m_link.PortNumber = 1;
    QmtTxRx->setCommPort(m_link.PortNumber);
    QmtTxRx->setSettings(QString::fromLatin1(InstrumentSettings));
    QmtTxRx->setRTSEnable(true);
}

void frmMain::Form_Unload()
{
    QmtTxRx->setRTSEnable(false);
    QmtTxRx->setPortOpen(false);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    QMainWindow::closeEvent(event);
}

void frmMain::menuPort_Click()
{
    frmPORT dialog(m_link, *QmtTxRx, ShowMessage, this);
    dialog.exec();
}

void frmMain::QmtTxRx_PortLost(const QString& reason)
{
    ShowMessage(tr("The connection to the instrument on %1 was lost: %2.\n"
                   "Everything received so far is kept. When the instrument is back, choose "
                   "its port again with \"CommPort Select\" in the menu.")
                    .arg(QmtTxRx->PortName(), reason));
}

void frmMain::Command1_Click()
{
    Acquire(ArgumentAll);
}

void frmMain::Command4_Click()
{
    Acquire(ArgumentNow);
}

void frmMain::Acquire(std::string_view argument)
{
    if (!QmtTxRx->PortOpen()) {
        ShowMessage(tr("The serial port is not open, so nothing was sent.\n"
                       "Choose the port the instrument is connected to with \"CommPort "
                       "Select\" in the menu, then try again."));
        return;
    }
    m_link.TxCommand = ComposeCommand(VerbRead, argument);
    cmdFormat->SetText(FromBytes(m_link.TxCommand));
    Command3_Click();
    if (!QmtTxRx->Output(cmdFormat->Text())) {
        // Nothing went out, so nothing new will come back: keep the store and the echo.
        ShowMessage(tr("The command could not be sent: %1").arg(QmtTxRx->ErrorText()));
        return;
    }
    txtRx->SetText(QString());
    m_link.ResetReception();
    m_noticeUpdate.stop();
    ShowRecordsNotInTable();
}

void frmMain::Command3_Click()
{
    BlankDataRows(*QmtData);
    Label5->setText(QString());
}

void frmMain::QmtTxRx_OnComm()
{
    if (QmtTxRx->CommEvent() != qm::QmtTxRx::comEvReceive)
        return;
    const QString chunk = QmtTxRx->Input();
    txtRx->Append(chunk);

    switch (m_link.Receive(ToBytes(chunk))) {
    case ChunkOutcome::Nothing:
        break;
    case ChunkOutcome::ErrorReply:
        Label5->setText(QStringLiteral("ERROR..."));
        break;
    case ChunkOutcome::CommandAccepted:
        Label5->setText(QStringLiteral("COMMAND OK!"));
        break;
    case ChunkOutcome::RecordStored:
        Label5->setText(QStringLiteral("COMMAND OK !"));
        ShowRecord();
        break;
    case ChunkOutcome::RecordDropped:
        Label5->setText(QStringLiteral("COMMAND OK !"));
        ScheduleNoticeUpdate();
        break;
    case ChunkOutcome::FrameAbandoned:
        qCInfo(lcShell) << "a reply frame grew past" << LinkState::MaxFrameLength
                        << "characters without its CR and was abandoned";
        break;
    }
}

void frmMain::InitGrid()
{
    qm::InitGrid(*QmtData);
}

void frmMain::ShowRecord()
{
    if (!qm::ShowRecord(*QmtData, m_link))
        ScheduleNoticeUpdate();
}

void frmMain::ScheduleNoticeUpdate()
{
    if (!m_noticeUpdate.isActive())
        m_noticeUpdate.start();
}

void frmMain::ShowRecordsNotInTable()
{
    const std::int64_t count = RecordsNotInTable(*QmtData, m_link);
    if (count == 0) {
        lblNotInTable->hide();
        return;
    }
    lblNotInTable->setText(count == 1
                               ? tr("Table full: 1 more record received, not shown.")
                               : tr("Table full: %1 more records received, not shown.").arg(count));
    lblNotInTable->show();
}

} // namespace qm
