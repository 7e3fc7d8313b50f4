#include "ports/ReturnWatch.h"

#include "ports/Log.h"
#include "ports/PortWatch.h"
#include "ports/SimulatorPorts.h"

#include <QFileInfo>

namespace qm {

namespace {
// Changes come in bursts (the node, its rights, udev's record, the by-id link): taken
// together, this long after the first.
constexpr std::chrono::milliseconds Settle{100};
// An open that failed is tried again this often while RetryFor lasts.
constexpr std::chrono::milliseconds Retry{250};
} // namespace

ReturnWatch::ReturnWatch(const RememberedPort& port, const SystemRoots& roots, QObject* parent)
    : QObject(parent)
    , m_port(port)
    , m_roots(roots)
    , m_simulatorFolder(SimulatorFolder())
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(Settle);
    connect(&m_settle, &QTimer::timeout, this, &ReturnWatch::Look);
    m_retry.setSingleShot(true);
    m_retry.setInterval(Retry);
    connect(&m_retry, &QTimer::timeout, this, &ReturnWatch::Look);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &ReturnWatch::Changed);
    WatchFolders();
    qCInfo(lcLink) << "waiting for" << m_port.choice << "to come back";
    // It may be back already, or never have gone from the device folder.
    m_settle.start();
}

void ReturnWatch::Changed()
{
    if (!m_settle.isActive())
        m_settle.start();
}

void ReturnWatch::WatchFolders()
{
    QStringList folders{m_roots.dev, m_roots.dev + QStringLiteral("/serial/by-id"),
                        m_roots.udevData};
    if (m_port.kind == RememberedPort::Kind::Simulator) {
        if (!m_simulatorFolder.isEmpty())
            folders << m_simulatorFolder;
    } else if (!m_port.IsAdapter())
        folders << QFileInfo(m_port.choice).absolutePath();
    WatchEach(m_watcher, folders);
}

void ReturnWatch::Look()
{
    WatchFolders();
    const QStringList simulators = m_port.kind == RememberedPort::Kind::Simulator
                                       ? RunningSimulators(m_simulatorFolder)
                                       : QStringList();
    const auto device =
        LocateRememberedPort(m_port, FindSerialPorts(m_roots), simulators, m_roots.sysfs);
    if (!device) {
        m_back.invalidate();
        return;
    }
    emit Returned(*device);
}

void ReturnWatch::OpenFailed(const QString& reason)
{
    if (!m_back.isValid())
        m_back.start();
    if (m_back.elapsed() < RetryFor.count()) {
        m_retry.start();
        return;
    }
    if (!std::exchange(m_told, true))
        emit WouldNotOpen(reason);
}

} // namespace qm
