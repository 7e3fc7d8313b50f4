#include "ports/PortMemory.h"

#include "files/OwnFiles.h"
#include "files/SafeWrite.h"
#include "ports/PortNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

Result<> SettingsStatus(const QSettings& settings, const QString& shownAs)
{
    switch (settings.status()) {
    case QSettings::NoError:
        return {};
    case QSettings::AccessError:
        return Failure{QStringLiteral("%1 cannot be read or written").arg(shownAs)};
    case QSettings::FormatError:
        return Failure{QStringLiteral("%1 is damaged").arg(shownAs)};
    }
    return {};
}

// The file in its folder as the system reaches it, once the folder is the user's own (empty
// when the folder is not there); or why it may not be used.
Result<QString> OwnConfigFile(const QString& path, bool make)
{
    const QFileInfo named(path);
    const OwnPath folder = PrepareOwnFolder(named.absolutePath(), make);
    if (!folder || folder->isEmpty())
        return folder;
    return *folder + QLatin1Char('/') + named.fileName();
}

// The bytes of a regular file of the user's own, read without following a link or waiting on
// a pipe; nothing when there is none.
QByteArray OwnFileBytes(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    QFile file;
    struct stat node {};
    if (::fstat(fd, &node) != 0 || !S_ISREG(node.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    return file.readAll();
}

} // namespace

QString DefaultConfigPath()
{
    const OwnPath folder = ProgramFolder(UserFolderKind::Config);
    return !folder || folder->isEmpty() ? QString() : *folder + QStringLiteral("/qm6200.conf");
}

Result<std::optional<RememberedPort>> ReadRememberedPort(const QString& path)
{
    if (path.isEmpty())
        return std::optional<RememberedPort>();
    const Result<QString> found = OwnConfigFile(path, false);
    if (!found)
        return found.Error();
    const QString& file = *found;
    if (const Result<> own = file.isEmpty() ? Result<>() : CheckOwnFile(file); !own)
        return own.Error();
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return std::optional<RememberedPort>();
    QSettings settings(file, QSettings::IniFormat);
    if (Result<> read = SettingsStatus(settings, path); !read)
        return read.Error();
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
        return std::optional<RememberedPort>();
    return std::optional(port);
}

Result<> WriteRememberedPort(const RememberedPort& port, const QString& path)
{
    const Result<QString> found =
        path.isEmpty() ? Result<QString>(QString()) : OwnConfigFile(path, true);
    if (!found)
        return found.Error();
    const QString& file = *found;
    if (file.isEmpty())
        return Failure{QStringLiteral("there is no folder for settings")};
    // The rest of the file is kept as it was; a file that is not the user's own, or a link,
    // is not read, and is replaced.
    const QByteArray kept = CheckOwnFile(file) ? OwnFileBytes(file) : QByteArray();
    const SaveResult saved = ReplaceOwnFile(file, [&](const QString& temporary) -> Result<> {
        QFile draft(temporary);
        if (!draft.open(QIODevice::WriteOnly) || draft.write(kept) != kept.size())
            return Failure{draft.errorString()};
        draft.close();
        QSettings settings(temporary, QSettings::IniFormat);
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
        return SettingsStatus(settings, path);
    });
    if (!saved)
        return Failure{QStringLiteral("%1 could not be written: %2").arg(path, saved.Reason())};
    return {};
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
