#include "process/StopSignals.h"
#include "serial/MakeSerialBackend.h"
#include "shell/AppIdentity.h"
#include "shell/Appearance.h"
#include "shell/frmMain.h"
#include "ui/CommonDialog.h"

#include <QApplication>
#include <QTemporaryDir>

namespace qm {

// The program's start: the main window, loaded (the splash screen shows during the load)
// and then shown; the choice of the port; then the events.
// A stop signal at any point ends the run as "Finish" does.
int SubMain(QApplication& app)
{
    frmMain window(MakeSerialBackend());
    StopSignals stop;
    QObject::connect(&stop, &StopSignals::Requested, &window, &frmMain::EndRun);
    window.Load();
    if (!window.Ending()) {
        window.show();
        window.ChoosePort();
    }
    // Asked to end before the events began: the window has unloaded already.
    if (window.Ending())
        return 0;
    return app.exec();
}

} // namespace qm

int main(int argc, char* argv[])
{
    qm::StopSignals::Block();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qm6200-datalink"));
    // Lets the desktop match the windows with the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("net.qm6200.DataLink"));
    qm::SetUpAppearance();
    // What Qt's dialogs keep of their own goes with the run.
    const QTemporaryDir qtMemory;
    qm::CommonDialog::KeepQtMemoryIn(qtMemory.path());
    return qm::SubMain(app);
}
