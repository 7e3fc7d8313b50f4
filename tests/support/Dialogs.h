#pragma once

// Answering the program's modal windows from a test.

#include "ui/CommonDialog.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <functional>

namespace qm::test {

// The export's save dialog, answering as the operator would: a path, or a cancel.
struct ScriptedDialog : CommonDialog {
    QString answer; // the path chosen; with `cancel`, nothing is chosen
    int type = 0;   // the file type chosen
    bool cancel = false;
    QStringList shownWith; // FileName at each showing

    bool ShowSave() override
    {
        shownWith << FileName();
        if (cancel)
            return false;
        setFileName(answer);
        setFilterIndex(type);
        return true;
    }
};

// Lets everything already queued run, so that a check that nothing more happens comes after
// whatever could still make it happen: a marker posted now is handled after all of it.
inline void ProcessQueued()
{
    bool reached = false;
    QTimer::singleShot(0, [&reached] { reached = true; });
    while (!reached)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Runs `act` on the modal window that the next call opens, once it is up.
inline void OnNextModal(std::function<void(QWidget*)> act)
{
    QTimer::singleShot(0, [act = std::move(act)] {
        QWidget* modal = QApplication::activeModalWidget();
        QVERIFY(modal);
        act(modal);
    });
}

} // namespace qm::test
