#pragma once

#include "link/LineSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace qm {

// The device under the serial control: a real serial port, or a stand-in in memory.
// The control owns one backend and is the only code that talks to it.
class CommBackend : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Opens the named port with the given line settings. On failure returns false and
    // errorText() says why, in words an operator understands.
    virtual bool open(const QString& portName, const LineSettings& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void setRequestToSend(bool raised) = 0;
    // Hands bytes to the device; false (and errorText()) when they cannot be sent.
    virtual bool write(const QByteArray& bytes) = 0;
    // Everything received and not yet read.
    virtual QByteArray readAll() = 0;
    virtual QString errorText() const = 0;

signals:
    // Bytes are waiting to be read with readAll().
    void readyRead();
    // The device went away while open (a cable or adapter pulled, the other end hung up).
    // The backend has closed itself; this comes once for each open.
    void lost(const QString& reason);
};

} // namespace qm
