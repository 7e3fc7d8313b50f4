#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRect>
#include <QString>
#include <QWidget>

#include <initializer_list>
#include <utility>

namespace qm {

// Window layouts are given in twips; 15 twips make one pixel at 96 dots per inch. Qt scales
// these device-independent pixels on high-DPI screens.
inline constexpr int Px(int twips)
{
    return (twips + 7) / 15;
}

inline constexpr QRect TwipsRect(int left, int top, int width, int height)
{
    return QRect(Px(left), Px(top), Px(width), Px(height));
}

// Puts a control where the window's design has it.
template<typename Widget>
Widget* Place(Widget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(TwipsRect(left, top, width, height));
    return widget;
}

// Gives each control the name the window's design uses for it: the windows keep their
// controls to themselves, and whoever needs one (a test) finds it by that name.
inline void NameControls(std::initializer_list<std::pair<QObject*, const char*>> controls)
{
    for (const auto& [control, name] : controls)
        control->setObjectName(QLatin1String(name));
}

// A font as the window's design names it; families missing on this system are mapped to
// close free ones at start-up.
inline QFont DesignFont(const char* family, double points, bool bold = false)
{
    QFont font(QString::fromLatin1(family));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// How often what changes with each received character is redrawn: about ten times a
// second, which the eye still reads as live, not once per character.
inline constexpr int LiveRefreshMs = 100;

// A main window with a fixed border, a close box and no minimise or maximise box.
inline constexpr Qt::WindowFlags MainWindowFlags =
    Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
    | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint;

// A dialog with a fixed border, a close box and no minimise or maximise box.
inline constexpr Qt::WindowFlags FixedDialogFlags =
    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
    | Qt::CustomizeWindowHint;

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
