#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace qm {

// How often what changes with each received character is redrawn: about ten times a
// second, which the eye still reads as live, not once per character.
inline constexpr int LiveRefreshMs = 100;

// Brings to the screen what changes with each received character, about ten times a second
// (LiveRefreshMs) instead of on every change. A change after a quiet spell shows at once,
// once the changes that came with it are in. While changes keep coming, the refresh that
// falls due is made with the next of them, in the same wakeup, so the screen follows the
// line without waking the program on its own; the timer is only for the last change of a
// stream, a little after it is due.
class LiveRefresh : public QObject {
    Q_OBJECT

public:
    explicit LiveRefresh(std::function<void()> refresh, QObject* parent = nullptr);

    // Something changed: refresh when it is due.
    void Changed();
    // Refresh at once, and drop a pending one.
    void Now();
    bool Pending() const { return m_timer.isActive(); }

    // How much later than due the last change of a stream may show: a little more than the
    // time between two changes while a stream comes (a batch of received characters every
    // 16 ms, a record every 44 ms at 9600 baud), so that while they keep coming the refresh
    // falls with one of them.
    static constexpr int LastChangeLateMs = 50;

private:
    void Refresh();

    std::function<void()> m_refresh;
    QTimer m_timer;
    QElapsedTimer m_last;
};

} // namespace qm
