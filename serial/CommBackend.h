#pragma once

#include "base/Result.h"
#include "serial/LineSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

namespace qm {

// The device under the serial control: a real serial port, or a stand-in in memory.
// The control owns one backend and is the only code that talks to it.
class CommBackend : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Opens the named port with the given line settings; or why it would not open, in words
    // an operator understands.
    virtual Result<> open(const QString& portName, const LineSettings& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void setRequestToSend(bool raised) = 0;
    // Hands bytes to the device, or says why they cannot be sent (a line being lost: why it
    // was lost). They have left the port when `sent` comes.
    virtual Result<> write(const QByteArray& bytes) = 0;
    // Bytes written that have not left the port yet: still with the program, or waiting in
    // the driver (a line whose output is stopped, by flow control or by another program,
    // keeps them).
    virtual qsizetype outputWaiting() const = 0;
    // Drops what has not left, so that it never goes out later.
    virtual void discardOutput() = 0;
    // Everything received and not yet read.
    virtual QByteArray readAll() = 0;

    // A backend of the same kind and settings, closed, for a line of its own on another port.
    virtual std::unique_ptr<CommBackend> Another() const = 0;

signals:
    // Bytes are waiting to be read with readAll().
    void readyRead();
    // Everything written so far has left the port. Comes from the event loop, never from
    // within write().
    void sent();
    // The device went away while open (a cable or adapter pulled, the other end hung up).
    // The backend has closed itself; this comes once for each open.
    void lost(const QString& reason);
};

} // namespace qm
