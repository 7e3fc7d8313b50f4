#include "shell/frmMain.h"

#include "files/SafeWrite.h"
#include "link/CommandFrame.h"
#include "link/Log.h"
#include "link/PortList.h"
#include "link/PortMemory.h"
#include "link/PortNames.h"
#include "link/SimulatorPorts.h"
#include "records/CsvExport.h"
#include "shell/AppIdentity.h"
#include "shell/SaveMessages.h"
#include "shell/frmChart.h"
#include "shell/frmHistory.h"
#include "shell/frmSplash.h"
#include "ui/CLR_ALL.h"
#include "ui/ControlNames.h"
#include "ui/DesignWindow.h"
#include "ui/RecordTable.h"
#include "ui/Twips.h"
#include "ui/frmPORT.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>
#include <array>

namespace qm {

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

const QColor WindowColour(176, 253, 253);

// Runs one step of the window's load. A step that fails is given up and the load goes on
// with the next: the window always appears.
template<typename Step>
void LoadStep(const char* name, Step step)
{
    try {
        step();
    } catch (const std::exception& error) {
        qCWarning(lcShell) << "load step" << name << "skipped:" << error.what();
    } catch (...) {
        qCWarning(lcShell) << "load step" << name << "skipped";
    }
}

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

frmMain::frmMain(LinkState& link, std::unique_ptr<CommBackend> backend, Dialogs dialogs,
                 QWidget* parent, const SystemRoots& system)
    : QMainWindow(parent, MainWindowFlags)
    , QmtTxRx(new qm::QmtTxRx(std::move(backend), this))
    , m_link(link)
    , m_dialogs(std::move(dialogs))
    , CommonDialog1(m_dialogs.save ? std::move(m_dialogs.save)
                                   : std::make_unique<CommonDialog>(this))
    , m_port(*QmtTxRx)
    , m_system(system)
{
    setWindowTitle(QString::fromLatin1(AppTitle));
    setFont(DesignFont("Arial", 9));
    m_memoryWriter.setMaxThreadCount(1);
    if (!m_dialogs.saveImage) {
        m_dialogs.saveImage = std::make_unique<CommonDialog>(this, frmChart::ImageFilter);
        m_dialogs.saveImage->setEndingFromType(true);
    }
    QPalette colours = palette();
    colours.setColor(QPalette::Window, WindowColour);
    auto* client = new QWidget(this);
    client->setFixedSize(Px(12870), Px(6285));
    client->setPalette(colours);
    client->setAutoFillBackground(true);
    setCentralWidget(client);

    Title1 = Place(new QLabel(QStringLiteral("QM-6200  DATA LINK SOFTWARE"), client), 240, 240,
                   5775, 495);
    Title1->setFont(DesignFont("Tahoma", 15.75, true));
    Command1 = Place(Button(QStringLiteral("Acquire Record Data"), client), 360, 1320, 2655, 495);
    Command4 = Place(Button(QStringLiteral("Acquire Present Value"), client), 360, 2280, 2655, 495);
    Command2 = Place(Button(QStringLiteral("Clear All Data"), client), 3360, 2280, 2415, 495);
    Label1 = Place(Caption(QStringLiteral("Transmit Format"), client), 240, 3600, 1815, 255);
    cmdFormat = Place(new TextBox(client), 240, 3840, 5535, 375);
    Label2 = Place(Caption(QStringLiteral("Receive Format"), client), 240, 4560, 1935, 255);
    txtRx = Place(new TextBox(client), 240, 4800, 5535, 375);
    txtRx->SetCapacity(EchoCapacity);
    // For whoever services the instrument: the whole reply, not just the tail in view.
    // The two boxes are out of the Tab order: the whole reply is copied from anywhere in the
    // window with Ctrl+Shift+C, which the box's context menu shows.
    QAction* copyAll = txtRx->OfferCopyAll(tr("Copy all received"));
    copyAll->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    copyAll->setShortcutContext(Qt::WindowShortcut);
    addAction(copyAll);
    Label5 = Place(Caption(QString(), client), 360, 5280, 1815, 255);
    Frame3 = Place(new QGroupBox(QStringLiteral("CSV"), client), 6240, 360, 6495, 5775);
    Frame3->setFont(DesignFont("Tahoma", 9));
    // A frame line through the middle of the caption, as a frame of the design is drawn.
    Frame3->setStyleSheet(QStringLiteral(
        "QGroupBox { border: 1px solid #8ab4b4; margin-top: 7px; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 7px; padding: 0 2px; top: 0px; }"));
    QmtData = Place(new qm::QmtData(Frame3), 240, 360, 6015, 4335);
    QmtData->setFont(DesignFont("Arial", 9));
    Command3 = Place(Button(QStringLiteral("CLR"), Frame3), 5400, 4740, 855, 375);
    CsvOut = Place(Button(QStringLiteral("Save Data (.csv file)"), Frame3), 4080, 5160, 2175, 375);
    lblNotInTable = Place(Caption(QString(), Frame3), 240, 4740, 5040, 375);
    lblNotInTable->hide();
    // The two texts that change while an answer arrives paint their own background, so
    // that a change repaints them alone, not the frame and the window behind them.
    for (QLabel* changing : {Label5, lblNotInTable}) {
        QPalette own = colours;
        if (changing == lblNotInTable)
            own.setColor(QPalette::WindowText, QColor(0xb0, 0, 0));
        changing->setPalette(own);
        changing->setAutoFillBackground(true);
    }

    // For a screen reader: each box and the table by its caption, the status text by its own
    // text (so that its change is read out), with what it is as its description.
    Label1->setBuddy(cmdFormat);
    Label2->setBuddy(txtRx);
    cmdFormat->SetAccessibleName(Label1->text());
    txtRx->SetAccessibleName(Label2->text());
    QmtData->setAccessibleName(tr("Records"));
    Label5->setAccessibleDescription(tr("Status"));
    lblNotInTable->setAccessibleDescription(tr("Notice"));

    // Tab goes through the buttons, then the table.
    setTabOrder(Command1, Command4);
    setTabOrder(Command4, Command2);
    setTabOrder(Command2, CsvOut);
    setTabOrder(CsvOut, Command3);
    setTabOrder(Command3, cmdFormat->editor());
    setTabOrder(cmdFormat->editor(), txtRx->editor());
    setTabOrder(txtRx->editor(), QmtData);

    menuPort = menuBar()->addAction(QStringLiteral("CommPort Select(&P)"));
    MenuAbout = menuBar()->addAction(QStringLiteral("About(&A)"));
    menuFin = menuBar()->addAction(QStringLiteral("Finish(&Z)"));
    menuHistory = menuBar()->addAction(tr("History(&H)"));
    menuChart = menuBar()->addAction(tr("Chart(&C)"));

    if (!m_dialogs.message) {
        m_dialogs.message = [this](const QString& text) {
            // Over whatever modal window is open (the port dialog, say), else over this one.
            QWidget* over = QApplication::activeModalWidget();
            QMessageBox::warning(over ? over : this, QString::fromLatin1(AppTitle), text);
        };
    }
    if (!m_dialogs.splash) {
        m_dialogs.splash = [] {
            frmSplash splash;
            splash.Run();
        };
    }
    NameControls({{Title1, "Title1"},           {Command1, "Command1"},
                  {Command4, "Command4"},       {Command2, "Command2"},
                  {Label1, "Label1"},           {cmdFormat, "cmdFormat"},
                  {Label2, "Label2"},           {txtRx, "txtRx"},
                  {Label5, "Label5"},           {Frame3, "Frame3"},
                  {QmtData, "QmtData"},         {Command3, "Command3"},
                  {CsvOut, "CsvOut"},           {lblNotInTable, "lblNotInTable"},
                  {QmtTxRx, "QmtTxRx"},         {menuPort, "menuPort"},
                  {MenuAbout, "MenuAbout"},     {menuFin, "menuFin"},
                  {menuHistory, "menuHistory"}, {menuChart, "menuChart"}});

    m_answer = new AnswerWatch(this);
    m_answer->setObjectName(QStringLiteral("answerWatch"));
    m_answer->setStillSending([this] { return QmtTxRx->OutBufferCount() > 0; });
    m_journal = new JournalWriter(DefaultJournalPath(), this);
    // The acquisition goes on without it; the operator is told once.
    connect(m_journal, &JournalWriter::Failed, this,
            [this](const QString& text) { ShowMessage(text); });
    connect(m_answer, &AnswerWatch::Over, this, [this](AnswerEnd end) {
        m_journal->AnswerOver(m_acquisition, JournalOutcomeOf(end, m_tally, m_clearing));
        if (end == AnswerEnd::NotSent)
            CommandNotSent();
        SetCommandsEnabled(true);
    });

    connect(Command1, &QPushButton::clicked, this, &frmMain::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &frmMain::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &frmMain::Command4_Click);
    connect(Command2, &QPushButton::clicked, this, &frmMain::Command2_Click);
    connect(CsvOut, &QPushButton::clicked, this, &frmMain::CsvOut_Click);
    connect(QmtTxRx, &qm::QmtTxRx::OnComm, this, &frmMain::QmtTxRx_OnComm);
    connect(QmtTxRx, &qm::QmtTxRx::PortLost, this, &frmMain::QmtTxRx_PortLost);
    connect(QmtTxRx, &qm::QmtTxRx::Sent, m_answer, &AnswerWatch::CommandLeft);
    connect(menuPort, &QAction::triggered, this, &frmMain::menuPort_Click);
    connect(MenuAbout, &QAction::triggered, this, &frmMain::MenuAbout_Click);
    connect(menuFin, &QAction::triggered, this, &frmMain::menuFin_Click);
    connect(menuHistory, &QAction::triggered, this, &frmMain::menuHistory_Click);
    connect(menuChart, &QAction::triggered, this, &frmMain::menuChart_Click);
    connect(QmtData->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &frmMain::MarkSelectedRows);
}

frmMain::~frmMain() = default;

void frmMain::Form_Load()
{
    LoadStep("clear the transmit box", [this] { cmdFormat->SetText(QString()); });
    LoadStep("clear the receive box", [this] { txtRx->SetText(QString()); });
    LoadStep("clear the status", [this] { Label5->setText(QString()); });
    LoadStep("set up the table", [this] { InitGrid(); });
    // The two boxes only show frames; Tab passes them by, a click still reaches them.
    LoadStep("take the boxes out of the tab order", [this] {
        cmdFormat->editor()->setFocusPolicy(Qt::ClickFocus);
        txtRx->editor()->setFocusPolicy(Qt::ClickFocus);
    });
    LoadStep("show the splash screen", [this] { m_dialogs.splash(); });
    LoadStep("prepare the port", [this] {
        m_port.Prepare();
        PreferRememberedPort();
    });
    // Centred on the screen once the menu bar has its height.
    adjustSize();
    setFixedSize(size());
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmMain::Form_Unload()
{
    StopWaitingForReturn();
    m_answer->Stop();
    m_port.Unload();
    if (m_history)
        m_history->close();
    if (m_chartWindow)
        m_chartWindow->close();
}

void frmMain::ShowMessage(const QString& text)
{
    m_dialogs.message(text);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    QMainWindow::closeEvent(event);
}

void frmMain::EndRun()
{
    if (m_ending)
        return;
    m_ending = true;
    qCInfo(lcShell) << "asked to end";
    // Innermost first: each dialog's own loop returns once control gets back to it, and
    // none of them acts on its closing (the port dialog would reopen a port).
    QList<QDialog*> open;
    for (QWidget* modal = QApplication::activeModalWidget(); modal;) {
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (!dialog || open.contains(dialog))
            break;
        open << dialog;
        dialog->done(QDialog::Rejected);
        modal = QApplication::activeModalWidget();
    }
    close();
}

void frmMain::menuFin_Click()
{
    close();
}

QString frmMain::AboutText()
{
    return QStringLiteral("%1 Ver%2.%3.%4E")
        .arg(QString::fromLatin1(AppTitle))
        .arg(Version.major)
        .arg(Version.minor)
        .arg(Version.revision);
}

void frmMain::MenuAbout_Click()
{
    QMessageBox about(QMessageBox::NoIcon, QString::fromLatin1(AppTitle), AboutText(),
                      QMessageBox::Ok, this);
    about.exec();
}

void frmMain::menuHistory_Click()
{
    // One window: asked again, it reads the journal again and comes to the front.
    if (!m_history) {
        m_history = new frmHistory(
            DefaultJournalPath(), *CommonDialog1,
            [this](const QString& text) { ShowMessage(text); }, this);
        m_history->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        m_history->Reload();
    }
    m_history->show();
    m_history->raise();
    m_history->activateWindow();
}

void frmMain::menuPort_Click()
{
    if (m_ending)
        return;
    // The operator chooses: a lost port is no longer waited for.
    StopWaitingForReturn();
    // The dialog closes the port at once: no answer is coming any more.
    m_answer->Stop();
    m_port.CloseForChoosing();
    frmPORT dialog(
        m_port.InUse(),
        [this](const PortSelection& choice) {
            const QString failure = m_port.TryOpen(choice);
            if (failure.isEmpty())
                RememberOpenedPort(choice);
            return failure;
        },
        [this](const QString& text) { ShowMessage(text); }, this, m_system);
    dialog.exec();
}

void frmMain::PreferRememberedPort()
{
    QString problem;
    const auto remembered = ReadRememberedPort(DefaultConfigPath(), &problem);
    if (!problem.isEmpty())
        TellMemoryProblem(problem);
    if (!remembered)
        return;
    const auto located = LocateRememberedPort(*remembered, FindSerialPorts(m_system),
                                              RunningSimulators(), m_system.sysfs);
    if (!located)
        return;
    PortSelection selection;
    selection.PortDevice = *located;
    for (int entry = 0; entry < PortEntries; ++entry) {
        if (*located == PortEntryName(entry))
            selection = {std::int16_t(entry + 1), {}};
    }
    m_port.Prefer(selection);
}

void frmMain::RememberOpenedPort(const PortSelection& selection)
{
    const QString choice = selection.PortDevice.isEmpty() ? PortEntryName(selection.PortNumber - 1)
                                                          : selection.PortDevice;
    m_opened = RememberPort(choice, SystemLocation(choice), FindSerialPorts(m_system),
                            RunningSimulators());
    // The disk may be slow or far away (a home on the network): the window does not wait.
    m_memoryWriter.start([this, port = m_opened, path = DefaultConfigPath()] {
        QString problem;
        if (!WriteRememberedPort(port, path, &problem))
            TellMemoryProblem(problem);
    });
}

void frmMain::TellMemoryProblem(const QString& problem)
{
    // Only the preselection at the next start depends on it: not worth a message box.
    if (m_memoryTold.exchange(true))
        return;
    qCWarning(lcShell) << "the remembered port:" << problem;
}

void frmMain::QmtTxRx_PortLost(const QString& reason)
{
    m_answer->Stop(AnswerEnd::Lost);
    if (m_ending || m_opened.choice.isEmpty() || !m_opened.CanReturn()) {
        const QString never =
            m_opened.CanReturn()
                ? QString()
                : tr("A pseudo-terminal does not come back once its other end has closed: the "
                     "system gives its number to the next terminal opened, which may be another "
                     "program's. ");
        ShowMessage(tr("The connection to the instrument on %1 was lost: %2.\n"
                       "Everything received so far is kept. %3When the instrument is back, "
                       "choose its port again with \"CommPort Select\" in the menu.")
                        .arg(QmtTxRx->PortName(), reason, never));
        return;
    }
    // Not from here: the message below waits for the operator, the port's return must not.
    QTimer::singleShot(0, this, &frmMain::WaitForReturn);
    ShowMessage(tr("The connection to the instrument on %1 was lost: %2.\n"
                   "Everything received so far is kept. The port will be opened again as soon "
                   "as it is back; nothing is sent again by itself. To use another port, choose "
                   "it with \"CommPort Select\" in the menu.")
                    .arg(QmtTxRx->PortName(), reason));
}

void frmMain::WaitForReturn()
{
    if (m_ending || QmtTxRx->PortOpen() || m_return)
        return;
    m_return = new ReturnWatch(m_opened, m_system, this);
    m_return->setObjectName(QStringLiteral("returnWatch"));
    connect(m_return, &ReturnWatch::Returned, this, &frmMain::Reconnect);
    connect(m_return, &ReturnWatch::WouldNotOpen, this, [this](const QString& reason) {
        ShowNotice(tr("The port came back but would not open: %1").arg(reason));
    });
}

void frmMain::Reconnect(const QString& device)
{
    PortSelection selection;
    selection.PortDevice = device;
    for (int entry = 0; entry < PortEntries; ++entry) {
        if (device == PortEntryName(entry))
            selection = {std::int16_t(entry + 1), {}};
    }
    const QString failure = m_port.TryOpen(selection);
    if (!failure.isEmpty()) {
        m_return->OpenFailed(failure);
        return;
    }
    StopWaitingForReturn();
    qCInfo(lcShell) << "reconnected to" << device;
    ShowNotice(tr("Reconnected to %1").arg(QDir::toNativeSeparators(device)));
}

void frmMain::StopWaitingForReturn()
{
    if (!m_return)
        return;
    // Maybe inside the watch's own signal: it goes once that has returned, and tells this
    // window nothing more meanwhile (a dialog's loop may run before it goes).
    disconnect(m_return, nullptr, this, nullptr);
    m_return->setParent(nullptr);
    m_return->deleteLater();
    m_return = nullptr;
}

void frmMain::ShowNotice(const QString& text)
{
    // The line under the table, not the status text, whose three texts are the replies'.
    lblNotInTable->setText(text);
    lblNotInTable->show();
}

void frmMain::Command1_Click()
{
    SendCommand(VerbRead, ArgumentAll);
}

void frmMain::Command4_Click()
{
    SendCommand(VerbRead, ArgumentNow);
}

void frmMain::Command2_Click()
{
    CLR_ALL dialog([this] { SendCommand(VerbClear, ArgumentAll); }, this);
    dialog.exec();
}

void frmMain::CsvOut_Click()
{
    if (!CommonDialog1->ShowSave())
        return;
    const QString path = CommonDialog1->FileName();
    if (path.isEmpty())
        return;
    // The table holds the first 100 records; those beyond are not in the file.
    const int rows = std::min<int>(m_link.RxCount, TableDataRows);
    const std::string content = CsvContent(rows, QmtData->Cols(), [this](int row, int column) {
        return ToBytes(QmtData->TextMatrix(row, column));
    });
    const SaveResult saved = WriteWholeFile(path, content);
    if (!saved.failure.isEmpty()) {
        ShowMessage(SaveFailureText(tr("the table"), path, saved));
        return;
    }
    if (const std::int64_t notSaved = RecordsNotInTable(*QmtData, m_link); notSaved > 0) {
        ShowMessage(tr("The table was saved to %1, but it holds only the first %2 records: "
                       "%3 more received records were not in the table and were not saved.")
                        .arg(QDir::toNativeSeparators(path))
                        .arg(TableDataRows)
                        .arg(notSaved));
    }
}

void frmMain::SendCommand(std::string_view verb, std::string_view argument)
{
    if (!QmtTxRx->PortOpen()) {
        ShowMessage(tr("The serial port is not open, so nothing was sent.\n"
                       "Choose the port the instrument is connected to with \"CommPort "
                       "Select\" in the menu, then try again."));
        return;
    }
    // What the steps before the write change, kept so that a command that cannot be sent
    // changes nothing at all.
    const std::string lastCommand = m_TxCommand;
    const QString lastFormat = cmdFormat->Text();
    const QString lastStatus = Label5->text();
    const std::vector<QString> lastRows = DataRowTexts(*QmtData);
    const ChartData lastChart = m_chart;

    m_TxCommand = ComposeCommand(verb, argument);
    cmdFormat->SetText(FromBytes(m_TxCommand));
    Command3_Click();
    if (!QmtTxRx->Output(cmdFormat->Text())) {
        m_TxCommand = lastCommand;
        cmdFormat->SetText(lastFormat);
        Label5->setText(lastStatus);
        RestoreDataRows(*QmtData, lastRows);
        m_chart.Restore(lastChart);
        ChartChanged();
        ShowMessage(tr("The command was not sent: %1\n"
                       "The table and everything received are as they were.")
                        .arg(QmtTxRx->ErrorText()));
        return;
    }
    txtRx->SetText(QString());
    m_link.ResetReception();
    m_noticeUpdate.Now();
    SetCommandsEnabled(false);
    m_answer->CommandWritten();
    m_tally = {};
    m_clearing = verb == VerbClear;
    const QString device = SystemLocation(QmtTxRx->PortName());
    m_journal->Forget(m_acquisition);
    m_acquisition =
        m_journal->CommandSent({QDateTime::currentDateTimeUtc(), device, StableName(device),
                                QStringLiteral("qm6200-datalink"), QStringLiteral(QM6200_VERSION),
                                QByteArray(m_TxCommand.data(), qsizetype(m_TxCommand.size()))});
}

void frmMain::CommandNotSent()
{
    // Dropped, so that it cannot go out later behind the next command and bring its answer
    // into that command's table.
    QmtTxRx->setOutBufferCount(0);
    ShowMessage(
        tr("The command was not sent: the serial port %1 did not let it out within "
           "%2 seconds (its output is held, by the line's flow control or by another "
           "program). Nothing of it will be sent.\n"
           "Check the cable and the instrument, then try again.")
            .arg(QmtTxRx->PortName())
            .arg(std::chrono::duration_cast<std::chrono::seconds>(m_answer->intervals().leave)
                     .count()));
}

void frmMain::SetCommandsEnabled(bool enabled)
{
    const std::array<QPushButton*, 3> commands{Command1, Command4, Command2};
    if (!enabled) {
        // A button that goes off with the focus hands it to the next in the Tab order ("Save
        // Data"), where the operator's next Space would open the save dialog: the table takes
        // it meanwhile, and the pressed button has it back when the commands come back.
        QWidget* focus = focusWidget();
        if (std::find(commands.begin(), commands.end(), focus) != commands.end()) {
            m_focusBack = static_cast<QPushButton*>(focus);
            QmtData->setFocus(Qt::OtherFocusReason);
        }
    }
    for (QPushButton* command : commands)
        command->setEnabled(enabled);
    if (enabled && m_focusBack) {
        // Unless the operator has moved on meanwhile.
        if (focusWidget() == QmtData)
            m_focusBack->setFocus(Qt::OtherFocusReason);
        m_focusBack = nullptr;
    }
}

void frmMain::Command3_Click()
{
    BlankDataRows(*QmtData);
    m_chart.Clear();
    ChartChanged();
    Label5->setText(QString());
}

void frmMain::QmtTxRx_OnComm()
{
    if (QmtTxRx->CommEvent() != qm::QmtTxRx::comEvReceive)
        return;
    const QString chunk = QmtTxRx->Input();
    txtRx->Append(chunk);

    const std::string bytes = ToBytes(chunk);
    m_journal->Received(m_acquisition, QByteArray(bytes.data(), qsizetype(bytes.size())));
    const ChunkOutcome outcome = m_link.Receive(bytes);
    m_answer->CharacterArrived(outcome, m_link.RxFlag != 0);
    switch (outcome) {
    case ChunkOutcome::Nothing:
        break;
    case ChunkOutcome::ErrorReply:
        ++m_tally.errorReplies;
        Label5->setText(QStringLiteral("ERROR..."));
        break;
    case ChunkOutcome::CommandAccepted:
        ++m_tally.accepted;
        Label5->setText(QStringLiteral("COMMAND OK!"));
        break;
    case ChunkOutcome::RecordStored:
        ++m_tally.records;
        Label5->setText(QStringLiteral("COMMAND OK !"));
        ShowRecord();
        // Every stored record, those beyond the table's 100 too, as the table shows them.
        m_journal->Record(
            m_acquisition, m_link.RxCount,
            CsvCells(m_link.RxRecords[std::size_t(m_link.RxCount - 1)], QLocale().decimalPoint()));
        break;
    case ChunkOutcome::RecordDropped:
        ++m_tally.records;
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
        return ScheduleNoticeUpdate();
    // The row just written is the place of the record just stored.
    const int place = m_link.RxCount;
    m_chart.SetRecord(place, m_link.RxRecords[std::size_t(place - 1)],
                      QLocale().decimalPoint().toStdString());
    ChartChanged();
}

void frmMain::ChartChanged()
{
    if (m_chartWindow)
        m_chartWindow->Chart()->DataChanged();
}

void frmMain::menuChart_Click()
{
    // One window: asked again, it comes to the front.
    if (!m_chartWindow) {
        m_chartWindow = new frmChart(
            m_chart, *m_dialogs.saveImage, [this](const QString& text) { ShowMessage(text); },
            this);
        m_chartWindow->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_chartWindow->Chart(), &RecordChart::RecordClicked, this,
                &frmMain::SelectTableRow);
        MarkSelectedRows();
    }
    m_chartWindow->show();
    m_chartWindow->raise();
    m_chartWindow->activateWindow();
}

void frmMain::SelectTableRow(int place)
{
    // Data row `place` is the view's row place - 1: the header row is the view's header.
    const QAbstractItemModel* cells = QmtData->model();
    const QModelIndex first = cells->index(place - 1, 0);
    if (!first.isValid())
        return;
    const QModelIndex last = cells->index(place - 1, cells->columnCount() - 1);
    QmtData->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
    QmtData->selectionModel()->select(QItemSelection(first, last),
                                      QItemSelectionModel::ClearAndSelect);
    QmtData->scrollTo(first);
}

void frmMain::MarkSelectedRows()
{
    if (!m_chartWindow)
        return;
    std::vector<int> places;
    for (const QModelIndex& cell : QmtData->selectionModel()->selectedIndexes())
        places.push_back(cell.row() + 1);
    std::sort(places.begin(), places.end());
    places.erase(std::unique(places.begin(), places.end()), places.end());
    m_chartWindow->Chart()->SetMarked(std::move(places));
}

void frmMain::ScheduleNoticeUpdate()
{
    m_noticeUpdate.Changed();
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
