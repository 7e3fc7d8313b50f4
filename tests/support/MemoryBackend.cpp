#include "tests/support/MemoryBackend.h"

namespace qm {

Result<> MemoryBackend::open(const QString& portName, const LineSettings& settings)
{
    if (!m_openFailure.isEmpty())
        return Failure{m_openFailure};
    m_open = true;
    m_portName = portName;
    m_settings = settings;
    m_received.clear();
    ++m_openCount;
    return {};
}

void MemoryBackend::close()
{
    m_open = false;
    m_held.clear();
    m_rts = false;
    m_received.clear();
}

void MemoryBackend::loseDevice(const QString& reason)
{
    if (!m_open)
        return;
    close();
    emit lost(reason);
}

Result<> MemoryBackend::write(const QByteArray& bytes)
{
    if (!m_open)
        return Failure{tr("The port is not open.")};
    if (!m_writeFailure.isEmpty())
        return Failure{m_writeFailure};
    if (m_outputStopped) {
        m_held += bytes;
        return {};
    }
    if (onWrite)
        onWrite(bytes);
    m_written += bytes;
    QMetaObject::invokeMethod(this, &CommBackend::sent, Qt::QueuedConnection);
    return {};
}

void MemoryBackend::setOutputStopped(bool stopped)
{
    m_outputStopped = stopped;
    if (!stopped && !m_held.isEmpty())
        (void)write(std::exchange(m_held, {}));
}

QByteArray MemoryBackend::readAll()
{
    return std::exchange(m_received, {});
}

void MemoryBackend::deliver(const QByteArray& bytes)
{
    QMetaObject::invokeMethod(
        this, [this, bytes] { arrive(bytes); }, Qt::QueuedConnection);
}

void MemoryBackend::arrive(const QByteArray& bytes)
{
    // A closed port receives nothing, as a real one would not.
    if (!m_open)
        return;
    m_received += bytes;
    emit readyRead();
}

} // namespace qm
