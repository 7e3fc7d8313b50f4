#include "watch/WatchFile.h"

#include "files/Descriptors.h"
#include "files/Names.h"
#include "watch/WatchCsv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

namespace qm {

namespace {

// Far longer than any line a watch writes: a tail without a line's end that is longer still
// is not a line of a watch's that a power cut tore, and is not the watch's to cut off.
constexpr off_t LongestTornLine = 64 * 1024;

// A file opened for the watch, checked, its header there.
struct Opened {
    int fd = -1;
    struct stat node {};
    bool created = false; // the folder has a new entry
    bool torn = false;    // a torn last line was cut off
    bool changed = false; // written or cut: to be synced
};

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Appends the bytes whole, or cuts off again what part of them went in; 0 or the error.
// `partAt` is where a part that could not be cut off begins.
int AppendWhole(int fd, std::string_view bytes, off_t& partAt)
{
    struct stat node {};
    if (::fstat(fd, &node) != 0)
        return errno;
    const int error = WriteAll(fd, bytes);
    if (error != 0 && ::ftruncate(fd, node.st_size) != 0)
        partAt = node.st_size;
    return error;
}

// Puts a folder's entries on the disk; 0 or the error. Some file systems cannot sync a
// folder, and need not.
int SyncFolder(const QString& folder)
{
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error == EINVAL || error == EROFS ? 0 : error;
}

Failure NotAFile(const QString& path, const struct stat& node)
{
    if (!QFileInfo(path).isSymLink())
        return {QObject::tr("it is %1, not a file. Name a file").arg(NodeKind(node.st_mode))};
    return {QObject::tr("it leads to %1, which is %2, not a file. Name a file")
                .arg(Native(QFileInfo(path).canonicalFilePath()), NodeKind(node.st_mode))};
}

// As a save judges it: a file marked read-only is kept, also from a user whose rights would
// let them write it. And the watch must read it, to know whether it is a watch's.
Result<> MayWrite(const QByteArray& name, const struct stat& node)
{
    if (::faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) != 0) {
        const int error = errno;
        if (error != EACCES)
            return Failure{qt_error_string(error)};
        if (node.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))
            return Failure{QObject::tr("it belongs to %1, and this user (%2) may not write to "
                                       "it. Name another file")
                               .arg(UserName(node.st_uid), UserName(::geteuid()))};
    }
    if (!(node.st_mode & S_IWUSR))
        return Failure{QObject::tr("the file is read-only. Make it writable, or name another")};
    if (::faccessat(AT_FDCWD, name.constData(), R_OK, AT_EACCESS) != 0)
        return Failure{QObject::tr("this user may not read it, so the watch cannot tell "
                                   "whether a watch wrote it. Name another file")};
    return {};
}

// A watch's file begins with the header; the start of the header alone is one torn before
// any line. Cuts off a torn last line.
Result<> CheckContent(Opened& opened, const std::string& header)
{
    const off_t size = opened.node.st_size;
    const auto headerSize = static_cast<off_t>(header.size());
    std::string start(static_cast<std::size_t>(std::min(size, headerSize)), '\0');
    if (const int error = ReadAt(opened.fd, start.data(), start.size(), 0); error != 0)
        return Failure{qt_error_string(error)};
    const Failure foreign{
        QObject::tr("it does not begin with the header of a watch's CSV, so it is another "
                    "file, and the watch writes nothing into it. Name a new file, or one that "
                    "a watch wrote")};
    if (header.compare(0, start.size(), start) != 0)
        return foreign;
    off_t keep = size;
    if (size < headerSize) {
        keep = 0;
    } else {
        // From the header's own CR LF on, if the end is that near.
        const off_t from = std::max(headerSize - 2, size - LongestTornLine - 2);
        std::string end(static_cast<std::size_t>(size - from), '\0');
        if (const int error = ReadAt(opened.fd, end.data(), end.size(), from); error != 0)
            return Failure{qt_error_string(error)};
        const std::size_t lastLine = end.rfind("\r\n");
        // A torn line is the start of one line: a line's end in it is another program's.
        if (lastLine == std::string::npos || end.find('\n', lastLine + 2) != std::string::npos)
            return Failure{QObject::tr("its last lines do not end as a watch's do, so another "
                                       "program wrote them, and the watch writes nothing into "
                                       "it. Name another file")};
        keep = from + static_cast<off_t>(lastLine) + 2;
        opened.torn = keep < size;
    }
    if (keep < size) {
        if (::ftruncate(opened.fd, keep) != 0)
            return Failure{QObject::tr("its torn last line could not be cut off: %1")
                               .arg(qt_error_string(errno))};
        opened.node.st_size = keep;
        opened.changed = true;
    }
    return {};
}

// Takes the file opened at `fd` for the watch: a file, no other watch's, with its header.
Result<Opened> Begin(int fd, bool created, const QString& path)
{
    auto closeFile = qScopeGuard([fd] { ::close(fd); });
    Opened opened;
    opened.fd = fd;
    opened.created = created;
    if (::fstat(fd, &opened.node) != 0)
        return Failure{qt_error_string(errno)};
    if (!S_ISREG(opened.node.st_mode)) // replaced since it was looked at
        return NotAFile(path, opened.node);
    // Held until the file is closed. A file system without locks goes without.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return Failure{QObject::tr("another watch is writing to it. Stop that watch, or name "
                                   "another file")};
    const std::string header = WatchCsvHeader();
    if (!created) {
        if (Result<> content = CheckContent(opened, header); !content)
            return Failure{content.Reason()};
    }
    if (opened.node.st_size == 0) {
        off_t partAt = -1;
        if (const int error = AppendWhole(fd, header, partAt); error != 0)
            return Failure{
                QObject::tr("its header could not be written: %1").arg(qt_error_string(error))};
        opened.changed = true;
    }
    closeFile.dismiss();
    return opened;
}

Result<Opened> OpenFile(const QString& path)
{
    if (const QString doubt = NameDoubt(path); !doubt.isEmpty())
        return Failure{doubt};
    const QByteArray name = QFile::encodeName(path);
    // Another program may make or remove the file between the look and the open: the look
    // is taken again.
    for (int tries = 0; tries < 3; ++tries) {
        struct stat node {};
        if (::stat(name.constData(), &node) == 0) {
            // Judged before it is opened: opening some devices acts, and a named pipe waits.
            if (!S_ISREG(node.st_mode))
                return NotAFile(path, node);
            if (Result<> may = MayWrite(name, node); !may)
                return Failure{may.Reason()};
            const int fd =
                ::open(name.constData(), O_RDWR | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (fd >= 0)
                return Begin(fd, false, path);
            if (errno != ENOENT)
                return Failure{qt_error_string(errno)};
            continue;
        }
        if (errno != ENOENT)
            return Failure{qt_error_string(errno)};
        if (QFileInfo(path).isSymLink())
            return Failure{QObject::tr("it is a link to %1, which does not exist. Make that "
                                       "file, or name another")
                               .arg(Native(QFileInfo(path).symLinkTarget()))};
        if (!QFileInfo(path).dir().exists())
            return Failure{QObject::tr("the folder %1 does not exist. Make it, or name a file "
                                       "in another")
                               .arg(Native(QFileInfo(path).absolutePath()))};
        // A new file, never one made meanwhile, nor one a link made meanwhile leads to.
        const int fd = ::open(
            name.constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_APPEND | O_NOCTTY | O_CLOEXEC, 0666);
        if (fd >= 0)
            return Begin(fd, true, path);
        if (errno != EEXIST)
            return Failure{qt_error_string(errno)};
    }
    return Failure{QObject::tr("it was made and removed again while the watch opened it. "
                               "Stop the program that does, or name another file")};
}

} // namespace

WatchFile::WatchFile(QString pattern)
    : m_pattern(std::move(pattern))
{
}

WatchFile::~WatchFile()
{
    static_cast<void>(Sync());
    Close();
}

QString WatchFile::PathOf(const QString& pattern, const QDate& localDate)
{
    QString path;
    for (qsizetype at = 0; at < pattern.size(); ++at) {
        const QChar next = at + 1 < pattern.size() ? pattern[at + 1] : QChar();
        if (pattern[at] == u'%' && next == u'F') {
            path += localDate.toString(Qt::ISODate);
            ++at;
        } else if (pattern[at] == u'%' && next == u'%') {
            path += u'%';
            ++at;
        } else {
            path += pattern[at];
        }
    }
    return path;
}

bool WatchFile::PerDay() const
{
    return PathOf(m_pattern, QDate(2000, 1, 1)) != PathOf(m_pattern, QDate(2000, 1, 2));
}

Result<> WatchFile::Prepare(const QDate& localDate)
{
    const QString path = PathOf(m_pattern, localDate);
    if (m_fd >= 0 && path == m_path) {
        struct stat now {};
        if (::stat(QFile::encodeName(path).constData(), &now) == 0 && now.st_dev == m_device
            && now.st_ino == m_node)
            return {};
    }
    if (m_fd >= 0) {
        // Kept open when its lines cannot be made durable: the next call tries again.
        if (Result<> synced = Sync(); !synced)
            return synced;
        Close();
    }
    m_path = path;
    const Result<Opened> opened = OpenFile(path);
    if (!opened)
        return Failure{opened.Reason()};
    m_fd = opened->fd;
    m_device = opened->node.st_dev;
    m_node = opened->node.st_ino;
    m_torn = opened->torn;
    m_unsynced = opened->changed;
    m_newName = opened->created;
    return {};
}

bool WatchFile::TakeTorn()
{
    return std::exchange(m_torn, false);
}

Result<> WatchFile::Append(std::string_view line)
{
    if (m_fd < 0)
        return Failure{QObject::tr("no file is open for the watch's lines")};
    if (m_partLeft >= 0) {
        if (::ftruncate(m_fd, m_partLeft) != 0)
            return Failure{QObject::tr("a part of an earlier line is still at its end, and "
                                       "could not be cut off: %1")
                               .arg(qt_error_string(errno))};
        m_partLeft = -1;
    }
    if (const int error = AppendWhole(m_fd, line, m_partLeft); error != 0)
        return Failure{qt_error_string(error)};
    m_unsynced = true;
    return {};
}

Result<> WatchFile::Sync()
{
    if (m_fd < 0)
        return {};
    if (m_unsynced) {
        if (::fdatasync(m_fd) != 0)
            return Failure{qt_error_string(errno)};
        m_unsynced = false;
    }
    if (m_newName) {
        const QString folder = QFileInfo(m_path).absolutePath();
        if (const int error = SyncFolder(folder); error != 0)
            return Failure{QObject::tr("the folder %1 could not be written to the disk: %2")
                               .arg(Native(folder), qt_error_string(error))};
        m_newName = false;
    }
    return {};
}

void WatchFile::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_torn = false;
    m_unsynced = false;
    m_newName = false;
    m_partLeft = -1;
}

} // namespace qm
