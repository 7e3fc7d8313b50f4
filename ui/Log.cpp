#include "ui/Log.h"

Q_LOGGING_CATEGORY(lcRecords, "qm6200.records", QtCriticalMsg)
