#include "ui/CommonDialog.h"

#include "records/CsvExport.h"

#include <QFileDialog>

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
    for (const FileType& type : ParseFileTypes(Filter))
        filters << QStringLiteral("%1 (%2)").arg(type.description,
                                                 type.patterns.join(QLatin1Char(' ')));
    dialog.setNameFilters(filters);
    if (!m_fileName.isEmpty())
        dialog.selectFile(m_fileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    m_fileName = dialog.selectedFiles().constFirst();
    return true;
}

} // namespace qm
