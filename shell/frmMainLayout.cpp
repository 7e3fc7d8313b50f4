// The main window's controls, where the design has them, and what each is tied to.

#include "shell/AppIdentity.h"
#include "shell/frmMain.h"
#include "ui/DesignWindow.h"
#include "ui/Twips.h"

#include <QGroupBox>
#include <QMenuBar>

namespace qm {

namespace {

const QColor WindowColour(176, 253, 253);

QPushButton* Button(const QString& caption, QWidget* parent)
{
    auto* button = new QPushButton(caption, parent);
    button->setFont(DesignFont("Tahoma", 9));
    // Enter presses the button that has the focus, as Space does (in a dialog, Qt does so).
    button->setAutoDefault(true);
    return button;
}

QLabel* Caption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(DesignFont("Tahoma", 9));
    return label;
}

} // namespace

void frmMain::PlaceControls()
{
    QPalette colours = palette();
    colours.setColor(QPalette::Window, WindowColour);
    auto* client = new QWidget(this);
    client->setFixedSize(Px(12870), Px(6285));
    client->setPalette(colours);
    client->setAutoFillBackground(true);
    setCentralWidget(client);

    titleLabel = Place(new QLabel(QStringLiteral("QM-6200  DATA LINK SOFTWARE"), client), 240, 240,
                       5775, 495);
    titleLabel->setFont(DesignFont("Tahoma", 15.75, true));
    acquireRecordsButton =
        Place(Button(QStringLiteral("Acquire Record Data"), client), 360, 1320, 2655, 495);
    acquirePresentButton =
        Place(Button(QStringLiteral("Acquire Present Value"), client), 360, 2280, 2655, 495);
    clearAllButton = Place(Button(QStringLiteral("Clear All Data"), client), 3360, 2280, 2415, 495);
    transmitCaption =
        Place(Caption(QStringLiteral("Transmit Format"), client), 240, 3600, 1815, 255);
    transmitBox = Place(new TextBox(client), 240, 3840, 5535, 375);
    receiveCaption = Place(Caption(QStringLiteral("Receive Format"), client), 240, 4560, 1935, 255);
    receiveBox = Place(new TextBox(client), 240, 4800, 5535, 375);
    receiveBox->SetCapacity(EchoCapacity);
    // For whoever services the instrument: the whole reply, not just the tail in view.
    // The two boxes are out of the Tab order: the whole reply is copied from anywhere in the
    // window with Ctrl+Shift+C, which the box's context menu shows.
    QAction* copyAll = receiveBox->OfferCopyAll(tr("Copy all received"));
    copyAll->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    copyAll->setShortcutContext(Qt::WindowShortcut);
    addAction(copyAll);
    statusText = Place(Caption(QString(), client), 360, 5280, 1815, 255);
    csvFrame = Place(new QGroupBox(QStringLiteral("CSV"), client), 6240, 360, 6495, 5775);
    csvFrame->setFont(DesignFont("Tahoma", 9));
    // A frame line through the middle of the caption, as a frame of the design is drawn.
    csvFrame->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid #8ab4b4; margin-top: 7px; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 7px; padding: 0 2px; top: 0px; }"));
    recordTable = Place(new qm::QmtData(csvFrame), 240, 360, 6015, 4335);
    recordTable->setFont(DesignFont("Arial", 9));
    clearTableButton = Place(Button(QStringLiteral("CLR"), csvFrame), 5400, 4740, 855, 375);
    saveButton =
        Place(Button(QStringLiteral("Save Data (.csv file)"), csvFrame), 4080, 5160, 2175, 375);
    noticeText = Place(Caption(QString(), csvFrame), 240, 4740, 5040, 375);
    // A file's or a device's name is shown as it is, never read as markup.
    noticeText->setTextFormat(Qt::PlainText);
    noticeText->hide();
    // The two texts that change while an answer arrives paint their own background, so
    // that a change repaints them alone, not the frame and the window behind them.
    for (QLabel* changing : {statusText, noticeText}) {
        changing->setPalette(colours);
        changing->setAutoFillBackground(true);
    }

    // For a screen reader: each box and the table by its caption, the status text by its own
    // text (so that its change is read out), with what it is as its description.
    transmitCaption->setBuddy(transmitBox);
    receiveCaption->setBuddy(receiveBox);
    transmitBox->SetAccessibleName(transmitCaption->text());
    receiveBox->SetAccessibleName(receiveCaption->text());
    recordTable->setAccessibleName(tr("Records"));
    statusText->setAccessibleDescription(tr("Status"));
    noticeText->setAccessibleDescription(tr("Notice"));

    // Tab goes through the buttons, then the table.
    setTabOrder(acquireRecordsButton, acquirePresentButton);
    setTabOrder(acquirePresentButton, clearAllButton);
    setTabOrder(clearAllButton, saveButton);
    setTabOrder(saveButton, clearTableButton);
    setTabOrder(clearTableButton, transmitBox->editor());
    setTabOrder(transmitBox->editor(), receiveBox->editor());
    setTabOrder(receiveBox->editor(), recordTable);

    choosePortAction = menuBar()->addAction(QStringLiteral("CommPort Select(&P)"));
    aboutAction = menuBar()->addAction(QStringLiteral("About(&A)"));
    finishAction = menuBar()->addAction(QStringLiteral("Finish(&Z)"));
    historyAction = menuBar()->addAction(tr("History(&H)"));
    chartAction = menuBar()->addAction(tr("Chart(&C)"));
    watchAction = menuBar()->addAction(tr("Watch(&W)"));

    ForEachControl(
        [](QObject* control, const char* name) { control->setObjectName(QLatin1String(name)); });
}

void frmMain::ConnectControls()
{
    connect(acquireRecordsButton, &QPushButton::clicked, this, &frmMain::AcquireRecords);
    connect(acquirePresentButton, &QPushButton::clicked, this, &frmMain::AcquirePresentValue);
    connect(clearAllButton, &QPushButton::clicked, this, &frmMain::ClearAll);
    connect(clearTableButton, &QPushButton::clicked, this, &frmMain::ClearTable);
    connect(saveButton, &QPushButton::clicked, this, &frmMain::SaveTable);
    connect(choosePortAction, &QAction::triggered, this, &frmMain::ChoosePort);
    connect(aboutAction, &QAction::triggered, this, &frmMain::ShowAbout);
    connect(finishAction, &QAction::triggered, this, &frmMain::Finish);
    connect(historyAction, &QAction::triggered, this, &frmMain::ShowHistory);
    connect(chartAction, &QAction::triggered, this, &frmMain::ShowChart);
    connect(watchAction, &QAction::triggered, this, &frmMain::ShowWatch);
    connect(recordTable->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &frmMain::MarkSelectedRows);

    // Every character on the line, in the receive box, whatever command it follows.
    // What answers the window's own commands; a watch's readings on the same line are the
    // watch window's to show.
    connect(m_line, &Line::Received, this, [this](const QByteArray& bytes) {
        const Exchange* current = m_line->Current();
        if (!current || current == m_exchange)
            receiveBox->Append(QString::fromLatin1(bytes));
    });
    connect(&m_line->Control(), &QmtTxRx::OpenChanged, this, &frmMain::PortOpenChanged);
    connect(m_line, &Line::Lost, this, &frmMain::PortLost);
    connect(m_line, &Line::Reconnected, this, &frmMain::PortReturned);
    connect(m_line, &Line::ReturnWouldNotOpen, this, [this](const QString& reason) {
        m_notices.Set(NoticeBoard::Topic::PortWillNotOpen,
                      tr("The port came back but would not open: %1").arg(reason));
        ShowNotices();
    });
    // The acquisition goes on without the journal; the operator is told once.
    connect(m_journal, &JournalWriter::Failed, this,
            [this](const QString& text) { ShowMessage(text); });
}

} // namespace qm
