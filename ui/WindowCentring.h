#pragma once

class QWidget;

namespace qm {

// Opens `window` centred on its owner (the window it belongs to), or on the screen when it
// has none or the owner is not shown; kept on the screen, so that its title bar can be
// reached. What is centred is what the operator sees: the frame that the window manager
// draws around the window, or the window itself where none is drawn.
void OpenCentred(QWidget& window);

} // namespace qm
