// Shows the port dialog over a made-up computer's ports, opens its list, and writes one
// picture of both (the list is a window of its own) as PNG to standard output.
//   qm6200-port-list-shot SYSFS UDEV-DATA DEV > port-list.png
// tools/screenshots.sh makes the tree and runs this; the program itself always looks at the
// real /sys, /run/udev/data and /dev.

#include "ports/PortList.h"
#include "ports/PortNames.h"
#include "shell/Appearance.h"
#include "ui/frmPORT.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: qm6200-port-list-shot SYSFS UDEV-DATA DEV > picture.png\n");
        return 2;
    }
    QApplication app(argc, argv);
    qm::SetUpAppearance();
    const qm::SystemRoots roots{QFile::decodeName(argv[1]), QFile::decodeName(argv[2]),
                                QFile::decodeName(argv[3])};
    qm::frmPORT dialog(
        qm::PortSelection{}, [](const qm::PortSelection&) { return qm::Result<>(); },
        [](const QString&) {}, nullptr, roots);
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("Combo1"));
    // The first found port chosen, as an operator picks an adapter.
    if (combo->count() > qm::PortEntries)
        combo->setCurrentIndex(qm::PortEntries);
    dialog.move(40, 40);
    dialog.show();

    int status = 1;
    QTimer::singleShot(500, [&] { combo->showPopup(); });
    QTimer::singleShot(1200, [&] {
        QWidget* list = combo->view()->window();
        const QRect dialogRect(dialog.mapToGlobal(QPoint(0, 0)), dialog.size());
        const QRect listRect(list->mapToGlobal(QPoint(0, 0)), list->size());
        const QRect whole = dialogRect.united(listRect);
        QImage picture(whole.size(), QImage::Format_ARGB32_Premultiplied);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        painter.drawPixmap(dialogRect.topLeft() - whole.topLeft(), dialog.grab());
        painter.drawPixmap(listRect.topLeft() - whole.topLeft(), list->grab());
        painter.end();
        QFile out;
        if (out.open(stdout, QIODevice::WriteOnly) && picture.save(&out, "PNG"))
            status = 0;
        app.quit();
    });
    app.exec();
    return status;
}
