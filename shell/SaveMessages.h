#pragma once

#include "files/SafeWrite.h"
#include "records/CsvExport.h"

#include <QDateTime>
#include <QString>

namespace qm {

// What the operator is told when records could not be saved to `path`: why, what became of
// the file, and that `what` ("the table", say) is still there to be saved again.
QString SaveFailureText(const QString& what, const QString& path, const SaveFailure& saved);

// The name a CSV of the journal's is offered under: the time, the kind ("acquisition",
// "watch") and the number, in the folder last used (`lastSaved`), if any.
QString ProposedCsvName(const QDateTime& sent, const char* kind, qint64 number,
                        const QString& lastSaved);

} // namespace qm
