#include "shell/Log.h"

Q_LOGGING_CATEGORY(lcShell, "qm6200.shell", QtCriticalMsg)
