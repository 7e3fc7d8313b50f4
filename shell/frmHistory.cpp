#include "shell/frmHistory.h"

#include "files/SafeWrite.h"
#include "journal/JournalReader.h"
#include "records/CsvExport.h"
#include "records/RecordLayout.h"
#include "shell/SaveMessages.h"
#include "ui/ControlNames.h"
#include "ui/DesignWindow.h"
#include "ui/TableCopy.h"
#include "watch/WatchCsv.h"
#include "watch/WatchTime.h"

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

#include <algorithm>
#include <cstdlib>
#include <variant>

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

} // namespace

// The acquisitions and the watches, newest first: when, where, what, how many records (or
// readings) and how it ended (or until when the watch ran).
class HistoryModel : public QAbstractTableModel {
public:
    using Row = std::variant<JournalEntry, JournalWatchEntry>;
    using QAbstractTableModel::QAbstractTableModel;

    void setEntries(std::vector<JournalEntry> entries, std::vector<JournalWatchEntry> watches)
    {
        beginResetModel();
        m_rows.clear();
        m_rows.reserve(entries.size() + watches.size());
        for (JournalEntry& entry : entries)
            m_rows.emplace_back(std::move(entry));
        for (JournalWatchEntry& watch : watches)
            m_rows.emplace_back(std::move(watch));
        // Both come newest first; a watch goes by its first reading's number.
        std::stable_sort(m_rows.begin(), m_rows.end(),
                         [](const Row& a, const Row& b) { return NumberOf(a) > NumberOf(b); });
        endResetModel();
    }
    // With a lab's database set: a column of what it confirmed.
    void setLabShown(bool shown)
    {
        if (shown == m_lab)
            return;
        beginResetModel();
        m_lab = shown;
        endResetModel();
    }
    const std::vector<Row>& rows() const { return m_rows; }
    static qint64 NumberOf(const Row& row)
    {
        return std::visit([](const auto& entry) { return entry.number; }, row);
    }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : m_lab ? Columns + 1 : Columns;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return {};
        if (role == Qt::TextAlignmentRole) {
            const bool number = index.column() == 0 || index.column() == 4;
            return QVariant::fromValue(number ? Qt::Alignment(Qt::AlignCenter)
                                              : Qt::AlignLeft | Qt::AlignVCenter);
        }
        const Row& row = m_rows[std::size_t(index.row())];
        if (const auto* watch = std::get_if<JournalWatchEntry>(&row))
            return WatchData(*watch, index.column(), role);
        const JournalEntry& entry = std::get<JournalEntry>(row);
        if (role == Qt::ToolTipRole && index.column() == 2 && !entry.stableName.isEmpty())
            return entry.stableName;
        if (role == Qt::ToolTipRole && index.column() == Columns && !entry.labRefused.isEmpty())
            return entry.labRefused;
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
        case Columns:
            return entry.labSent.isValid()      ? QObject::tr("sent")
                   : entry.labRefused.isEmpty() ? QObject::tr("waiting")
                                                : QObject::tr("refused: %1").arg(entry.labRefused);
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const char* const names[Columns + 1] = {"No.",     "Time",    "Port", "Command",
                                                       "Records", "Outcome", "Lab"};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section <= Columns)
            return QString::fromLatin1(names[section]);
        return {};
    }

private:
    // A watch on one line: its ports, its command and interval, its readings, until when.
    static QVariant WatchData(const JournalWatchEntry& watch, int column, int role)
    {
        if (role != Qt::DisplayRole)
            return {};
        switch (column) {
        case 0:
            return watch.number;
        case 1:
            return LocalTimeText(watch.first);
        case 2:
            return watch.watch.ports.join(QStringLiteral(", "));
        case 3:
            return QObject::tr("%1 every %2 s")
                .arg(CommandText(watch.watch.frame))
                .arg(double(watch.watch.every.count()) / 1000);
        case 4:
            return watch.readings;
        case 5: {
            QString text = QObject::tr("watch until %1").arg(LocalTimeText(watch.last));
            if (watch.noted > 0)
                text += QObject::tr(", %n with a note", nullptr, int(watch.noted));
            return text;
        }
        case Columns:
            return watch.labWaiting == 0 ? QObject::tr("sent")
                                         : QObject::tr("%1 waiting").arg(watch.labWaiting);
        default:
            return {};
        }
    }

    static constexpr int Columns = 6; // and Lab after them, when shown
    std::vector<Row> m_rows;
    bool m_lab = false;
};

// What was chosen holds: an acquisition's records as the table showed them, or a watch's
// readings as its CSV gives them. The cells are the bytes of the CSV, one per character for
// the records, UTF-8 for a watch's port names and notes.
class JournalRecordsModel : public QAbstractTableModel {
public:
    using Cells = std::vector<std::string>;
    using QAbstractTableModel::QAbstractTableModel;

    void setRows(QStringList headers, std::vector<Cells> rows, bool utf8)
    {
        beginResetModel();
        m_headers = std::move(headers);
        m_rows = std::move(rows);
        m_utf8 = utf8;
        endResetModel();
    }
    const std::vector<Cells>& rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_headers.size());
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid())
            return {};
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
        if (role != Qt::DisplayRole)
            return {};
        const std::string& cell = m_rows[std::size_t(index.row())][std::size_t(index.column())];
        return m_utf8 ? QString::fromUtf8(cell.data(), qsizetype(cell.size()))
                      : QString::fromLatin1(cell.data(), qsizetype(cell.size()));
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (role != Qt::DisplayRole)
            return {};
        if (orientation == Qt::Vertical)
            return section + 1;
        return m_headers.value(section);
    }

private:
    QStringList m_headers;
    std::vector<Cells> m_rows;
    bool m_utf8 = false;
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
                       QWidget* parent, bool labShown)
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
    m_acquisitions->setLabShown(labShown);
    Reload();
}

frmHistory::~frmHistory() = default;

const std::variant<JournalEntry, JournalWatchEntry>* frmHistory::ChosenRow() const
{
    const QModelIndex current = lstAcquisitions->currentIndex();
    if (!current.isValid())
        return nullptr;
    return &m_acquisitions->rows()[std::size_t(current.row())];
}

qint64 frmHistory::Chosen() const
{
    const HistoryModel::Row* row = ChosenRow();
    return row ? HistoryModel::NumberOf(*row) : 0;
}

void frmHistory::Reload()
{
    const qint64 chosen = Chosen();
    JournalReader reader(m_journalPath);
    const Result<> opened = reader.open();
    std::vector<JournalEntry> entries;
    std::vector<JournalWatchEntry> watches;
    if (opened) {
        entries = reader.Entries();
        watches = reader.Watches();
    }
    m_acquisitions->setEntries(std::move(entries), std::move(watches));
    lblAcquisitions->setText(opened ? tr("Acquisitions, newest first") : opened.Reason());
    lstAcquisitions->setAccessibleDescription(lblAcquisitions->text());
    const auto& listed = m_acquisitions->rows();
    int row = 0;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        if (HistoryModel::NumberOf(listed[i]) == chosen)
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
    const HistoryModel::Row* row = ChosenRow();
    const auto* watch = row ? std::get_if<JournalWatchEntry>(row) : nullptr;
    std::vector<JournalRecordsModel::Cells> rows;
    JournalReader reader(m_journalPath);
    const bool open = row && reader.open();
    if (watch) {
        // A long watch is shown from its start, as far as a table stays quick; its CSV holds
        // every reading.
        if (open)
            (void)reader.Readings(watch->number, [&](const JournalReading& reading) {
                JournalRecordsModel::Cells cells{
                    WatchTimeText(reading.time, reading.offsetSeconds).toStdString(),
                    watch->watch.ports.value(reading.port).toStdString()};
                const std::optional<JournalCells> values =
                    reading.note == ReadingNote::None
                        ? ReadingCells(reading.reply, watch->watch.decimalSeparator)
                        : std::nullopt;
                for (std::size_t column = 1; column < RecordColumns; ++column)
                    cells.push_back(values ? (*values)[column] : std::string());
                // As the CSV has it: a reading with no note and no values had no answer.
                const ReadingNote note = values || reading.note != ReadingNote::None
                                             ? reading.note
                                             : ReadingNote::NoAnswer;
                cells.push_back(ReadingNoteText(note, reading.tornBefore).toStdString());
                rows.push_back(std::move(cells));
                return rows.size() < MaxShownReadings;
            });
        QStringList headers{tr("Time"), tr("Port")};
        for (std::size_t column = 1; column < RecordColumns; ++column)
            headers << QString::fromLatin1(RecordHeaders[column]);
        headers << tr("Note");
        m_records->setRows(headers, std::move(rows), true);
        lblRecords->setText(
            m_records->rows().size() < std::size_t(watch->readings)
                ? tr("Readings of watch %1: %2, the first %3 shown")
                      .arg(watch->number)
                      .arg(watch->readings)
                      .arg(m_records->rows().size())
                : tr("Readings of watch %1: %2").arg(watch->number).arg(watch->readings));
    } else {
        if (open) {
            for (const JournalCells& cells : reader.Records(Chosen()))
                rows.emplace_back(cells.begin(), cells.end());
        }
        QStringList headers;
        for (const char* header : RecordHeaders)
            headers << QString::fromLatin1(header);
        m_records->setRows(headers, std::move(rows), false);
        lblRecords->setText(
            row ? tr("Records of acquisition %1: %2").arg(Chosen()).arg(m_records->rows().size())
                : tr("Records"));
    }
    grdRecords->resizeColumnsToContents();
    grdRecords->setAccessibleDescription(lblRecords->text());
    cmdSave->setEnabled(!m_records->rows().empty());
}

void frmHistory::cmdSave_Click()
{
    const HistoryModel::Row* row = ChosenRow();
    if (!row)
        return;
    const qint64 number = HistoryModel::NumberOf(*row);
    const auto* watch = std::get_if<JournalWatchEntry>(row);
    m_save.setFileName(watch ? ProposedCsvName(watch->first, "watch", number, m_save.Folder())
                             : ProposedCsvName(std::get<JournalEntry>(*row).sent, "acquisition",
                                               number, m_save.Folder()));
    if (!m_save.ShowSave())
        return;
    const QString path = m_save.FileName();
    if (path.isEmpty())
        return;
    std::string content;
    if (watch) {
        // Every reading, as the watch wrote its file and "qm6200-acquire history N" writes it.
        JournalReader reader(m_journalPath);
        if (const Result<> opened = reader.open(); !opened)
            return m_message(opened.Reason());
        Result<std::string> csv = WatchCsvOf(reader, *watch);
        if (!csv)
            return m_message(csv.Reason());
        content = std::move(*csv);
    } else {
        for (const JournalRecordsModel::Cells& cells : m_records->rows())
            content += CsvLine(cells);
    }
    const SaveResult saved = WriteWholeFile(path, content);
    if (!saved)
        m_message(SaveFailureText(watch ? tr("the readings of watch %1").arg(number)
                                        : tr("the records of acquisition %1").arg(number),
                                  path, saved.Error()));
}

} // namespace qm
