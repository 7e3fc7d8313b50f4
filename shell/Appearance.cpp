#include "shell/Appearance.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>

namespace qm {

namespace {

// Debian's free Tahoma (package fonts-wine), made to Tahoma's widths: the captions fill the
// design's boxes as they were meant to. It lies outside fontconfig's folders, so this program
// loads it for itself and leaves the rest of the desktop as it is. Its regular face alone: the
// bold file beside it carries regular-weight strokes, and without it Qt draws the bold captions
// by emboldening the regular face, in the same widths.
constexpr const char* TahomaFile = "/usr/share/wine/fonts/tahoma.ttf";

struct Substitute {
    const char* family;
    const char* freeFamily; // from Debian's font packages, close in width and height
    const char* fallback;   // where that package is missing
};

constexpr Substitute Substitutes[] = {
    // The same metrics.
    {"Arial", "Liberation Sans", "Liberation Sans"},
    // Where Wine's Tahoma is missing: about as wide, a little taller.
    {"Tahoma", "DejaVu Sans Condensed", "DejaVu Sans Condensed"},
    // A humanist sans with the same x-height (0.53 of the em) and tall lines; DejaVu Sans is
    // as tall but wider.
    {"Lucida Sans Unicode", "Open Sans", "DejaVu Sans"},
};

} // namespace

void SetUpAppearance()
{
    if (const QString path = QString::fromLatin1(TahomaFile); QFile::exists(path))
        QFontDatabase::addApplicationFont(path);
    const QStringList families = QFontDatabase::families();
    for (const Substitute& s : Substitutes) {
        const QString family = QString::fromLatin1(s.family);
        if (families.contains(family, Qt::CaseInsensitive))
            continue;
        QFont::insertSubstitutions(
            family, {QString::fromLatin1(s.freeFamily), QString::fromLatin1(s.fallback)});
    }

    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/pictures/icon-%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
}

} // namespace qm
