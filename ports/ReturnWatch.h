#pragma once

#include "ports/PortList.h"
#include "ports/PortMemory.h"

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <chrono>

namespace qm {

// Waits for a lost port to come back: the same port as the one remembered (an adapter by who
// it is, under whatever node it gets; the simulator by its announcement; any other port by its
// path, a link repointed to a new line included). A pseudo-terminal named by its number never
// comes back (RememberedPort::CanReturn): its number is the next terminal's. It never polls: the
// kernel tells of every change to the device folder, the by-id names, udev's records and the folder
// of the port's own path (inotify), and the port is looked for after each. A node appears before
// udev has given it its group and links, and other services may probe it first: an open that fails
// then is tried again on the following changes, and a few times besides, for RetryFor after the
// port came back.
class ReturnWatch : public QObject {
    Q_OBJECT

public:
    // How long an open that fails is tried again, from the port's return.
    static constexpr std::chrono::milliseconds RetryFor{2000};

    explicit ReturnWatch(const RememberedPort& port, const SystemRoots& roots = {},
                         QObject* parent = nullptr);

    // The port that Returned named would not open (yet).
    void OpenFailed(const QString& reason);

signals:
    // The port is back, under this name: it is to be opened now.
    void Returned(const QString& device);
    // The port came back, but would not open for RetryFor: why. The watch goes on.
    void WouldNotOpen(const QString& reason);

private:
    void Changed();
    void Look();
    void WatchFolders();

    RememberedPort m_port;
    SystemRoots m_roots;
    QString m_simulatorFolder;
    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QTimer m_retry;
    QElapsedTimer m_back; // since the port was first seen back and would not open
    bool m_told = false;
};

} // namespace qm
