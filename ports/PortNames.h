#pragma once

#include <QString>

namespace qm {

// The ports the operator picks from: COM1 to COM4, entry i standing for port i + 1.
inline constexpr int PortEntries = 4;
QString PortEntryName(int entry);

// Where a port name lives on this system. On Linux COM1 to COM4 are /dev/ttyS0 to
// /dev/ttyS3; any other name (a device path) is used as it is.
QString SystemLocation(const QString& portName);

// What a path names, as far as using it as the instrument's line goes. Decided from the
// file's kind alone, without opening it: opening some devices has effects of their own (a
// watchdog arms itself, a console changes hands, a log is read away).
enum class DeviceKind {
    Missing,    // nothing there, or nothing this user may look at
    SerialLine, // a terminal line with hardware behind it, or a pseudo-terminal
    NotSerial,  // any other device, a plain file, a FIFO, a folder
    StaleLink,  // a link to a pseudo-terminal opened after the link was made
};

// On Linux a serial line is a character device that the kernel's device tree (sysfs, at
// `sysfsRoot`) files under the class tty with a `device` behind it, or a pseudo-terminal's
// slave. Symbolic links (such as /dev/serial/by-id/...) are followed; but a link that leads to
// a pseudo-terminal older than itself no longer leads where it was made to. The system gives a
// closed terminal's number to the next one opened, by anyone, and a link left behind by a
// program that ended now names a stranger: a program that makes such links makes them after its
// terminal, and makes them again when it starts again.
DeviceKind ClassifyDevice(const QString& path, const QString& sysfsRoot = QStringLiteral("/sys"));

// Whether `path` is itself a pseudo-terminal's node, not a link to one. Such a name holds for
// the terminal's life alone: once the terminal has closed, its number is the next one's.
bool NamesPseudoTerminal(const QString& path);

// Whether `path` leads to a pseudo-terminal that belongs to this user (a link made after it
// included, as ClassifyDevice has it).
bool IsOwnPseudoTerminal(const QString& path);

// What the text typed into the port box means.
struct PortChoice {
    enum Kind {
        Entry,   // one of the four entries, in any letter case
        Device,  // another serial device, used as the port for this run
        Invalid, // empty, or names no serial device: `problem` says what to do
    };
    Kind kind = Invalid;
    int entry = -1;
    QString device;
    QString problem;
};

PortChoice InterpretPortText(const QString& text,
                             const QString& sysfsRoot = QStringLiteral("/sys"));

// What to tell a user who may not open a device, from the device's permission bits
// (`mode`), the name of the group that owns it (empty when unknown), whether the user
// database lists the user in that group (as a member or as the primary group) and whether
// this running program holds that group.
enum class PermissionAdvice {
    JoinGroup,    // the group may read and write: the administrator adds the user to it
    LogInAgain,   // the user was added, but after this session began
    AskForAccess, // no group to join helps: the administrator must grant access
};
PermissionAdvice AdvisePermission(unsigned mode, const QString& group, bool userListedInGroup,
                                  bool processHasGroup);

// Why a port would not open, in an operator's words.
struct OpenFailure {
    enum Reason {
        NoSuchDevice,
        NotSerial,    // the name is no serial line; it was not opened
        StaleLink,    // the name is a link left behind; it was not opened
        NoPermission, // the device exists but this user may not use it
        InUse,        // another program (or another window of this one) has it
        Other,
    };
    Reason reason = Other;
    QString deviceGroup; // for NoPermission: the group that owns the device, if known
    QString detail;      // for Other: the system's own words
    // For NoPermission: the rest of what AdvisePermission decides on.
    unsigned deviceMode = 0;
    bool userListedInGroup = false;
    bool processHasGroup = false;
    // For InUse: the lock file that says so, and the process it names (0: none) and that
    // process's name, as far as the system tells.
    QString lockFile{};
    qint64 holderPid = 0;
    QString holderProgram{};
};

QString DescribeOpenFailure(const QString& portLabel, const OpenFailure& failure);

} // namespace qm
