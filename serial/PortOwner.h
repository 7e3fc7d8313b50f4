#pragma once

#include "serial/QmtTxRx.h"

#include <QString>

#include <cstdint>

namespace qm {

// A port to use: COM<PortNumber>, or a serial device named in its place (a USB adapter's
// /dev/ttyUSB0, say). PortNumber keeps the last entry chosen, so it never reaches the
// control as 0.
struct PortSelection {
    std::int16_t PortNumber = 1;
    QString PortDevice; // empty: COM<PortNumber>

    friend bool operator==(const PortSelection&, const PortSelection&) = default;
};

// The selection that names `device`: COM1 to COM4 by their entries, any other by its name.
PortSelection SelectionFor(const QString& device);

// Which port the program uses and when it is open. It is the one owner of the serial
// control's port: the port dialog only chooses, and asks this to open what it chose.
class PortOwner {
public:
    explicit PortOwner(QmtTxRx& comm)
        : m_comm(comm)
    {
    }

    // The port in use: the last one that opened, COM1 before any did.
    const PortSelection& InUse() const { return m_inUse; }
    std::int16_t PortNumber() const { return m_inUse.PortNumber; }

    // At the main window's load: COM1 with the instrument's settings, RTS to be raised when
    // the port opens; the port stays closed.
    void Prepare();
    // The port offered first when the operator chooses at start-up, and opened again by the
    // dialog's close box: the one remembered from the last run, where it is now. Nothing
    // opens here.
    void Prefer(const PortSelection& selection) { m_inUse = selection; }
    // While the operator chooses: the port closed, RTS dropped.
    void CloseForChoosing();
    // Opens the selection with RTS raised; once open, it is the port in use. A port that
    // would not open says why, in the operator's words.
    Result<> TryOpen(const PortSelection& selection);
    // At the main window's unload: RTS dropped, then the port closed.
    void Unload();

private:
    QmtTxRx& m_comm;
    PortSelection m_inUse;
};

} // namespace qm
