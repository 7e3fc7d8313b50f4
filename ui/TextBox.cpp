#include "ui/TextBox.h"

#include "protocol/ControlCharacters.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

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

// Room around the text in the line, and around a control character's name in its box.
constexpr qreal LineMargin = 2;
constexpr qreal MarkPadding = 2;
constexpr qreal MarkGap = 1;

bool IsControl(char16_t code)
{
    return code < 0x20 || code == 0x7f;
}

// The text and the names as drawn: the text without kerning, so that each character's width
// is its own and the mouse finds the character drawn under it; the names a little smaller.
QFont TextFont(const QFont& font)
{
    QFont text = font;
    text.setKerning(false);
    return text;
}

QFont MarkFont(const QFont& font)
{
    QFont mark = TextFont(font);
    if (font.pointSizeF() > 0)
        mark.setPointSizeF(std::max(font.pointSizeF() * 0.8, 6.0));
    else
        mark.setPixelSize(std::max(font.pixelSize() * 4 / 5, 8));
    return mark;
}

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

// The line edit of a box: it keeps the text, the selection and what goes with them; the box
// draws it.
class ShownLine final : public QLineEdit {
public:
    explicit ShownLine(TextBox& box)
        : QLineEdit(&box)
        , m_box(box)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        m_box.PaintLine(painter);
    }

private:
    const TextBox& m_box;
};

TextBox::TextBox(QWidget* parent)
    : QWidget(parent)
    , m_edit(new ShownLine(*this))
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

void TextBox::Append(QLatin1String bytes)
{
    m_text.append(bytes);
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

qreal TextBox::Advance(char16_t code) const
{
    // The characters are one byte each: their widths as shown are looked up, not measured.
    if (m_advances.empty()) {
        const QFontMetricsF text(TextFont(m_edit->font()));
        const QFontMetricsF mark(MarkFont(m_edit->font()));
        m_advances.resize(256);
        for (char16_t c = 0; c < 256; ++c) {
            m_advances[c] = IsControl(c) ? mark.horizontalAdvance(ControlCharacterName(QChar(c)))
                                               + 2 * (MarkPadding + MarkGap) + 2
                                         : std::max(text.horizontalAdvance(QChar(c)), qreal(1));
        }
    }
    if (code < 256)
        return m_advances[code];
    return QFontMetricsF(TextFont(m_edit->font())).horizontalAdvance(QChar(code));
}

qreal TextBox::ShownWidth(QStringView text) const
{
    qreal width = 0;
    for (const QChar c : text)
        width += Advance(c.unicode());
    return width;
}

qsizetype TextBox::ShownTail() const
{
    const int width = m_edit->width();
    qreal filled = 0;
    qsizetype count = 0;
    for (qsizetype i = m_text.size() - 1; i >= 0 && filled < width; --i, ++count)
        filled += Advance(m_text.at(i).unicode());
    // One more, so that a character cut at the left edge is there too.
    return count + 1;
}

std::vector<qreal> TextBox::Edges() const
{
    std::vector<qreal> edges;
    edges.reserve(std::size_t(m_shown.size()) + 1);
    qreal x = 0;
    for (const QChar c : m_shown) {
        edges.push_back(x);
        x += Advance(c.unicode());
    }
    edges.push_back(x);
    return edges;
}

QRectF TextBox::TextArea() const
{
    return QRectF(m_edit->rect()).adjusted(LineMargin, 0, -LineMargin, 0);
}

qreal TextBox::TextOrigin(const QRectF& area, qreal width) const
{
    // From the left while the text fits; else its end against the right edge, as the tail of
    // a longer text is.
    return width <= area.width() ? area.left() : area.right() - width;
}

qsizetype TextBox::IndexAt(qreal x) const
{
    const std::vector<qreal> edges = Edges();
    const qreal origin = TextOrigin(TextArea(), edges.back());
    // The nearest boundary between two characters.
    qsizetype index = 0;
    for (std::size_t i = 1; i < edges.size(); ++i) {
        if (x >= origin + (edges[i - 1] + edges[i]) / 2)
            index = qsizetype(i);
    }
    return index;
}

void TextBox::PaintLine(QPainter& painter) const
{
    const QPalette& colours = m_edit->palette();
    const QPalette::ColorGroup group = !m_edit->isEnabled() ? QPalette::Disabled
                                       : m_edit->hasFocus() ? QPalette::Active
                                                            : QPalette::Inactive;
    painter.fillRect(m_edit->rect(), colours.color(group, QPalette::Base));
    if (m_shown.isEmpty())
        return;
    const QRectF area = TextArea();
    const std::vector<qreal> edges = Edges();
    const qreal origin = TextOrigin(area, edges.back());
    const QFont font = TextFont(m_edit->font());
    const QFontMetricsF metrics(font);
    const qreal top = area.top() + (area.height() - metrics.height()) / 2;
    const qreal baseline = top + metrics.ascent();
    const qsizetype selected = m_edit->selectionStart();
    const qsizetype selectedEnd = selected < 0 ? -1 : selected + m_edit->selectionLength();
    painter.setClipRect(area);
    painter.setFont(font);

    // Run by run: plain characters of one kind (selected or not) at once, names one by one.
    qsizetype i = 0;
    while (i < m_shown.size()) {
        const bool inSelection = i >= selected && i < selectedEnd;
        qsizetype end = i + 1;
        const bool control = IsControl(m_shown.at(i).unicode());
        if (!control) {
            while (end < m_shown.size() && !IsControl(m_shown.at(end).unicode())
                   && (end >= selected && end < selectedEnd) == inSelection)
                ++end;
        }
        const QRectF cell(origin + edges[std::size_t(i)], top,
                          edges[std::size_t(end)] - edges[std::size_t(i)], metrics.height());
        if (cell.right() >= area.left()) {
            if (inSelection)
                painter.fillRect(cell.adjusted(0, 0, 0.5, 0),
                                 colours.color(group, QPalette::Highlight));
            const QColor text =
                colours.color(group, inSelection ? QPalette::HighlightedText : QPalette::Text);
            if (control) {
                PaintMark(painter, cell, m_shown.at(i), text);
            } else {
                painter.setPen(text);
                painter.drawText(QPointF(cell.left(), baseline),
                                 QStringView(m_shown).mid(i, end - i).toString());
            }
        }
        i = end;
    }
}

void TextBox::PaintMark(QPainter& painter, const QRectF& cell, QChar c, const QColor& text) const
{
    // Each name is drawn once and then copied: a long echo shows the same few names again at
    // every refresh, and a boxed name drawn anew costs as much as the rest of the line.
    const qreal ratio = painter.device()->devicePixelRatioF();
    const QSize size(int(std::ceil(cell.width())), int(std::ceil(cell.height())));
    if (ratio != m_markRatio || size.height() != m_markHeight) {
        m_marks.clear();
        m_markRatio = ratio;
        m_markHeight = size.height();
    }
    QPixmap& mark = m_marks[MarkKey{c.unicode(), text.rgba()}];
    if (mark.isNull() || mark.deviceIndependentSize().toSize() != size) {
        mark = QPixmap(size * ratio);
        mark.setDevicePixelRatio(ratio);
        mark.fill(Qt::transparent);
        QPainter on(&mark);
        DrawMark(on, QRectF(QPointF(0, 0), cell.size()), c, text);
    }
    painter.drawPixmap(cell.topLeft(), mark);
}

void TextBox::DrawMark(QPainter& painter, const QRectF& cell, QChar c, const QColor& text) const
{
    const QFont font = MarkFont(m_edit->font());
    const QFontMetricsF metrics(font);
    const qreal height = std::min(cell.height(), metrics.height() + 2);
    const QRectF box(cell.left() + MarkGap + 0.5, cell.center().y() - height / 2 + 0.5,
                     cell.width() - 2 * MarkGap - 1, height - 1);
    QColor border = text;
    border.setAlphaF(0.55f);
    QColor fill = text;
    fill.setAlphaF(0.08f);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(border);
    painter.setBrush(fill);
    painter.drawRoundedRect(box, 2, 2);
    painter.setFont(font);
    painter.setPen(text);
    painter.drawText(box, Qt::AlignCenter, ControlCharacterName(c));
}

bool TextBox::MouseOnLine(QEvent* event)
{
    // Right clicks go on to the line edit, for its context menu.
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const bool left = mouse->button() == Qt::LeftButton || mouse->buttons() & Qt::LeftButton;
    if (!left)
        return false;
    const int at = int(IndexAt(mouse->position().x()));
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (m_edit->focusPolicy() & Qt::ClickFocus)
            m_edit->setFocus(Qt::MouseFocusReason);
        if (mouse->modifiers() & Qt::ShiftModifier && m_edit->hasSelectedText()) {
            m_edit->setSelection(m_anchor, at - m_anchor);
        } else {
            m_anchor = at;
            m_edit->setCursorPosition(at);
        }
        return true;
    case QEvent::MouseMove:
        m_edit->setSelection(m_anchor, at - m_anchor);
        return true;
    case QEvent::MouseButtonDblClick: {
        // A word: the characters around, up to a blank or a control character.
        const auto inWord = [this](qsizetype i) {
            const QChar c = m_shown.at(i);
            return !c.isSpace() && !IsControl(c.unicode());
        };
        qsizetype first = std::min<qsizetype>(at, m_shown.size() - 1);
        if (first < 0)
            return true;
        qsizetype last = first + 1;
        if (inWord(first)) {
            while (first > 0 && inWord(first - 1))
                --first;
            while (last < m_shown.size() && inWord(last))
                ++last;
        }
        m_anchor = int(first);
        m_edit->setSelection(int(first), int(last - first));
        return true;
    }
    case QEvent::MouseButtonRelease:
        // As a line edit does: what is selected is there for the middle button.
        if (QClipboard* clipboard = QGuiApplication::clipboard();
            clipboard->supportsSelection() && m_edit->hasSelectedText())
            clipboard->setText(m_edit->selectedText(), QClipboard::Selection);
        return true;
    default:
        return false;
    }
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
    switch (event->type()) {
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        // The frame shows whether the box has the focus.
        update();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
        // The line edit would find the characters where it would draw them.
        if (watched == m_edit && MouseOnLine(event))
            return true;
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void TextBox::changeEvent(QEvent* event)
{
    // Another font has other widths.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        m_advances.clear();
        m_marks.clear();
    }
    QWidget::changeEvent(event);
}

} // namespace qm
