#pragma once

#include <QLineEdit>
#include <QString>
#include <QTimer>
#include <QWidget>

class QMenu;

namespace qm {

// A single-line text box whose text the program reads and writes exactly, character for
// character, while the screen is brought up to date at the screen's pace rather than on
// every change: appending one character at a time to a line edit re-lays out its whole
// text each time and would fall behind a serial line.
//
// What is shown: the end of the text (what a one-line box can show), with every control
// character drawn as its Unicode control picture (STX as U+2402, CR as U+240D...).
// The box is read-only for the operator and can be clicked, selected and copied.
class TextBox : public QWidget {
    Q_OBJECT

public:
    // How much of the end of the text is put on the screen.
    static constexpr qsizetype ShownTail = 256;

    explicit TextBox(QWidget* parent = nullptr);

    const QString& Text() const { return m_text; }
    void SetText(const QString& text);
    void Append(QStringView text);

    // Keeps at most about this many characters (0: no limit). When the text grows past
    // it, the oldest quarter is let go, so the cost of appending stays constant.
    void SetCapacity(qsizetype characters) { m_capacity = characters; }
    qsizetype Capacity() const { return m_capacity; }

    // Adds an entry with this caption to the box's context menu that puts the whole text on
    // the clipboard, every character as it is but NUL.
    void OfferCopyAll(const QString& caption);
    // The context menu as the operator gets it (the caller owns it).
    QMenu* ContextMenu();
    void CopyAll() const;
    // The text as the clipboard gets it: each character as it is, but NUL as its control
    // picture (U+2400), since NUL ends a pasted text in most programs.
    static QString ClipboardText(QStringView text);

    // What the screen shows, once any pending refresh has run.
    QString ShownText() const;
    QLineEdit* editor() const { return m_edit; }

    static QString WithControlPictures(QStringView text);

private:
    void TrimToCapacity();
    void Refresh();

    QString m_text;
    qsizetype m_capacity = 0;
    QString m_copyAllCaption;
    QLineEdit* m_edit;
    QTimer m_refresh;
};

} // namespace qm
