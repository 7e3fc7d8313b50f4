#include "ui/CommonDialog.h"

#include "ui/FileTypes.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace qm {

const QString CommonDialog::Filter =
    QStringLiteral("CSV File (*.csv)|*.csv|全てのファイル (*.*)|*.*");

QString CommonDialog::Folder() const
{
    return m_fileName.isEmpty() ? m_folder : QFileInfo(m_fileName).absolutePath();
}

void CommonDialog::KeepQtMemoryIn(const QString& folder)
{
    // Only Qt's own settings are found by this path: the program names its files itself.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

bool CommonDialog::ShowSave()
{
    QFileDialog dialog(m_owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Qt's own dialog on every desktop, so that the list shows the designed descriptions
    // while it matches what they mean here.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    QStringList filters;
    QStringList endings;
    for (const FileType& type : ParseFileTypes(m_filter)) {
        filters << QStringLiteral("%1 (%2)").arg(type.description,
                                                 type.patterns.join(QLatin1Char(' ')));
        const QString pattern = type.patterns.value(0);
        endings << (pattern.startsWith(QLatin1String("*.")) ? pattern.mid(2) : QString());
    }
    dialog.setNameFilters(filters);
    if (m_endingFromType) {
        const auto takeEnding = [&](const QString& filter) {
            dialog.setDefaultSuffix(endings.value(filters.indexOf(filter)));
        };
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, takeEnding);
        takeEnding(filters.value(m_filterIndex));
    }
    if (m_filterIndex > 0 && m_filterIndex < filters.size())
        dialog.selectNameFilter(filters.at(m_filterIndex));
    if (!m_fileName.isEmpty())
        dialog.selectFile(m_fileName);
    else if (!m_folder.isEmpty())
        dialog.setDirectory(m_folder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    m_fileName = dialog.selectedFiles().constFirst();
    m_filterIndex = std::max<int>(int(filters.indexOf(dialog.selectedNameFilter())), 0);
    return true;
}

} // namespace qm
