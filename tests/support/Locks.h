#pragma once

// Port lock files as other programs leave them, in a lock folder of the test's own (never the
// system's): naming a process that lives (a `sleep`, so a program of another name than the
// test) or one that has ended, in the ways serial programs write them.

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QSysInfo>
#include <QTemporaryDir>

#include <cstdint>

namespace qm::test {

struct LockRig {
    QTemporaryDir folder;
    QProcess holder; // lives as long as the rig
    qint64 live = 0;
    qint64 ended = 0;

    LockRig()
    {
        holder.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        if (holder.waitForStarted())
            live = holder.processId();
        QProcess gone;
        gone.start(QStringLiteral("true"));
        if (gone.waitForStarted())
            ended = gone.processId();
        gone.waitForFinished();
    }
    ~LockRig()
    {
        holder.kill();
        holder.waitForFinished();
    }
    LockRig(const LockRig&) = delete;
    LockRig& operator=(const LockRig&) = delete;

    // What a lock says, by kind: "padded" (the number as text in ten places and a line end),
    // "text" (the number and a line end), "Qt's lines" (the number, the program, the
    // computer), "another name" (those lines with a program the process is not), "binary"
    // (the number's bytes), "ended" (a process that has ended, padded), "empty".
    QByteArray content(const QString& kind) const
    {
        const QByteArray number =
            QByteArray::number(kind == QStringLiteral("ended") ? ended : live);
        const QByteArray host = QSysInfo::machineHostName().toUtf8();
        if (kind == QStringLiteral("padded") || kind == QStringLiteral("ended"))
            return number.rightJustified(10, ' ') + '\n';
        if (kind == QStringLiteral("text"))
            return number + '\n';
        if (kind == QStringLiteral("Qt's lines"))
            return number + "\nsleep\n" + host + '\n';
        if (kind == QStringLiteral("another name"))
            return number + "\nanother-program\n" + host + '\n';
        if (kind == QStringLiteral("binary")) {
            const auto pid = std::int32_t(live);
            return QByteArray(reinterpret_cast<const char*>(&pid), sizeof pid);
        }
        return {};
    }

    // Puts a lock at `path`, last written `age` seconds ago, readable or not even by its owner.
    static bool put(const QString& path, const QByteArray& content, int age = 0,
                    bool readable = true)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)
            || file.write(content) != content.size()
            || !file.setFileTime(QDateTime::currentDateTime().addSecs(-age),
                                 QFileDevice::FileModificationTime))
            return false;
        file.close();
        return readable || file.setPermissions({});
    }
};

} // namespace qm::test
