#pragma once

#include "serial/CommBackend.h"
#include "serial/LineSettings.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace qm {

// The serial communications control of the main window. It offers the properties the
// program's handlers use (CommPort, Settings, PortOpen, RTSEnable, Output, Input,
// CommEvent) and raises OnComm once for every byte that arrives: Input then returns that
// byte as a one-character text. Bytes that arrive together are delivered one event each,
// in order, each handled to its end before the next.
class QmtTxRx : public QObject {
    Q_OBJECT

public:
    static constexpr std::int16_t comEvReceive = 2;

    explicit QmtTxRx(std::unique_ptr<CommBackend> backend, QObject* parent = nullptr);
    ~QmtTxRx() override;

    std::int16_t CommPort() const { return m_commPort; }
    void setCommPort(std::int16_t port) { m_commPort = port; }

    // A serial device used in place of COM<CommPort> (a USB adapter's /dev/ttyUSB0, say);
    // empty to use CommPort.
    QString DeviceName() const { return m_deviceName; }
    void setDeviceName(const QString& device) { m_deviceName = device; }

    QString Settings() const { return m_settingsText; }
    // Refuses (changes nothing) a text that is not "baud,parity,data,stop".
    Result<> setSettings(const QString& text);

    bool PortOpen() const;
    // Opening uses CommPort and Settings; a port that would not open says why. Closing
    // always succeeds.
    Result<> setPortOpen(bool open);

    bool RTSEnable() const { return m_rtsEnable; }
    void setRTSEnable(bool enable);

    // Sends a text, one byte per character (codes 0 to 255; any other character is sent as
    // '?'). Sends nothing, and says why, when the port is not open or refuses the bytes.
    Result<> Output(const QString& text);
    // Characters sent that have not left the port yet; setting it to 0 drops them, so that
    // they never go out.
    int OutBufferCount() const;
    void setOutBufferCount(int count);
    // The chunk of the receive event being handled; reading it empties it.
    QString Input();
    // The same as bytes, for the receive path: no text is made of them.
    QByteArray InputBytes();
    std::int16_t CommEvent() const { return m_commEvent; }

    // The port that opening uses: DeviceName, or else COM<CommPort>.
    QString PortName() const;

    CommBackend& backend() { return *m_backend; }

signals:
    void OnComm();
    // Everything Output sent has left the port.
    void Sent();
    // The open port went away; it is closed now. Comes once for each loss, after
    // OpenChanged(false).
    void PortLost(const QString& reason);
    // The port opened or closed, whoever asked, or went away.
    void OpenChanged(bool open);

private:
    void onReadyRead();
    void onLost(const QString& reason);

    std::unique_ptr<CommBackend> m_backend;
    std::int16_t m_commPort = 1;
    QString m_deviceName;
    QString m_settingsText = QString::fromLatin1(InstrumentSettings);
    LineSettings m_settings;
    bool m_rtsEnable = false;
    std::int16_t m_commEvent = 0;
    // The byte of the receive event being handled, until it is read.
    char m_input = 0;
    bool m_hasInput = false;
    QByteArray m_pending; // received, not yet delivered as events
    bool m_delivering = false;
};

} // namespace qm
