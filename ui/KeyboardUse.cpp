#include "ui/KeyboardUse.h"

#include <QCoreApplication>
#include <QKeyEvent>

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

} // namespace qm
