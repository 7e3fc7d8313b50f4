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
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(RefreshMs);
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
    if (m_refresh.isActive())
        return;
    // The first characters after a quiet spell show at once (once the characters that came
    // with them are in); after that the screen follows at its pace.
    const qint64 since = m_lastRefresh.isValid() ? m_lastRefresh.elapsed() : RefreshMs;
    m_refresh.start(static_cast<int>(std::max<qint64>(RefreshMs - since, 0)));
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
    if (m_narrowest <= 0) {
        const QFontMetrics metrics = m_edit->fontMetrics();
        int narrowest = metrics.horizontalAdvance(QChar(0x2400));
        for (char16_t c = 0x20; c <= 0xFF; ++c)
            narrowest = std::min(narrowest, metrics.horizontalAdvance(QChar(c)));
        for (char16_t c = 0x2400; c < 0x2420; ++c)
            narrowest = std::min(narrowest, metrics.horizontalAdvance(QChar(c)));
        m_narrowest = std::max(narrowest, 1);
    }
    return m_edit->width() / m_narrowest + 2;
}

void TextBox::Refresh()
{
    m_lastRefresh.start();
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
        m_narrowest = 0;
    QWidget::changeEvent(event);
}

} // namespace qm
