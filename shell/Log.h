#pragma once

#include <QLoggingCategory>

// The windows, the program's start and its end (QT_LOGGING_RULES, as every category of the
// program's).
Q_DECLARE_LOGGING_CATEGORY(lcShell)
