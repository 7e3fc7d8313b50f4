#pragma once

#include <QByteArray>
#include <QList>

namespace qm::acquire {

// The whole run of qm6200-acquire after the program's start: the options read, the port
// opened, the run on it, its messages, and the exit status returned. Never ends the process
// itself, so that the port is always closed on the way out. The arguments are the bytes the
// system gave.
int Run(const QList<QByteArray>& arguments);

// Fills standard input, output or error when the caller left them closed, before anything
// is opened: the next file opened (the port, say) would otherwise take that number, and the
// CSV meant for standard output would go there. The stand-ins lead nowhere: writing to them
// fails, reading finds the end at once.
void KeepStandardDescriptors();

} // namespace qm::acquire
