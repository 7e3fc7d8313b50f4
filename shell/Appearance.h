#pragma once

namespace qm {

// What every window of the program shares: its icon, and free fonts in place of the
// design's fonts where this system lacks them: Wine's Tahoma (or DejaVu Sans Condensed),
// Liberation Sans for Arial, Open Sans (or DejaVu Sans) for Lucida Sans Unicode.
// Call once, after the application object exists.
void SetUpAppearance();

} // namespace qm
