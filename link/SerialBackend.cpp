#include "link/SerialBackend.h"

#include "link/Log.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#endif

namespace qm {

namespace {

QSerialPort::Parity ToQt(Parity parity)
{
    switch (parity) {
    case Parity::Even:
        return QSerialPort::EvenParity;
    case Parity::Odd:
        return QSerialPort::OddParity;
    case Parity::Mark:
        return QSerialPort::MarkParity;
    case Parity::Space:
        return QSerialPort::SpaceParity;
    case Parity::None:
        break;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits ToQt(StopBits stopBits)
{
    switch (stopBits) {
    case StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case StopBits::Two:
        return QSerialPort::TwoStop;
    case StopBits::One:
        break;
    }
    return QSerialPort::OneStop;
}

QString PortLabel(const QString& portName, const QString& location)
{
    return location == portName ? portName : QStringLiteral("%1 (%2)").arg(portName, location);
}

#ifdef Q_OS_UNIX
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
#endif

// Qt reports a device it cannot lock and a device node without rights alike; tell them
// apart for the operator.
OpenFailure PermissionFailure(const QString& location)
{
    OpenFailure failure;
    failure.reason = OpenFailure::InUse;
#ifdef Q_OS_UNIX
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
#else
    Q_UNUSED(location);
#endif
    return failure;
}

} // namespace

SerialBackend::SerialBackend(QObject* parent, const QString& sysfsRoot)
    : CommBackend(parent)
    , m_sysfsRoot(sysfsRoot)
{
    connect(&m_port, &QSerialPort::readyRead, this, &CommBackend::readyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialBackend::onError);
}

bool SerialBackend::open(const QString& portName, const LineSettings& settings)
{
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
    m_port.setPortName(location);
    m_port.setBaudRate(settings.baudRate);
    m_port.setParity(ToQt(settings.parity));
    m_port.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits));
    m_port.setStopBits(ToQt(settings.stopBits));
    m_port.setFlowControl(QSerialPort::NoFlowControl);

    m_opening = true;
    const bool opened = m_port.open(QIODevice::ReadWrite);
    m_opening = false;
    if (!opened) {
        OpenFailure failure;
        switch (m_port.error()) {
        case QSerialPort::DeviceNotFoundError:
            failure.reason = OpenFailure::NoSuchDevice;
            break;
        case QSerialPort::PermissionError:
            failure = PermissionFailure(location);
            break;
        case QSerialPort::OpenError:
            failure.reason = OpenFailure::InUse;
            break;
        default:
            failure.detail = m_port.errorString();
            break;
        }
        m_error = DescribeOpenFailure(label, failure);
        // The control warns with the operator's words; Qt's own code is for a maintainer.
        qCDebug(lcLink) << "open" << location << "failed:" << m_port.error()
                        << m_port.errorString();
        m_port.clearError();
        return false;
    }
    // Whatever sat in the driver from before belongs to no command of ours.
    m_port.clear();
    m_losing = false;
    m_error.clear();
    qCInfo(lcLink) << "opened" << location;
    return true;
}

bool SerialBackend::refuse(const QString& location, const QString& label,
                           const OpenFailure& failure)
{
    m_error = DescribeOpenFailure(label, failure);
    qCDebug(lcLink) << "not opened:" << location << "is no serial line";
    return false;
}

void SerialBackend::close()
{
    if (m_port.isOpen())
        m_port.close();
}

void SerialBackend::setRequestToSend(bool raised)
{
    if (!m_port.isOpen())
        return;
    // A pseudo-terminal has no modem lines; that is no failure of the link.
    if (!m_port.setRequestToSend(raised))
        qCDebug(lcLink) << "RTS not set:" << m_port.errorString();
    m_port.clearError();
}

bool SerialBackend::write(const QByteArray& bytes)
{
    if (!m_port.isOpen() || m_losing) {
        m_error = tr("The serial port is not open.");
        return false;
    }
    if (m_port.write(bytes) != bytes.size()) {
        m_error = m_port.errorString();
        return false;
    }
    return true;
}

void SerialBackend::onError(QSerialPort::SerialPortError error)
{
    // A failed open reports through open() itself.
    if (m_opening)
        return;
    switch (error) {
    case QSerialPort::NoError:
    case QSerialPort::UnsupportedOperationError: // modem lines of a pseudo-terminal
    case QSerialPort::TimeoutError:
        return;
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        break;
    default:
        qCDebug(lcLink) << "ignored" << error << m_port.errorString();
        return;
    }
    // A lost port is closed only once, however many errors it raises before the close has
    // run.
    if (!m_port.isOpen() || m_losing)
        return;
    m_losing = true;
    qCWarning(lcLink) << "port lost:" << error << m_port.errorString();
    // Not closed here, inside the port's own signal: on the next turn of the event loop.
    QMetaObject::invokeMethod(
        this, [this] { closeLostPort(tr("the device stopped answering or was disconnected")); },
        Qt::QueuedConnection);
}

void SerialBackend::closeLostPort(const QString& reason)
{
    if (!m_port.isOpen())
        return;
    // What arrived before the line went away is still delivered.
    if (m_port.bytesAvailable() > 0)
        emit readyRead();
    m_port.close();
    m_port.clearError();
    m_error = reason;
    emit lost(reason);
}

} // namespace qm
