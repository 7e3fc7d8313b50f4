#pragma once

class QKeyEvent;

namespace qm {

// The key of `press` goes no further: while it is held, its repeats and its release reach no
// window of the program. A key that closed one window must not act in the window that opens
// after it (Enter held on the start screen would press the port dialog's button). It ends at
// the key's release, or at its next press that is not a repeat.
void KeyGoesNoFurther(const QKeyEvent& press);

} // namespace qm
