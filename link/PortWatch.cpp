#include "link/PortWatch.h"

#include "link/Log.h"

#include <QFileInfo>

namespace qm {

namespace {
// A plug-in is a burst of changes (the node, its rights, udev's record, the by-id link):
// they are taken together, once this long after the first.
constexpr int SettleMs = 150;
} // namespace

PortWatch::PortWatch(const SystemRoots& roots, QObject* parent)
    : QObject(parent)
    , m_roots(roots)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &PortWatch::LookAgain);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &PortWatch::Changed);
    WatchFolders();
    m_ports = FindSerialPorts(m_roots);
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
    if (ports == m_ports)
        return;
    m_ports = std::move(ports);
    qCInfo(lcLink) << "serial ports found:" << m_ports.size();
    emit PortsChanged();
}

void PortWatch::WatchFolders()
{
    // Each folder is watched where it is. One that is not there (the by-id folder before the
    // first adapter, udev's records while udev starts again) is watched through the nearest
    // folder above it that is, so that its coming back is seen as well.
    const QStringList folders{m_roots.dev, m_roots.dev + QStringLiteral("/serial"),
                              m_roots.dev + QStringLiteral("/serial/by-id"), m_roots.udevData};
    QStringList wanted;
    for (QString folder : folders) {
        while (!QFileInfo(folder).isDir() && folder.size() > 1)
            folder = QFileInfo(folder).path();
        if (!wanted.contains(folder))
            wanted << folder;
    }
    const QStringList watched = m_watcher.directories();
    for (const QString& folder : watched) {
        if (!wanted.contains(folder))
            m_watcher.removePath(folder);
    }
    for (const QString& folder : wanted) {
        if (!watched.contains(folder))
            m_watcher.addPath(folder);
    }
}

} // namespace qm
