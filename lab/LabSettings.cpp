#include "lab/LabSettings.h"

#include "files/Names.h"
#include "files/SettingsFile.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>
#include <QSettings>
#include <QVariant>

#include <libpq-fe.h>
#include <memory>

namespace qm {

namespace {

const QString Group = QStringLiteral("lab");
const QString Key = QStringLiteral("database");

struct FreeOptions {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using Options = std::unique_ptr<PQconninfoOption, FreeOptions>;

// libpq's reading of the string; or why it cannot read it, in its words.
Result<Options> Parse(const QString& conninfo)
{
    char* error = nullptr;
    Options options(PQconninfoParse(conninfo.toUtf8().constData(), &error));
    if (!options) {
        const QString why =
            error ? QString::fromUtf8(error).trimmed() : QObject::tr("there is not enough memory");
        PQfreemem(error);
        return Failure{why};
    }
    return options;
}

// The value as one string: a value with commas that was not quoted is a list to QSettings.
Result<std::optional<QString>> ValueIn(const QVariant& value, const QString& file)
{
    if (!value.isValid())
        return std::optional<QString>();
    if (value.typeId() == QMetaType::QStringList)
        return Failure{QObject::tr("[lab] database= in %1 holds commas and is not in quotes, so "
                                   "it was read as a list. Put the whole value in double "
                                   "quotes: database=\"host=db1,db2 dbname=lab\".")
                           .arg(QDir::toNativeSeparators(file))};
    const QString text = value.toString().trimmed();
    return text.isEmpty() ? std::optional<QString>() : std::optional<QString>(text);
}

// [lab] database= of a lab-wide settings file, the administrator's: read as it is, when it is
// a regular file.
Result<std::optional<QString>> SystemValue(const QString& file)
{
    if (!QFileInfo(file).isFile())
        return std::optional<QString>();
    const QSettings settings(file, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        return Failure{
            QObject::tr("%1 cannot be read, or is damaged.").arg(QDir::toNativeSeparators(file))};
    return ValueIn(settings.value(Group + QLatin1Char('/') + Key), file);
}

} // namespace

QStringList SystemConfigFolders()
{
    QStringList folders;
    for (const QString& folder : qEnvironmentVariable("XDG_CONFIG_DIRS").split(QLatin1Char(':'))) {
        if (QDir::isAbsolutePath(folder))
            folders << folder;
    }
    if (folders.isEmpty())
        folders << QStringLiteral("/etc/xdg");
    return folders;
}

Result<> CheckConnInfo(const QString& conninfo, const QString& setIn)
{
    const Result<Options> options = Parse(conninfo);
    if (!options)
        return Failure{QObject::tr("The lab's database set in %1 cannot be read: %2.")
                           .arg(QDir::toNativeSeparators(setIn), options.Reason())};
    for (const PQconninfoOption* option = options->get(); option->keyword; ++option) {
        if (qstrcmp(option->keyword, "password") == 0 && option->val && *option->val)
            return Failure{
                QObject::tr("The lab's database set in %1 holds a password, which belongs "
                            "elsewhere: remove it there, and put it in ~/.pgpass (or the file "
                            "PGPASSFILE names), a service file, or use a client certificate.")
                    .arg(QDir::toNativeSeparators(setIn))};
    }
    return {};
}

QString ShownConnInfo(const QString& conninfo)
{
    const Result<Options> options = Parse(conninfo);
    if (!options)
        return QObject::tr("(a connection string libpq cannot read)");
    QStringList shown;
    for (const PQconninfoOption* option = options->get(); option->keyword; ++option) {
        if (!option->val || !*option->val || qstrcmp(option->keyword, "password") == 0)
            continue;
        QString value = QString::fromUtf8(option->val);
        if (value.contains(QLatin1Char(' ')) || value.contains(QLatin1Char('\''))
            || value.contains(QLatin1Char('\\')) || value.isEmpty()) {
            value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
            value.replace(QLatin1Char('\''), QStringLiteral("\\'"));
            value = QLatin1Char('\'') + value + QLatin1Char('\'');
        }
        shown << QString::fromUtf8(option->keyword) + QLatin1Char('=') + ShownText(value);
    }
    return shown.join(QLatin1Char(' '));
}

Result<std::optional<LabDatabase>> FindLabDatabase(const QString& option, const QString& userFile,
                                                   const QStringList& systemFolders)
{
    const auto found = [](const QString& conninfo,
                          const QString& setIn) -> Result<std::optional<LabDatabase>> {
        if (const Result<> usable = CheckConnInfo(conninfo, setIn); !usable)
            return usable.Error();
        return std::optional<LabDatabase>(LabDatabase{conninfo, setIn});
    };
    if (!option.isEmpty())
        return found(option, QStringLiteral("--database"));

    const Result<QVariantMap> user = ReadSettingsGroup(userFile, Group);
    if (!user)
        return user.Error();
    const Result<std::optional<QString>> own = ValueIn(user->value(Key), userFile);
    if (!own)
        return own.Error();
    if (*own)
        return found(**own, userFile);

    for (const QString& folder : systemFolders) {
        const QString file = folder + QStringLiteral("/qm6200/qm6200.conf");
        const Result<std::optional<QString>> lab = SystemValue(file);
        if (!lab)
            return lab.Error();
        if (*lab)
            return found(**lab, file);
    }
    return std::optional<LabDatabase>();
}

} // namespace qm
