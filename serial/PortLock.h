#pragma once

#include "base/Result.h"
#include "ports/PortNames.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <sys/types.h>

namespace qm {

// A serial port is shared with every other program on the computer through a lock file:
// LCK..<device> in a lock folder everyone uses, naming the process that holds the port.
// Programs have written it in several ways over the years (the number as text, padded to ten
// places or not, alone or followed by the program's and the computer's names, or as the
// number's bytes), and a program may end without removing it. A port is held while the
// process its lock names lives, whatever that program is called; a lock that names no
// process is being written, or was left half written, and is held only for a few seconds.

// The folders serial programs look for locks in, in the order they look.
QStringList UsualLockFolders();

// The lock file's name for a device, after the device itself and not the name it was reached
// by (a link under /dev/serial/by-id, a relative path): links followed, "/dev/" removed, '/'
// written as '_', "LCK.." in front.
QString LockFileName(const QString& device);

// The process a lock file's content names, in any of the ways programs write it; none when
// it names none (empty, cut short, not a process number).
std::optional<pid_t> LockFilePid(const QByteArray& content);

// The port's lock, taken for as long as the port is open, in the first of `folders` that can
// take it. Released when destroyed.
class PortLock {
public:
    // How long a lock that names no process is taken for one still being written.
    static constexpr std::chrono::seconds WritingTime{5};

    explicit PortLock(const QString& device, const QStringList& folders = UsualLockFolders());
    ~PortLock();
    PortLock(const PortLock&) = delete;
    PortLock& operator=(const PortLock&) = delete;

    // The lock file; empty when no folder can take one.
    const QString& path() const { return m_path; }
    bool isTaken() const { return m_taken; }

    // Whether the port may be opened, and why not: another program holds it, or its lock is
    // left over and cannot be removed.
    using Outcome = Result<void, OpenFailure>;

    // Takes the lock, in place of one that nobody holds any more. Where no folder can take a
    // lock, the port is opened without one.
    Outcome take();
    // The same, for a port whose library writes its own lock: nothing is written, a lock
    // nobody holds is removed so that the library can take the port.
    Outcome clearWay();
    void release();

private:
    Outcome settle(bool write);

    QString m_path;
    bool m_taken = false;
};

} // namespace qm
