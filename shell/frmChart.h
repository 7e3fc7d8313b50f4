#pragma once

#include "records/ChartData.h"
#include "ui/CommonDialog.h"
#include "ui/RecordChart.h"
#include "ui/SideWindow.h"

#include <QWidget>

#include <functional>

class QPushButton;

namespace qm {

// The records the table shows, as a chart, in a window of its own beside the main window;
// "Save image" writes the chart as the window shows it, as a PNG or an SVG file.
class frmChart : public SideWindow {
    Q_OBJECT

public:
    using MessageFunction = std::function<void(const QString& text)>;

    // The image types of the save dialog, in its list's order.
    static const QString ImageFilter;

    // `save` is the main window's image dialog, so it remembers the last name and type.
    frmChart(const ChartData& records, CommonDialog& save, MessageFunction message,
             QWidget* parent = nullptr);

    RecordChart* Chart() const { return chtRecords; }

    void cmdSaveImage_Click();

    // What an image saved as `path` is: SVG or PNG by the name's ending, else as the type
    // chosen in the list.
    static RecordChart::ImageFormat ImageFormatFor(const QString& path, int typeIndex);

private:
    RecordChart* chtRecords;
    QPushButton* cmdSaveImage;
    CommonDialog& m_save;
    MessageFunction m_message;
};

} // namespace qm
