#include "PortNames.h"

#include <QFile>
#include <QRegularExpression>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace qm {

namespace {

bool IsCharacterDevice(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISCHR(info.st_mode);
#else
    Q_UNUSED(path);
    return false;
#endif
}

PortChoice Problem(const QString& text)
{
    PortChoice choice;
    choice.problem = text;
    return choice;
}

} // namespace

QString PortEntryName(int entry)
{
    return QStringLiteral("COM%1").arg(entry + 1);
}

QString SystemLocation(const QString& portName)
{
#ifdef Q_OS_LINUX
    static const QRegularExpression comPort(QStringLiteral("^COM([1-4])$"));
    const auto match = comPort.match(portName);
    if (match.hasMatch())
        return QStringLiteral("/dev/ttyS%1").arg(match.captured(1).toInt() - 1);
#endif
    return portName;
}

PortChoice InterpretPortText(const QString& typed)
{
    const QString text = typed.trimmed();
    if (text.isEmpty())
        return Problem(QObject::tr("Choose one of the ports from the list, or type the name of "
                                   "the serial device the instrument is connected to."));
    for (int entry = 0; entry < PortEntries; ++entry) {
        if (text.compare(PortEntryName(entry), Qt::CaseInsensitive) == 0)
            return PortChoice{PortChoice::Entry, entry, {}, {}};
    }
#ifdef Q_OS_WIN
    static const QRegularExpression comPort(QStringLiteral("^COM([1-9][0-9]*)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    if (comPort.match(text).hasMatch())
        return PortChoice{PortChoice::Device, -1, text.toUpper(), {}};
#else
    QString path = text;
    if (!path.startsWith(QLatin1Char('/')))
        path = QStringLiteral("/dev/") + path;
    if (IsCharacterDevice(path))
        return PortChoice{PortChoice::Device, -1, path, {}};
#endif
    return Problem(QObject::tr("\"%1\" is not a serial port on this computer. Choose one of the "
                               "ports from the list, or type the full name of a serial device, "
                               "for example /dev/ttyUSB0.")
                       .arg(text));
}

QString DescribeOpenFailure(const QString& portLabel, const OpenFailure& failure)
{
    switch (failure.reason) {
    case OpenFailure::NoSuchDevice:
        return QObject::tr("The serial port %1 does not exist on this computer. Check that the "
                           "instrument's cable or USB adapter is plugged in, or choose another "
                           "port.")
            .arg(portLabel);
    case OpenFailure::NoPermission: {
        const QString group =
            failure.deviceGroup.isEmpty() ? QStringLiteral("dialout") : failure.deviceGroup;
        return QObject::tr("You are not allowed to use the serial port %1. Your user must "
                           "belong to the group that owns the device, \"%2\": ask your "
                           "administrator to run \"sudo usermod -aG %2 <your user>\", then log "
                           "out and in again.")
            .arg(portLabel, group);
    }
    case OpenFailure::InUse:
        return QObject::tr("The serial port %1 is in use by another program. Close that "
                           "program, or choose another port.")
            .arg(portLabel);
    case OpenFailure::Other:
        break;
    }
    return QObject::tr("The serial port %1 could not be opened: %2.")
        .arg(portLabel, failure.detail);
}

} // namespace qm
