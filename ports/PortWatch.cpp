#include "ports/PortWatch.h"

#include "ports/Log.h"
#include "ports/SimulatorPorts.h"

#include <QFileInfo>

namespace qm {

namespace {
// A plug-in is a burst of changes (the node, its rights, udev's record, the by-id link):
// they are taken together, once this long after the first.
constexpr int SettleMs = 150;

// Where the pseudo-terminals' devices are. A simulator killed outright leaves its announcement
// behind, and only its device's going away tells.
const char* const PseudoTerminals = "/dev/pts";
} // namespace

PortWatch::PortWatch(const SystemRoots& roots, QObject* parent)
    : QObject(parent)
    , m_roots(roots)
    , m_simulatorFolder(SimulatorFolder())
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &PortWatch::LookAgain);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &PortWatch::Changed);
    WatchFolders();
    m_ports = FindSerialPorts(m_roots);
    m_simulators = RunningSimulators(m_simulatorFolder);
}

void PortWatch::Changed()
{
    // Not restarted by later changes: a folder that keeps changing cannot hold the list back.
    if (!m_settle.isActive())
        m_settle.start();
}

void PortWatch::LookAgain()
{
    // Folders come and go with the adapters (/dev/serial with the first one).
    WatchFolders();
    QList<FoundPort> ports = FindSerialPorts(m_roots);
    QStringList simulators = RunningSimulators(m_simulatorFolder);
    if (ports == m_ports && simulators == m_simulators)
        return;
    m_ports = std::move(ports);
    m_simulators = std::move(simulators);
    qCInfo(lcLink) << "serial ports found:" << m_ports.size()
                   << "simulators running:" << m_simulators.size();
    emit PortsChanged();
}

void PortWatch::WatchFolders()
{
    // Each folder is watched where it is. One that is not there (the by-id folder before the
    // first adapter, udev's records while udev starts again) is watched through the nearest
    // folder above it that is, so that its coming back is seen as well.
    QStringList folders{m_roots.dev, m_roots.dev + QStringLiteral("/serial"),
                        m_roots.dev + QStringLiteral("/serial/by-id"), m_roots.udevData};
    // The simulators' folder is made by the first simulator and stays for the session; once
    // it is there, the pseudo-terminals are watched too (before the list is read, so that a
    // simulator listed is never missed going). A session without simulators is not woken by
    // every terminal opened.
    if (!m_simulatorFolder.isEmpty()) {
        folders << m_simulatorFolder;
        if (QFileInfo(m_simulatorFolder).isDir())
            folders << QString::fromLatin1(PseudoTerminals);
    }
    WatchEach(m_watcher, folders);
}

void WatchEach(QFileSystemWatcher& watcher, const QStringList& folders)
{
    QStringList wanted;
    for (QString folder : folders) {
        while (!QFileInfo(folder).isDir() && folder.size() > 1)
            folder = QFileInfo(folder).path();
        if (!wanted.contains(folder))
            wanted << folder;
    }
    const QStringList watched = watcher.directories();
    for (const QString& folder : watched) {
        if (!wanted.contains(folder))
            watcher.removePath(folder);
    }
    for (const QString& folder : wanted) {
        if (!watched.contains(folder))
            watcher.addPath(folder);
    }
}

} // namespace qm
