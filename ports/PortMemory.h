#pragma once

#include "base/Result.h"
#include "files/SettingsFile.h"
#include "ports/PortList.h"

#include <QString>

#include <optional>

namespace qm {

// The port the desktop program last opened, kept between runs so that the next start offers
// it again and a pulled adapter is found when it comes back. Only the desktop program writes
// it, when a port opens; qm6200-acquire reads it (-p last).
struct RememberedPort {
    // What the port was, which decides how it is found again.
    enum class Kind {
        Line,           // an entry, an adapter, a line or a link to one: by who or where it is
        Simulator,      // the instrument simulator: by its announcement
        PseudoTerminal, // a pseudo-terminal named by its number: never, once it has closed
    };

    // What the operator chose: "COM3", or a device as typed or picked from the list.
    QString choice;
    // For a USB adapter, who it is: its vendor and product numbers and its own serial number
    // (sysfs), and its name under /dev/serial/by-id. Empty for any other port.
    QString vendorId;
    QString productId;
    QString serialNumber;
    QString byId;
    Kind kind = Kind::Line;

    bool IsAdapter() const { return !vendorId.isEmpty(); }
    // Whether it can be found again once lost.
    bool CanReturn() const { return kind != Kind::PseudoTerminal; }
    friend bool operator==(const RememberedPort&, const RememberedPort&) = default;
};

// The port remembered in the configuration file; nothing when none is. A failure, with why,
// when the file cannot be read, is damaged, or is not a regular file of the user's own in a
// folder of theirs. Reading it brings the folder to 0700 and the file to 0600.
Result<std::optional<RememberedPort>> ReadRememberedPort(const QString& path = DefaultConfigPath());
// Keeps the port, the rest of the file as it was: written whole beside it and renamed into
// place (0600, in a folder made 0700), never through a link; or why it could not be written.
// It waits for the disk: not for a window's thread.
Result<> WriteRememberedPort(const RememberedPort& port, const QString& path = DefaultConfigPath());

// What to remember of a port that just opened: the operator's choice, and who it is when the
// device it reached is a USB adapter among `present`, or one of the `simulators` running, or a
// pseudo-terminal named by its number.
RememberedPort RememberPort(const QString& choice, const QString& device,
                            const QList<FoundPort>& present, const QStringList& simulators = {});

// Where the remembered port is now, when the program may choose it by itself: an adapter with
// a serial number of its own, found among `present` by its identity alone and under whatever
// node it has now; the simulator, when exactly one of the `simulators` runs; an entry (COM1 to
// COM4) as it is; any other port (a typed link, a line with no identity of its own) by its
// path, when that is a serial line now (a link left behind by a program that ended is not).
// Nothing for a pseudo-terminal named by its number, for an adapter without a serial number or
// whose identity more than one present adapter shares, nor while several simulators run: the
// operator chooses, so that the program never reaches another instrument or another program's
// terminal.
// How many of the `present` ports answer to the remembered adapter's identity: more than one,
// and the program cannot tell which it was.
qsizetype AdaptersAlike(const RememberedPort& port, const QList<FoundPort>& present);

std::optional<QString> LocateRememberedPort(const RememberedPort& port,
                                            const QList<FoundPort>& present,
                                            const QStringList& simulators,
                                            const QString& sysfsRoot = QStringLiteral("/sys"));

} // namespace qm
