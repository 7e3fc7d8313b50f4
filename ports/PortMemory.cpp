#include "ports/PortMemory.h"

#include "files/SettingsFile.h"
#include "ports/PortNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

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

} // namespace

Result<std::optional<RememberedPort>> ReadRememberedPort(const QString& path)
{
    const Result<QVariantMap> read = ReadSettingsGroup(path, Group);
    if (!read)
        return read.Error();
    const auto text = [&](const char* key) {
        return read->value(QLatin1String(key)).toString().trimmed();
    };
    RememberedPort port;
    port.choice = text("choice");
    port.vendorId = text("vendor");
    port.productId = text("product");
    port.serialNumber = text("serial");
    port.byId = text("by-id");
    const QString kind = text("kind");
    if (kind == KindSimulator)
        port.kind = RememberedPort::Kind::Simulator;
    // Kept by a version that did not say, a terminal's number is still one.
    else if (kind == KindPseudoTerminal || port.choice.startsWith(QLatin1String("/dev/pts/"))
             || NamesPseudoTerminal(port.choice))
        port.kind = RememberedPort::Kind::PseudoTerminal;
    if (port.choice.isEmpty())
        return std::optional<RememberedPort>();
    return std::optional(port);
}

Result<> WriteRememberedPort(const RememberedPort& port, const QString& path)
{
    const QString kind = port.kind == RememberedPort::Kind::Simulator        ? KindSimulator
                         : port.kind == RememberedPort::Kind::PseudoTerminal ? KindPseudoTerminal
                                                                             : QString();
    return WriteSettingsGroup(path, Group,
                              {{QStringLiteral("choice"), port.choice},
                               {QStringLiteral("vendor"), port.vendorId},
                               {QStringLiteral("product"), port.productId},
                               {QStringLiteral("serial"), port.serialNumber},
                               {QStringLiteral("by-id"), port.byId},
                               {QStringLiteral("kind"), kind}});
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

qsizetype AdaptersAlike(const RememberedPort& port, const QList<FoundPort>& present)
{
    return std::count_if(present.begin(), present.end(), [&](const FoundPort& candidate) {
        return port.IsAdapter() && candidate.vendorId == port.vendorId
               && candidate.productId == port.productId
               && candidate.serialNumber == port.serialNumber;
    });
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
        if (AdaptersAlike(port, present) != 1)
            return std::nullopt;
        for (const FoundPort& candidate : present) {
            if (candidate.vendorId == port.vendorId && candidate.productId == port.productId
                && candidate.serialNumber == port.serialNumber)
                return candidate.device;
        }
        return std::nullopt;
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
