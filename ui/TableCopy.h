#pragma once

#include <QString>

class QAbstractItemView;
class QAction;

namespace qm {

// The cells selected in `view` as a spreadsheet pastes them (TabSeparatedCells): the text each
// shows, tab-separated, a row a line.
QString SelectedCellsText(const QAbstractItemView& view);

// Ctrl+C (the platform's copy keys) in `view`, and "Copy" in its context menu, put the selected
// cells on the clipboard as SelectedCellsText gives them, rather than the current cell alone.
QAction* OfferCellCopy(QAbstractItemView& view);

} // namespace qm
