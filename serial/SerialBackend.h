#pragma once

#include "serial/CommBackend.h"
#include "serial/PortLock.h"
#include "serial/TerminalLine.h"

#include <QTimer>

#include <chrono>
#include <memory>
#include <termios.h>

class QSocketNotifier;

namespace qm {

// The serial control's backend on a real serial port (or anything that behaves like one,
// such as a pseudo-terminal), straight over the terminal interface. After each read the
// port's bytes are left to gather for a moment before the next: at 9600 baud a character
// comes every millisecond, and waking for each costs far more than handling it. The first
// character after a quiet spell is read at once. The port is locked with a lock file that
// programs on Qt's serial port and others read too (see PortLock).
class SerialBackend : public CommBackend {
    Q_OBJECT

public:
    // About the time 16 characters take at 9600 baud.
    static constexpr std::chrono::milliseconds GatherInterval{16};

    // `sysfsRoot` is where the kernel's device tree is read to tell a serial line from
    // other devices (see ClassifyDevice); tests give a made-up tree. `lockFolders` are where
    // the port's lock is looked for and taken (see PortLock); tests give folders of their own.
    explicit SerialBackend(QObject* parent = nullptr,
                           const QString& sysfsRoot = QStringLiteral("/sys"),
                           const QStringList& lockFolders = UsualLockFolders());
    ~SerialBackend() override;

    Result<> open(const QString& portName, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return m_fd >= 0; }
    void setRequestToSend(bool raised) override;
    Result<> write(const QByteArray& bytes) override;
    qsizetype outputWaiting() const override;
    void discardOutput() override;
    QByteArray readAll() override;
    std::unique_ptr<CommBackend> Another() const override
    {
        return std::make_unique<SerialBackend>(nullptr, m_sysfsRoot, m_lockFolders);
    }

private:
    void onReadable();
    void onGathered();
    void onWritable();
    void lose(const QString& reason);
    void closeLostPort(const QString& reason);
    static Failure refuse(const QString& location, const QString& message);

    QString m_sysfsRoot;
    QStringList m_lockFolders;
    int m_fd = -1;
    termios m_saved{}; // the line's settings before it was opened, put back on close
    std::unique_ptr<PortLock> m_lock;
    QSocketNotifier* m_reader = nullptr;
    QSocketNotifier* m_writer = nullptr;
    QTimer m_gather;
    OutputDrain m_drain;
    QByteArray m_received;
    QByteArray m_unwritten;
    QString m_lostReason;  // why the line was lost, while it is being closed
    bool m_losing = false; // a lost port is being closed; further errors are its echo
};

} // namespace qm
