#include "AppIdentity.h"
#include "Appearance.h"
#include "LinkState.h"
#include "SerialBackend.h"
#include "frmMain.h"

#include <QApplication>

namespace qm {

// The program's start: the link state for this run; the main window, loaded (the splash
// screen shows during the load) and then shown; the choice of the port; then the events.
int SubMain(QApplication& app)
{
    LinkState link;
    frmMain window(link, std::make_unique<SerialBackend>());
    window.Form_Load();
    window.show();
    window.menuPort_Click();
    return app.exec();
}

} // namespace qm

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qm6200-datalink"));
    // Lets the desktop match the windows with the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("net.qm6200.DataLink"));
    qm::SetUpAppearance();
    return qm::SubMain(app);
}
