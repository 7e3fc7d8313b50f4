#include "serial/SerialBackend.h"

#include "ports/Log.h"
#include "serial/PortLock.h"
#include "serial/TerminalLine.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qm {

namespace {

// Raw bytes in both directions at the given settings (ones MayOpen let through), no
// flow control, reads that never wait. On failure errno says why.
bool ApplySettings(int fd, const LineSettings& settings, termios& line)
{
    const speed_t speed = TerminalSpeed(settings.baudRate);
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
    if (settings.stopBits == StopBits::Two)
        line.c_cflag |= CSTOPB;
    line.c_iflag &= ~(IXON | IXOFF | IXANY);
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    ::cfsetispeed(&line, speed);
    ::cfsetospeed(&line, speed);
    return ::tcsetattr(fd, TCSANOW, &line) == 0;
}

} // namespace

SerialBackend::SerialBackend(QObject* parent, const QString& sysfsRoot,
                             const QStringList& lockFolders)
    : CommBackend(parent)
    , m_sysfsRoot(sysfsRoot)
    , m_lockFolders(lockFolders)
    , m_drain([this] { return outputWaiting(); })
{
    connect(&m_drain, &OutputDrain::Drained, this, &CommBackend::sent);
    m_gather.setSingleShot(true);
    m_gather.setTimerType(Qt::PreciseTimer);
    m_gather.setInterval(GatherInterval);
    connect(&m_gather, &QTimer::timeout, this, &SerialBackend::onGathered);
}

SerialBackend::~SerialBackend()
{
    close();
}

Result<> SerialBackend::open(const QString& portName, const LineSettings& settings)
{
    if (isOpen())
        close();
    const QString location = SystemLocation(portName);
    const QString label = PortLabel(portName, location);
    if (const Result<> may = MayOpen(portName, settings, m_sysfsRoot); !may)
        return refuse(location, may.Reason());

    // Another program that has the port holds its lock, whatever name it reached it by.
    auto lock = std::make_unique<PortLock>(location, m_lockFolders);
    if (const PortLock::Outcome taken = lock->take(); !taken)
        return refuse(location, DescribeOpenFailure(label, taken.Error()));

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
        return refuse(location, DescribeOpenFailure(label, failure));
    }
    termios line{};
    bool set = ::tcgetattr(fd, &line) == 0;
    if (set) {
        m_saved = line;
        set = ApplySettings(fd, settings, line);
    }
    if (!set) {
        const int error = errno;
        ::close(fd);
        return refuse(
            location,
            DescribeOpenFailure(
                label, {OpenFailure::Other, {}, QString::fromLocal8Bit(std::strerror(error))}));
    }
    // Nobody else may open the line while it is ours (root still can). The mark stays on the
    // line, not on this descriptor: close() takes it off again.
    ::ioctl(fd, TIOCEXCL);
    // Whatever sat in the driver from before belongs to no command of ours.
    ::tcflush(fd, TCIFLUSH);

    m_fd = fd;
    m_lock = std::move(lock);
    m_losing = false;
    m_received.clear();
    m_unwritten.clear();
    m_reader = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(m_reader, &QSocketNotifier::activated, this, &SerialBackend::onReadable);
    m_writer = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    m_writer->setEnabled(false);
    connect(m_writer, &QSocketNotifier::activated, this, &SerialBackend::onWritable);
    qCInfo(lcLink) << "opened" << location;
    return {};
}

Failure SerialBackend::refuse(const QString& location, const QString& message)
{
    qCDebug(lcLink) << "not opened:" << location << message;
    return {message};
}

void SerialBackend::close()
{
    if (m_fd < 0)
        return;
    m_gather.stop();
    // A command that has not left while the line was ours must never go out later, when
    // another program has it or its output is let go.
    if (outputWaiting() > 0)
        discardOutput();
    m_drain.Stop();
    delete m_reader;
    delete m_writer;
    m_reader = nullptr;
    m_writer = nullptr;
    // The line is left as it was found, and open to others: on a pseudo-terminal (and the
    // virtual ports of serial-over-network servers) the exclusive mark outlives the close,
    // and would keep every user but root out of it, this program's next open included.
    ::tcsetattr(m_fd, TCSANOW, &m_saved);
    ::ioctl(m_fd, TIOCNXCL);
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
    // A pseudo-terminal has no modem lines; that is no failure of the link, and nothing to
    // tell anyone about.
    if (::ioctl(m_fd, raised ? TIOCMBIS : TIOCMBIC, &rts) != 0 && errno != ENOTTY
        && errno != EINVAL)
        qCDebug(lcLink) << "RTS not set:" << std::strerror(errno);
}

Result<> SerialBackend::write(const QByteArray& bytes)
{
    // A line being lost is told by the reason it was lost for.
    if (m_losing)
        return Failure{m_lostReason};
    if (m_fd < 0)
        return Failure{tr("The serial port is not open.")};
    m_unwritten += bytes;
    onWritable();
    m_drain.Written();
    if (m_losing)
        return Failure{m_lostReason};
    return {};
}

qsizetype SerialBackend::outputWaiting() const
{
    return m_fd < 0 ? 0 : m_unwritten.size() + OutputQueued(m_fd);
}

void SerialBackend::discardOutput()
{
    if (m_fd < 0)
        return;
    m_unwritten.clear();
    m_writer->setEnabled(false);
    ::tcflush(m_fd, TCOFLUSH);
    m_drain.Stop();
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
        const int error = n < 0 ? errno : EIO;
        lose(LineGone(m_fd).value_or(QString::fromLocal8Bit(std::strerror(error))));
        return;
    }
    m_writer->setEnabled(!m_unwritten.isEmpty());
}

void SerialBackend::onReadable()
{
    const LineRead read = ReadLine(m_fd, m_received);
    if (read.loss)
        return lose(*read.loss);
    // Woken with nothing to read, and the line is fine: the notifier also wakes on events
    // that are no data.
    if (!read.gotBytes)
        return;
    // Let the next characters gather instead of waking for each one.
    m_reader->setEnabled(false);
    m_gather.start();
    emit readyRead();
}

void SerialBackend::onGathered()
{
    if (m_fd < 0 || m_losing)
        return;
    const LineRead read = ReadLine(m_fd, m_received);
    if (read.loss)
        return lose(*read.loss);
    if (read.gotBytes) {
        m_gather.start();
        emit readyRead();
        return;
    }
    // A quiet spell: the first character after it is read as soon as it comes, and a line
    // that goes away is noticed at once.
    m_reader->setEnabled(true);
}

void SerialBackend::lose(const QString& reason)
{
    // A lost port is closed only once, on the next turn of the event loop rather than
    // inside its own notifier.
    if (m_losing)
        return;
    m_losing = true;
    m_lostReason = reason;
    m_reader->setEnabled(false);
    m_writer->setEnabled(false);
    m_gather.stop();
    qCWarning(lcLink) << "port lost:" << reason;
    QMetaObject::invokeMethod(
        this, [this, reason] { closeLostPort(reason); }, Qt::QueuedConnection);
}

void SerialBackend::closeLostPort(const QString& reason)
{
    if (m_fd < 0)
        return;
    // What arrived before the line went away is still delivered.
    if (!m_received.isEmpty())
        emit readyRead();
    close();
    emit lost(reason);
}

} // namespace qm
