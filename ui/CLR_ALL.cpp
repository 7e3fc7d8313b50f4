#include "ui/CLR_ALL.h"

#include "ui/ControlNames.h"
#include "ui/DesignWindow.h"
#include "ui/Twips.h"
#include "ui/WindowCentring.h"

#include <QLabel>
#include <QPushButton>

namespace qm {

CLR_ALL::CLR_ALL(std::function<void()> clearAll, QWidget* parent)
    : QDialog(parent, FixedDialogFlags)
    , m_clearAll(std::move(clearAll))
{
    DesignWindow(*this, QStringLiteral("Clear Data"), 5010, 1740, QColor(250, 248, 165),
                 DesignFont("Lucida Sans Unicode", 9));
    OpenCentred(*this);

    Label1 = Place(new QLabel(QStringLiteral("Clear all record data?"), this), 240, 480, 4575, 255);
    Label1->setFont(DesignFont("Tahoma", 12, true));
    Label1->setAlignment(Qt::AlignCenter);
    OKButton = Place(new QPushButton(QStringLiteral("OK"), this), 960, 1080, 1215, 375);
    CancelButton = Place(new QPushButton(QStringLiteral("Cancel"), this), 2760, 1080, 1215, 375);
    NameControls({{Label1, "Label1"}, {OKButton, "OKButton"}, {CancelButton, "CancelButton"}});
    setTabOrder(OKButton, CancelButton);

    connect(OKButton, &QPushButton::clicked, this, &CLR_ALL::OKButton_Click);
    connect(CancelButton, &QPushButton::clicked, this, &CLR_ALL::CancelButton_Click);
}

void CLR_ALL::OKButton_Click()
{
    m_clearAll();
    accept();
}

void CLR_ALL::CancelButton_Click()
{
    reject();
}

void CLR_ALL::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    OKButton->setFocus();
}

} // namespace qm
