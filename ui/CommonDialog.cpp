#include "ui/CommonDialog.h"

#include "ui/FileTypes.h"

#include <QFileDialog>

#include <algorithm>

namespace qm {

const QString CommonDialog::Filter =
    QStringLiteral("CSV File (*.csv)|*.csv|全てのファイル (*.*)|*.*");

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
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    m_fileName = dialog.selectedFiles().constFirst();
    m_filterIndex = std::max<int>(int(filters.indexOf(dialog.selectedNameFilter())), 0);
    return true;
}

} // namespace qm
