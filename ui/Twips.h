#pragma once

#include <QRect>

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

} // namespace qm
