#pragma once

#include "CommBackend.h"

#include <QSerialPort>

namespace qm {

// The serial control's backend on a real serial port (or anything that behaves like one,
// such as a pseudo-terminal).
class SerialBackend : public CommBackend {
    Q_OBJECT

public:
    explicit SerialBackend(QObject* parent = nullptr);

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

    QSerialPort m_port;
    QString m_error;
    bool m_opening = false;
    bool m_losing = false; // a lost port is being closed; further errors are its echo
};

} // namespace qm
