#include "link/Log.h"

Q_LOGGING_CATEGORY(lcLink, "qm6200.link")
Q_LOGGING_CATEGORY(lcRecords, "qm6200.records")
Q_LOGGING_CATEGORY(lcShell, "qm6200.shell")
