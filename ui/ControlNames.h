#pragma once

#include <QObject>

#include <initializer_list>
#include <utility>

namespace qm {

// Gives each control the name the window's design uses for it: the windows keep their
// controls to themselves, and whoever needs one (a test) finds it by that name.
inline void NameControls(std::initializer_list<std::pair<QObject*, const char*>> controls)
{
    for (const auto& [control, name] : controls)
        control->setObjectName(QLatin1String(name));
}

} // namespace qm
