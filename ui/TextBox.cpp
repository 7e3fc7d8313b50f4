#include "ui/TextBox.h"

#include "link/ControlCharacters.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QVBoxLayout>

#include <algorithm>

namespace qm {

namespace {

// The text inside a box, as a screen reader gets it: read-only, its text the shown text with
// the control characters by name. Offsets count characters of that spoken text; the reader
// reads it, it does not select or place a cursor in it.
class TextBoxAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    TextBoxAccessible(QLineEdit* edit, const TextBox& box)
        : QAccessibleWidget(edit, QAccessible::EditableText)
        , m_box(&box)
    {
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        state.selectableText = true;
        return state;
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return Spoken();
        QString text = QAccessibleWidget::text(kind);
        if (text.isEmpty() && kind == QAccessible::Name && m_box)
            text = m_box->accessibleName();
        return text;
    }

    // QAccessibleTextInterface
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    QString text(int startOffset, int endOffset) const override
    {
        const QString spoken = Spoken();
        startOffset = std::clamp(startOffset, 0, int(spoken.size()));
        endOffset = endOffset < 0 ? int(spoken.size())
                                  : std::clamp(endOffset, startOffset, int(spoken.size()));
        return spoken.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(Spoken().size()); }
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int* startOffset, int* endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return {};
    }

private:
    QString Spoken() const { return m_box ? m_box->SpokenText() : QString(); }

    QPointer<const TextBox> m_box;
};

QAccessibleInterface* TextBoxAccessibleFactory(const QString& className, QObject* object)
{
    if (className != QLatin1String("QLineEdit"))
        return nullptr;
    auto* edit = static_cast<QLineEdit*>(object);
    const auto* box = qobject_cast<const TextBox*>(edit->parent());
    if (!box || box->editor() != edit)
        return nullptr;
    return new TextBoxAccessible(edit, *box);
}

} // namespace

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
    // Once for the program: every box's text is read by the interface above.
    static const bool readable = [] {
        QAccessible::installFactory(TextBoxAccessibleFactory);
        return true;
    }();
    Q_UNUSED(readable);
}

void TextBox::SetAccessibleName(const QString& name)
{
    setAccessibleName(name);
    m_edit->setAccessibleName(name);
}

QString TextBox::SpokenText() const
{
    return qm::SpokenText(m_shown);
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

QAction* TextBox::OfferCopyAll(const QString& caption)
{
    m_copyAll = new QAction(caption, this);
    m_copyAll->setEnabled(!m_text.isEmpty());
    connect(m_copyAll, &QAction::triggered, this, &TextBox::CopyAll);
    m_edit->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_edit, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QMenu* menu = ContextMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_edit->mapToGlobal(at));
    });
    return m_copyAll;
}

QMenu* TextBox::ContextMenu()
{
    QMenu* menu = m_edit->createStandardContextMenu();
    if (m_copyAll) {
        menu->addSeparator();
        menu->addAction(m_copyAll);
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
    // Called with every change: "Copy all" is there while there is something to copy.
    if (m_copyAll && m_copyAll->isEnabled() == m_text.isEmpty())
        m_copyAll->setEnabled(!m_text.isEmpty());
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
    const QStringView tail = QStringView(m_text).right(ShownTail());
    // A line edit tells a screen reader of every text it is given, the same or not.
    if (tail == m_shown)
        return;
    m_shown = tail.toString();
    m_edit->setText(WithControlPictures(m_shown));
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
