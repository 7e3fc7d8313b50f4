#include "link/SerialBackend.h"

#include "link/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace qm {

namespace {

// The lock file a serial port takes, where and as Qt's serial port takes it, so that this
// program and any other that locks its ports that way see each other: LCK..<name> in the
// first of the usual lock folders that can take it, '/' in the name written as '_'.
QString LockFilePath(const QString& location)
{
    static const char* const folders[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                          "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                          "/var/lock/lockdev", "/run/lock"};
    QString name = location;
    if (name.startsWith(QStringLiteral("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.prepend(QStringLiteral("/LCK.."));
    for (const char* folder : folders) {
        const QString path = QLatin1String(folder) + name;
        const QFileInfo info{QLatin1String(folder)};
        if (info.isReadable() && (QFile::exists(path) || info.isWritable()))
            return path;
    }
    return {};
}

speed_t Speed(int baudRate)
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

// Raw bytes in both directions at the given settings, no flow control, reads that never
// wait.
bool ApplySettings(int fd, const LineSettings& settings, termios& line)
{
    const speed_t speed = Speed(settings.baudRate);
    if (speed == B0)
        return false;
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    line.c_cflag |= settings.dataBits == 5   ? CS5
                    : settings.dataBits == 6 ? CS6
                    : settings.dataBits == 7 ? CS7
                                             : CS8;
    switch (settings.parity) {
    case Parity::Even:
        line.c_cflag |= PARENB;
        break;
    case Parity::Odd:
        line.c_cflag |= PARENB | PARODD;
        break;
    case Parity::Mark:
        line.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case Parity::Space:
        line.c_cflag |= PARENB | CMSPAR;
        break;
    case Parity::None:
        break;
    }
    if (settings.stopBits != StopBits::One)
        line.c_cflag |= CSTOPB;
    line.c_iflag &= ~(IXON | IXOFF | IXANY);
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    ::cfsetispeed(&line, speed);
    ::cfsetospeed(&line, speed);
    return ::tcsetattr(fd, TCSANOW, &line) == 0;
}

QString PortLabel(const QString& portName, const QString& location)
{
    return location == portName ? portName : QStringLiteral("%1 (%2)").arg(portName, location);
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

// A device this user may not open, or (with the rights) one that refused all the same.
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

} // namespace

SerialBackend::SerialBackend(QObject* parent, const QString& sysfsRoot)
    : CommBackend(parent)
    , m_sysfsRoot(sysfsRoot)
{
    m_gather.setSingleShot(true);
    m_gather.setTimerType(Qt::PreciseTimer);
    m_gather.setInterval(GatherInterval);
    connect(&m_gather, &QTimer::timeout, this, &SerialBackend::onGathered);
}

SerialBackend::~SerialBackend()
{
    close();
}

bool SerialBackend::open(const QString& portName, const LineSettings& settings)
{
    if (isOpen())
        close();
    const QString location = SystemLocation(portName);
    const QString label = PortLabel(portName, location);
    // Checked here again, whatever the dialog found: a name reaches the port other ways too,
    // and a device that is no serial line must never be opened at all.
    switch (ClassifyDevice(location, m_sysfsRoot)) {
    case DeviceKind::Missing:
        return refuse(location, label, {OpenFailure::NoSuchDevice, {}, {}});
    case DeviceKind::NotSerial:
        return refuse(location, label, {OpenFailure::NotSerial, {}, {}});
    case DeviceKind::SerialLine:
        break;
    }

    // Another program that has the port holds its lock.
    auto lock = std::make_unique<QLockFile>(LockFilePath(location));
    lock->setStaleLockTime(0);
    if (!lock->fileName().isEmpty() && !lock->tryLock()) {
        if (lock->error() == QLockFile::LockFailedError)
            return refuse(location, label, {OpenFailure::InUse, {}, {}});
        qCDebug(lcLink) << "no lock for" << location << "error" << lock->error();
        lock.reset();
    }

    const int fd =
        ::open(QFile::encodeName(location).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        OpenFailure failure;
        if (error == ENOENT || error == ENXIO || error == ENODEV)
            failure.reason = OpenFailure::NoSuchDevice;
        else if (error == EACCES || error == EPERM)
            failure = PermissionFailure(location);
        else if (error == EBUSY)
            failure.reason = OpenFailure::InUse;
        else
            failure.detail = QString::fromLocal8Bit(std::strerror(error));
        return refuse(location, label, failure);
    }
    termios line{};
    if (::tcgetattr(fd, &line) != 0) {
        const int error = errno;
        ::close(fd);
        return refuse(location, label,
                      {OpenFailure::Other, {}, QString::fromLocal8Bit(std::strerror(error))});
    }
    m_saved = line;
    if (!ApplySettings(fd, settings, line)) {
        const int error = errno;
        ::close(fd);
        return refuse(location, label,
                      {OpenFailure::Other, {}, QString::fromLocal8Bit(std::strerror(error))});
    }
    // Nobody else may open the line while it is ours (root still can).
    ::ioctl(fd, TIOCEXCL);
    // Whatever sat in the driver from before belongs to no command of ours.
    ::tcflush(fd, TCIFLUSH);

    m_fd = fd;
    m_lock = std::move(lock);
    m_losing = false;
    m_received.clear();
    m_unwritten.clear();
    m_error.clear();
    m_reader = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_reader, &QSocketNotifier::activated, this, &SerialBackend::onReadable);
    m_writer = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    m_writer->setEnabled(false);
    connect(m_writer, &QSocketNotifier::activated, this, &SerialBackend::onWritable);
    qCInfo(lcLink) << "opened" << location;
    return true;
}

bool SerialBackend::refuse(const QString& location, const QString& label,
                           const OpenFailure& failure)
{
    m_error = DescribeOpenFailure(label, failure);
    qCDebug(lcLink) << "not opened:" << location << m_error;
    return false;
}

void SerialBackend::close()
{
    if (m_fd < 0)
        return;
    m_gather.stop();
    delete m_reader;
    delete m_writer;
    m_reader = nullptr;
    m_writer = nullptr;
    // The line is left as it was found.
    ::tcsetattr(m_fd, TCSANOW, &m_saved);
    ::close(m_fd);
    m_fd = -1;
    m_lock.reset();
    m_received.clear();
    m_unwritten.clear();
}

void SerialBackend::setRequestToSend(bool raised)
{
    if (m_fd < 0)
        return;
    int rts = TIOCM_RTS;
    // A pseudo-terminal has no modem lines; that is no failure of the link.
    if (::ioctl(m_fd, raised ? TIOCMBIS : TIOCMBIC, &rts) != 0)
        qCDebug(lcLink) << "RTS not set:" << std::strerror(errno);
}

bool SerialBackend::write(const QByteArray& bytes)
{
    if (m_fd < 0 || m_losing) {
        m_error = tr("The serial port is not open.");
        return false;
    }
    m_unwritten += bytes;
    onWritable();
    if (m_losing) {
        m_error = tr("the device stopped answering or was disconnected");
        return false;
    }
    return true;
}

QByteArray SerialBackend::readAll()
{
    return std::exchange(m_received, {});
}

void SerialBackend::onWritable()
{
    while (!m_unwritten.isEmpty()) {
        const ssize_t n = ::write(m_fd, m_unwritten.constData(), std::size_t(m_unwritten.size()));
        if (n > 0) {
            m_unwritten.remove(0, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        lose(QString::fromLocal8Bit(std::strerror(n < 0 ? errno : EIO)));
        return;
    }
    m_writer->setEnabled(!m_unwritten.isEmpty());
}

SerialBackend::Reading SerialBackend::ReadWaiting()
{
    char buffer[4096];
    Reading result = Reading::Nothing;
    for (;;) {
        // The line never waits: a read with nothing there returns 0 at once.
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n > 0) {
            m_received.append(buffer, n);
            result = Reading::Some;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return Reading::Gone;
        return result;
    }
}

void SerialBackend::onReadable()
{
    // Readable with nothing to read: the other end is gone (a pulled adapter, a hung-up
    // line).
    if (ReadWaiting() != Reading::Some)
        return lose(tr("the device stopped answering or was disconnected"));
    // Let the next characters gather instead of waking for each one.
    m_reader->setEnabled(false);
    m_gather.start();
    emit readyRead();
}

void SerialBackend::onGathered()
{
    if (m_fd < 0 || m_losing)
        return;
    switch (ReadWaiting()) {
    case Reading::Some:
        m_gather.start();
        emit readyRead();
        return;
    case Reading::Nothing:
        // A quiet spell: the first character after it is read as soon as it comes, and a
        // line that goes away is noticed at once.
        m_reader->setEnabled(true);
        return;
    case Reading::Gone:
        return lose(tr("the device stopped answering or was disconnected"));
    }
}

void SerialBackend::lose(const QString& reason)
{
    // A lost port is closed only once, on the next turn of the event loop rather than
    // inside its own notifier.
    if (m_losing)
        return;
    m_losing = true;
    m_reader->setEnabled(false);
    m_writer->setEnabled(false);
    qCWarning(lcLink) << "port lost:" << reason;
    QMetaObject::invokeMethod(
        this, [this] { closeLostPort(tr("the device stopped answering or was disconnected")); },
        Qt::QueuedConnection);
}

void SerialBackend::closeLostPort(const QString& reason)
{
    if (m_fd < 0)
        return;
    // What arrived before the line went away is still delivered.
    if (!m_received.isEmpty())
        emit readyRead();
    close();
    m_error = reason;
    emit lost(reason);
}

} // namespace qm
