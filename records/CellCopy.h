#pragma once

#include <QString>

#include <functional>
#include <vector>

namespace qm {

// A cell of a table, by its row and column.
struct CellPlace {
    int row = 0;
    int column = 0;
};

// Cells copied as a spreadsheet pastes them: the smallest block of rows and columns that holds
// every place given, a row a line (LF between rows, none after the last), the cells of a row
// separated by tabs; a place of the block that was not given is an empty cell. A cell whose
// text holds a tab, a line end or a double quote is put in double quotes, its quotes doubled,
// so that it stays one cell. `text` gives a cell's text; nothing given, nothing copied.
QString TabSeparatedCells(const std::vector<CellPlace>& places,
                          const std::function<QString(int row, int column)>& text);

} // namespace qm
