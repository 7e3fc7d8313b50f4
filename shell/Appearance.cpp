#include "shell/Appearance.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>

namespace qm {

namespace {

struct Substitute {
    const char* family;
    const char* freeFamily; // from Debian's font packages, close in width and height
};

constexpr Substitute Substitutes[] = {
    {"Arial", "Liberation Sans"},           // the same metrics
    {"Tahoma", "DejaVu Sans Condensed"},    // about as wide as Tahoma
    {"Lucida Sans Unicode", "DejaVu Sans"}, // a wide humanist sans, as the original
};

} // namespace

void SetUpAppearance()
{
    const QStringList families = QFontDatabase::families();
    for (const Substitute& s : Substitutes) {
        const QString family = QString::fromLatin1(s.family);
        if (!families.contains(family, Qt::CaseInsensitive))
            QFont::insertSubstitution(family, QString::fromLatin1(s.freeFamily));
    }

    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/pictures/icon-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

} // namespace qm
