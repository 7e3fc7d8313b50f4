#include "ui/TableCopy.h"

#include "records/CellCopy.h"

#include <QAbstractItemView>
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QItemSelectionModel>

namespace qm {

QString SelectedCellsText(const QAbstractItemView& view)
{
    const QAbstractItemModel* model = view.model();
    if (!model || !view.selectionModel())
        return {};
    std::vector<CellPlace> places;
    for (const QModelIndex& cell : view.selectionModel()->selectedIndexes())
        places.push_back({cell.row(), cell.column()});
    return TabSeparatedCells(places, [model](int row, int column) {
        return model->index(row, column).data(Qt::DisplayRole).toString();
    });
}

QAction* OfferCellCopy(QAbstractItemView& view)
{
    auto* copy = new QAction(QAbstractItemView::tr("Copy"), &view);
    copy->setShortcut(QKeySequence::Copy);
    // Only while the table has the focus: elsewhere Ctrl+C is the focused control's own.
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    QObject::connect(copy, &QAction::triggered, &view, [&view] {
        const QString text = SelectedCellsText(view);
        if (!text.isEmpty())
            QGuiApplication::clipboard()->setText(text);
    });
    view.addAction(copy);
    view.setContextMenuPolicy(Qt::ActionsContextMenu);
    return copy;
}

} // namespace qm
