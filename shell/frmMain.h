#pragma once

#include "journal/Journal.h"
#include "link/AnswerWatch.h"
#include "link/LinkState.h"
#include "link/PortMemory.h"
#include "link/PortOwner.h"
#include "link/QmtTxRx.h"
#include "link/ReturnWatch.h"
#include "records/ChartData.h"
#include "shell/frmChart.h"
#include "ui/CommonDialog.h"
#include "ui/LiveRefresh.h"
#include "ui/QmtData.h"
#include "ui/RecordTable.h"
#include "ui/TextBox.h"

#include <QAction>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>
#include <string_view>

class QGroupBox;

namespace qm {

class frmHistory;

// The main window: the operator's buttons, the transmit and receive boxes, the status text
// and the record table, and the event handlers that tie them to the device link. Its
// controls are its own; each carries its design name as its object name.
class frmMain : public QMainWindow {
    Q_OBJECT

public:
    // The echo keeps at least this many characters: many times the longest answer the
    // instrument can give (201 data frames of 42 characters and what surrounds them).
    static constexpr qsizetype EchoCapacity = 256 * 1024;

    using MessageFunction = std::function<void(const QString& text)>;

    // How the window asks and tells the operator. What is left empty is the real thing: a
    // warning box, the splash screen, Qt's save dialog. Tests put their own in place.
    struct Dialogs {
        MessageFunction message;
        std::function<void()> splash;
        std::unique_ptr<CommonDialog> save;
        // The chart's image dialog.
        std::unique_ptr<CommonDialog> saveImage;
    };

    // The serial ports are looked for in `system` (tests give a made-up tree).
    frmMain(LinkState& link, std::unique_ptr<CommBackend> backend, Dialogs dialogs = {},
            QWidget* parent = nullptr, const SystemRoots& system = {});
    ~frmMain() override;

    void Form_Load();
    void Form_Unload();

    // The run is asked to end (a logout, a shutdown, Ctrl+C): whatever dialog is open is
    // closed without acting on it, then the window unloads as with "Finish". No port is
    // opened again from here on.
    void EndRun();
    bool Ending() const { return m_ending; }

    // The menu: the port selection dialog, the program's name and version, the end; the
    // journal's history and the chart of the records shown.
    void menuPort_Click();
    void MenuAbout_Click();
    void menuFin_Click();
    void menuHistory_Click();
    void menuChart_Click();
    // The chart window, while it is open.
    frmChart* ChartWindow() const { return m_chartWindow; }
    // The records the table shows, as the chart draws them.
    const ChartData& ChartRecords() const { return m_chart; }
    static QString AboutText();

    void Command1_Click();
    void Command3_Click();
    void Command4_Click();
    void Command2_Click();
    void CsvOut_Click();
    void QmtTxRx_OnComm();
    // The port went away while open: the operator is told once; nothing received is lost.
    void QmtTxRx_PortLost(const QString& reason);
    // The command just written did not leave the port in time.
    void CommandNotSent();

    void InitGrid();
    void ShowRecord();

    // Tells the operator something that needs attention.
    void ShowMessage(const QString& text);

    // The frame most recently composed by a command.
    const std::string& TxCommand() const { return m_TxCommand; }
    // The port in use and when it is open.
    const PortOwner& Port() const { return m_port; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // The steps every command shares: compose, show, blank the table and status, send,
    // empty the echo, reset the store. With the port closed nothing changes.
    void SendCommand(std::string_view verb, std::string_view argument);
    // The three command buttons are off while the answer to a command is arriving: a
    // second command would reset the table, and the rest of this answer would land in it.
    void SetCommandsEnabled(bool enabled);
    // The notice follows the count ten times a second: a stream of frames that do not
    // fit would otherwise re-lay out the label for every frame.
    void ScheduleNoticeUpdate();
    void ShowRecordsNotInTable();
    // The port remembered from the last run, where it is now, is offered first; a port that
    // opens is remembered for the next.
    void PreferRememberedPort();
    void RememberOpenedPort(const PortSelection& selection);
    void TellMemoryProblem(const QString& problem);
    // After a loss: the same port is opened again when it comes back, until the operator
    // chooses a port or the program ends. Nothing is sent again.
    void WaitForReturn();
    void Reconnect(const QString& device);
    void ShowNotice(const QString& text);
    // The chart follows the table: told what changed; a record clicked in it selects its row,
    // and the rows with a selected cell are marked in it.
    void ChartChanged();
    void SelectTableRow(int place);
    void MarkSelectedRows();

    QLabel* Title1;
    QPushButton* Command1;
    QPushButton* Command4;
    QPushButton* Command2;
    QLabel* Label1;
    TextBox* cmdFormat;
    QLabel* Label2;
    TextBox* txtRx;
    QLabel* Label5;
    QGroupBox* Frame3;
    qm::QmtData* QmtData;
    QPushButton* Command3;
    QPushButton* CsvOut;
    // Tells when received records are not in the table (it holds 100).
    QLabel* lblNotInTable;
    qm::QmtTxRx* QmtTxRx;
    QAction* menuPort;
    QAction* MenuAbout;
    QAction* menuFin;
    QAction* menuHistory;
    QAction* menuChart;

    LinkState& m_link;
    Dialogs m_dialogs;
    // The export's save dialog, kept so that it remembers the last name.
    std::unique_ptr<CommonDialog> CommonDialog1;
    PortOwner m_port;
    std::string m_TxCommand;
    LiveRefresh m_noticeUpdate{[this] {
        ShowRecordsNotInTable();
    }};
    AnswerWatch* m_answer;
    // Every command, reply and record, kept on disk as they come.
    JournalWriter* m_journal;
    JournalWriter::Acquisition m_acquisition = 0; // the last command's
    AnswerTally m_tally;                          // of the answer to the last command
    bool m_clearing = false;                      // the last command was the clear
    QPointer<frmHistory> m_history;
    ChartData m_chart{TableDataRows};
    QPointer<frmChart> m_chartWindow;
    // The configuration file could not be read or written: said once, in the log.
    std::atomic<bool> m_memoryTold = false;
    // Writes the remembered port off the window's thread, one write at a time, in order; its
    // end waits for the last.
    QThreadPool m_memoryWriter;
    SystemRoots m_system;
    RememberedPort m_opened; // the port that opened last, and who it is
    QPointer<ReturnWatch> m_return;
    void StopWaitingForReturn();
    bool m_ending = false;
    // The command button that had the focus when the commands went off.
    QPointer<QPushButton> m_focusBack;
};

} // namespace qm
