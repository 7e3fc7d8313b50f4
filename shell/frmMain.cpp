#include "shell/frmMain.h"

#include "files/Names.h"
#include "files/SafeWrite.h"
#include "lab/LabSettings.h"
#include "ports/PortList.h"
#include "ports/PortMemory.h"
#include "ports/PortNames.h"
#include "ports/SimulatorPorts.h"
#include "protocol/CommandFrame.h"
#include "shell/AppIdentity.h"
#include "shell/Log.h"
#include "shell/SaveMessages.h"
#include "shell/frmChart.h"
#include "shell/frmHistory.h"
#include "shell/frmSplash.h"
#include "ui/CLR_ALL.h"
#include "ui/DesignWindow.h"
#include "ui/KeyboardUse.h"
#include "ui/RecordTable.h"
#include "ui/WindowCentring.h"
#include "ui/frmPORT.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFontMetricsF>
#include <QLocale>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSysInfo>

#include <algorithm>
#include <array>
#include <unistd.h>

namespace qm {

namespace {

// qm6200.conf's group for the save dialogs' folders.
const QString SaveGroup = QStringLiteral("save");

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

// Faults on the notice line; news and the standing state are in the window's text colour.
const QColor AlarmColour(0xb0, 0, 0);

// Data rows 1 to `rows` that show any text.
int RowsWithText(const QmtData& grid, int rows)
{
    int filled = 0;
    for (int r = 1; r <= rows; ++r) {
        for (int c = 0; c < grid.Cols(); ++c) {
            if (!grid.TextMatrix(r, c).isEmpty()) {
                ++filled;
                break;
            }
        }
    }
    return filled;
}

} // namespace

frmMain::frmMain(std::unique_ptr<CommBackend> backend, Dialogs dialogs, QWidget* parent,
                 const SystemRoots& system)
    : QMainWindow(parent, MainWindowFlags)
    , m_line(new Line(std::move(backend), system, this))
    , m_dialogs(std::move(dialogs))
    , m_saveDialog(m_dialogs.save ? std::move(m_dialogs.save)
                                  : std::make_unique<CommonDialog>(this))
    , m_journal(new JournalWriter(DefaultJournalPath(), this))
    , m_system(system)
{
    setWindowTitle(QString::fromLatin1(AppTitle));
    setFont(DesignFont("Arial", 9));
    m_memoryWriter.setMaxThreadCount(1);
    m_settings.journal = m_journal;
    m_settings.program = QStringLiteral("qm6200-datalink");
    m_settings.version = QStringLiteral(QM6200_VERSION);
    if (!m_dialogs.saveImage) {
        m_dialogs.saveImage = std::make_unique<CommonDialog>(this, frmChart::ImageFilter);
        m_dialogs.saveImage->setEndingFromType(true);
    }
    if (!m_dialogs.message) {
        m_dialogs.message = [this](const QString& text) {
            // Over whatever modal window is open (the port dialog, say), else over this one.
            QWidget* over = QApplication::activeModalWidget();
            QMessageBox::warning(over ? over : this, QString::fromLatin1(AppTitle), text);
        };
    }
    if (!m_dialogs.portLost) {
        m_dialogs.portLost = [this](const QString& text) {
            QWidget* over = QApplication::activeModalWidget();
            QMessageBox box(QMessageBox::Warning, QString::fromLatin1(AppTitle), text,
                            QMessageBox::Ok, over ? over : this);
            m_lostMessage = &box;
            box.exec();
        };
        m_dialogs.portBack = [this] {
            if (m_lostMessage)
                m_lostMessage->done(QMessageBox::Ok);
        };
    }
    if (!m_dialogs.ask) {
        m_dialogs.ask = [this](const QString& question) {
            return QMessageBox::question(this, QString::fromLatin1(AppTitle), question,
                                         QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                   == QMessageBox::Yes;
        };
    }
    if (!m_dialogs.splash) {
        m_dialogs.splash = [] {
            frmSplash splash;
            splash.Run();
        };
    }
    PlaceControls();
    ConnectControls();
}

frmMain::~frmMain()
{
    // The watch window's watch reads this window's line and writes its journal: it goes
    // before them (children go in the order they came).
    delete m_watchWindow.data();
    m_lab.reset();
}

void frmMain::Load()
{
    LoadStep("clear the transmit box", [this] { transmitBox->SetText(QString()); });
    LoadStep("clear the receive box", [this] { receiveBox->SetText(QString()); });
    LoadStep("clear the status", [this] { ShowStatus(QString()); });
    LoadStep("set up the table", [this] { InitGrid(*recordTable); });
    // The two boxes only show frames; Tab passes them by, a click still reaches them.
    LoadStep("take the boxes out of the tab order", [this] {
        transmitBox->editor()->setFocusPolicy(Qt::ClickFocus);
        receiveBox->editor()->setFocusPolicy(Qt::ClickFocus);
    });
    LoadStep("show the splash screen", [this] { m_dialogs.splash(); });
    LoadStep("prepare the port", [this] {
        m_line->Owner().Prepare();
        PreferRememberedPort();
        RecallSaveFolders();
    });
    LoadStep("start sending to the lab's database", [this] { StartLabSender(); });
    LoadStep("show the port on the notice line", [this] {
        SetPortNotice();
        ShowNotices();
    });
    // Centred on the screen once the menu bar has its height.
    adjustSize();
    setFixedSize(size());
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
}

void frmMain::Unload()
{
    // A watch first: its readings under way on the lines end and are journaled.
    if (m_watchWindow)
        m_watchWindow->close();
    m_line->Unload();
    KeepSaveFolders();
    if (m_history)
        m_history->close();
    if (m_chartWindow)
        m_chartWindow->close();
}

void frmMain::SetAnswerIntervals(const Exchange::Intervals& intervals)
{
    m_settings.intervals = intervals;
}

void frmMain::ShowMessage(const QString& text)
{
    m_dialogs.message(text);
}

void frmMain::closeEvent(QCloseEvent* event)
{
    Unload();
    QMainWindow::closeEvent(event);
}

void frmMain::EndRun()
{
    if (m_ending)
        return;
    m_ending = true;
    m_line->EndRun();
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

void frmMain::Finish()
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

void frmMain::ShowAbout()
{
    QMessageBox about(QMessageBox::NoIcon, QString::fromLatin1(AppTitle), AboutText(),
                      QMessageBox::Ok, this);
    // Centred as the other dialogs are: Qt's own placement guesses a frame where none is drawn.
    OpenCentred(about);
    about.exec();
}

void frmMain::ShowHistory()
{
    // One window: asked again, it reads the journal again and comes to the front.
    if (!m_history) {
        const Result<std::optional<LabDatabase>> lab =
            FindLabDatabase({}, DefaultConfigPath(), SystemConfigFolders());
        m_history = new frmHistory(
            DefaultJournalPath(), *m_saveDialog, [this](const QString& text) { ShowMessage(text); },
            this, lab && lab->has_value());
        m_history->setAttribute(Qt::WA_DeleteOnClose);
        m_history->ShareMenuKeys(menuBar()->actions());
        OpenWhereItWas(*m_history, QStringLiteral("history"));
    } else {
        m_history->Reload();
    }
    m_history->show();
    m_history->raise();
    m_history->activateWindow();
}

void frmMain::ChoosePort()
{
    if (m_ending)
        return;
    // The dialog closes the port at once: no answer is coming any more, and a lost port is
    // no longer waited for.
    if (m_watchWindow)
        m_watchWindow->MainPortChoosing();
    m_line->CloseForChoosing();
    m_waitingForReturn = false;
    m_notices.Clear(NoticeBoard::Topic::PortWillNotOpen);
    SetPortNotice();
    ShowNotices();
    PortOwner& owner = m_line->Owner();
    frmPORT dialog(
        owner.InUse(),
        [this, &owner](const PortSelection& choice) {
            Result<> opened = owner.TryOpen(choice);
            if (opened)
                RememberOpenedPort(choice);
            return opened;
        },
        [this](const QString& text) { ShowMessage(text); }, this, m_system);
    dialog.exec();
}

void frmMain::RecallSaveFolders()
{
    const Result<QVariantMap> kept = ReadSettingsGroup(DefaultConfigPath(), SaveGroup);
    if (!kept)
        TellMemoryProblem(kept.Reason());
    const QVariantMap folders = kept.ValueOr({});
    m_saveDialog->setFolder(folders.value(QStringLiteral("folder")).toString());
    m_dialogs.saveImage->setFolder(folders.value(QStringLiteral("image-folder")).toString());
}

void frmMain::KeepSaveFolders()
{
    const QString folder = m_saveDialog->Folder();
    const QString imageFolder = m_dialogs.saveImage->Folder();
    if (folder.isEmpty() && imageFolder.isEmpty())
        return;
    KeepSettingsLater(SaveGroup, {{QStringLiteral("folder"), folder},
                                  {QStringLiteral("image-folder"), imageFolder}});
}

void frmMain::KeepSettingsLater(const QString& group, const QVariantMap& values)
{
    // The disk may be slow or far away (a home on the network): the window does not wait.
    m_memoryWriter.start([this, group, values, path = DefaultConfigPath()] {
        if (const Result<> written = WriteSettingsGroup(path, group, values); !written)
            TellMemoryProblem(written.Reason());
    });
}

void frmMain::PreferRememberedPort()
{
    const auto read = ReadRememberedPort(DefaultConfigPath());
    if (!read)
        TellMemoryProblem(read.Reason());
    const std::optional<RememberedPort> remembered = read.ValueOr(std::nullopt);
    if (!remembered)
        return;
    const auto located = LocateRememberedPort(*remembered, FindSerialPorts(m_system),
                                              RunningSimulators(), m_system.sysfs);
    if (located)
        m_line->Owner().Prefer(SelectionFor(*located));
}

void frmMain::RememberOpenedPort(const PortSelection& selection)
{
    const QString choice = selection.PortDevice.isEmpty() ? PortEntryName(selection.PortNumber - 1)
                                                          : selection.PortDevice;
    const RememberedPort opened = RememberPort(choice, SystemLocation(choice),
                                               FindSerialPorts(m_system), RunningSimulators());
    m_line->Remember(opened);
    // The disk may be slow or far away (a home on the network): the window does not wait.
    m_memoryWriter.start([this, opened, path = DefaultConfigPath()] {
        if (const Result<> written = WriteRememberedPort(opened, path); !written)
            TellMemoryProblem(written.Reason());
    });
}

void frmMain::OpenWhereItWas(SideWindow& window, const QString& group)
{
    const Result<QVariantMap> kept = ReadSettingsGroup(DefaultConfigPath(), group);
    if (!kept)
        TellMemoryProblem(kept.Reason());
    window.Place(kept.ValueOr({}).value(QStringLiteral("place")).toByteArray());
    connect(&window, &SideWindow::Closing, this, [this, group](const QByteArray& place) {
        KeepSettingsLater(group, {{QStringLiteral("place"), place}});
    });
}

void frmMain::TellMemoryProblem(const QString& problem)
{
    // Only the preselection at the next start depends on it: not worth a message box.
    if (m_memoryTold.exchange(true))
        return;
    qCWarning(lcShell) << "the remembered port:" << problem;
}

void frmMain::PortOpenChanged(bool open)
{
    if (open)
        m_waitingForReturn = false;
    m_notices.PortChanged(open);
    SetPortNotice();
    ShowNotices();
}

void frmMain::SetPortNotice()
{
    const QmtTxRx& control = m_line->Control();
    const QString port = control.PortName();
    QString text;
    if (control.PortOpen()) {
        // COM1 to COM4 need no look at the system.
        const bool entry = SystemLocation(port) != port;
        text = tr("Port open: %1")
                   .arg(OpenPortText(port, entry ? QList<FoundPort>() : FindSerialPorts(m_system),
                                     entry ? QStringList() : RunningSimulators()));
    } else if (m_waitingForReturn) {
        text = tr("No port open: waiting for %1 to come back.").arg(ShownText(port));
    } else {
        text = tr("No port open: choose one with \"CommPort Select\".");
    }
    m_notices.Set(NoticeBoard::Topic::Port, text);
}

void frmMain::PortReturned(const QString& device)
{
    m_notices.Set(NoticeBoard::Topic::News,
                  tr("Reconnected to %1").arg(ShownText(QDir::toNativeSeparators(device))));
    ShowNotices();
    m_dialogs.portBack();
}

void frmMain::PortLost(const QString& reason, bool waitingForReturn)
{
    // The line says so before the message waits for the operator.
    m_waitingForReturn = waitingForReturn;
    SetPortNotice();
    ShowNotices();
    const QString port = m_line->Control().PortName();
    if (waitingForReturn) {
        m_dialogs.portLost(
            tr("The connection to the instrument on %1 was lost: %2.\n"
               "Everything received so far is kept. The port will be opened again as "
               "soon as it is back; nothing is sent again by itself. To use another "
               "port, choose it with \"CommPort Select\" in the menu.")
                .arg(port, reason));
        return;
    }
    const QString never =
        m_line->Remembered().CanReturn()
            ? QString()
            : tr("A pseudo-terminal does not come back once its other end has closed: the "
                 "system gives its number to the next terminal opened, which may be another "
                 "program's. ");
    m_dialogs.portLost(tr("The connection to the instrument on %1 was lost: %2.\n"
                          "Everything received so far is kept. %3When the instrument is back, "
                          "choose its port again with \"CommPort Select\" in the menu.")
                           .arg(port, reason, never));
}

void frmMain::AcquireRecords()
{
    SendCommand(VerbRead, ArgumentAll);
}

void frmMain::AcquirePresentValue()
{
    SendCommand(VerbRead, ArgumentNow);
}

void frmMain::ClearAll()
{
    CLR_ALL dialog([this] { SendCommand(VerbClear, ArgumentAll); }, this);
    dialog.exec();
}

void frmMain::SaveTable()
{
    // The table holds the first 100 records; those beyond are not in the file.
    const int rows = m_exchange ? std::min(int(m_exchange->Records().size()), TableDataRows) : 0;
    const int filled = RowsWithText(*recordTable, rows);
    if (filled == 0) {
        const QString question =
            rows == 0 ? tr("The table is empty: the file would hold nothing. Save it all the same?")
                      : tr("The table is blank (CLR blanked it): the file would hold %1 empty "
                           "lines and no record. Save it all the same?")
                            .arg(rows);
        if (!m_dialogs.ask(question))
            return;
    }
    if (!m_saveDialog->ShowSave())
        return;
    const QString path = m_saveDialog->FileName();
    if (path.isEmpty())
        return;
    const SaveResult saved = WriteWholeFile(path, TableCsv(*recordTable, rows));
    if (!saved) {
        ShowMessage(SaveFailureText(tr("the table"), path, saved.Error()));
        return;
    }
    m_notices.Set(NoticeBoard::Topic::News, SavedText(filled, rows - filled, path));
    ShowNotices();
    // A table with less than was received is saved all the same, and said to be.
    const QString where = QDir::toNativeSeparators(path);
    QStringList caveats;
    if (!m_notices.Text(NoticeBoard::Topic::Incomplete).isEmpty()) {
        caveats << tr("The table was saved to %1, but it is incomplete: the line was lost while "
                      "the records came (%2 received). Acquire again once the instrument is back "
                      "to save them all.")
                       .arg(where)
                       .arg(m_exchange->Tally().records);
    }
    if (const std::int64_t notSaved = RecordsNotInTable(); notSaved > 0) {
        caveats << tr("The table was saved to %1, but it holds only the first %2 records: "
                      "%3 more received records were not in the table and were not saved.")
                       .arg(where)
                       .arg(TableDataRows)
                       .arg(notSaved);
    }
    if (!caveats.isEmpty())
        ShowMessage(caveats.join(QLatin1Char('\n')));
}

void frmMain::SendCommand(std::string_view verb, std::string_view argument)
{
    if (!m_line->Control().PortOpen()) {
        ShowMessage(tr("The serial port is not open, so nothing was sent.\n"
                       "Choose the port the instrument is connected to with \"CommPort "
                       "Select\" in the menu, then try again."));
        return;
    }
    // What the steps before the write change, kept so that a command that cannot be sent
    // changes nothing at all.
    const QString lastFormat = transmitBox->Text();
    const QString lastStatus = statusText->text();
    const std::vector<QString> lastRows = DataRowTexts(*recordTable);
    const ChartData lastChart = m_chart;

    // The window's own last command, if its answer is still awaited, gives way: whoever
    // calls this while the buttons rest (a script, a test) starts afresh, as the buttons do.
    if (m_exchange && m_exchange->Waiting())
        m_exchange->Stop(AnswerEnd::Stopped);
    m_settings.decimalSeparator = QLocale().decimalPoint().toStdString();
    auto* exchange = new Exchange(verb, argument, m_settings);
    const std::string& command = exchange->Command();
    transmitBox->SetText(QString::fromLatin1(command.data(), qsizetype(command.size())));
    BlankTable();
    connect(exchange, &Exchange::NotWritten, this, [=, this](const QString& reason) {
        transmitBox->SetText(lastFormat);
        ShowStatus(lastStatus);
        RestoreDataRows(*recordTable, lastRows);
        m_chart.Restore(lastChart);
        ChartChanged();
        ShowMessage(tr("The command was not sent: %1\n"
                       "The table and everything received are as they were.")
                        .arg(reason));
    });
    connect(exchange, &Exchange::Written, this, [this, exchange] {
        m_exchange = exchange;
        receiveBox->SetText(QString());
        m_notices.CommandWritten();
        m_noticeUpdate.Now();
        SetCommandsEnabled(false);
    });
    connect(exchange, &Exchange::ErrorReply, this,
            [this] { ShowStatus(QStringLiteral("ERROR...")); });
    connect(exchange, &Exchange::Accepted, this,
            [this] { ShowStatus(QStringLiteral("COMMAND OK!")); });
    connect(exchange, &Exchange::RecordKept, this, &frmMain::ShowRecord);
    connect(exchange, &Exchange::RecordDropped, this, [this] {
        ShowStatus(QStringLiteral("COMMAND OK !"));
        ScheduleNoticeUpdate();
    });
    const bool reading = verb == VerbRead;
    connect(exchange, &Exchange::Over, this, [this, exchange, reading](AnswerEnd end) {
        if (end == AnswerEnd::NotSent)
            CommandNotSent();
        TellAnswerEnd(*exchange, end, reading);
        SetCommandsEnabled(true);
        if (m_lab)
            m_lab->Nudge();
    });
    m_line->Run(exchange);
}

void frmMain::CommandNotSent()
{
    ShowMessage(
        tr("The command was not sent: the serial port %1 did not let it out within "
           "%2 seconds (its output is held, by the line's flow control or by another "
           "program). Nothing of it will be sent.\n"
           "Check the cable and the instrument, then try again.")
            .arg(m_line->Control().PortName())
            .arg(std::chrono::duration_cast<std::chrono::seconds>(m_settings.intervals.leave)
                     .count()));
}

void frmMain::SetCommandsEnabled(bool enabled)
{
    // The pressed button keeps the focus while it is off: handed on, the focus would land on
    // "Save Data", where the operator's next Space opens the save dialog, and a screen reader
    // would read every move.
    for (QPushButton* command : {acquireRecordsButton, acquirePresentButton, clearAllButton})
        SetEnabledKeepingFocus(*command, enabled);
}

void frmMain::ClearTable()
{
    BlankTable();
}

void frmMain::ShowStatus(const QString& text)
{
    // Told again with every record: only a change is news, to the label and the screen reader.
    if (statusText->text() != text)
        statusText->setText(text);
    // A screen reader reads the status by its text; with none, it still names the label.
    if (const QString name = text.isEmpty() ? tr("No status") : QString();
        statusText->accessibleName() != name)
        statusText->setAccessibleName(name);
}

void frmMain::BlankTable()
{
    BlankDataRows(*recordTable);
    m_chart.Clear();
    ChartChanged();
    ShowStatus(QString());
}

void frmMain::ShowRecord(const AnswerRecord& record)
{
    ShowStatus(QStringLiteral("COMMAND OK !"));
    if (!qm::ShowRecord(*recordTable, record.place, record.read.cells))
        return ScheduleNoticeUpdate();
    m_chart.SetRecord(record.place, record.read);
    ChartChanged();
}

void frmMain::ChartChanged()
{
    if (m_chartWindow)
        m_chartWindow->Chart()->DataChanged();
}

void frmMain::ShowChart()
{
    // One window: asked again, it comes to the front.
    if (!m_chartWindow) {
        m_chartWindow = new frmChart(
            m_chart, *m_dialogs.saveImage, [this](const QString& text) { ShowMessage(text); },
            this);
        m_chartWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_chartWindow->ShareMenuKeys(menuBar()->actions());
        OpenWhereItWas(*m_chartWindow, QStringLiteral("chart"));
        connect(m_chartWindow->Chart(), &RecordChart::RecordClicked, this,
                &frmMain::SelectTableRow);
        MarkSelectedRows();
    }
    m_chartWindow->show();
    m_chartWindow->raise();
    m_chartWindow->activateWindow();
}

void frmMain::StartLabSender()
{
    const Result<std::optional<LabDatabase>> found =
        FindLabDatabase({}, DefaultConfigPath(), SystemConfigFolders());
    if (!found) {
        m_notices.Set(NoticeBoard::Topic::LabAway,
                      found.Reason() + QLatin1Char(' ')
                          + tr("Nothing is sent to the lab's database; the journal keeps "
                               "everything."));
        return;
    }
    if (!*found)
        return;
    LabSender::Settings settings;
    settings.conninfo = (*found)->conninfo;
    settings.journalPath = DefaultJournalPath();
    settings.host = QSysInfo::machineHostName();
    settings.user = UserName(::geteuid());
    m_lab = std::make_unique<LabSender>(settings);
    connect(m_lab.get(), &LabSender::Away, this, [this](const QString& why) {
        m_notices.Set(NoticeBoard::Topic::LabAway,
                      why + QLatin1Char(' ')
                          + tr("Acquisitions are kept in the journal and sent when it is back."));
        ShowNotices();
    });
    connect(m_lab.get(), &LabSender::AllSent, this, [this] {
        m_notices.Clear(NoticeBoard::Topic::LabAway);
        m_notices.Set(NoticeBoard::Topic::News,
                      tr("Everything waiting was sent to the lab's database."));
        ShowNotices();
    });
    connect(m_lab.get(), &LabSender::Refused, this, [this](qint64 number, const QString& why) {
        m_notices.Set(NoticeBoard::Topic::News,
                      tr("The lab's database refused acquisition %1: %2. It stays in the "
                         "journal.")
                          .arg(number)
                          .arg(why));
        ShowNotices();
    });
    // What the journal holds from before goes now.
    m_lab->Nudge();
}

void frmMain::ShowWatch()
{
    if (!m_watchWindow) {
        m_watchWindow = new frmWatch(
            *m_line, *m_journal, DefaultJournalPath(), *m_saveDialog,
            [this](const QString& text) { ShowMessage(text); }, this, m_system);
        m_watchWindow->ShareMenuKeys(menuBar()->actions());
        OpenWhereItWas(*m_watchWindow, QStringLiteral("watch"));
        connect(m_watchWindow, &frmWatch::ReadingTaken, this, [this] {
            if (m_lab)
                m_lab->Nudge();
        });
    }
    m_watchWindow->show();
    m_watchWindow->raise();
    m_watchWindow->activateWindow();
}

void frmMain::SelectTableRow(int place)
{
    // Data row `place` is the view's row place - 1: the header row is the view's header.
    const QAbstractItemModel* cells = recordTable->model();
    const QModelIndex first = cells->index(place - 1, 0);
    if (!first.isValid())
        return;
    const QModelIndex last = cells->index(place - 1, cells->columnCount() - 1);
    recordTable->selectionModel()->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
    recordTable->selectionModel()->select(QItemSelection(first, last),
                                          QItemSelectionModel::ClearAndSelect);
    recordTable->scrollTo(first);
}

void frmMain::MarkSelectedRows()
{
    if (!m_chartWindow)
        return;
    std::vector<int> places;
    for (const QModelIndex& cell : recordTable->selectionModel()->selectedIndexes())
        places.push_back(cell.row() + 1);
    std::sort(places.begin(), places.end());
    places.erase(std::unique(places.begin(), places.end()), places.end());
    m_chartWindow->Chart()->SetMarked(std::move(places));
}

void frmMain::ScheduleNoticeUpdate()
{
    m_noticeUpdate.Changed();
}

std::int64_t frmMain::RecordsNotInTable() const
{
    if (!m_exchange)
        return 0;
    return qm::RecordsNotInTable(*recordTable, std::int64_t(m_exchange->Records().size()),
                                 m_exchange->Dropped());
}

void frmMain::ShowRecordsNotInTable()
{
    const std::int64_t count = RecordsNotInTable();
    m_notices.Set(NoticeBoard::Topic::NotInTable, count == 0 ? QString() : NotInTableText(count));
    ShowNotices();
}

void frmMain::TellAnswerEnd(const Exchange& exchange, AnswerEnd end, bool reading)
{
    // A command that gave way to the next tells nothing.
    if (&exchange != m_exchange)
        return;
    if (end == AnswerEnd::NoAnswer) {
        m_notices.Set(NoticeBoard::Topic::NoAnswer,
                      NoAnswerText(m_settings.intervals.noAnswer, m_line->Control().PortName()));
    } else if (end == AnswerEnd::Lost && reading) {
        m_notices.Set(NoticeBoard::Topic::Incomplete,
                      IncompleteText(exchange.Tally().records, RecordsNotInTable()));
    }
    ShowNotices();
}

void frmMain::ShowNotices()
{
    const std::optional<NoticeBoard::Notice> top = m_notices.Top();
    if (!top) {
        noticeText->hide();
        return;
    }
    const bool fault = top->rank() == NoticeBoard::Rank::Fault;
    if (const QColor colour = fault ? AlarmColour : palette().color(QPalette::WindowText);
        noticeText->palette().color(QPalette::WindowText) != colour) {
        QPalette colours = noticeText->palette();
        colours.setColor(QPalette::WindowText, colour);
        noticeText->setPalette(colours);
    }
    const QString shown =
        QFontMetricsF(noticeText->font(), noticeText)
            .elidedText(top->text, Qt::ElideRight, noticeText->contentsRect().width());
    // Only what changed: a screen reader reads out each change of the name.
    if (noticeText->text() != shown)
        noticeText->setText(shown);
    if (noticeText->accessibleName() != top->text) {
        noticeText->setToolTip(top->text);
        noticeText->setAccessibleName(top->text);
    }
    if (const QString kind = fault ? tr("Warning") : tr("Notice");
        noticeText->accessibleDescription() != kind)
        noticeText->setAccessibleDescription(kind);
    noticeText->show();
}

} // namespace qm
