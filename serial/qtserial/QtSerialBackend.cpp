#include "serial/qtserial/QtSerialBackend.h"

#include "ports/Log.h"
#include "serial/TerminalLine.h"

#include <QFileInfo>

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

} // namespace

QtSerialBackend::QtSerialBackend(QObject* parent, const QString& sysfsRoot,
                                 const QStringList& lockFolders)
    : CommBackend(parent)
    // A child, so that what the port is made of is found under the backend, as with the
    // program's own.
    , m_port(this)
    , m_sysfsRoot(sysfsRoot)
    , m_drain([this] { return outputWaiting(); })
    , m_lockFolders(lockFolders)
{
    connect(&m_drain, &OutputDrain::Drained, this, &CommBackend::sent);
    // Qt reads no more than this before it is read in turn: a flood is taken a few
    // kilobytes at a time.
    m_port.setReadBufferSize(MostReadAtOnce);
    connect(&m_port, &QSerialPort::readyRead, this, &CommBackend::readyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &QtSerialBackend::onError);
}

Result<> QtSerialBackend::open(const QString& portName, const LineSettings& settings)
{
    close();
    const QString location = SystemLocation(portName);
    if (Result<> may = MayOpen(portName, settings, m_sysfsRoot); !may) {
        qCDebug(lcLink) << "not opened:" << location << may.Reason();
        return may;
    }
    // Qt's serial port takes its own lock with Qt's lock file, which takes a lock over when
    // its process runs under another name than the lock gives, or under one this user may
    // not read (a lock that gives no name, as most programs write them; any lock of another
    // user's program), and a lock that names no process only after half a minute. So the lock
    // is judged here first, as the program's own backend judges it: a lock of a live process
    // refuses the port, one that nobody holds is removed. Qt can still differ: it names its
    // lock after the name it is given (so it is given the device itself, links followed); in
    // the moment between this check and its own another program may take the port; and its
    // lock folder is always the first usual one, whatever `lockFolders` say.
    PortLock lock(location, m_lockFolders);
    if (const PortLock::Outcome cleared = lock.clearWay(); !cleared) {
        Failure refused{DescribeOpenFailure(PortLabel(portName, location), cleared.Error())};
        qCDebug(lcLink) << "not opened:" << location << refused.reason;
        return refused;
    }
    const QString device = QFileInfo(location).canonicalFilePath();
    m_port.setPortName(device.isEmpty() ? location : device);
    m_port.setBaudRate(settings.baudRate);
    m_port.setParity(ToQt(settings.parity));
    m_port.setDataBits(static_cast<QSerialPort::DataBits>(settings.dataBits));
    m_port.setStopBits(settings.stopBits == StopBits::Two ? QSerialPort::TwoStop
                                                          : QSerialPort::OneStop);
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
            // Qt says so of a device without rights, a device held exclusively and a lock
            // file held by another program alike; a lock taken since the check names its
            // holder.
            failure = PermissionFailure(location);
            if (failure.reason == OpenFailure::InUse) {
                if (const PortLock::Outcome cleared = lock.clearWay(); !cleared)
                    failure = cleared.Error();
            }
            break;
        default:
            failure.detail = m_port.errorString();
            break;
        }
        qCDebug(lcLink) << "open" << location << "failed:" << m_port.error()
                        << m_port.errorString();
        m_port.clearError();
        return Failure{DescribeOpenFailure(PortLabel(portName, location), failure)};
    }
    // Whatever sat in the driver from before belongs to no command of ours.
    m_port.clear(QSerialPort::Input);
    m_losing = false;
    qCInfo(lcLink) << "opened" << location;
    return {};
}

void QtSerialBackend::close()
{
    // A command that has not left while the line was ours must never go out later.
    if (outputWaiting() > 0)
        discardOutput();
    m_drain.Stop();
    if (m_port.isOpen())
        m_port.close();
    m_port.clearError();
    m_received.clear();
}

void QtSerialBackend::setRequestToSend(bool raised)
{
    if (!m_port.isOpen())
        return;
    // A pseudo-terminal has no modem lines; that is no failure of the link.
    if (!m_port.setRequestToSend(raised)
        && m_port.error() != QSerialPort::UnsupportedOperationError)
        qCDebug(lcLink) << "RTS not set:" << m_port.errorString();
    m_port.clearError();
}

Result<> QtSerialBackend::write(const QByteArray& bytes)
{
    // A line being lost is told by the reason it was lost for.
    if (m_losing)
        return Failure{m_lostReason};
    if (!m_port.isOpen())
        return Failure{tr("The serial port is not open.")};
    // Qt writes later, from the event loop: a line already gone is told now, as the
    // program's own backend tells it.
    if (const auto gone = LineGone(int(m_port.handle()))) {
        lose(*gone);
        return Failure{*gone};
    }
    if (m_port.write(bytes) != bytes.size())
        return Failure{m_port.errorString()};
    m_drain.Written();
    return {};
}

qsizetype QtSerialBackend::outputWaiting() const
{
    if (!m_port.isOpen())
        return 0;
    return qsizetype(m_port.bytesToWrite()) + OutputQueued(int(m_port.handle()));
}

void QtSerialBackend::discardOutput()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Output);
    m_drain.Stop();
}

QByteArray QtSerialBackend::readAll()
{
    return std::exchange(m_received, {}) + m_port.readAll();
}

void QtSerialBackend::onError(QSerialPort::SerialPortError error)
{
    // A failed open reports through open() itself; a lost port is closed only once, however
    // many errors it raises before the close has run.
    if (m_opening || m_losing || !m_port.isOpen())
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError: {
        // Qt says this of any read that brought nothing, with whatever errno held before:
        // a wakeup for nothing too, after which it may even stop reading. The line decides.
        // Reading what Qt holds starts its reading again.
        m_received += m_port.readAll();
        const LineRead read = ReadLine(int(m_port.handle()), m_received);
        if (read.loss)
            return lose(*read.loss);
        m_port.clearError();
        if (!m_received.isEmpty())
            emit readyRead();
        return;
    }
    case QSerialPort::WriteError:
        return lose(LineGone(int(m_port.handle())).value_or(m_port.errorString()));
    case QSerialPort::NoError:
    case QSerialPort::UnsupportedOperationError: // modem lines of a pseudo-terminal
    case QSerialPort::TimeoutError:
        return;
    default:
        qCDebug(lcLink) << "ignored" << error << m_port.errorString();
        return;
    }
}

void QtSerialBackend::lose(const QString& reason)
{
    m_losing = true;
    m_lostReason = reason;
    qCWarning(lcLink) << "port lost:" << reason;
    // Not closed here, inside the port's own signal: on the next turn of the event loop.
    QMetaObject::invokeMethod(
        this, [this, reason] { closeLostPort(reason); }, Qt::QueuedConnection);
}

void QtSerialBackend::closeLostPort(const QString& reason)
{
    if (!m_port.isOpen())
        return;
    // What arrived before the line went away is still delivered.
    if (!m_received.isEmpty() || m_port.bytesAvailable() > 0)
        emit readyRead();
    close();
    emit lost(reason);
}

} // namespace qm
