#pragma once

#include "link/CommBackend.h"
#include "link/PortNames.h"

#include <QSerialPort>

namespace qm {

// The serial control's backend on a real serial port (or anything that behaves like one,
// such as a pseudo-terminal).
class SerialBackend : public CommBackend {
    Q_OBJECT

public:
    // `sysfsRoot` is where the kernel's device tree is read to tell a serial line from
    // other devices (see ClassifyDevice); tests give a made-up tree.
    explicit SerialBackend(QObject* parent = nullptr,
                           const QString& sysfsRoot = QStringLiteral("/sys"));

    bool open(const QString& portName, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return m_port.isOpen(); }
    void setRequestToSend(bool raised) override;
    bool write(const QByteArray& bytes) override;
    QByteArray readAll() override { return m_port.readAll(); }
    QString errorText() const override { return m_error; }

private:
    void onError(QSerialPort::SerialPortError error);
    void closeLostPort(const QString& reason);
    bool refuse(const QString& location, const QString& label, const OpenFailure& failure);

    QSerialPort m_port;
    QString m_sysfsRoot;
    QString m_error;
    bool m_opening = false;
    bool m_losing = false; // a lost port is being closed; further errors are its echo
};

} // namespace qm
