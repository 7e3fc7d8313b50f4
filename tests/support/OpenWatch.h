#pragma once

// Counts the opens of the files it watches, as the kernel reports them (inotify IN_OPEN):
// the proof that something was never opened, a device above all.

#include <QFile>
#include <QString>

#include <sys/inotify.h>
#include <unistd.h>

namespace qm::test {

class OpenWatch {
public:
    OpenWatch()
        : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
    }
    OpenWatch(const OpenWatch&) = delete;
    OpenWatch& operator=(const OpenWatch&) = delete;
    ~OpenWatch() { ::close(m_fd); }

    // False when the file cannot be watched (it is missing, say).
    bool watch(const QString& path)
    {
        return ::inotify_add_watch(m_fd, QFile::encodeName(path).constData(), IN_OPEN) >= 0;
    }

    // The opens reported so far: the kernel queues the report within the open itself.
    int opens()
    {
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while ((n = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->mask & IN_OPEN)
                    ++m_opens;
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return m_opens;
    }

private:
    int m_fd;
    int m_opens = 0;
};

} // namespace qm::test
