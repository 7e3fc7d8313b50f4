#include "serial/PortLock.h"

#include "ports/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QSysInfo>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

// What a lock file found in place says.
struct Found {
    enum State {
        Gone,  // no lock file (any more)
        Held,  // its process lives, or it names none and was made moments ago
        Stale, // its process is gone, or it names none and is older than the time to write it
    };
    State state = Gone;
    pid_t pid = 0; // 0: it names none
    // Which file it is: a file made in its place may have the same number.
    dev_t device = 0;
    ino_t inode = 0;
    timespec changed{};
};

QByteArray Encoded(const QString& path)
{
    return QFile::encodeName(path);
}

QString SystemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// A process that lives, whoever owns it: one of another user's is refused the signal, but is
// there all the same.
bool Lives(pid_t pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// The name the system gives a process, where it tells.
QString ProcessName(pid_t pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll().trimmed());
}

// The name this program goes by in its lock: the file it runs from, as programs on Qt's lock
// file compare it with the process a lock names (and take the lock over when they differ). A
// program replaced while it runs still has its old name.
QByteArray OwnProgramName()
{
    QString target = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    if (target.endsWith(QStringLiteral(" (deleted)")))
        target.chop(10);
    return QFile::encodeName(QFileInfo(target).fileName());
}

// The time since the file was last written, either way: a time in the future is no lock
// being written now either.
std::chrono::seconds Age(const struct stat& node)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t seconds = std::int64_t(now.tv_sec) - std::int64_t(node.st_mtim.tv_sec);
    return std::chrono::seconds(seconds < 0 ? -seconds : seconds);
}

// At most this much of a lock is read: the process comes first in every format.
constexpr std::size_t LockReadLimit = 256;

// The process a plain lock file names, read without following a link or waiting on a pipe.
std::optional<pid_t> ReadPid(const QByteArray& name, const struct stat& node)
{
    if (!S_ISREG(node.st_mode))
        return std::nullopt;
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[LockReadLimit];
    std::size_t got = 0;
    struct stat opened {};
    if (::fstat(fd, &opened) == 0 && opened.st_ino == node.st_ino) {
        while (got < sizeof buffer) {
            const ssize_t n = ::read(fd, buffer + got, sizeof buffer - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
    }
    ::close(fd);
    return LockFilePid(QByteArray(buffer, qsizetype(got)));
}

Found Inspect(const QString& path)
{
    const QByteArray name = Encoded(path);
    Found found;
    struct stat node {};
    if (::lstat(name.constData(), &node) != 0) {
        // A lock that cannot even be looked at cannot be judged: it stays held.
        found.state = errno == ENOENT ? Found::Gone : Found::Held;
        return found;
    }
    found.device = node.st_dev;
    found.inode = node.st_ino;
    found.changed = node.st_ctim;
    // Anything but a plain file that can be read names no process.
    if (const auto pid = ReadPid(name, node)) {
        found.pid = *pid;
        found.state = Lives(*pid) ? Found::Held : Found::Stale;
    } else {
        found.state = Age(node) > PortLock::WritingTime ? Found::Stale : Found::Held;
    }
    return found;
}

// Removes the lock judged stale, and no other: one put in its place meanwhile stays. Returns
// errno's value on failure, 0 when it is gone.
int RemoveStale(const QString& path, const Found& stale)
{
    const QByteArray name = Encoded(path);
    struct stat node {};
    if (::lstat(name.constData(), &node) != 0)
        return errno == ENOENT ? 0 : errno;
    if (node.st_dev != stale.device || node.st_ino != stale.inode
        || node.st_ctim.tv_sec != stale.changed.tv_sec
        || node.st_ctim.tv_nsec != stale.changed.tv_nsec)
        return 0; // another lock now: judged again
    if (::unlink(name.constData()) != 0 && errno != ENOENT)
        return errno;
    qCInfo(lcLink) << "removed the stale lock" << path << "of process" << stale.pid;
    return 0;
}

// Our lock, written whole in a file of its own in the lock folder, to be linked into place:
// no reader ever sees it empty or half written. Qt's lines (the process, the program, the
// computer) are read by programs that read only the number too, since it comes first.
// Returns the file's path, or an empty one where the folder takes no file.
QString WriteOwnLock(const QString& lockPath)
{
    const QFileInfo lock(lockPath);
    QByteArray pattern = Encoded(lock.path() + QStringLiteral("/.") + lock.fileName())
                         + QByteArrayLiteral(".XXXXXX");
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        qCDebug(lcLink) << "no lock written in" << lock.path() << SystemText(errno);
        return {};
    }
    const QByteArray content = QByteArray::number(qint64(::getpid())) + '\n' + OwnProgramName()
                               + '\n' + QSysInfo::machineHostName().toUtf8() + '\n';
    bool written = ::fchmod(fd, 0644) == 0; // every program must read who holds the port
    for (qsizetype done = 0; written && done < content.size();) {
        const ssize_t n =
            ::write(fd, content.constData() + done, std::size_t(content.size() - done));
        if (n > 0)
            done += n;
        else if (n == 0 || errno != EINTR)
            written = false;
    }
    ::close(fd);
    if (!written) {
        qCDebug(lcLink) << "no lock written in" << lock.path() << SystemText(errno);
        ::unlink(pattern.constData());
        return {};
    }
    return QFile::decodeName(pattern);
}

OpenFailure HeldBy(const QString& path, const Found& found)
{
    OpenFailure failure;
    failure.reason = OpenFailure::InUse;
    failure.lockFile = path;
    failure.holderPid = found.pid;
    if (found.pid > 0)
        failure.holderProgram = ProcessName(found.pid);
    return failure;
}

} // namespace

QStringList UsualLockFolders()
{
    return {QStringLiteral("/var/lock"),
            QStringLiteral("/etc/locks"),
            QStringLiteral("/var/spool/locks"),
            QStringLiteral("/var/spool/uucp"),
            QStringLiteral("/tmp"),
            QStringLiteral("/var/tmp"),
            QStringLiteral("/var/lock/lockdev"),
            QStringLiteral("/run/lock")};
}

QString LockFileName(const QString& device)
{
    QString name = QFileInfo(device).canonicalFilePath();
    if (name.isEmpty())
        name = device;
    if (name.startsWith(QStringLiteral("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QStringLiteral("LCK..") + name;
}

std::optional<pid_t> LockFilePid(const QByteArray& content)
{
    const auto isText = [](char c) {
        return (c >= '0' && c <= '9') || c == ' ' || c == '\t' || c == '\n' || c == '\r';
    };
    // The kernel never gives a process a larger number: anything beyond names none.
    constexpr std::int64_t largest = 4 * 1024 * 1024;
    std::int64_t value = 0;
    if (content.size() == qsizetype(sizeof(std::int32_t))
        && !std::all_of(content.begin(), content.end(), isText)) {
        // The number's own bytes, in this computer's order.
        std::int32_t binary = 0;
        std::memcpy(&binary, content.constData(), sizeof binary);
        value = binary;
    } else {
        // As text, padded with blanks or not, up to the end of the line or of the file.
        qsizetype at = 0;
        while (at < content.size() && (content[at] == ' ' || content[at] == '\t'))
            ++at;
        const qsizetype start = at;
        for (; at < content.size() && content[at] >= '0' && content[at] <= '9'; ++at) {
            if (value <= largest)
                value = value * 10 + (content[at] - '0');
        }
        if (at == start)
            return std::nullopt;
        if (at < content.size() && !isText(content[at]) && content[at] != '\0')
            return std::nullopt;
    }
    if (value <= 0 || value > largest)
        return std::nullopt;
    return pid_t(value);
}

PortLock::PortLock(const QString& device, const QStringList& folders)
{
    // The first folder that can take the lock, or that has one already.
    const QString name = LockFileName(device);
    for (const QString& folder : folders) {
        const QString path = folder + QLatin1Char('/') + name;
        const QFileInfo info(folder);
        struct stat node {};
        if (info.isReadable()
            && (::lstat(Encoded(path).constData(), &node) == 0 || info.isWritable())) {
            m_path = path;
            break;
        }
    }
}

PortLock::~PortLock()
{
    release();
}

PortLock::Outcome PortLock::take()
{
    return settle(true);
}

PortLock::Outcome PortLock::clearWay()
{
    return settle(false);
}

PortLock::Outcome PortLock::settle(bool write)
{
    release();
    if (m_path.isEmpty()) {
        qCDebug(lcLink) << "no lock folder takes a lock; the port is used without one";
        return {};
    }
    const QByteArray path = Encoded(m_path);
    QString own;
    if (write)
        own = WriteOwnLock(m_path);
    const auto done = [&](Outcome outcome) {
        if (!own.isEmpty())
            ::unlink(Encoded(own).constData());
        return outcome;
    };
    // A few rounds: a stale lock removed may be taken by another program before this one.
    for (int round = 0; round < 3; ++round) {
        if (!own.isEmpty()) {
            if (::link(Encoded(own).constData(), path.constData()) == 0) {
                m_taken = true;
                return done({});
            }
            if (errno != EEXIST) {
                qCDebug(lcLink) << "no lock taken:" << m_path << SystemText(errno);
                return done({});
            }
        }
        const Found found = Inspect(m_path);
        switch (found.state) {
        case Found::Gone:
            // Nothing in the way; a folder that takes no file of ours is used without a lock.
            if (own.isEmpty())
                return done({});
            continue;
        case Found::Held:
            qCDebug(lcLink) << "locked by process" << found.pid << m_path;
            return done(HeldBy(m_path, found));
        case Found::Stale:
            if (const int error = RemoveStale(m_path, found)) {
                OpenFailure failure;
                failure.reason = OpenFailure::Other;
                failure.detail =
                    QObject::tr("its lock file %1 is left over (no running program holds "
                                "it) and cannot be removed (%2); ask your administrator to "
                                "delete that file")
                        .arg(m_path, SystemText(error));
                return done(failure);
            }
            continue;
        }
    }
    // Others keep taking and leaving the lock: it is theirs for now.
    return done(HeldBy(m_path, Found{}));
}

void PortLock::release()
{
    if (!m_taken)
        return;
    m_taken = false;
    // Only our own lock: one that a program put in its place stays.
    const QByteArray path = Encoded(m_path);
    struct stat node {};
    if (::lstat(path.constData(), &node) == 0 && ReadPid(path, node) == ::getpid())
        ::unlink(path.constData());
}

} // namespace qm
