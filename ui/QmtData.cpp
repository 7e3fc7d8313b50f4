#include "ui/QmtData.h"

#include "ui/Log.h"
#include "ui/TableCopy.h"
#include "ui/Twips.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QLoggingCategory>
#include <QPalette>

namespace qm {

// Holds every cell's text. The view shows grid rows 1 and on; grid row 0 supplies the
// column headers.
class GridModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    int gridRows() const { return m_rows; }
    int gridCols() const { return m_cols; }

    bool contains(int row, int col) const
    {
        return row >= 0 && row < m_rows && col >= 0 && col < m_cols;
    }

    const QString& cell(int row, int col) const
    {
        return m_cells[static_cast<std::size_t>(row * m_cols + col)];
    }

    void resize(int rows, int cols)
    {
        rows = qMax(rows, 0);
        cols = qMax(cols, 0);
        beginResetModel();
        std::vector<QString> cells(static_cast<std::size_t>(rows * cols));
        for (int r = 0; r < qMin(rows, m_rows); ++r) {
            for (int c = 0; c < qMin(cols, m_cols); ++c)
                cells[static_cast<std::size_t>(r * cols + c)] = cell(r, c);
        }
        m_cells.swap(cells);
        m_rows = rows;
        m_cols = cols;
        m_alignments.resize(static_cast<std::size_t>(cols), 0);
        endResetModel();
    }

    void setCell(int row, int col, const QString& text)
    {
        QString& target = m_cells[static_cast<std::size_t>(row * m_cols + col)];
        if (target == text)
            return;
        target = text;
        if (row == 0) {
            emit headerDataChanged(Qt::Horizontal, col, col);
        } else {
            const QModelIndex at = index(row - 1, col);
            emit dataChanged(at, at, {Qt::DisplayRole});
        }
    }

    int alignment(int col) const { return m_alignments[static_cast<std::size_t>(col)]; }

    void setAlignment(int col, int setting)
    {
        m_alignments[static_cast<std::size_t>(col)] = setting;
        if (m_rows > 1)
            emit dataChanged(index(0, col), index(m_rows - 2, col), {Qt::TextAlignmentRole});
    }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : qMax(m_rows - 1, 0);
    }

    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : m_cols;
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || !contains(index.row() + 1, index.column()))
            return {};
        switch (role) {
        case Qt::DisplayRole:
            return cell(index.row() + 1, index.column());
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(AlignmentFor(alignment(index.column())));
        case Qt::BackgroundRole:
            // The fixed column looks like the header row.
            if (index.column() == 0)
                return QPalette().button();
            return {};
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && contains(0, section))
            return cell(0, section);
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

private:
    static Qt::Alignment AlignmentFor(int setting)
    {
        static constexpr Qt::Alignment horizontal[] = {Qt::AlignLeft, Qt::AlignHCenter,
                                                       Qt::AlignRight};
        static constexpr Qt::Alignment vertical[] = {Qt::AlignTop, Qt::AlignVCenter,
                                                     Qt::AlignBottom};
        if (setting < 0 || setting > 8)
            return Qt::AlignLeft | Qt::AlignVCenter;
        return horizontal[setting / 3] | vertical[setting % 3];
    }

    int m_rows = 0;
    int m_cols = 0;
    std::vector<QString> m_cells;
    std::vector<int> m_alignments;
};

QmtData::QmtData(QWidget* parent)
    : QTableView(parent)
    , m_model(new GridModel(this))
    , m_describe([this] {
        const QString text = RecordsShownText(FilledRows());
        if (text != accessibleDescription())
            setAccessibleDescription(text);
    })
{
    setModel(m_model);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Tab moves on to the next control, not from cell to cell.
    setTabKeyNavigation(false);
    // A range of cells, as a drag or Shift with the arrows makes it: a row for the chart, a
    // block for a copy.
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(16);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setFixedHeight(17);
    OfferCellCopy(*this);
    connect(m_model, &QAbstractItemModel::dataChanged, &m_describe, &LiveRefresh::Changed);
    connect(m_model, &QAbstractItemModel::modelReset, &m_describe, &LiveRefresh::Changed);
    setAccessibleDescription(RecordsShownText(0));
}

int QmtData::FilledRows() const
{
    int filled = 0;
    for (int row = 1; row < m_model->gridRows(); ++row) {
        for (int col = 0; col < m_model->gridCols(); ++col) {
            if (!m_model->cell(row, col).isEmpty()) {
                ++filled;
                break;
            }
        }
    }
    return filled;
}

QString QmtData::RecordsShownText(int rows)
{
    if (rows == 0)
        return tr("No records shown");
    return rows == 1 ? tr("1 record shown") : tr("%1 records shown").arg(rows);
}

QmtData::~QmtData() = default;

int QmtData::Cols() const
{
    return m_model->gridCols();
}

void QmtData::setCols(int cols)
{
    m_model->resize(m_model->gridRows(), cols);
    m_colWidths.resize(static_cast<std::size_t>(m_model->gridCols()), 0);
}

int QmtData::Rows() const
{
    return m_model->gridRows();
}

void QmtData::setRows(int rows)
{
    m_model->resize(rows, m_model->gridCols());
}

int QmtData::ColWidth(int col) const
{
    if (col < 0 || col >= Cols())
        return 0;
    return m_colWidths[static_cast<std::size_t>(col)];
}

void QmtData::setColWidth(int col, int twips)
{
    if (col < 0 || col >= Cols() || twips < 0) {
        qCWarning(lcRecords) << "column width outside the grid:" << col << twips;
        return;
    }
    m_colWidths[static_cast<std::size_t>(col)] = twips;
    setColumnWidth(col, Px(twips));
}

int QmtData::ColAlignment(int col) const
{
    if (col < 0 || col >= Cols())
        return 0;
    return m_model->alignment(col);
}

void QmtData::setColAlignment(int col, int setting)
{
    if (col < 0 || col >= Cols()) {
        qCWarning(lcRecords) << "column alignment outside the grid:" << col;
        return;
    }
    m_model->setAlignment(col, setting);
}

QString QmtData::TextMatrix(int row, int col) const
{
    if (!m_model->contains(row, col)) {
        ++m_outsideAccesses;
        return {};
    }
    return m_model->cell(row, col);
}

bool QmtData::setTextMatrix(int row, int col, const QString& text)
{
    if (!m_model->contains(row, col)) {
        qCWarning(lcRecords) << "cell outside the grid:" << row << col;
        ++m_outsideAccesses;
        return false;
    }
    m_model->setCell(row, col, text);
    return true;
}

} // namespace qm
