#pragma once

#include "base/Result.h"

#include <QString>
#include <QVariantMap>

namespace qm {

// The program's settings file, qm6200.conf: one group of it read, or written with the rest of
// the file kept as it was. A regular file of the user's own (0600) in a folder of theirs
// (0700), read without following a link and written whole beside it and renamed into place
// (ReplaceOwnFile), never through a link. Writing waits for the disk: not for a window's
// thread.

// ${XDG_CONFIG_HOME:-~/.config}/qm6200/qm6200.conf; empty when the user has no such folder.
QString DefaultConfigPath();

// The group's keys and values; none when there is no such file or group. A failure, with why,
// when the file cannot be read, is damaged, or is not a regular file of the user's own in a
// folder of theirs. Reading it brings the folder to 0700 and the file to 0600.
Result<QVariantMap> ReadSettingsGroup(const QString& path, const QString& group);

// Sets the group's keys to `values`; a null or empty value removes its key. The other keys and
// groups stay as they were; a file that may not be read (another user's, a link) is replaced.
Result<> WriteSettingsGroup(const QString& path, const QString& group, const QVariantMap& values);

} // namespace qm
