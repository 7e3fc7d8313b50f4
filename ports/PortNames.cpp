#include "ports/PortNames.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace qm {

namespace {

// Pseudo-terminal slaves (/dev/pts/N) take majors 136 to 143 and have no entry in sysfs.
bool IsPseudoTerminalSlave(unsigned devMajor)
{
    return devMajor >= 136 && devMajor <= 143;
}

// A terminal line with hardware behind it (a UART, a USB adapter). The virtual terminals
// (/dev/tty, /dev/console, /dev/ptmx, /dev/ttyN) are of the class tty too, but have no
// `device`.
bool IsHardwareTerminal(const QString& sysfsRoot, unsigned devMajor, unsigned devMinor)
{
    const QString entry = QStringLiteral("%1/dev/char/%2:%3")
                              .arg(sysfsRoot, QString::number(devMajor), QString::number(devMinor));
    // The entry is itself a link into the device tree, and the links inside it are relative
    // to where it really is: only the resolved path tells where `subsystem` leads.
    const QString subsystem = QFileInfo(entry + QStringLiteral("/subsystem")).canonicalFilePath();
    if (!subsystem.endsWith(QStringLiteral("/class/tty")))
        return false;
    const QFileInfo device(entry + QStringLiteral("/device"));
    return device.exists() || device.isSymLink();
}

bool Older(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Whether every link on the way from `path` to `target` was made (or last changed) no earlier
// than the target. The links are read one by one, as the system follows them.
bool LinksNoOlderThan(const QString& path, const struct stat& target)
{
    // The system gives up after 40 links as well.
    constexpr int MostLinks = 40;
    QString current = path;
    for (int hop = 0; hop < MostLinks; ++hop) {
        struct stat link {};
        const QByteArray name = QFile::encodeName(current);
        if (::lstat(name.constData(), &link) != 0)
            return false;
        if (!S_ISLNK(link.st_mode))
            return true;
        if (Older(link.st_ctim, target.st_ctim))
            return false;
        char buffer[4096];
        const ssize_t size = ::readlink(name.constData(), buffer, sizeof buffer);
        if (size <= 0 || size_t(size) >= sizeof buffer)
            return false;
        const QString step = QFile::decodeName(QByteArray(buffer, size));
        current = step.startsWith(QLatin1Char('/'))
                      ? step
                      : QFileInfo(current).absolutePath() + QLatin1Char('/') + step;
    }
    return false;
}

PortChoice Problem(const QString& text)
{
    PortChoice choice;
    choice.problem = text;
    return choice;
}

QString NotASerialPort(const QString& name)
{
    return QObject::tr("\"%1\" is not a serial port on this computer. Choose one of the "
                       "ports from the list, or type the full name of a serial device, "
                       "for example /dev/ttyUSB0.")
        .arg(name);
}

// What to tell of a port that is not there. `name` is the path looked for, or an entry with its
// device: "COM3 (/dev/ttyS2)". The hint fits the kind of name: an adapter's device comes and goes
// with the adapter, a board's port does not.
QString DoesNotExist(const QString& name)
{
    static const QRegularExpression adapterName(
        QStringLiteral("(^|/)tty(USB|ACM)[0-9]+$|/serial/by-(id|path)/"));
    static const QRegularExpression entryName(QStringLiteral("^COM[1-4] \\("));
    QString hint;
    if (adapterName.match(name).hasMatch())
        hint = QObject::tr("Plug in the USB adapter the instrument is connected to (its device is "
                           "there only while the adapter is plugged in), then try again, or "
                           "choose another port.");
    else if (entryName.match(name).hasMatch())
        hint = QObject::tr("This computer has no such port: choose another one, or for a USB "
                           "adapter its device, such as /dev/ttyUSB0.");
    else
        hint = QObject::tr("Check the name, or choose another port.");
    return QObject::tr("%1 does not exist on this computer.").arg(name) + QLatin1Char(' ') + hint;
}

QString StaleLinkText(const QString& name)
{
    return QObject::tr("\"%1\" is a link left behind: the pseudo-terminal it leads to was opened "
                       "after the link was made, so the program that made it has ended and the "
                       "terminal may be another program's. It was not opened. Start the program "
                       "that provides the port again, or choose another port.")
        .arg(name);
}

} // namespace

QString PortEntryName(int entry)
{
    return QStringLiteral("COM%1").arg(entry + 1);
}

QString SystemLocation(const QString& portName)
{
    static const QRegularExpression comPort(QStringLiteral("^COM([1-4])$"));
    const auto match = comPort.match(portName);
    if (match.hasMatch())
        return QStringLiteral("/dev/ttyS%1").arg(match.captured(1).toInt() - 1);
    return portName;
}

DeviceKind ClassifyDevice(const QString& path, const QString& sysfsRoot)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return DeviceKind::Missing;
    if (!S_ISCHR(info.st_mode))
        return DeviceKind::NotSerial;
    const unsigned devMajor = major(info.st_rdev);
    const unsigned devMinor = minor(info.st_rdev);
    if (IsPseudoTerminalSlave(devMajor))
        return LinksNoOlderThan(path, info) ? DeviceKind::SerialLine : DeviceKind::StaleLink;
    if (IsHardwareTerminal(sysfsRoot, devMajor, devMinor))
        return DeviceKind::SerialLine;
    return DeviceKind::NotSerial;
}

bool IsOwnPseudoTerminal(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode)
           && IsPseudoTerminalSlave(major(info.st_rdev)) && info.st_uid == ::geteuid()
           && ClassifyDevice(path) == DeviceKind::SerialLine;
}

bool NamesPseudoTerminal(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode)
           && IsPseudoTerminalSlave(major(info.st_rdev));
}

PortChoice InterpretPortText(const QString& typed, const QString& sysfsRoot)
{
    const QString text = typed.trimmed();
    if (text.isEmpty())
        return Problem(QObject::tr("Choose one of the ports from the list, or type the name of "
                                   "the serial device the instrument is connected to."));
    for (int entry = 0; entry < PortEntries; ++entry) {
        const QString name = PortEntryName(entry);
        if (text.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        // A missing entry is left to the open, which tells that it does not exist.
        const QString location = SystemLocation(name);
        if (location != name && ClassifyDevice(location, sysfsRoot) == DeviceKind::NotSerial)
            return Problem(NotASerialPort(QStringLiteral("%1 (%2)").arg(name, location)));
        return PortChoice{PortChoice::Entry, entry, {}, {}};
    }
    QString path = text;
    if (!path.startsWith(QLatin1Char('/')))
        path = QStringLiteral("/dev/") + path;
    switch (ClassifyDevice(path, sysfsRoot)) {
    case DeviceKind::SerialLine:
        return PortChoice{PortChoice::Device, -1, path, {}};
    case DeviceKind::StaleLink:
        return Problem(StaleLinkText(text));
    case DeviceKind::Missing:
        // Told by the path looked for: "ttyUSB0" is /dev/ttyUSB0.
        return Problem(DoesNotExist(path));
    case DeviceKind::NotSerial:
        break;
    }
    return Problem(NotASerialPort(text));
}

PermissionAdvice AdvisePermission(unsigned mode, const QString& group, bool userListedInGroup,
                                  bool processHasGroup)
{
    constexpr unsigned groupReadWrite = 0060;
    // Membership of root would give far more than this device; a group without both rights
    // gives too little.
    if (group.isEmpty() || group == QStringLiteral("root")
        || (mode & groupReadWrite) != groupReadWrite)
        return PermissionAdvice::AskForAccess;
    // Holding the group did not help: something else bars the way (the owner's own bits,
    // an access list).
    if (processHasGroup)
        return PermissionAdvice::AskForAccess;
    // Groups are given to a session when it begins.
    if (userListedInGroup)
        return PermissionAdvice::LogInAgain;
    return PermissionAdvice::JoinGroup;
}

QString DescribeOpenFailure(const QString& portLabel, const OpenFailure& failure)
{
    switch (failure.reason) {
    case OpenFailure::NoSuchDevice:
        return DoesNotExist(portLabel);
    case OpenFailure::NotSerial:
        return NotASerialPort(portLabel);
    case OpenFailure::StaleLink:
        return StaleLinkText(portLabel);
    case OpenFailure::NoPermission:
        switch (AdvisePermission(failure.deviceMode, failure.deviceGroup, failure.userListedInGroup,
                                 failure.processHasGroup)) {
        case PermissionAdvice::JoinGroup:
            return QObject::tr("You are not allowed to use the serial port %1. Your user must "
                               "belong to the group that owns the device, \"%2\": ask your "
                               "administrator to run \"sudo usermod -aG %2 <your user>\", then "
                               "log out and in again.")
                .arg(portLabel, failure.deviceGroup);
        case PermissionAdvice::LogInAgain:
            return QObject::tr("You are not allowed to use the serial port %1 yet. Your user "
                               "already belongs to the group that owns the device, \"%2\", but "
                               "this session began before it was added: log out and in again, "
                               "then start the program again.")
                .arg(portLabel, failure.deviceGroup);
        case PermissionAdvice::AskForAccess:
            break;
        }
        return QObject::tr("You are not allowed to use the serial port %1. Ask your "
                           "administrator to give your user access to that device.")
            .arg(portLabel);
    case OpenFailure::InUse: {
        const QString text =
            QObject::tr("The serial port %1 is in use by another program.").arg(portLabel)
            + QLatin1Char(' ');
        const QString close = QObject::tr("Close that program, or choose another port.");
        // The line itself refused: no lock tells who has it.
        if (failure.lockFile.isEmpty())
            return text + close;
        // A program writes its lock in a moment; one that names nobody for longer is left over
        // and no longer counts.
        if (failure.holderPid <= 0)
            return text
                   + QObject::tr("Its lock file %1 was made moments ago and does not say by "
                                 "whom yet. Close the other program, or choose another port; "
                                 "if no other program uses it, try again in a few seconds.")
                         .arg(failure.lockFile);
        const QString pid = QString::number(failure.holderPid);
        const QString holder =
            failure.holderProgram.isEmpty()
                ? QObject::tr("process %1").arg(pid)
                : QObject::tr("\"%1\" (process %2)").arg(failure.holderProgram, pid);
        return text
               + QObject::tr("Its lock file %1 says that %2 has it.").arg(failure.lockFile, holder)
               + QLatin1Char(' ') + close;
    }
    case OpenFailure::Other:
        break;
    }
    return QObject::tr("The serial port %1 could not be opened: %2.")
        .arg(portLabel, failure.detail);
}

} // namespace qm
