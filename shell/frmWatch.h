#pragma once

#include "base/Result.h"
#include "journal/Journal.h"
#include "ports/PortList.h"
#include "records/WatchChartData.h"
#include "serial/PortOwner.h"
#include "ui/CommonDialog.h"
#include "ui/LiveRefresh.h"
#include "ui/SideWindow.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QButtonGroup;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace qm {

class JournalWriter;
class Line;
class Watch;
class WatchChart;

// The present values of several instruments read at an interval, in a window of its own: the
// ports to watch (added by the port dialog's rules), the interval, Start and Stop; the latest
// reading of each instrument, and their counters charted against time. The watch is the one
// "qm6200-acquire watch" runs, with its schedule, notes and journal; "Save as CSV" writes its
// CSV from the journal, as "qm6200-acquire history N" does.
//
// The main window's port may be watched: its line is then shared, and the main window's
// commands queue with the readings on it. When the main window chooses its port again, the
// watch lets go of that line (its readings are noted "line lost" from then on), so that it
// never reads whatever instrument the line opens next. Closing the window stops the watch;
// the readings under way end and are journaled.
class frmWatch : public SideWindow {
    Q_OBJECT

public:
    using MessageFunction = std::function<void(const QString& text)>;

    // The interval's units, in the list's order.
    enum class Unit { Seconds, Minutes, Hours };

    // `mainLine` is the main window's, shared when its port is watched; `save` is the main
    // window's save dialog, so that both remember the last folder. The serial ports are
    // looked for in `system` (tests give a made-up tree).
    frmWatch(Line& mainLine, JournalWriter& journal, const QString& journalPath, CommonDialog& save,
             MessageFunction message, QWidget* parent = nullptr, const SystemRoots& system = {});
    ~frmWatch() override;

    // The port dialog, to add a port to the watch.
    void cmdAddPort_Click();
    // What the dialog's "Determine" does with the port chosen: opened on a line of its own
    // (or the main window's, when it is that port) and added; or why not.
    Result<> AddPort(const PortSelection& selection);
    void cmdRemovePort_Click();
    void cmdStart_Click();
    void cmdStop_Click();
    void cmdSave_Click();

    // The main window is about to choose its port again: a watch reading it lets go of it.
    void MainPortChoosing();

    // The ports as added, named as the operator chose them.
    QStringList Ports() const;
    void SetEvery(int amount, Unit unit);
    bool Running() const;
    const Watch* CurrentWatch() const { return m_watch.get(); }
    const WatchChartData& ChartReadings() const { return m_chartData; }
    WatchChart* Chart() const { return chtWatch; }

    QSize sizeHint() const override;

signals:
    // A watch began, or ended with its readings under way.
    void Started();
    void Finished();
    // A reading was taken and journaled.
    void ReadingTaken();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Watched {
        QString name;              // as the port dialog named it
        Line* line = nullptr;      // the main window's, or `own`
        std::unique_ptr<Line> own; // a line of the watch's own
    };

    void ShowReading(const JournalReading& reading);
    // The latest readings' rows and the status, as they stand.
    void ShowPending();
    void WatchFinished();
    // Buttons and fields as the state allows: ports change only while no watch runs.
    void UpdateControls();
    void ShowStatus();
    // The series list: an entry per instrument, each with its six series, all checked.
    void FillSeries();
    void SeriesChanged(QTreeWidgetItem* item);
    std::chrono::milliseconds Every() const;

    QLabel* lblPorts;
    QListWidget* lstPorts;
    QPushButton* cmdAddPort;
    QPushButton* cmdRemovePort;
    QLabel* lblEvery;
    QSpinBox* txtEvery;
    QComboBox* cboUnit;
    QPushButton* cmdStart;
    QPushButton* cmdStop;
    QLabel* lblStatus;
    QLabel* lblLatest;
    QTableWidget* grdLatest;
    WatchChart* chtWatch;
    QLabel* lblSeries;
    QTreeWidget* trvSeries;
    QRadioButton* optValues;
    QRadioButton* optChanges;
    QPushButton* cmdSave;

    Line& m_mainLine;
    JournalWriter& m_journal;
    QString m_journalPath;
    CommonDialog& m_save;
    MessageFunction m_message;
    SystemRoots m_system;
    std::vector<Watched> m_ports;
    std::unique_ptr<Watch> m_watch;
    WatchChartData m_chartData;
    // The ports of the last watch, as its chart and table show them.
    QStringList m_watchedNames;
    bool m_mainLineReleased = false;
    // Rows read and not yet shown: by row, the texts from the time to the note.
    std::map<int, QStringList> m_pendingRows;
    LiveRefresh m_shownRefresh{[this] {
        ShowPending();
    }};
};

} // namespace qm
