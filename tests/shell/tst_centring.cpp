// Where the windows open: the port dialog, the clear question and the About box centred on the
// main window, the splash screen on the screen. Run twice: with the thin frames the offscreen
// platform draws, as under a window manager, and with none, as on a display without one.

#include "shell/Appearance.h"
#include "shell/frmHistory.h"
#include "shell/frmSplash.h"
#include "tests/support/Dialogs.h"
#include "tests/support/TestMain.h"
#include "tests/support/Window.h"

#include <QScreen>
#include <QTest>

using namespace qm;
using namespace qm::test;

namespace {

enum class Opened { PortDialog, ClearQuestion, About, History, Splash };

// `size` centred on `area`; half a pixel left over goes right and down.
QRect Centred(const QRect& area, const QSize& size)
{
    return QRect(
        area.topLeft()
            + QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2),
        size);
}

} // namespace

class TestCentring : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpAppearance(); }

    void opensCentred_data()
    {
        QTest::addColumn<Opened>("opened");
        // Where the main window is moved to (its frame's top left corner): away from the
        // centre of the screen, so that centred on it is not centred on the screen.
        QTest::addColumn<QPoint>("ownerAt");
        // Whether the centred window fits on the screen; one that does not is moved onto it.
        QTest::addColumn<bool>("fits");
        QTest::newRow("port dialog") << Opened::PortDialog << QPoint(12, 40) << true;
        QTest::newRow("clear question") << Opened::ClearQuestion << QPoint(12, 40) << true;
        QTest::newRow("about box") << Opened::About << QPoint(12, 40) << true;
        QTest::newRow("history, first opened") << Opened::History << QPoint(0, 80) << true;
        QTest::newRow("port dialog, main window mostly off the screen's right edge")
            << Opened::PortDialog << QPoint(700, 40) << false;
        // Shown at start-up, before the main window.
        QTest::newRow("splash screen") << Opened::Splash << QPoint() << true;
    }

    void opensCentred()
    {
        QFETCH(Opened, opened);
        QFETCH(QPoint, ownerAt);
        QFETCH(bool, fits);

        MainWindow w;
        QRect placed;
        QRect placedFrame;
        const auto measure = [&](QWidget* window) {
            QVERIFY(QTest::qWaitForWindowExposed(window));
            placed = window->geometry();
            placedFrame = window->frameGeometry();
            window->close();
        };
        QRect area;
        if (opened == Opened::Splash) {
            frmSplash splash;
            splash.show();
            measure(&splash);
            area = splash.screen()->availableGeometry();
        } else {
            w.form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w.form));
            w.form.move(ownerAt);
            QTRY_COMPARE(w.form.pos(), ownerAt);
            area = w.form.geometry();
            if (opened == Opened::History) {
                w.ui.historyAction->trigger();
                measure(w.form.findChild<frmHistory*>());
            } else {
                OnNextModal(measure);
                if (opened == Opened::PortDialog)
                    w.form.ChoosePort();
                else if (opened == Opened::About)
                    w.form.ShowAbout();
                else
                    w.ui.clearAllButton->click();
            }
        }
        QVERIFY(placed.isValid());

        const QRect centred = Centred(area, placed.size());
        const QRect screen = w.form.screen()->availableGeometry();
        QCOMPARE(screen.contains(centred), fits);
        if (fits) {
            QCOMPARE(placed, centred);
        } else {
            QCOMPARE(placedFrame.right(), screen.right());
            QCOMPARE(placed.top(), centred.top());
        }
    }
};

QM6200_TEST_MAIN(TestCentring)
#include "tst_centring.moc"
