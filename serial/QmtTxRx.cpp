#include "serial/QmtTxRx.h"

#include "ports/Log.h"
#include "ports/PortNames.h"

#include <algorithm>
#include <limits>

namespace qm {

QmtTxRx::QmtTxRx(std::unique_ptr<CommBackend> backend, QObject* parent)
    : QObject(parent)
    , m_backend(std::move(backend))
{
    m_backend->setParent(nullptr);
    connect(m_backend.get(), &CommBackend::readyRead, this, &QmtTxRx::onReadyRead);
    connect(m_backend.get(), &CommBackend::lost, this, &QmtTxRx::onLost);
    connect(m_backend.get(), &CommBackend::sent, this, &QmtTxRx::Sent);
}

QmtTxRx::~QmtTxRx() = default;

Result<> QmtTxRx::setSettings(const QString& text)
{
    const auto parsed = ParseSettings(text.toStdString());
    if (!parsed) {
        return Failure{
            tr("\"%1\" is not a valid line setting (baud,parity,data bits,stop bits).").arg(text)};
    }
    m_settingsText = text;
    m_settings = *parsed;
    return {};
}

bool QmtTxRx::PortOpen() const
{
    return m_backend->isOpen();
}

QString QmtTxRx::PortName() const
{
    return m_deviceName.isEmpty() ? PortEntryName(m_commPort - 1) : m_deviceName;
}

Result<> QmtTxRx::setPortOpen(bool open)
{
    if (!open) {
        const bool wasOpen = m_backend->isOpen();
        m_backend->close();
        // Bytes not yet delivered belong to the port that is gone.
        m_pending.clear();
        if (wasOpen)
            emit OpenChanged(false);
        return {};
    }
    if (m_backend->isOpen())
        return {};
    Result<> opened = m_backend->open(PortName(), m_settings);
    if (!opened) {
        qCWarning(lcLink) << "open" << PortName() << "failed:" << opened.Reason();
        return opened;
    }
    m_backend->setRequestToSend(m_rtsEnable);
    emit OpenChanged(true);
    return {};
}

void QmtTxRx::setRTSEnable(bool enable)
{
    m_rtsEnable = enable;
    if (m_backend->isOpen())
        m_backend->setRequestToSend(enable);
}

Result<> QmtTxRx::Output(const QString& text)
{
    if (!m_backend->isOpen())
        return Failure{tr("The serial port is not open.")};
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text)
        bytes += c.unicode() <= 0xFF ? static_cast<char>(c.unicode()) : '?';
    return m_backend->write(bytes);
}

int QmtTxRx::OutBufferCount() const
{
    return int(std::min<qsizetype>(m_backend->outputWaiting(), std::numeric_limits<int>::max()));
}

void QmtTxRx::setOutBufferCount(int count)
{
    if (count == 0)
        m_backend->discardOutput();
}

QString QmtTxRx::Input()
{
    return std::exchange(m_hasInput, false) ? QString(QLatin1Char(m_input)) : QString();
}

QByteArray QmtTxRx::InputBytes()
{
    return std::exchange(m_hasInput, false) ? QByteArray(1, m_input) : QByteArray();
}

void QmtTxRx::onReadyRead()
{
    m_pending += m_backend->readAll();
    // A handler that runs a nested event loop may bring us back here; the delivery below
    // us on the stack then takes the new bytes in their turn.
    if (m_delivering)
        return;
    m_delivering = true;
    qsizetype next = 0;
    while (next < m_pending.size()) {
        m_input = m_pending[next++];
        m_hasInput = true;
        m_commEvent = comEvReceive;
        emit OnComm();
    }
    m_pending.clear();
    m_delivering = false;
}

void QmtTxRx::onLost(const QString& reason)
{
    m_pending.clear();
    emit OpenChanged(false);
    emit PortLost(reason);
}

} // namespace qm
