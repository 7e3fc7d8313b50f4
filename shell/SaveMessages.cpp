#include "shell/SaveMessages.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>

namespace qm {

namespace {

QString Capitalised(QString text)
{
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

QString SaveFailureText(const QString& what, const QString& path, const SaveFailure& saved)
{
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("qm::SaveFailureText", text);
    };
    // Only a failure while writing into an existing file itself can have touched it.
    QString after;
    if (saved.oldContentKept)
        after = tr("Nothing was changed on the disk; %1 is still here. Choose another place or "
                   "name and save again.")
                    .arg(what);
    else if (!saved.oldContentCopy.isEmpty())
        after = tr("The file's old content may be damaged; a copy of it is kept in %1. %2 is "
                   "still here. Save again, to another place or name, or to this file once the "
                   "cause is mended; then delete the copy, or copy it back over the file if it "
                   "is the old content you need.")
                    .arg(saved.oldContentCopy, Capitalised(what));
    else
        after = tr("The file's old content may be damaged; %1 is still here. Save again, to "
                   "another place or name, or to this file once the cause is mended.")
                    .arg(what);
    return tr("%1 could not be saved to %2: %3.\n%4")
        .arg(Capitalised(what), QDir::toNativeSeparators(path), saved.reason, after);
}

QString ProposedCsvName(const QDateTime& sent, const char* kind, qint64 number,
                        const QString& lastSaved)
{
    // A name of its own, never the last file saved: Enter must not put these records over
    // another acquisition's. In the folder last used, where the operator keeps them.
    const QString name = QStringLiteral("qm6200-%1-%2-%3.csv")
                             .arg(sent.toLocalTime().toString(QStringLiteral("yyyy-MM-ddTHHmm")),
                                  QLatin1String(kind))
                             .arg(number);
    return lastSaved.isEmpty() ? name : QDir(lastSaved).filePath(name);
}

} // namespace qm
