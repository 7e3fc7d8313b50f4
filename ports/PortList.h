#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace qm {

// Where the system keeps what it knows of its devices. The program always uses the real
// places; tests point them into a made-up tree.
struct SystemRoots {
    QString sysfs = QStringLiteral("/sys");
    QString udevData = QStringLiteral("/run/udev/data");
    QString dev = QStringLiteral("/dev");
};

// A serial port this computer has, and what the system says it is.
struct FoundPort {
    enum Kind {
        Uart,  // a UART on the board or a card
        Usb,   // a USB adapter or a USB device with a serial line
        Other, // any other line with hardware behind it
    };
    QString device; // its node, such as /dev/ttyUSB0
    Kind kind = Other;
    QString model;        // in udev's words; empty when the system does not know
    QString maker;        // likewise
    QString serialNumber; // the adapter's own (sysfs), or udev's words
    // A USB adapter's vendor and product numbers (hexadecimal, as sysfs gives them); empty for
    // any other port. With the serial number, who the adapter is, whatever node it has now.
    QString vendorId;
    QString productId;
    QStringList byId;      // its names in /dev/serial/by-id
    bool permitted = true; // this user may read and write it

    friend bool operator==(const FoundPort&, const FoundPort&) = default;
};

// The serial ports this computer has, in the order of their names (ttyS4 before ttyS10),
// each once. Nothing is opened: opening a line raises DTR and RTS, which can reset what hangs
// on it, so the list comes from the device tree (the class tty, lines with a device behind
// them; a UART only where the kernel found one), udev's records and the device folder.
// Pseudo-terminals are never listed. Empty on systems without such a tree.
QList<FoundPort> FindSerialPorts(const SystemRoots& roots = {});

// The found ports that are not one of the port entries (COM1 to COM4 are /dev/ttyS0 to
// /dev/ttyS3 on Linux): the ones the port list adds after the entries.
QList<FoundPort> BeyondPortEntries(const QList<FoundPort>& ports, const SystemRoots& roots = {});

// The name the system gives a device under /dev/serial/by-id, which stays the same when an
// adapter comes back under another /dev/ttyUSBn: the full path of the first such link to it,
// or of `device` itself when that is one; empty when it has none (a built-in port, a
// pseudo-terminal).
QString StableName(const QString& device, const SystemRoots& roots = {});

// What a port is, in the system's words: "FT232R USB UART (FTDI), serial number A9X1".
QString DescribeFoundPort(const FoundPort& port);
// Its line in the port list: the device, what it is, and whether this user may not use it.
QString FoundPortListText(const FoundPort& port);

} // namespace qm
