#pragma once

#include <QLoggingCategory>

// Diagnostics for maintainers, never shown to the operator; each layer has its own category
// ("qm6200.link", "qm6200.journal", ...). Turn them on with QT_LOGGING_RULES="qm6200.*=true".

// The serial line and the ports: ports found, opened, closed and lost, locks, frames
// abandoned.
Q_DECLARE_LOGGING_CATEGORY(lcLink)
