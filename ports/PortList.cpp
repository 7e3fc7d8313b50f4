#include "ports/PortList.h"

#include "files/Names.h"
#include "ports/PortNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QObject>
#include <QRegularExpression>

#include <algorithm>
#include <cctype>
#include <fcntl.h>
#include <tuple>
#include <unistd.h>

namespace qm {

namespace {

// A sysfs attribute or a udev record: a few lines at most.
QByteArray ReadSmallFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(64 * 1024);
}

// udev writes bytes that are unsafe in its records as \xNN; its _ENC words keep the
// device's own spaces that way.
QString DecodeUdevWord(const QByteArray& word)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < word.size(); ++i) {
        if (word.at(i) == '\\' && i + 3 < word.size() && word.at(i + 1) == 'x'
            && std::isxdigit(static_cast<unsigned char>(word.at(i + 2)))
            && std::isxdigit(static_cast<unsigned char>(word.at(i + 3)))) {
            bytes += char(word.mid(i + 2, 2).toInt(nullptr, 16));
            i += 3;
            continue;
        }
        bytes += word.at(i);
    }
    return QString::fromUtf8(bytes).simplified();
}

// The E: lines of udev's record of a device: its properties.
QHash<QByteArray, QByteArray> ReadUdevProperties(const QString& path)
{
    QHash<QByteArray, QByteArray> properties;
    for (const QByteArray& line : ReadSmallFile(path).split('\n')) {
        if (!line.startsWith("E:"))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals > 2)
            properties.insert(line.mid(2, equals - 2), line.mid(equals + 1));
    }
    return properties;
}

// A USB device without a name of its own is given its number by udev ("0403", "7523"):
// that says nothing to an operator.
bool IsBareNumber(const QString& word)
{
    static const QRegularExpression number(QStringLiteral("^[0-9a-fA-F]{4}$"));
    return number.match(word).hasMatch();
}

// A model or maker: the device's own words where it has them, else the name the hardware
// database gives its number.
QString UdevName(const QHash<QByteArray, QByteArray>& properties, const QByteArray& what)
{
    QString own;
    for (const QByteArray& key :
         {QByteArray("ID_" + what + "_ENC"), QByteArray("ID_USB_" + what + "_ENC")}) {
        if (own.isEmpty())
            own = DecodeUdevWord(properties.value(key));
    }
    for (const QByteArray& key : {QByteArray("ID_" + what), QByteArray("ID_USB_" + what)}) {
        // The plain word has its spaces made into underscores.
        if (own.isEmpty())
            own = DecodeUdevWord(properties.value(key)).replace(QLatin1Char('_'), QLatin1Char(' '));
    }
    if (!own.isEmpty() && !IsBareNumber(own))
        return own;
    return DecodeUdevWord(properties.value(QByteArray("ID_" + what + "_FROM_DATABASE")));
}

// Where each link in /dev/serial/by-id leads (resolved), and its names.
QHash<QString, QStringList> ReadById(const QString& devRoot)
{
    QHash<QString, QStringList> names;
    const QDir byId(devRoot + QStringLiteral("/serial/by-id"));
    const QStringList entries =
        byId.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : entries) {
        const QString target = QFileInfo(byId.filePath(name)).canonicalFilePath();
        if (!target.isEmpty())
            names[target] << name;
    }
    return names;
}

bool MayReadAndWrite(const QString& path)
{
    // The rights this running program has (its effective user and groups), asked without
    // opening the device.
    return ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK | W_OK, AT_EACCESS) == 0;
}

// The USB device a line's `device` belongs to: the first folder above it that has a vendor
// number. Its serial number, where it has one, is the adapter's own.
void ReadUsbIdentity(const QString& device, const QString& sysfsRoot, FoundPort& port)
{
    const QString root = QFileInfo(sysfsRoot).canonicalFilePath();
    for (QDir folder(device); folder.absolutePath().startsWith(root + QLatin1Char('/'));) {
        if (QFileInfo::exists(folder.filePath(QStringLiteral("idVendor")))) {
            const auto read = [&](const char* name) {
                return QString::fromLatin1(
                    ReadSmallFile(folder.filePath(QLatin1String(name))).trimmed());
            };
            port.vendorId = read("idVendor");
            port.productId = read("idProduct");
            if (const QString serial = read("serial"); !serial.isEmpty())
                port.serialNumber = serial;
            return;
        }
        if (!folder.cdUp())
            return;
    }
}

// Whether the class entry `entry` is a line to list, and which node it has.
bool ReadPort(const QString& entry, const QString& name, const SystemRoots& roots,
              const QHash<QString, QStringList>& byId, FoundPort& port)
{
    // Only lines with hardware behind them: the virtual terminals, the console and the
    // pseudo-terminal master have no `device`.
    const QFileInfo device(entry + QStringLiteral("/device"));
    if (!device.exists() && !device.isSymLink())
        return false;
    // The serial core gives each of its ports a type; 0 is a port where no UART answered
    // (the 8250 driver makes ttyS0 to ttyS31 whether or not the board has them).
    const QString typeFile = entry + QStringLiteral("/type");
    const bool uart = QFileInfo::exists(typeFile);
    if (uart && ReadSmallFile(typeFile).trimmed() == "0")
        return false;

    // The node's name under /dev; sysfs writes a / in a name as !.
    QString devName = name;
    devName.replace(QLatin1Char('!'), QLatin1Char('/'));
    for (const QByteArray& line : ReadSmallFile(entry + QStringLiteral("/uevent")).split('\n')) {
        if (line.startsWith("DEVNAME="))
            devName = QFile::decodeName(line.mid(8));
    }
    port.device = roots.dev + QLatin1Char('/') + devName;
    // A line whose node udev has not made yet (or has removed) cannot be used by name.
    const QFileInfo node(port.device);
    if (!node.exists())
        return false;

    if (uart)
        port.kind = FoundPort::Uart;
    else if (device.canonicalFilePath().contains(QStringLiteral("/usb")))
        port.kind = FoundPort::Usb;
    const QByteArray number = ReadSmallFile(entry + QStringLiteral("/dev")).trimmed();
    if (!number.isEmpty()) {
        const auto properties =
            ReadUdevProperties(roots.udevData + QStringLiteral("/c") + QString::fromLatin1(number));
        port.model = UdevName(properties, "MODEL");
        port.maker = UdevName(properties, "VENDOR");
        port.serialNumber = DecodeUdevWord(properties.value("ID_SERIAL_SHORT"));
        if (port.serialNumber.isEmpty())
            port.serialNumber = DecodeUdevWord(properties.value("ID_USB_SERIAL_SHORT"));
    }
    if (port.kind == FoundPort::Usb)
        ReadUsbIdentity(device.canonicalFilePath(), roots.sysfs, port);
    port.byId = byId.value(node.canonicalFilePath());
    port.permitted = MayReadAndWrite(port.device);
    return true;
}

// Names in the order an operator counts them: ttyS4, ttyS10, ttyUSB0. Each name is taken as
// the text before its trailing number, and that number.
bool ComesBefore(const FoundPort& a, const FoundPort& b)
{
    static const QRegularExpression trailingNumber(QStringLiteral("^(.*?)([0-9]+)$"));
    const auto key = [](const QString& device) {
        const auto match = trailingNumber.match(device);
        if (!match.hasMatch())
            return std::tuple(device, qint64(-1), device);
        return std::tuple(match.captured(1), match.captured(2).left(18).toLongLong(), device);
    };
    return key(a.device) < key(b.device);
}

} // namespace

QString StableName(const QString& device, const SystemRoots& roots)
{
    const QString byId = roots.dev + QStringLiteral("/serial/by-id/");
    if (device.startsWith(byId) && QFileInfo(device).isSymLink())
        return device;
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return {};
    const QStringList names = ReadById(roots.dev).value(target);
    return names.isEmpty() ? QString() : byId + names.first();
}

QList<FoundPort> FindSerialPorts(const SystemRoots& roots)
{
    QList<FoundPort> ports;
    const QDir classTty(roots.sysfs + QStringLiteral("/class/tty"));
    const QStringList names =
        classTty.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    const auto byId = ReadById(roots.dev);
    for (const QString& name : names) {
        FoundPort port;
        if (!ReadPort(classTty.filePath(name), name, roots, byId, port))
            continue;
        const bool known = std::any_of(ports.cbegin(), ports.cend(),
                                       [&](const FoundPort& p) { return p.device == port.device; });
        if (!known)
            ports << port;
    }
    std::sort(ports.begin(), ports.end(), ComesBefore);
    return ports;
}

QList<FoundPort> BeyondPortEntries(const QList<FoundPort>& ports, const SystemRoots& roots)
{
    QStringList entryDevices;
    const QString dev = QStringLiteral("/dev/");
    for (int entry = 0; entry < PortEntries; ++entry) {
        const QString location = SystemLocation(PortEntryName(entry));
        if (location.startsWith(dev))
            entryDevices << roots.dev + QLatin1Char('/') + location.mid(dev.size());
    }
    QList<FoundPort> beyond;
    for (const FoundPort& port : ports) {
        if (!entryDevices.contains(port.device))
            beyond << port;
    }
    return beyond;
}

QString DescribeFoundPort(const FoundPort& port)
{
    QString text = port.model;
    if (text.isEmpty() && port.maker.isEmpty() && !port.byId.isEmpty())
        text = port.byId.first();
    if (text.isEmpty()) {
        switch (port.kind) {
        case FoundPort::Uart:
            text = QObject::tr("serial port");
            break;
        case FoundPort::Usb:
            text = QObject::tr("USB serial adapter");
            break;
        case FoundPort::Other:
            text = QObject::tr("serial device");
            break;
        }
    }
    if (!port.maker.isEmpty())
        text += QStringLiteral(" (%1)").arg(port.maker);
    if (!port.serialNumber.isEmpty())
        text += QObject::tr(", serial number %1").arg(port.serialNumber);
    // What a device calls itself is anyone's to set.
    return ShownText(text);
}

QString FoundPortListText(const FoundPort& port)
{
    QString text =
        QStringLiteral("%1 \u2014 %2").arg(ShownText(port.device), DescribeFoundPort(port));
    if (!port.permitted)
        text += QObject::tr(" \u2014 not permitted for your user");
    return text;
}

} // namespace qm
