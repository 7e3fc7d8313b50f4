#pragma once

#include "shell/AppIdentity.h"

#include <QDialog>
#include <QTimer>

class QFrame;
class QLabel;

namespace qm {

// The start-up screen: the program's title, version and platforms with two pictures. It
// closes itself after 2.5 seconds, or at once on a key that produces a character or a
// click on its frame, the title, the platform text or a picture.
class frmSplash : public QDialog {
    Q_OBJECT

public:
    explicit frmSplash(const AppVersion& version = Version, QWidget* parent = nullptr);

    static QString VersionText(const AppVersion& version);

    // Shows it, modal, and returns once it has closed, whenever that was: a click or a key in
    // its first milliseconds can close it while it is being shown, before any loop of its own
    // runs, and QDialog::exec() would then wait for ever.
    void Run();

    void Form_Load();
    void Form_KeyPress();
    void Frame1_Click();
    void lblProductName_Click();
    void lblPlatform_Click();
    void imgLogo_Click();
    void picIcon_Click();
    void Timer1_Timer();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Every handler does the same: the timer stops first, so no tick comes after.
    void CloseAction();
    // Sizes a label to its text, keeping its designed left edge or, when it is aligned
    // to the right, its designed right edge.
    static void SizeToText(QLabel* label);

    QFrame* Frame1;
    QLabel* lblProductName;
    QLabel* lblVersion;
    QLabel* lblPlatform;
    QLabel* imgLogo;
    QLabel* picIcon;
    QTimer* Timer1;

    AppVersion m_version;
};

} // namespace qm
