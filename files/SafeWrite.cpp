#include "files/SafeWrite.h"

#include "files/Descriptors.h"
#include "files/Names.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace qm {

namespace {

SaveResult NotAFile(mode_t mode, const QString& reachedThroughLink = {})
{
    if (reachedThroughLink.isEmpty())
        return SaveFailure{QObject::tr("it is %1, not a file").arg(NodeKind(mode))};
    return SaveFailure{QObject::tr("it leads to %1, which is %2, not a file")
                           .arg(QDir::toNativeSeparators(reachedThroughLink), NodeKind(mode))};
}

// Where a chain of links that leads nowhere ends.
QString MissingTarget(const QString& path)
{
    QString target = path;
    for (int hops = 0; hops < 40 && QFileInfo(target).isSymLink(); ++hops)
        target = QFileInfo(target).symLinkTarget();
    return target;
}

// Makes sure the disk holds room for `size` bytes of the file before any of it changes.
// Returns 0 or the error.
int ReserveRoom(int fd, const struct stat& node, off_t size)
{
    if (size == 0)
        return 0;
#ifdef __linux__
    // Not posix_fallocate(): where the file system cannot reserve, it writes zeros instead.
    int error = 0;
    do
        error = ::fallocate(fd, 0, 0, size) == 0 ? 0 : errno;
    while (error == EINTR);
#else
    const int error = ::posix_fallocate(fd, 0, size);
#endif
    if (error != EOPNOTSUPP && error != EINVAL)
        return error;
    // This file system cannot reserve room: at least it must have the room now.
    struct statvfs disk {};
    if (::fstatvfs(fd, &disk) != 0)
        return errno;
    const off_t held = static_cast<off_t>(node.st_blocks) * 512;
    const auto free = static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize;
    return size > held && static_cast<unsigned long long>(size - held) > free ? ENOSPC : 0;
}

// Gives the file written aside the owner, group and mode of the one it is to replace. False
// where the saver may not (a group they are not in) or the system leaves part of it out (a
// set-group-ID bit): the file must then be written in place.
bool TakeOwnerAndMode(int fd, const struct stat& old)
{
    const mode_t mode = old.st_mode & 07777;
    struct stat now {};
    return ::fchown(fd, old.st_uid, old.st_gid) == 0 && ::fchmod(fd, mode) == 0
           && ::fstat(fd, &now) == 0 && now.st_uid == old.st_uid && now.st_gid == old.st_gid
           && (now.st_mode & 07777) == mode;
}

// Writes a new file beside `path` and puts it in place. Nothing when it would not be what
// `old`, the file it replaces, was to others.
std::optional<SaveResult> WriteAside(const QString& path, std::string_view bytes,
                                     const struct stat* old = nullptr)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return SaveFailure{file.errorString()};
    if (old && !TakeOwnerAndMode(file.handle(), *old)) {
        file.cancelWriting();
        return std::nullopt;
    }
    // Reserved first, a full disk is reported in its own words: a short write is not.
    struct stat node {};
    const int error = ::fstat(file.handle(), &node) != 0
                          ? errno
                          : ReserveRoom(file.handle(), node, static_cast<off_t>(bytes.size()));
    if (error != 0) {
        file.cancelWriting();
        return SaveFailure{qt_error_string(error)};
    }
    const auto size = static_cast<qint64>(bytes.size());
    // Everything must be on the disk before the file is put in place: commit() alone can
    // report success for bytes that a full disk refused, and replace the old file with an
    // empty one.
    if (file.write(bytes.data(), size) != size || !file.flush() || file.size() != size) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return SaveFailure{reason};
    }
    if (!file.commit())
        return SaveFailure{file.errorString()};
    return SaveResult{};
}

// Cuts off what a reservation or the new bytes added after the old end. True when the file
// is as long as it was.
bool RestoreSize(int fd, off_t oldSize)
{
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return false;
    return now.st_size == oldSize || ::ftruncate(fd, oldSize) == 0;
}

// Writes all of the bytes at `offset`; 0 or the error. `done` counts what went in.
int WriteAt(int fd, std::string_view bytes, off_t offset, std::size_t& done)
{
    done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                         offset + static_cast<off_t>(done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        done += static_cast<std::size_t>(written);
    }
    return 0;
}

// Puts a folder's names on the disk; 0 or the error. Some file systems cannot sync a folder,
// and need not.
int SyncFolder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error == EINVAL || error == EROFS ? 0 : error;
}

// A copy of a file's old content beside it, named after it ("day1.csv.old-Ab12Cd"), on the
// disk before anything is written into the file and removed once the new content is: a save
// cut short in between (the program killed, the power lost) leaves the old content there to
// be copied back. Only the saver may read it, whoever may read the file.
class OldContentCopy {
public:
    OldContentCopy() = default;
    OldContentCopy(const OldContentCopy&) = delete;
    OldContentCopy& operator=(const OldContentCopy&) = delete;

    // Copies the first `size` bytes of `fd`, the file `path` in `folder`; 0 or the error,
    // and then no copy.
    int Make(int fd, off_t size, const QByteArray& path, const QByteArray& folder)
    {
        m_path = path + ".old-XXXXXX";
        const int copy = ::mkostemp(m_path.data(), O_CLOEXEC);
        if (copy < 0) {
            const int error = errno;
            m_path.clear();
            return error;
        }
        int error = 0;
        std::vector<char> buffer(64 * 1024);
        for (off_t at = 0; error == 0 && at < size;) {
            const auto chunk = static_cast<std::size_t>(
                std::min<off_t>(size - at, static_cast<off_t>(buffer.size())));
            std::size_t done = 0;
            error = ReadAt(fd, buffer.data(), chunk, at);
            if (error == 0)
                error = WriteAt(copy, std::string_view(buffer.data(), chunk), at, done);
            at += static_cast<off_t>(chunk);
        }
        if (error == 0 && ::fsync(copy) != 0)
            error = errno;
        if (::close(copy) != 0 && error == 0)
            error = errno;
        if (error == 0)
            error = SyncFolder(folder);
        if (error != 0)
            Drop();
        return error;
    }

    // The new content is on the disk, or the old one back: the copy has served.
    void Drop()
    {
        if (!m_path.isEmpty())
            ::unlink(m_path.constData());
        m_path.clear();
    }

    // Where the copy is; empty when there is none.
    QString Path() const
    {
        return m_path.isEmpty() ? QString() : QDir::toNativeSeparators(QFile::decodeName(m_path));
    }

private:
    QByteArray m_path;
};

// Writes into the file itself. Never creates the file, and never waits on whatever it
// turns out to be. Where `folder` may be written, a copy of the old content is kept beside
// the file while it is written; where the file may be read, what the new bytes cover is kept
// in memory, to be put back when writing fails.
SaveResult WriteInPlace(const QString& path, const QByteArray& folder, bool folderWritable,
                        std::string_view bytes, const std::function<void()>& beforeCut)
{
    const QByteArray name = QFile::encodeName(path);
    bool readable = true;
    int fd = ::open(name.constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) {
        readable = false;
        fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }
    if (fd < 0)
        return SaveFailure{qt_error_string(errno)};
    auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat node {};
    if (::fstat(fd, &node) != 0)
        return SaveFailure{qt_error_string(errno)};
    if (!S_ISREG(node.st_mode)) // replaced since it was looked at
        return NotAFile(node.st_mode);

    const off_t oldSize = node.st_size;
    const auto size = static_cast<off_t>(bytes.size());
    std::string covered(readable ? static_cast<std::size_t>(std::min(oldSize, size)) : 0, '\0');
    if (const int error = ReadAt(fd, covered.data(), covered.size(), 0); error != 0)
        return SaveFailure{qt_error_string(error)};
    OldContentCopy copy;
    if (readable && folderWritable) {
        if (const int error = copy.Make(fd, oldSize, name, folder); error != 0)
            return SaveFailure{
                QObject::tr("a copy of its old content could not be kept beside it: %1")
                    .arg(qt_error_string(error))};
    }

    // After a failure with the old end still there: the old bytes back over the `written`
    // new ones, and the old size.
    const auto undo = [&](int error, std::size_t written) -> SaveResult {
        const auto over = std::min(written, static_cast<std::size_t>(oldSize));
        std::size_t put = 0;
        const bool back = over <= covered.size()
                          && WriteAt(fd, std::string_view(covered.data(), over), 0, put) == 0
                          && RestoreSize(fd, oldSize) && ::fsync(fd) == 0;
        if (back)
            copy.Drop();
        return SaveFailure{qt_error_string(error), back, copy.Path()};
    };
    if (const int error = ReserveRoom(fd, node, size); error != 0)
        return undo(error, 0);
    std::size_t written = 0;
    if (const int error = WriteAt(fd, bytes, 0, written); error != 0)
        return undo(error, written);
    if (beforeCut)
        beforeCut();
    if (::ftruncate(fd, size) != 0)
        return undo(errno, written);
    // The old end is cut off: only the copy has it now.
    if (::fsync(fd) != 0)
        return SaveFailure{qt_error_string(errno), false, copy.Path()};
    closeFile.dismiss();
    if (::close(fd) != 0)
        return SaveFailure{qt_error_string(errno), false, copy.Path()};
    copy.Drop();
    return {};
}

} // namespace

SaveResult WriteWholeFile(const QString& path, std::string_view bytes,
                          const std::function<void()>& beforeCut)
{
    if (const QString doubt = NameDoubt(path); !doubt.isEmpty())
        return SaveFailure{doubt};

    const QByteArray name = QFile::encodeName(path);
    struct stat node {};
    if (::stat(name.constData(), &node) != 0) {
        const int error = errno;
        struct stat link {};
        if (error == ENOENT && ::lstat(name.constData(), &link) == 0)
            return SaveFailure{QObject::tr("it is a link to %1, which does not exist")
                                   .arg(QDir::toNativeSeparators(MissingTarget(path)))};
        if (error != ENOENT)
            return SaveFailure{qt_error_string(error)};
        const QFileInfo target(path);
        if (!target.dir().exists())
            return SaveFailure{
                QObject::tr("the folder %1 does not exist").arg(target.dir().path())};
        return *WriteAside(path, bytes);
    }

    // Everything below works on what the name leads to, so that a link stays a link. The
    // system gives that as bytes, which must read as text to name the same file again.
    const QFileInfo target(path);
    const std::unique_ptr<char, decltype(&::free)> resolved(::realpath(name.constData(), nullptr),
                                                            &::free);
    if (!resolved)
        return SaveFailure{qt_error_string(errno)};
    const QString real = QFile::decodeName(resolved.get());
    if (!S_ISREG(node.st_mode))
        return NotAFile(node.st_mode, target.isSymLink() ? real : QString());
    if (!NameIsText(resolved.get()))
        return SaveFailure{
            QObject::tr("it leads to %1, whose name is not UTF-8, so the program cannot "
                        "name it to write it. Give that file a name in UTF-8, or choose "
                        "another name")
                .arg(EscapedName(resolved.get()))};
    // A file marked read-only is kept, also for a user whose rights would let it be replaced.
    // One that others may write is not read-only: this user may not, and is told so.
    if (::faccessat(AT_FDCWD, name.constData(), W_OK, AT_EACCESS) != 0) {
        const int error = errno;
        if (error != EACCES)
            return SaveFailure{qt_error_string(error)};
        if (node.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))
            return SaveFailure{
                QObject::tr("it belongs to %1, and this user (%2) may not write to it")
                    .arg(UserName(node.st_uid), UserName(::geteuid()))};
    }
    if (!(node.st_mode & S_IWUSR))
        return SaveFailure{QObject::tr("the file is read-only")};

    // Writing aside and renaming makes a new file: it would leave other names with the old
    // content, needs the right to create in the folder, and must be given the old file's
    // owner, group and mode, which only the owner may do, and only for a group of theirs.
    const QByteArray folder = QFile::encodeName(QFileInfo(real).absolutePath());
    const bool folderWritable =
        ::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) == 0;
    if (node.st_nlink == 1 && node.st_uid == ::geteuid() && folderWritable) {
        if (std::optional<SaveResult> saved = WriteAside(real, bytes, &node))
            return *saved;
    }
    return WriteInPlace(real, folder, folderWritable, bytes, beforeCut);
}

SaveResult ReplaceOwnFile(const QString& path,
                          const std::function<Result<>(const QString& temporary)>& fill)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat node {};
    if (::lstat(name.constData(), &node) == 0 && !S_ISREG(node.st_mode) && !S_ISLNK(node.st_mode))
        return NotAFile(node.st_mode);
    QByteArray temporary = name + ".XXXXXX";
    // O_EXCL, and readable by the user alone whatever the umask.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return SaveFailure{qt_error_string(errno)};
    auto removeTemporary = qScopeGuard([&temporary] { ::unlink(temporary.constData()); });
    ::close(fd);
    if (const Result<> filled = fill(QFile::decodeName(temporary)); !filled)
        return SaveFailure{filled.Reason()};
    // What filled it may have put a new file under its name: the one there now goes in place.
    const int filled = ::open(temporary.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (filled < 0)
        return SaveFailure{qt_error_string(errno)};
    int error = ::fchmod(filled, 0600) == 0 && ::fsync(filled) == 0 ? 0 : errno;
    if (::close(filled) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), name.constData()) != 0)
        error = errno;
    if (error != 0)
        return SaveFailure{qt_error_string(error)};
    removeTemporary.dismiss();
    if (const int synced = SyncFolder(QFile::encodeName(QFileInfo(path).absolutePath()));
        synced != 0)
        return SaveFailure{qt_error_string(synced), false};
    return {};
}

SaveResult WriteOwnFile(const QString& path, std::string_view bytes)
{
    return ReplaceOwnFile(path, [bytes](const QString& temporary) -> Result<> {
        const int fd =
            ::open(QFile::encodeName(temporary).constData(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
        std::size_t done = 0;
        const int error = fd < 0 ? errno : WriteAt(fd, bytes, 0, done);
        if (fd >= 0)
            ::close(fd);
        if (error != 0)
            return Failure{qt_error_string(error)};
        return {};
    });
}

} // namespace qm
