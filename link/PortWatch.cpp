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
    const QStringList folders{m_roots.dev, m_roots.dev + QStringLiteral("/serial"),
                              m_roots.dev + QStringLiteral("/serial/by-id"), m_roots.udevData};
    const QStringList watched = m_watcher.directories();
    for (const QString& folder : folders) {
        if (!watched.contains(folder) && QFileInfo(folder).isDir())
            m_watcher.addPath(folder);
    }
}

} // namespace qm
