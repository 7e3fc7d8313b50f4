#pragma once

#include "ui/LiveRefresh.h"

#include <QColor>
#include <QHash>
#include <QLineEdit>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <vector>

class QAction;
class QMenu;
class QPainter;

namespace qm {

class ShownLine;

// A single-line text box whose text the program reads and writes exactly, character for
// character, while the screen is brought up to date about ten times a second rather than on
// every change: appending one character at a time to a line edit re-lays out its whole
// text each time and would fall behind a serial line.
//
// What is shown: the end of the text, just as much as the box can show, with every control
// character drawn as its name in a small box (STX, CR, ACK, NAK...), legible at any size.
// The box draws its frame itself, so that a new text repaints only the text.
// The box is read-only for the operator and can be clicked, selected and copied. The line edit
// inside keeps the shown text (control characters as their Unicode control pictures, STX as
// U+2402, CR as U+240D...), the selection, the keyboard, the clipboard and the context menu;
// the box draws that text and tells which character the mouse points at.
//
// To a screen reader the box is a read-only text named after its caption (SetAccessibleName)
// whose text is what the screen shows, each control character read by its name (STX, CR...).
// It is told of a change only when what the screen shows changes.
class TextBox : public QWidget {
    Q_OBJECT

public:
    explicit TextBox(QWidget* parent = nullptr);

    const QString& Text() const { return m_text; }
    void SetText(const QString& text);
    void Append(QStringView text);
    // Bytes, one character each (codes 0 to 255), as they came from the line.
    void Append(QLatin1String bytes);

    // Keeps at most about this many characters (0: no limit). When the text grows past
    // it, the oldest quarter is let go, so the cost of appending stays constant.
    void SetCapacity(qsizetype characters) { m_capacity = characters; }
    qsizetype Capacity() const { return m_capacity; }

    // Adds an entry with this caption to the box's context menu that puts the whole text on
    // the clipboard, every character as it is but NUL. The entry is an action the caller may
    // give a shortcut and add to its window, so that the box need not have the focus.
    QAction* OfferCopyAll(const QString& caption);
    // The context menu as the operator gets it (the caller owns it).
    QMenu* ContextMenu();
    void CopyAll() const;
    // The text as the clipboard gets it: each character as it is, but NUL as its control
    // picture (U+2400), since NUL ends a pasted text in most programs.
    static QString ClipboardText(QStringView text);

    // What the screen shows, once any pending refresh has run.
    QString ShownText() const;
    // How many characters of the end of the text fill the box.
    qsizetype ShownTail() const;
    // How wide the box draws this text, control characters as their boxed names.
    qreal ShownWidth(QStringView text) const;
    QLineEdit* editor() const { return m_edit; }

    // The name a screen reader gives the box (its caption), on the box and on the text in it
    // that takes the focus.
    void SetAccessibleName(const QString& name);
    // What a screen reader reads as the box's text: the text shown, control characters by name.
    QString SpokenText() const;

    static QString WithControlPictures(QStringView text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class ShownLine;

    void TrimToCapacity();
    void Refresh();

    // The shown text as drawn: where each of its characters begins, and where the last ends,
    // from the left of the text area; and where that area and the text begin in the line edit.
    qreal Advance(char16_t code) const;
    std::vector<qreal> Edges() const;
    QRectF TextArea() const;
    qreal TextOrigin(const QRectF& area, qreal width) const;
    qsizetype IndexAt(qreal x) const;
    void PaintLine(QPainter& painter) const;
    void PaintMark(QPainter& painter, const QRectF& cell, QChar c, const QColor& text) const;
    void DrawMark(QPainter& painter, const QRectF& cell, QChar c, const QColor& text) const;
    bool MouseOnLine(QEvent* event);

    QString m_text;
    QString m_shown; // the end of the text that the screen shows
    qsizetype m_capacity = 0;
    QAction* m_copyAll = nullptr;
    mutable std::vector<qreal> m_advances; // each byte's width as shown, in pixels
    // The boxed names drawn so far, by character and colour, at one height and pixel ratio.
    struct MarkKey {
        char16_t character;
        QRgb colour;
        bool operator==(const MarkKey&) const = default;
        friend size_t qHash(const MarkKey& key, size_t seed = 0)
        {
            return qHashMulti(seed, key.character, key.colour);
        }
    };
    mutable QHash<MarkKey, QPixmap> m_marks;
    mutable qreal m_markRatio = 0;
    mutable int m_markHeight = 0;
    int m_anchor = 0; // where a selection with the mouse began
    QLineEdit* m_edit;
    LiveRefresh m_refresh;
};

} // namespace qm
