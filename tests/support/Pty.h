#pragma once

// A raw pseudo-terminal: the instrument's end is held here, and the program opens the
// other end by its name, as it opens a serial port.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QTest>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace qm::test {

struct Pty {
    int master = -1;
    QString device;

    Pty()
    {
        int slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            return;
        termios raw{};
        ::tcgetattr(slave, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(slave, TCSANOW, &raw);
        device = QString::fromLocal8Bit(::ttyname(slave));
        ::close(slave);
    }
    ~Pty() { hangUp(); }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    void send(const QByteArray& bytes) const
    {
        QCOMPARE(::write(master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }

    // What the program sent, as soon as `count` bytes are there (a second at the most). The
    // program writes from its event loop, so that runs meanwhile.
    QByteArray read(int count) const
    {
        QByteArray bytes;
        char buffer[512];
        QDeadlineTimer deadline(1000);
        while (bytes.size() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            pollfd fd{master, POLLIN, 0};
            if (::poll(&fd, 1, 10) <= 0)
                continue;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, n);
        }
        return bytes;
    }

    // The instrument's end goes away, as a pulled cable does.
    void hangUp()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
};

} // namespace qm::test
