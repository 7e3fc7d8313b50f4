#include "shell/frmChart.h"

#include "files/SafeWrite.h"
#include "shell/SaveMessages.h"
#include "ui/ControlNames.h"

#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

namespace qm {

const QString frmChart::ImageFilter =
    QStringLiteral("PNG image (*.png)|*.png|SVG image (*.svg)|*.svg");

frmChart::frmChart(const ChartData& records, CommonDialog& save, MessageFunction message,
                   QWidget* parent)
    : SideWindow(parent)
    , m_save(save)
    , m_message(std::move(message))
{
    setWindowTitle(tr("Chart"));
    chtRecords = new RecordChart(records, this);
    chtRecords->setAccessibleName(tr("Chart of the records"));
    cmdSaveImage = new QPushButton(tr("Save image"), this);
    cmdSaveImage->setAutoDefault(true); // Enter presses it, as Space does
    NameControls({{chtRecords, "chtRecords"}, {cmdSaveImage, "cmdSaveImage"}});

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chtRecords, 1);
    layout->addWidget(cmdSaveImage, 0, Qt::AlignRight);
    resize(760, 480);

    connect(cmdSaveImage, &QPushButton::clicked, this, &frmChart::cmdSaveImage_Click);
}

RecordChart::ImageFormat frmChart::ImageFormatFor(const QString& path, int typeIndex)
{
    using Format = RecordChart::ImageFormat;
    if (path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive))
        return Format::Svg;
    if (path.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
        return Format::Png;
    return typeIndex == 1 ? Format::Svg : Format::Png;
}

void frmChart::cmdSaveImage_Click()
{
    if (!m_save.ShowSave() || m_save.FileName().isEmpty())
        return;
    const QString path = m_save.FileName();
    const RecordChart::ImageFormat format = ImageFormatFor(path, m_save.FilterIndex());
    const SaveResult saved =
        WriteWholeFile(path, chtRecords->Image(format, chtRecords->size()).toStdString());
    if (!saved)
        m_message(SaveFailureText(tr("the chart"), path, saved.Error()));
}

} // namespace qm
