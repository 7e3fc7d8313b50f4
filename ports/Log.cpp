#include "ports/Log.h"

// Quiet unless asked for: a terminal the program was started from is the operator's, not the
// maintainers'. Only a critical message, which none of them is meant to be, would show.
Q_LOGGING_CATEGORY(lcLink, "qm6200.link", QtCriticalMsg)
