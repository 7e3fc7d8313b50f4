#pragma once

#include "files/SafeWrite.h"
#include "records/CsvExport.h"

#include <QString>

namespace qm {

// What the operator is told when records could not be saved to `path`: why, what became of
// the file, and that `what` ("the table", say) is still there to be saved again.
QString SaveFailureText(const QString& what, const QString& path, const SaveFailure& saved);

} // namespace qm
