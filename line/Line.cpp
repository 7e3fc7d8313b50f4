#include "line/Line.h"

#include "ports/Log.h"
#include "ports/PortNames.h"
#include "ports/ReturnWatch.h"

#include <QTimer>

namespace qm {

Line::Line(std::unique_ptr<CommBackend> backend, const SystemRoots& system, QObject* parent)
    : QObject(parent)
    , m_control(new qm::QmtTxRx(std::move(backend), this))
    , m_owner(*m_control)
    , m_system(system)
{
    m_control->setObjectName(QStringLiteral("QmtTxRx"));
    connect(m_control, &qm::QmtTxRx::OnComm, this, &Line::OnComm);
    connect(m_control, &qm::QmtTxRx::PortLost, this, &Line::PortLost);
    connect(m_control, &qm::QmtTxRx::Sent, this, [this] {
        if (m_current)
            m_current->CommandLeft();
    });
}

Line::~Line()
{
    StopWaitingForReturn();
}

bool Line::Busy() const
{
    return (m_current && m_current->Waiting()) || !m_waiting.empty();
}

void Line::Run(Exchange* exchange)
{
    exchange->setParent(this);
    m_waiting.emplace_back(exchange);
    if (!m_current || !m_current->Waiting())
        Next();
}

void Line::Next()
{
    while (!m_waiting.empty()) {
        Exchange* next = m_waiting.front();
        m_waiting.pop_front();
        if (!next)
            continue;
        Exchange* previous = m_current;
        m_current = next;
        connect(next, &Exchange::Over, this, [this, next] {
            // Queued: whoever listens to this one's end has heard it before the next begins.
            QMetaObject::invokeMethod(
                this,
                [this, next] {
                    if (m_current == next && !next->Waiting())
                        Next();
                },
                Qt::QueuedConnection);
        });
        const QString device = SystemLocation(m_control->PortName());
        next->Begin(*m_control, device, StableName(device, m_system));
        if (!next->Waiting()) {
            // Not written: nothing changed on the line, and what comes still belongs to the
            // one before.
            m_current = previous;
            next->deleteLater();
            continue;
        }
        // The last one's late characters are its own no more.
        if (previous && previous != next) {
            previous->Retire();
            previous->deleteLater();
        }
        return;
    }
}

void Line::OnComm()
{
    if (m_control->CommEvent() != qm::QmtTxRx::comEvReceive)
        return;
    const QByteArray chunk = m_control->InputBytes();
    emit Received(chunk);
    if (m_current)
        m_current->Take(chunk);
}

void Line::DropWaiting()
{
    const auto waiting = std::exchange(m_waiting, {});
    for (const QPointer<Exchange>& exchange : waiting) {
        if (exchange)
            exchange->deleteLater();
    }
}

void Line::CloseForChoosing()
{
    StopWaitingForReturn();
    DropWaiting();
    if (m_current)
        m_current->Stop(AnswerEnd::Stopped);
    m_owner.CloseForChoosing();
}

void Line::Unload()
{
    m_ending = true;
    StopWaitingForReturn();
    DropWaiting();
    if (m_current)
        m_current->Stop(AnswerEnd::Stopped);
    m_owner.Unload();
}

void Line::PortLost(const QString& reason)
{
    DropWaiting();
    if (m_current)
        m_current->PortLost(reason);
    const bool comingBack = !m_ending && !m_remembered.choice.isEmpty() && m_remembered.CanReturn();
    // Not from here: whoever is told may wait for the operator, the port's return must not.
    if (comingBack)
        QTimer::singleShot(0, this, &Line::WaitForReturn);
    emit Lost(reason, comingBack);
}

void Line::WaitForReturn()
{
    if (m_ending || m_control->PortOpen() || m_return)
        return;
    m_return = new ReturnWatch(m_remembered, m_system, this);
    m_return->setObjectName(QStringLiteral("returnWatch"));
    connect(m_return, &ReturnWatch::Returned, this, &Line::Reconnect);
    connect(m_return, &ReturnWatch::WouldNotOpen, this, &Line::ReturnWouldNotOpen);
}

void Line::Reconnect(const QString& device)
{
    if (const Result<> opened = m_owner.TryOpen(SelectionFor(device)); !opened) {
        m_return->OpenFailed(opened.Reason());
        return;
    }
    StopWaitingForReturn();
    qCInfo(lcLink) << "reconnected to" << device;
    emit Reconnected(device);
}

void Line::StopWaitingForReturn()
{
    if (!m_return)
        return;
    // Maybe inside the watch's own signal: it goes once that has returned, and tells nothing
    // more meanwhile (a dialog's loop may run before it goes).
    disconnect(m_return, nullptr, this, nullptr);
    m_return->setParent(nullptr);
    m_return->deleteLater();
    m_return = nullptr;
}

} // namespace qm
