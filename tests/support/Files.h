#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace qm::test {

// A file's whole content, or "<missing>".
inline QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The user's settings file (qm6200.conf in XDG_CONFIG_HOME), as the program keeps it: only the
// user may read it.
inline bool WriteSettings(const QByteArray& text)
{
    const QString folder = QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("qm6200");
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString path = folder + "/qm6200.conf";
    return Write(path, text) && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

// Settings that send the journal to the lab's database at CONNINFO; none for an empty one.
inline QByteArray LabSettings(const QString& conninfo)
{
    return conninfo.isEmpty() ? QByteArray() : "[lab]\ndatabase=" + conninfo.toUtf8() + "\n";
}

} // namespace qm::test
