#include "ui/KeyboardUse.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include <utility>

namespace qm {

namespace {

// Swallows the held key's repeats and release, then goes.
class HeldKey : public QObject {
public:
    explicit HeldKey(int key)
        : QObject(QCoreApplication::instance())
        , m_key(key)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            break;
        default:
            return QObject::eventFilter(watched, event);
        }
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() != m_key)
            return false;
        if (!key->isAutoRepeat()) {
            if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
                // Released where the program did not see it, and pressed anew.
                Done();
                return false;
            }
            if (event->type() == QEvent::KeyRelease)
                Done();
        }
        return true;
    }

private:
    void Done()
    {
        if (std::exchange(m_done, true))
            return;
        QCoreApplication::instance()->removeEventFilter(this);
        deleteLater();
    }

    int m_key;
    bool m_done = false;
};

} // namespace

void KeyGoesNoFurther(const QKeyEvent& press)
{
    new HeldKey(press.key());
}

void SetEnabledKeepingFocus(QWidget& widget, bool enabled)
{
    // The window's focus widget, whether the window is active or not: one closing dialog
    // gives the focus back to it.
    QWidget* window = widget.window();
    if (enabled) {
        widget.setEnabled(true);
        // Qt gives no focus to a widget that is off: a window activated meanwhile (a dialog
        // closed) holds none, and its focus widget has it now.
        if (window->isActiveWindow() && !QApplication::focusWidget()
            && window->focusWidget() == &widget)
            widget.setFocus(Qt::OtherFocusReason);
        return;
    }
    if (window->focusWidget() != &widget || !widget.isEnabled())
        return widget.setEnabled(false);
    // What setEnabled(false) does, bar the hand-over of the focus: off by the widget's own
    // choice (so that setEnabled(true) brings it back), then told, which repaints it greyed,
    // drops its shortcuts and tells the accessibility bus it is unavailable.
    widget.setAttribute(Qt::WA_ForceDisabled);
    widget.setAttribute(Qt::WA_Disabled);
    QEvent changed(QEvent::EnabledChange);
    QCoreApplication::sendEvent(&widget, &changed);
}

} // namespace qm
