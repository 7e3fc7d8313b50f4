#pragma once

#include <QString>

namespace qm {

// The ports the operator picks from: COM1 to COM4, entry i standing for port i + 1.
inline constexpr int PortEntries = 4;
QString PortEntryName(int entry);

// Where a port name lives on this system. On Linux COM1 to COM4 are /dev/ttyS0 to
// /dev/ttyS3; any other name (a device path) is used as it is.
QString SystemLocation(const QString& portName);

// What the text typed into the port box means.
struct PortChoice {
    enum Kind {
        Entry,   // one of the four entries, in any letter case
        Device,  // another serial device, used as the port for this run
        Invalid, // empty, or names no serial device: `problem` says what to do
    };
    Kind kind = Invalid;
    int entry = -1;
    QString device;
    QString problem;
};

PortChoice InterpretPortText(const QString& text);

// Why a port would not open, in an operator's words.
struct OpenFailure {
    enum Reason {
        NoSuchDevice,
        NoPermission, // the device exists but this user may not use it
        InUse,        // another program (or another window of this one) has it
        Other,
    };
    Reason reason = Other;
    QString deviceGroup; // for NoPermission: the group that owns the device, if known
    QString detail;      // for Other: the system's own words
};

QString DescribeOpenFailure(const QString& portLabel, const OpenFailure& failure);

} // namespace qm
