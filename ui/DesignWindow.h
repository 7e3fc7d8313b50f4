#pragma once

#include "ui/Twips.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>
#include <QWidget>

namespace qm {

// A main window with a fixed border, a close box and no minimise or maximise box.
inline constexpr Qt::WindowFlags MainWindowFlags =
    Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
    | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;

// A dialog with a fixed border, a close box and no minimise or maximise box.
inline constexpr Qt::WindowFlags FixedDialogFlags =
    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
    | Qt::CustomizeWindowHint;

// A font as the window's design names it; families missing on this system are mapped to
// close free ones at start-up.
inline QFont DesignFont(const char* family, double points, bool bold = false)
{
    QFont font(QString::fromLatin1(family));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Caption, client size in twips, background colour and the font of the controls that
// have none of their own, as a window's design gives them.
inline void DesignWindow(QWidget& window, const QString& caption, int widthTwips, int heightTwips,
                         const QColor& background, const QFont& font)
{
    window.setWindowTitle(caption);
    window.setFixedSize(Px(widthTwips), Px(heightTwips));
    QPalette colours = window.palette();
    colours.setColor(QPalette::Window, background);
    window.setPalette(colours);
    window.setAutoFillBackground(true);
    window.setFont(font);
}

} // namespace qm
