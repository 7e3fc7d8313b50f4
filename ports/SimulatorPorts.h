#pragma once

#include <QString>
#include <QStringList>

namespace qm {

// The instrument simulator (qm6200-sim) plays the instrument on a pseudo-terminal, which the
// port list never shows. While it runs, it announces its device in a file of its own in this
// folder, on which it holds an exclusive flock; it removes the file when it ends. Empty where
// the session has no runtime folder (XDG_RUNTIME_DIR unset, or not an absolute path).
QString SimulatorFolder();

// The devices of the simulators running now, in the order of their numbers, each once. Only
// an announcement whose lock is held counts, and only while its device is a pseudo-terminal
// (or another serial line): the system gives a pseudo-terminal's number to the next one at
// once, so the file of a simulator that was killed outright names a device that may be
// anyone's now. Such a file is left where it is, not removed: between looking at it and
// removing it, a new simulator of the same process number could have put its own file under
// that name, and the list would take away a running simulator. A later simulator of that
// number replaces it, and the runtime folder goes with the session.
QStringList RunningSimulators(const QString& folder = SimulatorFolder());

// A simulator's line in the port list.
QString SimulatorListText(const QString& device);

} // namespace qm
