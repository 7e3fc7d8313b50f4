#include "ui/TextBox.h"

#include "ui/Twips.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QVBoxLayout>

namespace qm {

TextBox::TextBox(QWidget* parent)
    : QWidget(parent)
    , m_edit(new QLineEdit(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_edit);
    m_edit->setReadOnly(true);
    setFocusProxy(m_edit);
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(ScreenRefreshMs);
    connect(&m_refresh, &QTimer::timeout, this, &TextBox::Refresh);
}

void TextBox::SetText(const QString& text)
{
    m_text = text;
    TrimToCapacity();
    // Emptying or replacing the text is shown at once; appends are batched.
    m_refresh.stop();
    Refresh();
}

void TextBox::Append(QStringView text)
{
    m_text.append(text);
    TrimToCapacity();
    if (!m_refresh.isActive())
        m_refresh.start();
}

QString TextBox::ShownText() const
{
    return m_edit->text();
}

QString TextBox::WithControlPictures(QStringView text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text)
        shown += c.unicode() < 0x20 ? QChar(0x2400 + c.unicode()) : c;
    return shown;
}

void TextBox::OfferCopyAll(const QString& caption)
{
    m_copyAllCaption = caption;
    m_edit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_edit, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = ContextMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_edit->mapToGlobal(at));
    });
}

QMenu* TextBox::ContextMenu()
{
    QMenu* menu = m_edit->createStandardContextMenu();
    if (!m_copyAllCaption.isEmpty()) {
        menu->addSeparator();
        QAction* copyAll = menu->addAction(m_copyAllCaption, this, &TextBox::CopyAll);
        copyAll->setEnabled(!m_text.isEmpty());
    }
    return menu;
}

void TextBox::CopyAll() const
{
    QGuiApplication::clipboard()->setText(ClipboardText(m_text));
}

QString TextBox::ClipboardText(QStringView text)
{
    QString copy = text.toString();
    // NUL ends a pasted text in most programs: it goes as its control picture.
    copy.replace(QChar(0), QChar(0x2400));
    return copy;
}

void TextBox::TrimToCapacity()
{
    if (m_capacity > 0 && m_text.size() > m_capacity)
        m_text.remove(0, m_text.size() - m_capacity * 3 / 4);
}

void TextBox::Refresh()
{
    m_edit->setText(WithControlPictures(QStringView(m_text).right(ShownTail)));
}

} // namespace qm
