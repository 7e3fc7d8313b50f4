#pragma once

#include "journal/Journal.h"
#include "ui/CommonDialog.h"
#include "ui/SideWindow.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <variant>
#include <vector>

class QLabel;
class QPushButton;
class QTableView;

namespace qm {

class HistoryModel;
class JournalRecordsModel;

// The journal's acquisitions and watches, newest first, and the records of the one chosen,
// all of them (or a watch's readings), which "Save as CSV" writes as "Save Data" or the watch
// wrote them at the time. A window of its own beside
// the main window; it reads the journal, never writes it.
class frmHistory : public SideWindow {
    Q_OBJECT

public:
    using MessageFunction = std::function<void(const QString& text)>;

    // `save` is the main window's save dialog, so that both remember the last name. With
    // `labShown` (a lab's database is set), a column "Lab" says what it confirmed, is waiting,
    // or refused and why.
    frmHistory(const QString& journalPath, CommonDialog& save, MessageFunction message,
               QWidget* parent = nullptr, bool labShown = false);
    ~frmHistory() override;

    // Reads the journal again: what was journaled since shows, the acquisition chosen stays.
    void Reload();

    QSize sizeHint() const override;

    void cmdSave_Click();

private:
    // A watch's readings shown at most; "Save as CSV" writes them all.
    static constexpr std::size_t MaxShownReadings = 10000;

    void ShowChosen();
    qint64 Chosen() const;
    // The acquisition or watch chosen in the list, or none.
    const std::variant<JournalEntry, JournalWatchEntry>* ChosenRow() const;

    QLabel* lblAcquisitions;
    QTableView* lstAcquisitions;
    QLabel* lblRecords;
    QTableView* grdRecords;
    QPushButton* cmdSave;

    QString m_journalPath;
    CommonDialog& m_save;
    MessageFunction m_message;
    HistoryModel* m_acquisitions;
    JournalRecordsModel* m_records;
};

} // namespace qm
