#pragma once

#include <QLoggingCategory>

namespace qm {

// Diagnostics of the windows and the program's start and end, for maintainers; never
// shown to the operator.
Q_DECLARE_LOGGING_CATEGORY(lcShell)

} // namespace qm
