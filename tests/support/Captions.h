#pragma once

// Whether a window's captions fit: each measured in the font it is drawn in against the part
// of its control that shows it.

#include "ui/RecordChart.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QWidget>

#include <cmath>

namespace qm::test {

namespace captions {

// A caption as drawn: without the ampersand that marks its access key.
inline QString Drawn(const QString& caption)
{
    QString drawn = caption;
    drawn.replace(QRegularExpression(QStringLiteral("&(.)")), QStringLiteral("\\1"));
    return drawn;
}

inline QString Fault(const QWidget& control, const QString& caption, qreal needs, qreal has)
{
    return QStringLiteral("%1 \"%2\" needs %3 px, has %4")
        .arg(control.objectName(), caption)
        .arg(needs, 0, 'f', 1)
        .arg(has, 0, 'f', 1);
}

// Its text and its height, in the room `room` of the control; its right edge inside the
// control's parent, where the text runs to it.
inline void Check(const QWidget& control, const QString& caption, const QRectF& room,
                  QStringList& faults)
{
    const QFontMetricsF metrics(control.font(), &control);
    const qreal width = metrics.horizontalAdvance(Drawn(caption));
    // A fraction of a pixel is lost to rounding, not to the eye.
    if (width > room.width() + 0.5)
        faults << Fault(control, caption, width, room.width());
    if (std::floor(metrics.height()) > room.height())
        faults << Fault(control, caption + QStringLiteral(" (height)"), metrics.height(),
                        room.height());
    const QWidget* parent = control.parentWidget();
    if (parent && !control.isWindow()
        && control.mapToParent(room.topLeft().toPoint()).x() + width > parent->width() + 0.5)
        faults << Fault(control, caption + QStringLiteral(" (past its frame)"), width,
                        parent->width() - control.mapToParent(room.topLeft().toPoint()).x());
}

inline void CheckLabel(const QLabel& label, QStringList& faults)
{
    const QRect room = label.contentsRect().adjusted(label.margin(), label.margin(),
                                                     -label.margin(), -label.margin());
    if (!label.wordWrap()) {
        Check(label, label.text(), room, faults);
        return;
    }
    // Wrapped: each word on a line, and the lines in the height.
    for (const QString& word : label.text().split(QLatin1Char(' '), Qt::SkipEmptyParts))
        Check(label, word, room, faults);
    if (label.heightForWidth(label.width()) > label.height())
        faults << Fault(label, label.text() + QStringLiteral(" (lines)"),
                        label.heightForWidth(label.width()), label.height());
}

inline void CheckButton(const QPushButton& button, QStringList& faults)
{
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    option.features =
        button.isDefault() ? QStyleOptionButton::DefaultButton : QStyleOptionButton::None;
    const QRect room =
        button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
    Check(button, button.text(), room, faults);
}

inline void CheckGroupBox(const QGroupBox& box, QStringList& faults)
{
    QStyleOptionGroupBox option;
    option.initFrom(&box);
    option.text = box.title();
    option.lineWidth = 1;
    option.textAlignment = box.alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    QRect room =
        box.style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, &box);
    room &= box.rect();
    Check(box, box.title(), room, faults);
}

// Every entry where the bar shows it, none put away behind its extension button.
inline void CheckMenuBar(const QMenuBar& bar, QStringList& faults)
{
    for (QAction* action : bar.actions()) {
        const QRect entry = bar.actionGeometry(action);
        if (entry.isEmpty() || !bar.rect().contains(entry))
            faults << QStringLiteral("menu entry \"%1\" not in the bar").arg(action->text());
        else
            Check(bar, action->text(), entry, faults);
    }
}

// The legend's entries, each a name after its sample, inside the chart.
inline void CheckLegend(RecordChart& chart, QStringList& faults)
{
    QAccessibleInterface* drawn = QAccessible::queryAccessibleInterface(&chart);
    for (int i = 0; drawn && i < drawn->childCount(); ++i) {
        const QString name = drawn->child(i)->text(QAccessible::Name);
        const QRect entry = chart.LegendEntry(i);
        if (!chart.rect().contains(entry))
            faults << QStringLiteral("legend entry \"%1\" outside the chart").arg(name);
        Check(chart, name, QRectF(entry).adjusted(22, 0, 0, 0), faults);
    }
}

} // namespace captions

// Every caption of `window` that its control cuts or elides, as "control "caption" needs N px,
// has M"; the labels, buttons, frames' titles, menu entries and chart legends shown.
inline QStringList ClippedCaptions(QWidget& window)
{
    QStringList faults;
    const auto shown = [&window](const QWidget* control) {
        return control->isVisibleTo(&window);
    };
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (shown(label) && !label->text().isEmpty() && label->pixmap().isNull())
            captions::CheckLabel(*label, faults);
    }
    for (const QPushButton* button : window.findChildren<QPushButton*>()) {
        if (shown(button) && !button->text().isEmpty())
            captions::CheckButton(*button, faults);
    }
    for (const QGroupBox* box : window.findChildren<QGroupBox*>()) {
        if (shown(box) && !box->title().isEmpty())
            captions::CheckGroupBox(*box, faults);
    }
    for (const QMenuBar* bar : window.findChildren<QMenuBar*>()) {
        if (shown(bar))
            captions::CheckMenuBar(*bar, faults);
    }
    for (RecordChart* chart : window.findChildren<RecordChart*>()) {
        if (shown(chart))
            captions::CheckLegend(*chart, faults);
    }
    return faults;
}

} // namespace qm::test
