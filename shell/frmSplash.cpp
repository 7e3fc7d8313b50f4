#include "shell/frmSplash.h"

#include "shell/Log.h"
#include "ui/ControlNames.h"
#include "ui/DesignWindow.h"
#include "ui/KeyboardUse.h"
#include "ui/Twips.h"
#include "ui/WindowCentring.h"

#include <QEventLoop>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

namespace qm {

namespace {

const QColor SplashColour(192, 255, 255);

QLabel* Label(const QString& text, QWidget* parent, const QFont& font, Qt::Alignment alignment)
{
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

} // namespace

frmSplash::frmSplash(const AppVersion& version, QWidget* parent)
    : QDialog(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
    , m_version(version)
{
    setFixedSize(Px(7200), Px(4890));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, SplashColour);
    setPalette(colours);
    setAutoFillBackground(true);
    OpenCentred(*this);

    Frame1 = Place(new QFrame(this), 120, 120, 6960, 4650);
    Frame1->setFrameStyle(QFrame::Box | QFrame::Sunken);

    lblProductName =
        Place(Label(QString(), Frame1, DesignFont("Tahoma", 20.25, true), Qt::AlignLeft), 120, 360,
              6570, 495);
    lblVersion = Place(Label(QString(), Frame1, DesignFont("Tahoma", 9.75), Qt::AlignRight), 6075,
                       120, 360, 240);
    lblPlatform = Place(Label(QStringLiteral("For Win2000/XP/Vista"), Frame1,
                              DesignFont("Tahoma", 12, true), Qt::AlignRight),
                        3675, 960, 2745, 285);
    SizeToText(lblPlatform);

    imgLogo = Place(new QLabel(Frame1), 2280, 1560, 2430, 1830);
    imgLogo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imgLogo->setPixmap(QPixmap(QStringLiteral(":/pictures/splash-logo.jpg")));

    picIcon = Place(new QLabel(Frame1), 1320, 3840, 4020, 660);
    picIcon->setAlignment(Qt::AlignCenter);
    picIcon->setPixmap(QPixmap(QStringLiteral(":/pictures/splash-banner.png")));
    picIcon->setFocusPolicy(Qt::StrongFocus);
    // The pictures, to a screen reader: the banner holds the focus and says what starts.
    imgLogo->setAccessibleName(tr("Logo"));
    picIcon->setAccessibleName(QString::fromLatin1(AppTitle));
    picIcon->setAccessibleDescription(tr("Starting; any key goes on"));
    setAccessibleName(QString::fromLatin1(AppTitle));

    Timer1 = new QTimer(this);
    NameControls({{Frame1, "Frame1"},
                  {lblProductName, "lblProductName"},
                  {lblVersion, "lblVersion"},
                  {lblPlatform, "lblPlatform"},
                  {imgLogo, "imgLogo"},
                  {picIcon, "picIcon"},
                  {Timer1, "Timer1"}});
    connect(Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);

    // Clicks are taken in eventFilter(), the version label's too: it has no click of its
    // own, and the frame behind it must not get it.
    const QList<QWidget*> clickable{Frame1,      lblProductName, lblVersion,
                                    lblPlatform, imgLogo,        picIcon};
    for (QWidget* control : clickable)
        control->installEventFilter(this);

    Form_Load();
}

QString frmSplash::VersionText(const AppVersion& version)
{
    return QStringLiteral("Version %1.%2.%3E")
        .arg(version.major)
        .arg(version.minor)
        .arg(version.revision);
}

void frmSplash::Run()
{
    QEventLoop loop;
    bool closed = false;
    connect(this, &QDialog::finished, &loop, [&] {
        closed = true;
        loop.quit();
    });
    setWindowModality(Qt::ApplicationModal);
    show();
    if (!closed)
        loop.exec(QEventLoop::DialogExec);
}

void frmSplash::Form_Load()
{
    lblVersion->setText(VersionText(m_version));
    SizeToText(lblVersion);
    lblProductName->setText(QString::fromLatin1(AppTitle));
    SizeToText(lblProductName);
    Timer1->setInterval(2500);
    Timer1->start();
}

void frmSplash::SizeToText(QLabel* label)
{
    const QRect designed = label->geometry();
    const QSize fits = label->sizeHint();
    QRect sized(designed.topLeft(), fits);
    if (label->alignment() & Qt::AlignRight)
        sized.moveRight(designed.right());
    label->setGeometry(sized);
}

void frmSplash::CloseAction()
{
    Timer1->stop();
    done(QDialog::Accepted);
}

void frmSplash::Form_KeyPress()
{
    CloseAction();
}

void frmSplash::Frame1_Click()
{
    CloseAction();
}

void frmSplash::lblProductName_Click()
{
    CloseAction();
}

void frmSplash::lblPlatform_Click()
{
    CloseAction();
}

void frmSplash::imgLogo_Click()
{
    CloseAction();
}

void frmSplash::picIcon_Click()
{
    CloseAction();
}

void frmSplash::Timer1_Timer()
{
    CloseAction();
}

bool frmSplash::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // Taken here, so that a press on a control never reaches the frame behind it.
        return true;
    case QEvent::MouseButtonRelease:
        break;
    default:
        return QDialog::eventFilter(watched, event);
    }
    const auto* release = static_cast<QMouseEvent*>(event);
    auto* widget = static_cast<QWidget*>(watched);
    if (release->button() != Qt::LeftButton
        || !widget->rect().contains(release->position().toPoint()))
        return true;
    if (watched == Frame1)
        Frame1_Click();
    else if (watched == lblProductName)
        lblProductName_Click();
    else if (watched == lblPlatform)
        lblPlatform_Click();
    else if (watched == imgLogo)
        imgLogo_Click();
    else if (watched == picIcon)
        picIcon_Click();
    // The version label has no click of its own.
    return true;
}

void frmSplash::keyPressEvent(QKeyEvent* event)
{
    // Every key that produces a character; Shift, the arrows and the function keys do not.
    if (!event->text().isEmpty()) {
        // Held, it would go on to the port dialog that opens next and press its button.
        KeyGoesNoFurther(*event);
        Form_KeyPress();
        return;
    }
    event->ignore();
}

void frmSplash::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    picIcon->setFocus();
    qCInfo(lcShell) << "splash screen shown";
}

} // namespace qm
