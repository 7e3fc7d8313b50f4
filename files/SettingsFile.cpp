#include "files/SettingsFile.h"

#include "files/OwnFiles.h"
#include "files/SafeWrite.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

Result<> SettingsStatus(const QSettings& settings, const QString& shownAs)
{
    switch (settings.status()) {
    case QSettings::NoError:
        return {};
    case QSettings::AccessError:
        return Failure{QStringLiteral("%1 cannot be read or written").arg(shownAs)};
    case QSettings::FormatError:
        return Failure{QStringLiteral("%1 is damaged").arg(shownAs)};
    }
    return {};
}

// The file in its folder as the system reaches it, once the folder is the user's own (empty
// when the folder is not there); or why it may not be used.
Result<QString> OwnConfigFile(const QString& path, bool make)
{
    const QFileInfo named(path);
    const OwnPath folder = PrepareOwnFolder(named.absolutePath(), make);
    if (!folder || folder->isEmpty())
        return folder;
    return *folder + QLatin1Char('/') + named.fileName();
}

// The bytes of a regular file of the user's own, read without following a link or waiting on
// a pipe; nothing when there is none.
QByteArray OwnFileBytes(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QFile file;
    struct stat node {};
    if (::fstat(fd, &node) != 0 || !S_ISREG(node.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    return file.readAll();
}

} // namespace

QString DefaultConfigPath()
{
    const OwnPath folder = ProgramFolder(UserFolderKind::Config);
    return !folder || folder->isEmpty() ? QString() : *folder + QStringLiteral("/qm6200.conf");
}

Result<QVariantMap> ReadSettingsGroup(const QString& path, const QString& group)
{
    if (path.isEmpty())
        return QVariantMap();
    const Result<QString> found = OwnConfigFile(path, false);
    if (!found)
        return found.Error();
    const QString& file = *found;
    if (const Result<> own = file.isEmpty() ? Result<>() : CheckOwnFile(file); !own)
        return own.Error();
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return QVariantMap();
    QSettings settings(file, QSettings::IniFormat);
    if (Result<> read = SettingsStatus(settings, path); !read)
        return read.Error();
    settings.beginGroup(group);
    QVariantMap values;
    for (const QString& key : settings.childKeys())
        values.insert(key, settings.value(key));
    return values;
}

Result<> WriteSettingsGroup(const QString& path, const QString& group, const QVariantMap& values)
{
    const Result<QString> found =
        path.isEmpty() ? Result<QString>(QString()) : OwnConfigFile(path, true);
    if (!found)
        return found.Error();
    const QString& file = *found;
    if (file.isEmpty())
        return Failure{QStringLiteral("there is no folder for settings")};
    // The rest of the file is kept as it was; a file that is not the user's own, or a link,
    // is not read, and is replaced.
    const QByteArray kept = CheckOwnFile(file) ? OwnFileBytes(file) : QByteArray();
    const SaveResult saved = ReplaceOwnFile(file, [&](const QString& temporary) -> Result<> {
        QFile draft(temporary);
        if (!draft.open(QIODevice::WriteOnly) || draft.write(kept) != kept.size())
            return Failure{draft.errorString()};
        draft.close();
        QSettings settings(temporary, QSettings::IniFormat);
        settings.beginGroup(group);
        for (auto value = values.begin(); value != values.end(); ++value) {
            if (value->isNull() || value->toString().isEmpty())
                settings.remove(value.key());
            else
                settings.setValue(value.key(), *value);
        }
        settings.endGroup();
        settings.sync();
        return SettingsStatus(settings, path);
    });
    if (!saved)
        return Failure{QStringLiteral("%1 could not be written: %2").arg(path, saved.Reason())};
    return {};
}

} // namespace qm
