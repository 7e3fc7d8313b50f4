#include "AppIdentity.h"
#include "LinkState.h"
#include "SerialBackend.h"
#include "frmMain.h"

#include <QApplication>

namespace qm {

// The program's start: the link state for this run, the main window, then the choice of
// the port.
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
    QApplication::setApplicationDisplayName(QString::fromLatin1(qm::AppTitle));
    return qm::SubMain(app);
}
