#pragma once

#include "serial/CommBackend.h"
#include "serial/PortLock.h"
#include "serial/TerminalLine.h"

#include <QSerialPort>

namespace qm {

// The serial control's backend over Qt's serial port: the reference the program's own
// backend on the terminal interface is checked against, and the backend of a build made
// with -DQM6200_SERIAL_BACKEND=qt. It wakes for every arrival instead of letting the bytes
// gather, and takes Qt's read errors for what the line says they are.
class QtSerialBackend : public CommBackend {
    Q_OBJECT

public:
    // `sysfsRoot` is where the kernel's device tree is read to tell a serial line from
    // other devices (see ClassifyDevice); tests give a made-up tree. `lockFolders` are where
    // another program's lock is looked for before Qt takes the port (see open()); tests give
    // folders of their own.
    explicit QtSerialBackend(QObject* parent = nullptr,
                             const QString& sysfsRoot = QStringLiteral("/sys"),
                             const QStringList& lockFolders = UsualLockFolders());

    Result<> open(const QString& portName, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    void setRequestToSend(bool raised) override;
    Result<> write(const QByteArray& bytes) override;
    qsizetype outputWaiting() const override;
    void discardOutput() override;
    QByteArray readAll() override;
    std::unique_ptr<CommBackend> Another() const override
    {
        return std::make_unique<QtSerialBackend>(nullptr, m_sysfsRoot, m_lockFolders);
    }

private:
    void onError(QSerialPort::SerialPortError error);
    void lose(const QString& reason);
    void closeLostPort(const QString& reason);

    QSerialPort m_port;
    QString m_sysfsRoot;
    OutputDrain m_drain;
    QStringList m_lockFolders;
    QString m_lostReason;  // why the line was lost, while it is being closed
    QByteArray m_received; // read past Qt while asking the line, not yet handed on
    bool m_opening = false;
    bool m_losing = false; // a lost port is being closed; further errors are its echo
};

} // namespace qm
