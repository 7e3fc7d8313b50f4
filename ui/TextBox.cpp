#include "ui/TextBox.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QVBoxLayout>

namespace qm {

TextBox::TextBox(QWidget* parent)
    : QWidget(parent)
    , m_edit(new QLineEdit(this))
    , m_refresh([this] { Refresh(); })
{
    // The frame is this widget's; the line edit inside paints only its own background and
    // text, and covers its whole area, so nothing under it is redrawn with it.
    m_edit->setFrame(false);
    m_edit->setAttribute(Qt::WA_OpaquePaintEvent);
    auto* layout = new QVBoxLayout(this);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    layout->setContentsMargins(frame, frame, frame, frame);
    layout->addWidget(m_edit);
    m_edit->setReadOnly(true);
    m_edit->installEventFilter(this);
    setFocusProxy(m_edit);
}

void TextBox::SetText(const QString& text)
{
    m_text = text;
    TrimToCapacity();
    // Emptying or replacing the text is shown at once; appends are batched.
    m_refresh.Now();
}

void TextBox::Append(QStringView text)
{
    m_text.append(text);
    TrimToCapacity();
    m_refresh.Changed();
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

qsizetype TextBox::ShownTail() const
{
    // The characters are one byte each: their widths as shown are looked up, not measured.
    if (m_advances.empty()) {
        const QFontMetrics metrics = m_edit->fontMetrics();
        m_advances.resize(256);
        for (int code = 0; code < 256; ++code) {
            const QChar shown(code < 0x20 ? char16_t(0x2400 + code) : char16_t(code));
            m_advances[std::size_t(code)] = std::max(metrics.horizontalAdvance(shown), 1);
        }
    }
    const int width = m_edit->width();
    int filled = 0;
    qsizetype count = 0;
    for (qsizetype i = m_text.size() - 1; i >= 0 && filled < width; --i, ++count) {
        const char16_t code = m_text.at(i).unicode();
        filled +=
            code < 256 ? m_advances[code] : m_edit->fontMetrics().horizontalAdvance(QChar(code));
    }
    // One more, so that a character cut at the left edge is there too.
    return count + 1;
}

void TextBox::Refresh()
{
    m_edit->setText(WithControlPictures(QStringView(m_text).right(ShownTail())));
}

void TextBox::paintEvent(QPaintEvent*)
{
    QStyleOptionFrame panel;
    panel.initFrom(this);
    panel.rect = rect();
    panel.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &panel, this);
    panel.midLineWidth = 0;
    panel.state |= QStyle::State_Sunken | QStyle::State_ReadOnly;
    if (m_edit->hasFocus())
        panel.state |= QStyle::State_HasFocus;
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
}

bool TextBox::eventFilter(QObject* watched, QEvent* event)
{
    // The frame shows whether the box has the focus.
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
        update();
    return QWidget::eventFilter(watched, event);
}

void TextBox::changeEvent(QEvent* event)
{
    // Another font has other widths.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        m_advances.clear();
    QWidget::changeEvent(event);
}

} // namespace qm
