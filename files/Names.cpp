#include "files/Names.h"

#include <QFile>
#include <QFileInfo>
#include <QObject>
#include <QScopeGuard>

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <vector>

namespace qm {

bool NameIsText(const QByteArray& bytes)
{
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

QByteArray NameReadAsAnother(const QString& path)
{
    if (!path.contains(QChar::ReplacementCharacter))
        return {};
    QByteArray folder("/");
    for (const QString& part :
         QFileInfo(path).absoluteFilePath().split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        DIR* listing =
            part.contains(QChar::ReplacementCharacter) ? ::opendir(folder.constData()) : nullptr;
        if (listing) {
            auto closeListing = qScopeGuard([listing] { ::closedir(listing); });
            while (const dirent* entry = ::readdir(listing)) {
                const QByteArray name(entry->d_name);
                if (!NameIsText(name) && QFile::decodeName(name) == part)
                    return folder + name;
            }
        }
        folder += QFile::encodeName(part) + '/';
    }
    return {};
}

QString NameDoubt(const QString& path)
{
    const QByteArray other = NameReadAsAnother(path);
    if (other.isEmpty())
        return {};
    // Written to, such a name would make a new file beside the one the operator saw, or
    // write over a third one.
    return QObject::tr("the name is also how %1 is shown, whose name is not UTF-8, so it is not "
                       "certain which file is meant. Give that one a name in UTF-8, or choose "
                       "another name")
        .arg(EscapedName(other));
}

QString EscapedName(const QByteArray& bytes)
{
    QString text;
    for (const char byte : bytes) {
        const auto code = uint(static_cast<unsigned char>(byte));
        if (byte == '\\')
            text += QStringLiteral("\\\\");
        else if (code >= 0x20 && code < 0x7f)
            text += QLatin1Char(byte);
        else
            text += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString ShownText(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (const char32_t code : text.toUcs4()) {
        const auto category = QChar::category(code);
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            shown += code < 0x100
                         ? QStringLiteral("\\x%1").arg(uint(code), 2, 16, QLatin1Char('0'))
                         : QStringLiteral("\\u%1").arg(uint(code), 4, 16, QLatin1Char('0'));
        else
            shown += QString::fromUcs4(&code, 1);
    }
    return shown;
}

QString UserName(uid_t user)
{
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(4096);
    if (::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QFile::decodeName(found->pw_name);
    return QString::number(user);
}

QString NodeKind(mode_t mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR:
        return QObject::tr("a folder");
    case S_IFCHR:
    case S_IFBLK:
        return QObject::tr("a device");
    case S_IFIFO:
        return QObject::tr("a named pipe (FIFO)");
    case S_IFSOCK:
        return QObject::tr("a socket");
    default:
        return QObject::tr("something unknown");
    }
}

} // namespace qm
