#include "link/PortMemory.h"

#include "link/PortNames.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace qm {

namespace {

const QString Group = QStringLiteral("port");
const QString KindSimulator = QStringLiteral("simulator");
const QString KindPseudoTerminal = QStringLiteral("pseudo-terminal");

bool SameDevice(const QString& a, const QString& b)
{
    const QString resolved = QFileInfo(a).canonicalFilePath();
    return !resolved.isEmpty() && resolved == QFileInfo(b).canonicalFilePath();
}

QString SettingsProblem(const QSettings& settings)
{
    switch (settings.status()) {
    case QSettings::NoError:
        return {};
    case QSettings::AccessError:
        return QStringLiteral("%1 cannot be read or written").arg(settings.fileName());
    case QSettings::FormatError:
        return QStringLiteral("%1 is damaged").arg(settings.fileName());
    }
    return {};
}

} // namespace

QString DefaultConfigPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
           + QStringLiteral("/qm6200/qm6200.conf");
}

std::optional<RememberedPort> ReadRememberedPort(const QString& path, QString* problem)
{
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    QSettings settings(path, QSettings::IniFormat);
    if (const QString what = SettingsProblem(settings); !what.isEmpty()) {
        if (problem)
            *problem = what;
        return std::nullopt;
    }
    settings.beginGroup(Group);
    RememberedPort port;
    port.choice = settings.value(QStringLiteral("choice")).toString().trimmed();
    port.vendorId = settings.value(QStringLiteral("vendor")).toString().trimmed();
    port.productId = settings.value(QStringLiteral("product")).toString().trimmed();
    port.serialNumber = settings.value(QStringLiteral("serial")).toString().trimmed();
    port.byId = settings.value(QStringLiteral("by-id")).toString().trimmed();
    const QString kind = settings.value(QStringLiteral("kind")).toString().trimmed();
    if (kind == KindSimulator)
        port.kind = RememberedPort::Kind::Simulator;
    // Kept by a version that did not say, a terminal's number is still one.
    else if (kind == KindPseudoTerminal || port.choice.startsWith(QLatin1String("/dev/pts/"))
             || NamesPseudoTerminal(port.choice))
        port.kind = RememberedPort::Kind::PseudoTerminal;
    if (port.choice.isEmpty())
        return std::nullopt;
    return port;
}

bool WriteRememberedPort(const RememberedPort& port, const QString& path, QString* problem)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(Group);
    settings.setValue(QStringLiteral("choice"), port.choice);
    const auto keep = [&](const char* key, const QString& value) {
        if (value.isEmpty())
            settings.remove(QLatin1String(key));
        else
            settings.setValue(QLatin1String(key), value);
    };
    keep("vendor", port.vendorId);
    keep("product", port.productId);
    keep("serial", port.serialNumber);
    keep("by-id", port.byId);
    keep("kind", port.kind == RememberedPort::Kind::Simulator        ? KindSimulator
                 : port.kind == RememberedPort::Kind::PseudoTerminal ? KindPseudoTerminal
                                                                     : QString());
    settings.endGroup();
    settings.sync();
    if (const QString what = SettingsProblem(settings); !what.isEmpty()) {
        if (problem)
            *problem = what;
        return false;
    }
    return true;
}

RememberedPort RememberPort(const QString& choice, const QString& device,
                            const QList<FoundPort>& present, const QStringList& simulators)
{
    RememberedPort port;
    port.choice = choice;
    for (const QString& simulator : simulators) {
        if (SameDevice(simulator, device))
            port.kind = RememberedPort::Kind::Simulator;
    }
    if (port.kind == RememberedPort::Kind::Line && NamesPseudoTerminal(device))
        port.kind = RememberedPort::Kind::PseudoTerminal;
    for (const FoundPort& found : present) {
        if (found.vendorId.isEmpty() || !SameDevice(found.device, device))
            continue;
        port.vendorId = found.vendorId;
        port.productId = found.productId;
        port.serialNumber = found.serialNumber;
        if (!found.byId.isEmpty())
            port.byId = found.byId.first();
        break;
    }
    return port;
}

std::optional<QString> LocateRememberedPort(const RememberedPort& port,
                                            const QList<FoundPort>& present,
                                            const QStringList& simulators, const QString& sysfsRoot)
{
    switch (port.kind) {
    case RememberedPort::Kind::Simulator:
        if (simulators.size() == 1)
            return simulators.first();
        return std::nullopt;
    case RememberedPort::Kind::PseudoTerminal:
        return std::nullopt;
    case RememberedPort::Kind::Line:
        break;
    }
    if (port.IsAdapter()) {
        // Two identical adapters without serial numbers cannot be told apart: the operator
        // chooses.
        if (port.serialNumber.isEmpty())
            return std::nullopt;
        std::optional<QString> found;
        for (const FoundPort& candidate : present) {
            if (candidate.vendorId != port.vendorId || candidate.productId != port.productId
                || candidate.serialNumber != port.serialNumber)
                continue;
            if (found)
                return std::nullopt;
            found = candidate.device;
        }
        return found;
    }
    for (int entry = 0; entry < PortEntries; ++entry) {
        if (port.choice == PortEntryName(entry))
            return port.choice;
    }
    // A terminal's node named directly holds for that terminal's life alone.
    if (!NamesPseudoTerminal(port.choice)
        && ClassifyDevice(port.choice, sysfsRoot) == DeviceKind::SerialLine)
        return port.choice;
    return std::nullopt;
}

} // namespace qm
