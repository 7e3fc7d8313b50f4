#pragma once

#include <QLoggingCategory>

// Diagnostics of the serial link, for maintainers; never shown to the operator.
Q_DECLARE_LOGGING_CATEGORY(lcLink)
