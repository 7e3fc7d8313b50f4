#pragma once

#include "ports/PortList.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

namespace qm {

// Makes `watcher` watch exactly `folders`: each where it is, one that is not there through the
// nearest folder above it that is, so that its coming back is seen as well.
void WatchEach(QFileSystemWatcher& watcher, const QStringList& folders);

// The serial ports this computer has, kept up to date while it lives: an adapter plugged in
// or pulled out changes the device folder, and udev's records and /dev/serial/by-id follow.
// The watch is told of those changes by the kernel (inotify); it never polls, and looking
// again opens no device. It follows the instrument simulators started and ended as well.
class PortWatch : public QObject {
    Q_OBJECT

public:
    explicit PortWatch(const SystemRoots& roots = {}, QObject* parent = nullptr);

    const QList<FoundPort>& Ports() const { return m_ports; }
    // The devices of the simulators running now (RunningSimulators).
    const QStringList& Simulators() const { return m_simulators; }

signals:
    // Ports() or Simulators() is different from before.
    void PortsChanged();

private:
    void Changed();
    void LookAgain();
    void WatchFolders();

    SystemRoots m_roots;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QList<FoundPort> m_ports;
    QString m_simulatorFolder;
    QStringList m_simulators;
};

} // namespace qm
