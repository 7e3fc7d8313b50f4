#pragma once

#include <QList>
#include <QWidget>

class QAction;

namespace qm {

// A window of the program's beside the main one (History, Chart): a window of its own with
// its title, which a screen reader finds as a frame, not as a part of another window. Esc
// closes it, and the main window's menu entries answer their Alt keys from it too.
class SideWindow : public QWidget {
    Q_OBJECT

public:
    explicit SideWindow(QWidget* parent = nullptr);

    // The menu entries whose keys (Alt and the entry's underlined letter) work here as in the
    // window that has the menu.
    void ShareMenuKeys(const QList<QAction*>& entries);

    // Where it opens: where it was when it last closed (`place`, as Closing gave it), or else
    // at its own size, centred on the window it belongs to. Kept on the screen either way.
    void Place(const QByteArray& place);

signals:
    // It closes: its place and size, to open there next time.
    void Closing(const QByteArray& place);

protected:
    void closeEvent(QCloseEvent* event) override;
};

} // namespace qm
