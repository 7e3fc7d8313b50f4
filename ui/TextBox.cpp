#include "ui/TextBox.h"

#include "ui/Twips.h"

#include <QLineEdit>
#include <QVBoxLayout>

namespace qm {

namespace {

// About a frame of a 60 Hz screen.

} // namespace

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
