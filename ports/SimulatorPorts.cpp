#include "ports/SimulatorPorts.h"

#include "files/Names.h"
#include "ports/PortNames.h"

#include <QDir>
#include <QFile>
#include <QObject>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace qm {

namespace {

// The device a running simulator's announcement names; empty when nobody holds its lock or it
// is not one.
QString AnnouncedDevice(const QString& path)
{
    // A folder of this user's alone, but a link or a FIFO there is still read as nothing.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    QString device;
    struct stat info {};
    // Only the user's own, written by a simulator of theirs: no other user may have made it.
    // The simulator holds its exclusive lock for its whole life, so a shared one is refused
    // while it runs. One that is granted is let go at once, with the descriptor.
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()
        && (info.st_mode & 077) == 0 && ::flock(fd, LOCK_SH | LOCK_NB) != 0
        && errno == EWOULDBLOCK) {
        char text[1024];
        const ssize_t size = ::read(fd, text, sizeof text);
        if (size > 0) {
            const QByteArray line = QByteArray(text, size).split('\n').first();
            device = QFile::decodeName(line);
        }
    }
    ::close(fd);
    return device;
}

// pts/2 before pts/10.
bool ComesBefore(const QString& a, const QString& b)
{
    const auto key = [](const QString& device) {
        qsizetype digits = device.size();
        while (digits > 0 && device.at(digits - 1).isDigit())
            --digits;
        return std::tuple(device.left(digits), device.size() - digits, device);
    };
    return key(a) < key(b);
}

} // namespace

QString SimulatorFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.startsWith(QLatin1Char('/')))
        return {};
    return runtime + QStringLiteral("/qm6200");
}

QStringList RunningSimulators(const QString& folder)
{
    if (folder.isEmpty())
        return {};
    // A folder another user made or may write could hold anything they like.
    struct stat place {};
    if (::lstat(QFile::encodeName(folder).constData(), &place) != 0 || !S_ISDIR(place.st_mode)
        || place.st_uid != ::geteuid() || (place.st_mode & 077) != 0)
        return {};
    QStringList devices;
    const QDir announcements(folder);
    const QStringList names =
        announcements.entryList({QStringLiteral("sim-*")}, QDir::Files | QDir::System);
    for (const QString& name : names) {
        const QString device = AnnouncedDevice(announcements.filePath(name));
        // A simulator's line is a pseudo-terminal of the user's own, never a device such as
        // /dev/ttyS0 that an announcement could name.
        if (device.startsWith(QLatin1Char('/')) && !devices.contains(device)
            && IsOwnPseudoTerminal(device))
            devices << device;
    }
    std::sort(devices.begin(), devices.end(), ComesBefore);
    return devices;
}

QString SimulatorListText(const QString& device)
{
    return QObject::tr("%1 \u2014 simulated instrument (qm6200-sim)").arg(ShownText(device));
}

} // namespace qm
