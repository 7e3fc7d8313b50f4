#pragma once

#include "base/Result.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace qm {

// Where the lab's database is: a libpq connection string ("host=db1 dbname=lab") or URI
// ("postgresql://db1/lab"), as one string, and where it was set, for messages.
struct LabDatabase {
    QString conninfo;
    QString setIn; // "--database", or the settings file's path
};

// The folders a lab-wide default is looked for in, in order: $XDG_CONFIG_DIRS, /etc/xdg
// without it.
QStringList SystemConfigFolders();

// The lab's database as set: `option` (--database) when given, else [lab] database= in the
// user's qm6200.conf (`userFile`), else in the first qm6200/qm6200.conf of `systemFolders` that
// sets it. None when none is set. Refused, saying where and what to do, when the value cannot
// be used: it holds a password (which belongs in ~/.pgpass or a service file), libpq cannot
// read it, or it holds commas and was not quoted (the settings file split it into a list).
Result<std::optional<LabDatabase>> FindLabDatabase(const QString& option, const QString& userFile,
                                                   const QStringList& systemFolders);

// Refused as FindLabDatabase refuses it; `setIn` names where it was set.
Result<> CheckConnInfo(const QString& conninfo, const QString& setIn);

// The connection string as it may be shown: every keyword of it but a password, in libpq's
// keyword form ("host=db1 dbname=lab").
QString ShownConnInfo(const QString& conninfo);

} // namespace qm
