#include "ui/SideWindow.h"

#include "ui/WindowCentring.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QCloseEvent>
#include <QShortcut>

namespace qm {

namespace {

QAccessibleInterface* SideWindowAccessibleFactory(const QString& className, QObject* object)
{
    // Without it a plain widget that is a window reads as a filler.
    if (className == QLatin1String("qm::SideWindow"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

} // namespace

SideWindow::SideWindow(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    static const bool readable = [] {
        QAccessible::installFactory(SideWindowAccessibleFactory);
        return true;
    }();
    Q_UNUSED(readable);
    auto* closeKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(closeKey, &QShortcut::activated, this, &QWidget::close);
}

void SideWindow::ShareMenuKeys(const QList<QAction*>& entries)
{
    for (QAction* entry : entries) {
        const QKeySequence key = QKeySequence::mnemonic(entry->text());
        if (key.isEmpty())
            continue;
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, entry, &QAction::trigger);
    }
}

void SideWindow::Place(const QByteArray& place)
{
    if (!place.isEmpty() && restoreGeometry(place))
        return;
    resize(sizeHint());
    OpenCentred(*this);
}

void SideWindow::closeEvent(QCloseEvent* event)
{
    emit Closing(saveGeometry());
    QWidget::closeEvent(event);
}

} // namespace qm
