#pragma once

#include <QLoggingCategory>

// The records' controls: the table and what is asked of it (QT_LOGGING_RULES, as every
// category of the program's).
Q_DECLARE_LOGGING_CATEGORY(lcRecords)
