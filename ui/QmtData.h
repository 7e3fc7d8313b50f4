#pragma once

#include "ui/LiveRefresh.h"

#include <QString>
#include <QTableView>

#include <cstdint>
#include <vector>

namespace qm {

class GridModel;

// The record grid: Cols × Rows cells addressed (row, column), row first. Row 0 is the
// fixed header row (shown as the column headers, so it never scrolls away) and column 0
// the fixed column, drawn in the header style. Cells cannot be edited, and an address
// outside the grid is neither written nor read.
//
// The arrow keys move through the cells, Shift with them selects a block, and Ctrl+C copies
// the block as a spreadsheet pastes it. A screen reader is told how many rows hold a record
// (RecordsShownText) as its description.
class QmtData : public QTableView {
    Q_OBJECT

public:
    // Alignment setting for text centred both ways; settings 0 to 8 run left, centre,
    // right, each top, centre, bottom.
    static constexpr int flexAlignCenterCenter = 4;

    explicit QmtData(QWidget* parent = nullptr);
    ~QmtData() override;

    int Cols() const;
    void setCols(int cols);
    int Rows() const;
    void setRows(int rows);

    // Widths in twips (15 twips are one pixel).
    int ColWidth(int col) const;
    void setColWidth(int col, int twips);

    int ColAlignment(int col) const;
    void setColAlignment(int col, int setting);

    QString TextMatrix(int row, int col) const;
    // False (and nothing written) for an address outside the grid.
    bool setTextMatrix(int row, int col, const QString& text);

    // Reads and writes that named a cell outside the grid and were refused: each one is a
    // fault in the caller.
    std::int64_t OutsideAccesses() const { return m_outsideAccesses; }

    // The data rows that hold any text.
    int FilledRows() const;
    static QString RecordsShownText(int rows);

private:
    GridModel* m_model;
    mutable std::int64_t m_outsideAccesses = 0;
    std::vector<int> m_colWidths;
    // The description follows the cells ten times a second, not with each cell.
    LiveRefresh m_describe;
};

} // namespace qm
