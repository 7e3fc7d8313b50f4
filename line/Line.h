#pragma once

#include "line/Exchange.h"
#include "ports/PortList.h"
#include "ports/PortMemory.h"
#include "ports/ReturnWatch.h"
#include "serial/CommBackend.h"
#include "serial/PortOwner.h"
#include "serial/QmtTxRx.h"

#include <QObject>
#include <QPointer>

#include <deque>
#include <memory>

namespace qm {

// A serial port and what runs on it: the serial control, which port it uses and how it is
// opened (PortOwner), exchanges one at a time on the wire in the order they came, and the
// wait for a lost port's return. Several lines run at once in one process, each on its own
// port; two users of one port (a window and a watch) share its line, and never mix on the
// wire.
class Line : public QObject {
    Q_OBJECT

public:
    // The serial ports are looked for in `system` (tests give a made-up tree).
    explicit Line(std::unique_ptr<CommBackend> backend, const SystemRoots& system = {},
                  QObject* parent = nullptr);
    ~Line() override;

    qm::QmtTxRx& Control() { return *m_control; }
    const qm::QmtTxRx& Control() const { return *m_control; }
    PortOwner& Owner() { return m_owner; }

    // Runs `exchange` once those before it are over, and takes it. The last one over stays
    // (its late characters are its own) until the next begins.
    void Run(Exchange* exchange);
    // The exchange whose answer is awaited, else the last one over; none before the first.
    Exchange* Current() const { return m_current; }
    // An answer is awaited, or an exchange waits its turn.
    bool Busy() const;

    // The port closes while the operator chooses, or for good: the exchange under way stops,
    // those waiting are dropped unsent, and a lost port is no longer waited for.
    void CloseForChoosing();
    void Unload();
    // From now on no port is opened again by itself.
    void EndRun() { m_ending = true; }

    // The port that opened last, and how it is found again: when lost, it is opened again as
    // soon as it is back, unless it cannot come back (a pseudo-terminal by its number).
    // Nothing is sent again by itself.
    void Remember(const RememberedPort& port) { m_remembered = port; }
    const RememberedPort& Remembered() const { return m_remembered; }
    void StopWaitingForReturn();
    bool WaitingForReturn() const { return m_return != nullptr; }

signals:
    // Every chunk as it arrives, whatever runs.
    void Received(const QByteArray& bytes);
    // The open port went away; whether it is waited for to come back.
    void Lost(const QString& reason, bool waitingForReturn);
    // It is back and open again, under this name.
    void Reconnected(const QString& device);
    // It came back but would not open for a while: why. The wait goes on.
    void ReturnWouldNotOpen(const QString& reason);

private:
    void OnComm();
    void PortLost(const QString& reason);
    void Next();
    void DropWaiting();
    void WaitForReturn();
    void Reconnect(const QString& device);

    qm::QmtTxRx* m_control;
    PortOwner m_owner;
    SystemRoots m_system;
    QPointer<Exchange> m_current;
    std::deque<QPointer<Exchange>> m_waiting;
    RememberedPort m_remembered;
    QPointer<ReturnWatch> m_return;
    bool m_ending = false;
};

} // namespace qm
