#pragma once

// A made-up computer under a temporary folder: the kernel's device tree (sysfs), udev's
// records and the device folder, laid out as Linux lays them out, for the port list to read
// as it reads the real ones. Nodes are plain files or links (to a pseudo-terminal, for a
// port that must open), so no device is ever made.

#include "ports/PortList.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace qm::test {

struct FakePort {
    explicit FakePort(const QString& portName = {}, const QString& majorMinor = "188:0")
        : name(portName)
        , number(majorMinor)
    {
    }

    QString name;   // in the class tty and under dev: "ttyUSB0"
    QString number; // its major:minor
    QString hardware = "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0"; // empty: none
    QString uartType;   // the serial core's type of the port; empty: not one
    QStringList record; // udev's record: "E:ID_MODEL=..." lines
    QStringList byId;   // its names in dev/serial/by-id
    QString linkTo;     // the node is a link to this; empty: a plain file
    // A USB adapter's identity, kept by the device above the line's hardware; no vendor: none.
    QString vendorId;
    QString productId;
    QString serial;
    bool node = true; // false: the node is not (yet) there
};

class FakeSystem {
public:
    QTemporaryDir dir;
    SystemRoots roots;

    FakeSystem()
    {
        roots = {dir.path() + "/sys", dir.path() + "/run/udev/data", dir.path() + "/dev"};
        QDir().mkpath(roots.sysfs + "/class/tty");
        QDir().mkpath(roots.udevData);
        QDir().mkpath(roots.dev);
    }

    QString device(const QString& name) const { return roots.dev + "/" + name; }

    // In the order the system makes them: the device tree's entry, the node, udev's record,
    // the by-id links.
    void plugIn(const FakePort& port)
    {
        const QString where = port.hardware.isEmpty() ? QString("virtual") : port.hardware;
        const QString entry = roots.sysfs + "/devices/" + where + "/tty/" + port.name;
        QVERIFY(QDir().mkpath(entry));
        write(entry + "/dev", port.number + "\n");
        write(entry + "/uevent",
              QString("MAJOR=%1\nMINOR=%2\nDEVNAME=%3\n")
                  .arg(port.number.section(':', 0, 0), port.number.section(':', 1), port.name));
        if (!port.uartType.isEmpty())
            write(entry + "/type", port.uartType + "\n");
        if (!port.hardware.isEmpty())
            link("../..", entry + "/device");
        if (!port.vendorId.isEmpty()) {
            const QString usbDevice = roots.sysfs + "/devices/" + port.hardware + "/..";
            write(usbDevice + "/idVendor", port.vendorId + "\n");
            write(usbDevice + "/idProduct", port.productId + "\n");
            if (!port.serial.isEmpty())
                write(usbDevice + "/serial", port.serial + "\n");
        }
        link(entry, roots.sysfs + "/class/tty/" + port.name);
        if (port.node) {
            if (port.linkTo.isEmpty())
                write(device(port.name), {});
            else
                link(port.linkTo, device(port.name));
        }
        if (!port.record.isEmpty())
            record(port.number, port.record);
        if (!port.byId.isEmpty())
            QVERIFY(QDir().mkpath(roots.dev + "/serial/by-id"));
        for (const QString& name : port.byId)
            link("../../" + port.name, roots.dev + "/serial/by-id/" + name);
        m_plugged.insert(port.name, port);
    }

    // udev's record of the device `number`, written as udev writes it (whole, by a rename).
    void record(const QString& number, const QStringList& lines)
    {
        QSaveFile file(roots.udevData + "/c" + number);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write((lines.join('\n') + '\n').toUtf8());
        QVERIFY(file.commit());
    }

    void pullOut(const QString& name)
    {
        const FakePort port = m_plugged.take(name);
        QFile::remove(device(name));
        for (const QString& link : port.byId)
            QFile::remove(roots.dev + "/serial/by-id/" + link);
        QFile::remove(roots.udevData + "/c" + port.number);
        QFile::remove(roots.sysfs + "/class/tty/" + name);
    }

private:
    static void write(const QString& path, const QString& text)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    }
    static void link(const QString& target, const QString& path)
    {
        QVERIFY(
            ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData())
            == 0);
    }

    QHash<QString, FakePort> m_plugged;
};

} // namespace qm::test
