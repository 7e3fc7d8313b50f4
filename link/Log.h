#pragma once

#include <QLoggingCategory>

// Diagnostics for maintainers, one category per subsystem; never shown to the operator.
// Turn them on with QT_LOGGING_RULES="qm6200.*=true".

// The serial line: ports opened, closed and lost, frames abandoned.
Q_DECLARE_LOGGING_CATEGORY(lcLink)
// The records: the table and the export.
Q_DECLARE_LOGGING_CATEGORY(lcRecords)
// The windows, the program's start and its end.
Q_DECLARE_LOGGING_CATEGORY(lcShell)
