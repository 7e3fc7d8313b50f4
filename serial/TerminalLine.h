#pragma once

#include "base/Result.h"
#include "ports/PortNames.h"
#include "serial/LineSettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <termios.h>

namespace qm {

// What every serial backend asks of a terminal line, whichever code drives it: whether a
// name may be opened at all, why an open was refused, and whether a line that woke the
// program with nothing to read is gone or only woke it for nothing.

// "COM1 (/dev/ttyS0)" for an entry, the device itself otherwise.
QString PortLabel(const QString& portName, const QString& location);

// The terminal interface's speed for a baud rate; B0 for a rate it has no speed for.
speed_t TerminalSpeed(int baudRate);

// Whether the port may be opened, decided without opening anything; if not, the operator's
// message: the name is no serial line (or nothing at all), or the settings are ones no line
// here takes.
Result<> MayOpen(const QString& portName, const LineSettings& settings, const QString& sysfsRoot);

// Why a device that exists could not be opened for lack of rights, or, with the rights,
// because another program holds it.
OpenFailure PermissionFailure(const QString& location);

// Whether the line itself says it is gone, and why: a hang-up or an error that poll reports,
// the device removed from the system.
std::optional<QString> LineGone(int fd);

// The most a line is read at once, in one pass of the event loop. A device that sends far
// faster than the instrument's 9600 baud (a USB device that ignores the baud rate) is taken a
// few kilobytes at a time, the rest waiting in the driver, so that the windows answer in
// between and nothing piles up in memory.
inline constexpr qsizetype MostReadAtOnce = 4096;

// Bytes the driver holds that have not left the line yet.
qsizetype OutputQueued(int fd);

// Tells when what was written has left the line. Nothing says so by itself (a line is
// writable again long before its last bytes went), so after each write the bytes still
// waiting are looked at on the next turn of the event loop, and then every few milliseconds
// while any remain: two or three looks for a command at 9600 baud, none while idle.
class OutputDrain : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds LookEvery{5};

    // `waiting` counts the bytes written that have not left.
    explicit OutputDrain(std::function<qsizetype()> waiting, QObject* parent = nullptr);

    // Bytes were written.
    void Written();
    // What waited was dropped, or the line closed: nothing is awaited any more.
    void Stop() { m_timer.stop(); }

signals:
    // Everything written has left.
    void Drained();

private:
    void Look();

    std::function<qsizetype()> m_waiting;
    QTimer m_timer;
};

// What reading a line brought: the bytes are appended to `into`; `loss` says why the line
// is gone, in the system's words, when it is. A wakeup with nothing to read is no loss by
// itself: only the line decides (an error from the read, or LineGone).
struct LineRead {
    bool gotBytes = false;
    std::optional<QString> loss;
};
LineRead ReadLine(int fd, QByteArray& into, qsizetype most = MostReadAtOnce);

} // namespace qm
