#pragma once

#include "journal/JournalWriter.h"
#include "lab/LabSender.h"
#include "line/Line.h"
#include "records/ChartData.h"
#include "shell/NoticeBoard.h"
#include "shell/frmChart.h"
#include "shell/frmWatch.h"
#include "ui/CommonDialog.h"
#include "ui/LiveRefresh.h"
#include "ui/QmtData.h"
#include "ui/RecordTable.h"
#include "ui/TextBox.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <string_view>

class QGroupBox;

namespace qm {

class frmHistory;
class SideWindow;

// The main window's controls, by their roles; each carries its design name as its object name
// (docs/design-names.md). The window places them; the test rig finds them by those names.
struct frmMainControls {
    QLabel* titleLabel;
    QPushButton* acquireRecordsButton;
    QPushButton* acquirePresentButton;
    QPushButton* clearAllButton;
    QLabel* transmitCaption;
    TextBox* transmitBox;
    QLabel* receiveCaption;
    TextBox* receiveBox;
    QLabel* statusText;
    QGroupBox* csvFrame;
    qm::QmtData* recordTable;
    QPushButton* clearTableButton;
    QPushButton* saveButton;
    // The notice line: the most pressing of what holds now (NoticeBoard), from a fault of
    // the last acquisition to the port in use.
    QLabel* noticeText;
    QAction* choosePortAction;
    QAction* aboutAction;
    QAction* finishAction;
    QAction* historyAction;
    QAction* chartAction;
    QAction* watchAction;

    // Calls visit(control, design name) for each control, the control's pointer as a
    // reference, so that whoever finds the controls can fill it in.
    template<typename Visit>
    void ForEachControl(Visit&& visit)
    {
        visit(titleLabel, "Title1");
        visit(acquireRecordsButton, "Command1");
        visit(acquirePresentButton, "Command4");
        visit(clearAllButton, "Command2");
        visit(transmitCaption, "Label1");
        visit(transmitBox, "cmdFormat");
        visit(receiveCaption, "Label2");
        visit(receiveBox, "txtRx");
        visit(statusText, "Label5");
        visit(csvFrame, "Frame3");
        visit(recordTable, "QmtData");
        visit(clearTableButton, "Command3");
        visit(saveButton, "CsvOut");
        visit(noticeText, "lblNotInTable");
        visit(choosePortAction, "menuPort");
        visit(aboutAction, "MenuAbout");
        visit(finishAction, "menuFin");
        visit(historyAction, "menuHistory");
        visit(chartAction, "menuChart");
        visit(watchAction, "menuWatch");
    }
};

// The main window: the operator's buttons, the transmit and receive boxes, the status text
// and the record table. It shows what its line and the exchanges on it tell: the command
// sent, every character received, the replies and the records. Its controls are its own;
// each carries its design name as its object name (docs/design-names.md).
class frmMain : public QMainWindow, private frmMainControls {
    Q_OBJECT

public:
    // The echo keeps at least this many characters: many times the longest answer the
    // instrument can give (201 data frames of 42 characters and what surrounds them).
    static constexpr qsizetype EchoCapacity = 256 * 1024;

    using MessageFunction = std::function<void(const QString& text)>;

    // How the window asks and tells the operator. What is left empty is the real thing: a
    // warning box, a question box, the splash screen, Qt's save dialog. Tests put their own in
    // place.
    struct Dialogs {
        MessageFunction message;
        // Tells that the open port was lost. The port may come back by itself before the
        // operator has read it: `portBack` then takes the message away.
        MessageFunction portLost;
        std::function<void()> portBack;
        // Asks a question; true for Yes.
        std::function<bool(const QString& question)> ask;
        std::function<void()> splash;
        std::unique_ptr<CommonDialog> save;
        // The chart's image dialog.
        std::unique_ptr<CommonDialog> saveImage;
    };

    // The serial ports are looked for in `system` (tests give a made-up tree).
    explicit frmMain(std::unique_ptr<CommBackend> backend, Dialogs dialogs = {},
                     QWidget* parent = nullptr, const SystemRoots& system = {});
    ~frmMain() override;

    // At start: the boxes and the table emptied, the splash screen, the port prepared and
    // the one remembered offered first.
    void Load();
    // At the end: the port closed, the other windows closed.
    void Unload();

    // The run is asked to end (a logout, a shutdown, Ctrl+C): whatever dialog is open is
    // closed without acting on it, then the window unloads as with "Finish". No port is
    // opened again from here on.
    void EndRun();
    bool Ending() const { return m_ending; }

    // The menu: the port dialog, the program's name and version, the end; the journal's
    // history and the chart of the records shown.
    void ChoosePort();
    void ShowAbout();
    void Finish();
    void ShowHistory();
    void ShowChart();
    // The watch window: one, kept while the program runs, so that it shows the last watch
    // when opened again.
    void ShowWatch();
    frmWatch* WatchWindow() const { return m_watchWindow; }
    // The chart window, while it is open.
    frmChart* ChartWindow() const { return m_chartWindow; }
    // The records the table shows, as the chart draws them.
    const ChartData& ChartRecords() const { return m_chart; }
    static QString AboutText();

    // The buttons.
    void AcquireRecords();
    void AcquirePresentValue();
    void ClearAll();
    void ClearTable();
    void SaveTable();

    // Tells the operator something that needs attention.
    void ShowMessage(const QString& text);

    // The line the window's commands run on, and the last of them (none before the first).
    Line& PortLine() { return *m_line; }
    const Exchange* LastExchange() const { return m_exchange; }
    // When an answer is over: the intervals every command's exchange gets.
    void SetAnswerIntervals(const Exchange::Intervals& intervals);
    const Exchange::Intervals& AnswerIntervals() const { return m_settings.intervals; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The status text, as the label shows it and a screen reader reads it.
    void ShowStatus(const QString& text);
    // The window's controls, where the design has them (frmMainLayout.cpp).
    void PlaceControls();
    void ConnectControls();

    // A command on the line: composed by its exchange, shown, the table and status blanked;
    // once written, the echo emptied and the commands off until its answer is over. One that
    // cannot be written changes nothing. With the port closed nothing is sent.
    void SendCommand(std::string_view verb, std::string_view argument);
    // The command just written did not leave the port in time.
    void CommandNotSent();
    // The table's data rows, the chart and the status blanked, as a new command or CLR does.
    void BlankTable();
    // What the exchange under way tells.
    void ShowRecord(const AnswerRecord& record);
    // The three command buttons are off while the answer to a command is arriving: a
    // second command would reset the table, and the rest of this answer would land in it.
    void SetCommandsEnabled(bool enabled);
    // The notice follows the count ten times a second: a stream of frames that do not
    // fit would otherwise re-lay out the label for every frame.
    void ScheduleNoticeUpdate();
    void ShowRecordsNotInTable();
    std::int64_t RecordsNotInTable() const;
    // What the end of `exchange`'s answer leaves on the notice line.
    void TellAnswerEnd(const Exchange& exchange, AnswerEnd end, bool reading);
    // The notice line shows the top of the board: cut to its width, whole in its tooltip and
    // to a screen reader; a fault in the alarm colour.
    void ShowNotices();
    // The port in use, open or not, as the standing notice.
    void SetPortNotice();
    void PortOpenChanged(bool open);
    // The port went away while open; whether it is waited for.
    void PortLost(const QString& reason, bool waitingForReturn);
    void PortReturned(const QString& device);
    // The port remembered from the last run, where it is now, is offered first; a port that
    // opens is remembered for the next.
    void PreferRememberedPort();
    // The folders the save dialogs last used, kept in qm6200.conf between runs.
    void RecallSaveFolders();
    void KeepSaveFolders();
    // Writes the values into qm6200.conf's group from the settings' own thread.
    void KeepSettingsLater(const QString& group, const QVariantMap& values);
    void RememberOpenedPort(const PortSelection& selection);
    // Starts sending to the lab's database when one is set; a setting that cannot be used is
    // told on the notice line.
    void StartLabSender();
    void TellMemoryProblem(const QString& problem);
    // A side window opened where it was when it last closed (qm6200.conf's `group`), or
    // centred; where it closes is kept there.
    void OpenWhereItWas(SideWindow& window, const QString& group);
    // The chart follows the table: told what changed; a record clicked in it selects its row,
    // and the rows with a selected cell are marked in it.
    void ChartChanged();
    void SelectTableRow(int place);
    void MarkSelectedRows();

    Line* m_line;
    Dialogs m_dialogs;
    // The export's save dialog, kept so that it remembers the last name.
    std::unique_ptr<CommonDialog> m_saveDialog;
    // Every command's: its intervals, the journal, the program's name.
    Exchange::Settings m_settings;
    QPointer<Exchange> m_exchange;
    LiveRefresh m_noticeUpdate{[this] {
        ShowRecordsNotInTable();
    }};
    NoticeBoard m_notices;
    // A lost port is waited for, to be opened again when it is back.
    bool m_waitingForReturn = false;
    // The message that the port was lost, while it is shown.
    QPointer<QMessageBox> m_lostMessage;
    // Every command, reply and record, kept on disk as they come.
    JournalWriter* m_journal;
    QPointer<frmHistory> m_history;
    ChartData m_chart{TableDataRows};
    QPointer<frmChart> m_chartWindow;
    QPointer<frmWatch> m_watchWindow;
    // What the journal keeps goes to the lab's database from a thread of its own, when one is
    // set.
    std::unique_ptr<LabSender> m_lab;
    // The configuration file could not be read or written: said once, in the log.
    std::atomic<bool> m_memoryTold = false;
    // Writes the remembered port off the window's thread, one write at a time, in order; its
    // end waits for the last.
    QThreadPool m_memoryWriter;
    SystemRoots m_system;
    bool m_ending = false;
};

} // namespace qm
