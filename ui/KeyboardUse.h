#pragma once

class QKeyEvent;
class QWidget;

namespace qm {

// The key of `press` goes no further: while it is held, its repeats and its release reach no
// window of the program. A key that closed one window must not act in the window that opens
// after it (Enter held on the start screen would press the port dialog's button). It ends at
// the key's release, or at its next press that is not a repeat.
void KeyGoesNoFurther(const QKeyEvent& press);

// Turns `widget` on or off as QWidget::setEnabled() does, except that a widget holding the focus
// keeps it while off: it takes no key and no click, looks and reads as unavailable, and the
// focus has not moved when it comes back on. Qt would hand the focus to the next widget in the
// Tab order, where the operator's next key acts on something the operator did not choose.
void SetEnabledKeepingFocus(QWidget& widget, bool enabled);

} // namespace qm
