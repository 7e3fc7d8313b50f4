#include "shell/frmHistory.h"

#include "files/SafeWrite.h"
#include "journal/JournalReader.h"
#include "records/CsvExport.h"
#include "records/RecordLayout.h"
#include "shell/SaveMessages.h"
#include "ui/ControlNames.h"
#include "ui/DesignWindow.h"
#include "ui/TableCopy.h"

#include <QAbstractTableModel>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTime>
#include <QVBoxLayout>

#include <cstdlib>

namespace qm {

namespace {

// A command's frame as text: the verb and its argument, without the frame's control
// characters.
QString CommandText(const QByteArray& frame)
{
    QString text;
    for (const char byte : frame) {
        if (byte >= 0x20 && byte < 0x7f)
            text += QLatin1Char(byte);
    }
    return text;
}

// A time as people read it: local, with its offset from UTC, since a journal outlives a change
// of the clocks ("2026-12-08 15:30:00+01:00").
QString LocalTimeText(const QDateTime& utc)
{
    const QDateTime local = utc.toLocalTime();
    const int offset = local.offsetFromUtc();
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
           + (offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
           + QTime(0, 0).addSecs(std::abs(offset)).toString(QStringLiteral("HH:mm"));
}

} // namespace

// The acquisitions, newest first: when, where, what, how many records and how it ended.
class HistoryModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setEntries(std::vector<JournalEntry> entries)
    {
        beginResetModel();
        m_entries = std::move(entries);
        endResetModel();
    }
    const std::vector<JournalEntry>& entries() const { return m_entries; }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_entries.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : Columns;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return {};
        const JournalEntry& entry = m_entries[std::size_t(index.row())];
        if (role == Qt::TextAlignmentRole) {
            const bool number = index.column() == 0 || index.column() == 4;
            return QVariant::fromValue(number ? Qt::Alignment(Qt::AlignCenter)
                                              : Qt::AlignLeft | Qt::AlignVCenter);
        }
        if (role == Qt::ToolTipRole && index.column() == 2 && !entry.stableName.isEmpty())
            return entry.stableName;
        if (role != Qt::DisplayRole)
            return {};
        switch (index.column()) {
        case 0:
            return entry.number;
        case 1:
            return LocalTimeText(entry.sent);
        case 2:
            return entry.port;
        case 3:
            return CommandText(entry.frame);
        case 4:
            return entry.records;
        case 5:
            return JournalOutcomeText(entry.outcome);
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const char* const names[Columns] = {"No.",     "Time",    "Port",
                                                   "Command", "Records", "Outcome"};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < Columns)
            return QString::fromLatin1(names[section]);
        return {};
    }

private:
    static constexpr int Columns = 6;
    std::vector<JournalEntry> m_entries;
};

// An acquisition's records, as the table showed them.
class JournalRecordsModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setRecords(std::vector<JournalCells> records)
    {
        beginResetModel();
        m_records = std::move(records);
        endResetModel();
    }
    const std::vector<JournalCells>& records() const { return m_records; }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_records.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : RecordColumns;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return {};
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
        if (role != Qt::DisplayRole)
            return {};
        // The cells hold the bytes the table's text was written as, one per character.
        const std::string& cell = m_records[std::size_t(index.row())][std::size_t(index.column())];
        return QString::fromLatin1(cell.data(), qsizetype(cell.size()));
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role != Qt::DisplayRole)
            return {};
        if (orientation == Qt::Vertical)
            return section + 1;
        return section < RecordColumns ? QString::fromLatin1(RecordHeaders[std::size_t(section)])
                                       : QVariant();
    }

private:
    std::vector<JournalCells> m_records;
};

namespace {

QTableView* ReadOnlyTable(QAbstractTableModel* model, QWidget* parent)
{
    auto* table = new QTableView(parent);
    table->setModel(model);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setWordWrap(false);
    // Every row as high as the first: a long journal lays out at once. The rows carry their
    // number in the first column; a second one at the side would only mislead.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->verticalHeader()->hide();
    // Each column as wide as the widest of the first rows: measuring a long journal's every
    // row would hold the window up.
    table->horizontalHeader()->setResizeContentsPrecision(200);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

} // namespace

frmHistory::frmHistory(const QString& journalPath, CommonDialog& save, MessageFunction message,
                       QWidget* parent)
    : SideWindow(parent)
    , m_journalPath(journalPath)
    , m_save(save)
    , m_message(std::move(message))
    , m_acquisitions(new HistoryModel(this))
    , m_records(new JournalRecordsModel(this))
{
    setWindowTitle(tr("History"));
    setFont(DesignFont("Arial", 9));
    lblAcquisitions = new QLabel(tr("Acquisitions, newest first"), this);
    lstAcquisitions = ReadOnlyTable(m_acquisitions, this);
    lblRecords = new QLabel(this);
    grdRecords = ReadOnlyTable(m_records, this);
    cmdSave = new QPushButton(tr("Save as CSV"), this);
    cmdSave->setEnabled(false);
    cmdSave->setAutoDefault(true); // Enter presses it, as Space does
    lblAcquisitions->setBuddy(lstAcquisitions);
    lblRecords->setBuddy(grdRecords);
    // A block of records' cells, as a drag or Shift with the arrows makes it, copied with
    // Ctrl+C into a spreadsheet.
    grdRecords->setSelectionBehavior(QAbstractItemView::SelectItems);
    grdRecords->setSelectionMode(QAbstractItemView::ContiguousSelection);
    OfferCellCopy(*grdRecords);
    // For a screen reader the captions, which also tell of a journal that cannot be read and
    // of how many records there are, are the descriptions.
    lstAcquisitions->setAccessibleName(tr("Acquisitions"));
    grdRecords->setAccessibleName(tr("Records"));
    NameControls({{lblAcquisitions, "lblAcquisitions"},
                  {lstAcquisitions, "lstAcquisitions"},
                  {lblRecords, "lblRecords"},
                  {grdRecords, "grdRecords"},
                  {cmdSave, "cmdSave"}});

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblAcquisitions);
    layout->addWidget(lstAcquisitions, 1);
    layout->addWidget(lblRecords);
    layout->addWidget(grdRecords, 2);
    layout->addWidget(cmdSave, 0, Qt::AlignRight);

    connect(lstAcquisitions->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &frmHistory::ShowChosen);
    connect(cmdSave, &QPushButton::clicked, this, &frmHistory::cmdSave_Click);
    Reload();
}

frmHistory::~frmHistory() = default;

const JournalEntry* frmHistory::ChosenEntry() const
{
    const QModelIndex current = lstAcquisitions->currentIndex();
    if (!current.isValid())
        return nullptr;
    return &m_acquisitions->entries()[std::size_t(current.row())];
}

qint64 frmHistory::Chosen() const
{
    const JournalEntry* entry = ChosenEntry();
    return entry ? entry->number : 0;
}

void frmHistory::Reload()
{
    const qint64 chosen = Chosen();
    JournalReader reader(m_journalPath);
    const Result<> opened = reader.open();
    std::vector<JournalEntry> entries;
    if (opened)
        entries = reader.Entries();
    m_acquisitions->setEntries(std::move(entries));
    lblAcquisitions->setText(opened ? tr("Acquisitions, newest first") : opened.Reason());
    lstAcquisitions->setAccessibleDescription(lblAcquisitions->text());
    const auto& listed = m_acquisitions->entries();
    int row = 0;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (listed[i].number == chosen)
            row = int(i);
    }
    if (listed.empty())
        ShowChosen();
    else
        lstAcquisitions->setCurrentIndex(m_acquisitions->index(row, 0));
    lstAcquisitions->resizeColumnsToContents();
}

QSize frmHistory::sizeHint() const
{
    // Wide enough for every column of both lists, within the screen.
    const auto width = [](const QTableView* table) {
        int sum = 2 * table->frameWidth() + table->verticalScrollBar()->sizeHint().width();
        for (int column = 0; column < table->model()->columnCount(); ++column)
            sum += table->horizontalHeader()->sectionSize(column);
        return sum;
    };
    const QMargins margins = layout()->contentsMargins();
    const int wanted =
        std::max(width(lstAcquisitions), width(grdRecords)) + margins.left() + margins.right();
    const QRect room = screen()->availableGeometry();
    return {std::min(std::max(wanted, 720), room.width() * 9 / 10),
            std::min(560, room.height() * 9 / 10)};
}

void frmHistory::ShowChosen()
{
    const qint64 number = Chosen();
    std::vector<JournalCells> records;
    if (number > 0) {
        JournalReader reader(m_journalPath);
        if (reader.open())
            records = reader.Records(number);
    }
    m_records->setRecords(std::move(records));
    grdRecords->resizeColumnsToContents();
    lblRecords->setText(
        number > 0
            ? tr("Records of acquisition %1: %2").arg(number).arg(m_records->records().size())
            : tr("Records"));
    grdRecords->setAccessibleDescription(lblRecords->text());
    cmdSave->setEnabled(!m_records->records().empty());
}

QString frmHistory::ProposedName(const JournalEntry& entry, const QString& lastSaved)
{
    // A name of its own, never the last file saved: Enter must not put these records over
    // another acquisition's. In the folder last used, where the operator keeps them.
    const QString name =
        QStringLiteral("qm6200-%1-acquisition-%2.csv")
            .arg(entry.sent.toLocalTime().toString(QStringLiteral("yyyy-MM-ddTHHmm")))
            .arg(entry.number);
    return lastSaved.isEmpty() ? name : QDir(lastSaved).filePath(name);
}

void frmHistory::cmdSave_Click()
{
    const JournalEntry* entry = ChosenEntry();
    if (!entry)
        return;
    const qint64 number = entry->number;
    m_save.setFileName(ProposedName(*entry, m_save.Folder()));
    if (!m_save.ShowSave())
        return;
    const QString path = m_save.FileName();
    if (path.isEmpty())
        return;
    std::string content;
    for (const JournalCells& cells : m_records->records())
        content += CsvLine(std::vector<std::string>(cells.begin(), cells.end()));
    const SaveResult saved = WriteWholeFile(path, content);
    if (!saved)
        m_message(
            SaveFailureText(tr("the records of acquisition %1").arg(number), path, saved.Error()));
}

} // namespace qm
