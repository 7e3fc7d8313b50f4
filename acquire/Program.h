#pragma once

#include <QStringList>

namespace qm::acquire {

// The whole run of qm6200-acquire after the program's start: the options read, the port
// opened, the run on it, its messages, and the exit status returned. Never ends the process
// itself, so that the port is always closed on the way out.
int Run(const QStringList& arguments);

} // namespace qm::acquire
