#include "serial/TerminalLine.h"

#include <QFile>
#include <QObject>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qm {

namespace {

QString SystemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether this running program holds the group: the groups a session has are fixed when it
// begins, whatever the group database says since.
bool ProcessHasGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    const int count = ::getgroups(0, nullptr);
    if (count <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int got = ::getgroups(count, groups.data());
    for (int i = 0; i < got; ++i) {
        if (groups[std::size_t(i)] == gid)
            return true;
    }
    return false;
}

// Whether the user database lists this user in the group, as its primary group or as a
// member.
bool UserListedInGroup(const group& owner)
{
    const passwd* user = ::getpwuid(::geteuid());
    if (!user)
        return false;
    if (user->pw_gid == owner.gr_gid)
        return true;
    for (char** member = owner.gr_mem; member && *member; ++member) {
        if (qstrcmp(*member, user->pw_name) == 0)
            return true;
    }
    return false;
}

// Whether a serial line here takes the settings; if not, the operator's message's reason.
Result<> SettingsTaken(const LineSettings& settings)
{
    if (TerminalSpeed(settings.baudRate) == B0)
        return Failure{QObject::tr("serial lines on this computer do not take %1 baud")
                           .arg(settings.baudRate)};
    if (settings.stopBits == StopBits::OneAndHalf)
        return Failure{QObject::tr("serial lines on this computer do not take 1.5 stop bits")};
    return {};
}

} // namespace

QString PortLabel(const QString& portName, const QString& location)
{
    return location == portName ? portName : QStringLiteral("%1 (%2)").arg(portName, location);
}

speed_t TerminalSpeed(int baudRate)
{
    switch (baudRate) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

Result<> MayOpen(const QString& portName, const LineSettings& settings, const QString& sysfsRoot)
{
    const QString location = SystemLocation(portName);
    const QString label = PortLabel(portName, location);
    // A name reaches the port many ways, and a device that is no serial line must never be
    // opened at all, whatever checked it before.
    switch (ClassifyDevice(location, sysfsRoot)) {
    case DeviceKind::Missing:
        return Failure{DescribeOpenFailure(label, {OpenFailure::NoSuchDevice, {}, {}})};
    case DeviceKind::NotSerial:
        return Failure{DescribeOpenFailure(label, {OpenFailure::NotSerial, {}, {}})};
    case DeviceKind::StaleLink:
        return Failure{DescribeOpenFailure(label, {OpenFailure::StaleLink, {}, {}})};
    case DeviceKind::SerialLine:
        break;
    }
    if (const Result<> taken = SettingsTaken(settings); !taken)
        return Failure{DescribeOpenFailure(label, {OpenFailure::Other, {}, taken.Reason()})};
    return {};
}

OpenFailure PermissionFailure(const QString& location)
{
    OpenFailure failure;
    failure.reason = OpenFailure::InUse;
    const QByteArray path = QFile::encodeName(location);
    if (::access(path.constData(), R_OK | W_OK) != 0) {
        failure.reason = OpenFailure::NoPermission;
        struct stat info {};
        if (::stat(path.constData(), &info) == 0) {
            failure.deviceMode = info.st_mode & 07777;
            failure.processHasGroup = ProcessHasGroup(info.st_gid);
            if (const group* owner = ::getgrgid(info.st_gid)) {
                failure.deviceGroup = QString::fromLocal8Bit(owner->gr_name);
                failure.userListedInGroup = UserListedInGroup(*owner);
            }
        }
    }
    return failure;
}

std::optional<QString> LineGone(int fd)
{
    pollfd line{fd, POLLIN, 0};
    int ready = 0;
    do
        ready = ::poll(&line, 1, 0);
    while (ready < 0 && errno == EINTR);
    if (ready < 0)
        return SystemText(errno);
    if (line.revents & POLLNVAL)
        return SystemText(EBADF);
    if (line.revents & POLLHUP)
        return QObject::tr("the line was hung up (the device was disconnected or switched off, "
                           "or the other end closed it)");
    if (line.revents & POLLERR)
        return QObject::tr("the system reports an error on the line");
    struct stat node {};
    if (::fstat(fd, &node) != 0)
        return SystemText(errno);
    if (node.st_nlink == 0)
        return QObject::tr("the device was removed from the system");
    return std::nullopt;
}

OutputDrain::OutputDrain(std::function<qsizetype()> waiting, QObject* parent)
    : QObject(parent)
    , m_waiting(std::move(waiting))
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &OutputDrain::Look);
}

void OutputDrain::Written()
{
    m_timer.start(0);
}

void OutputDrain::Look()
{
    if (m_waiting() > 0)
        return m_timer.start(LookEvery);
    emit Drained();
}

qsizetype OutputQueued(int fd)
{
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
}

LineRead ReadLine(int fd, QByteArray& into, qsizetype most)
{
    LineRead result;
    char buffer[MostReadAtOnce];
    for (qsizetype left = most; left > 0;) {
        // The line never waits: with nothing there a read returns at once, with 0 bytes.
        const ssize_t n = ::read(fd, buffer, std::size_t(std::min(left, qsizetype(sizeof buffer))));
        if (n > 0) {
            into.append(buffer, n);
            left -= n;
            result.gotBytes = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            // EIO from a line hung up, ENXIO or ENODEV from a device removed.
            const int error = errno;
            result.loss = LineGone(fd).value_or(SystemText(error));
            return result;
        }
        break;
    }
    if (!result.gotBytes)
        result.loss = LineGone(fd);
    return result;
}

} // namespace qm
