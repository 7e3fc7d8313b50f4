#include "ui/WindowCentring.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace qm {

namespace {

// The frame drawn around `window`, as far as Qt knows it: none while a side reads less than
// nothing, as it can while the window manager is still making the frame.
QMargins FrameMargins(const QWidget& window)
{
    const QRect frame = window.frameGeometry();
    const QRect inside = window.geometry();
    const QMargins margins(inside.left() - frame.left(), inside.top() - frame.top(),
                           frame.right() - inside.right(), frame.bottom() - inside.bottom());
    if (margins.left() < 0 || margins.top() < 0 || margins.right() < 0 || margins.bottom() < 0)
        return {};
    return margins;
}

// Under X11 the frame is known only once the window manager has put it around the shown
// window, and Qt may learn it later still: the window is centred as it is shown with the
// frame its owner has, as the window manager most likely frames it alike, and again as soon
// as its own frame is known, if that differs. A frame changes only as the window manager
// makes it, never when the operator moves the window, so following it never takes the
// window back from where the operator put it. (Qt's own placement of a dialog takes a frame
// it does not know for ten pixels at the side and forty at the top.)
class Centring : public QObject {
public:
    explicit Centring(QWidget& window)
        : QObject(&window)
        , m_window(window)
    {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &m_window) {
            if (event->type() == QEvent::Show && !event->spontaneous())
                Shown();
            else if (event->type() == QEvent::WindowActivate)
                Follow();
        } else if (event->type() == QEvent::Expose || event->type() == QEvent::Move
                   || event->type() == QEvent::Resize) {
            Follow();
        }
        return false;
    }

private:
    void Shown()
    {
        const QMargins own = FrameMargins(m_window);
        const QWidget* owner = Owner();
        m_frame = own.isNull() && owner ? FrameMargins(*owner) : own;
        // Moved even to where it is, so that Qt's own placement does not follow.
        Centre();
        m_following = true;
        // The window exists now: its own events tell when it is framed.
        if (QWindow* handle = m_window.windowHandle())
            handle->installEventFilter(this);
    }

    void Follow()
    {
        if (!m_following)
            return;
        const QMargins frame = FrameMargins(m_window);
        // None known yet, where the owner's was taken for it.
        if (frame.isNull() && !m_frame.isNull())
            return;
        if (frame != m_frame) {
            m_frame = frame;
            Centre();
        }
        // Framed as centred: nothing more to follow.
        m_following = frame.isNull();
    }

    const QWidget* Owner() const
    {
        const QWidget* parent = m_window.parentWidget();
        const QWidget* owner = parent ? parent->window() : nullptr;
        return owner && owner->isVisible() ? owner : nullptr;
    }

    // Moves the window so that it is centred with m_frame around it.
    void Centre()
    {
        const QWidget* owner = Owner();
        QScreen* screen =
            owner ? QGuiApplication::screenAt(owner->frameGeometry().center()) : m_window.screen();
        if (!screen)
            screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const QRect room = screen->availableGeometry();
        const QRect area = owner ? owner->frameGeometry() : room;
        const QSize size = m_window.size().grownBy(m_frame);

        QPoint at =
            area.topLeft()
            + QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2);
        at.setX(std::max(std::min(at.x(), room.right() + 1 - size.width()), room.left()));
        at.setY(std::max(std::min(at.y(), room.bottom() + 1 - size.height()), room.top()));

        // move() places the frame as far as Qt knows it, which may be less than m_frame.
        const QPoint inside = at + QPoint(m_frame.left(), m_frame.top());
        m_window.move(inside - (m_window.geometry().topLeft() - m_window.pos()));
    }

    QWidget& m_window;
    QMargins m_frame;
    bool m_following = false;
};

} // namespace

void OpenCentred(QWidget& window)
{
    new Centring(window);
}

} // namespace qm
