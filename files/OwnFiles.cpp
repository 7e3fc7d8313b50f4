#include "files/OwnFiles.h"

#include "files/Names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qm {

namespace {

constexpr mode_t FolderMode = 0700;
constexpr mode_t FileMode = 0600;

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// An absolute path from the environment, or why there is none.
OwnPath FromVariable(const char* variable, bool* set)
{
    const QByteArray value = qgetenv(variable);
    *set = value.startsWith('/');
    if (!*set)
        return QString();
    if (!NameIsText(value))
        return Failure{
            QObject::tr("$%1 (%2) is not UTF-8, and the program cannot name a folder by it. "
                        "Set it to a folder whose name is UTF-8.")
                .arg(QLatin1String(variable), EscapedName(value))};
    return QDir::cleanPath(QFile::decodeName(value));
}

// The nearest name on the way to `folder` that is there and is not a folder; empty when there
// is none.
QString FileOnTheWay(const QString& folder)
{
    for (QString at = QDir::cleanPath(folder); at.size() > 1; at = QFileInfo(at).path()) {
        struct stat node {};
        if (::stat(QFile::encodeName(at).constData(), &node) == 0)
            return S_ISDIR(node.st_mode) ? QString() : at;
    }
    return {};
}

} // namespace

OwnPath UserFolder(UserFolderKind kind)
{
    const char* variable = kind == UserFolderKind::Data     ? "XDG_DATA_HOME"
                           : kind == UserFolderKind::Config ? "XDG_CONFIG_HOME"
                                                            : "XDG_RUNTIME_DIR";
    bool set = false;
    if (OwnPath own = FromVariable(variable, &set); set)
        return own;
    if (kind == UserFolderKind::Runtime)
        return Failure{QObject::tr("$XDG_RUNTIME_DIR is not set to a folder of the session's own")};
    bool homeSet = false;
    const OwnPath home = FromVariable("HOME", &homeSet);
    if (!homeSet)
        return Failure{
            QObject::tr("this user has no home folder ($HOME is not an absolute path) and $%1 "
                        "is not set. Set one of them to a folder of yours.")
                .arg(QLatin1String(variable))};
    if (!home)
        return home;
    const QString below =
        kind == UserFolderKind::Data ? QStringLiteral(".local/share") : QStringLiteral(".config");
    return QDir::cleanPath(*home + QLatin1Char('/') + below);
}

OwnPath ProgramFolder(UserFolderKind kind)
{
    OwnPath folder = UserFolder(kind);
    if (folder && !folder->isEmpty())
        *folder += QStringLiteral("/qm6200");
    return folder;
}

OwnPath PrepareOwnFolder(const QString& folder, bool make)
{
    const QByteArray name = QFile::encodeName(folder);
    if (make) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        if (::mkdir(name.constData(), FolderMode) == 0)
            ::chmod(name.constData(), FolderMode); // whatever the umask took away
        else if (errno != EEXIST && errno != ENOTDIR && errno != ENOENT)
            return Failure{QObject::tr("the folder %1 could not be made: %2")
                               .arg(Native(folder), qt_error_string(errno))};
    }
    const std::unique_ptr<char, decltype(&::free)> resolved(::realpath(name.constData(), nullptr),
                                                            &::free);
    if (!resolved) {
        const int error = errno;
        if (const QString file = FileOnTheWay(folder); !file.isEmpty())
            return Failure{
                QObject::tr("%1 is not a folder. Move it away, and the program makes the "
                            "folder it needs there.")
                    .arg(Native(file))};
        if (error == ENOENT && !make)
            return QString();
        return Failure{QObject::tr("the folder %1 cannot be used: %2")
                           .arg(Native(folder), qt_error_string(error))};
    }
    struct stat node {};
    if (::stat(resolved.get(), &node) != 0)
        return Failure{QObject::tr("the folder %1 cannot be used: %2")
                           .arg(Native(folder), qt_error_string(errno))};
    if (!S_ISDIR(node.st_mode))
        return Failure{QObject::tr("%1 is not a folder. Move it away, and the program makes the "
                                   "folder it needs there.")
                           .arg(Native(folder))};
    if (node.st_uid != ::geteuid())
        return Failure{
            QObject::tr("the folder %1 belongs to another user (%2), and the program keeps "
                        "nothing there. Remove it, or ask its owner to.")
                .arg(Native(folder), UserName(node.st_uid))};
    // What the user took away themselves (a folder made read-only) stays taken.
    if ((node.st_mode & 07777) & ~FolderMode)
        ::chmod(resolved.get(), node.st_mode & FolderMode);
    return QFile::decodeName(resolved.get());
}

Result<> CheckOwnFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat node {};
    if (::lstat(name.constData(), &node) != 0)
        return errno == ENOENT ? Result<>()
                               : Failure{QObject::tr("%1 cannot be used: %2")
                                             .arg(Native(path), qt_error_string(errno))};
    if (S_ISLNK(node.st_mode))
        return Failure{QObject::tr("%1 is a link, which the program does not follow to its own "
                                   "files. Remove the link.")
                           .arg(Native(path))};
    if (!S_ISREG(node.st_mode))
        return Failure{QObject::tr("%1 is not a file. Remove it.").arg(Native(path))};
    if (node.st_uid != ::geteuid())
        return Failure{
            QObject::tr("%1 belongs to another user (%2). Remove it, or ask its owner to.")
                .arg(Native(path), UserName(node.st_uid))};
    // No other user can have put something else there since: the folder is the user's alone.
    // What the user took away themselves (a file made read-only) stays taken.
    if ((node.st_mode & 07777) & ~FileMode)
        ::chmod(name.constData(), node.st_mode & FileMode);
    return {};
}

} // namespace qm
