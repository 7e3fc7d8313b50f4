#include "shell/Appearance.h"
#include "shell/frmSplash.h"
#include "tests/support/TestMain.h"
#include "tests/support/Window.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace qm;
using namespace qm::test;

namespace {

// A splash screen on the screen, with a count of its closings.
struct Shown {
    frmSplash splash;
    QSignalSpy closed{&splash, &QDialog::finished};

    Shown()
    {
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
    }

    bool open() const { return splash.isVisible() && closed.isEmpty(); }
};

// Clicks the splash screen's frame as soon as it shows (while it is being shown, before its
// loop has run), or that many milliseconds after.
struct ClickWhenShown : QObject {
    explicit ClickWhenShown(int after)
        : m_after(after)
    {
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* splash = qobject_cast<frmSplash*>(watched);
        if (!splash || event->type() != QEvent::Show)
            return false;
        const auto click = [splash] {
            QTest::mouseClick(Find<QWidget>(*splash, "Frame1"), Qt::LeftButton, {}, QPoint(2, 2));
        };
        if (m_after < 0)
            click();
        else
            QTimer::singleShot(m_after, splash, click);
        return false;
    }

    int m_after;
};

} // namespace

class TestFrmSplash : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpAppearance(); }

    void showsTheTitleAndTheVersionBuiltFromItsNumbers()
    {
        Shown shown;
        QCOMPARE(Find<QLabel>(shown.splash, "lblProductName")->text(),
                 QString("QM-6200 DATA LINK SOFTWARE"));
        QCOMPARE(Find<QLabel>(shown.splash, "lblVersion")->text(), QString("Version 0.9.6E"));
        QCOMPARE(frmSplash::VersionText({1, 2, 3}), QString("Version 1.2.3E"));
        QCOMPARE(frmSplash::VersionText({10, 0, 12}), QString("Version 10.0.12E"));
        QCOMPARE(shown.splash.size(), QSize(480, 326));
        QVERIFY(shown.splash.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(QApplication::focusWidget(), Find<QLabel>(shown.splash, "picIcon"));
        QVERIFY(!Find<QLabel>(shown.splash, "imgLogo")->pixmap().isNull());
        QVERIFY(!Find<QLabel>(shown.splash, "picIcon")->pixmap().isNull());

        // Labels sized to their texts stay whole and inside the frame.
        const QRect inside = Find<QFrame>(shown.splash, "Frame1")->contentsRect();
        for (QLabel* label : {Find<QLabel>(shown.splash, "lblProductName"),
                              Find<QLabel>(shown.splash, "lblVersion"),
                              Find<QLabel>(shown.splash, "lblPlatform")}) {
            QVERIFY2(inside.contains(label->geometry()), qPrintable(label->text()));
            QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(label->text()));
        }
        // The version label keeps its designed right edge.
        QCOMPARE(Find<QLabel>(shown.splash, "lblVersion")->geometry().right() + 1,
                 (6075 + 360 + 7) / 15);
    }

    void closesOnItsTimerOnlyOnce()
    {
        Shown shown;
        QCOMPARE(Find<QTimer>(shown.splash, "Timer1")->interval(), 2500);
        QVERIFY(Find<QTimer>(shown.splash, "Timer1")->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!shown.open(), 4000);
        QVERIFY(!Find<QTimer>(shown.splash, "Timer1")->isActive());
        ProcessQueued();
        QCOMPARE(shown.closed.count(), 1);
    }

    void closesOnKeysThatProduceACharacter()
    {
        for (const Qt::Key key :
             {Qt::Key_A, Qt::Key_5, Qt::Key_Return, Qt::Key_Escape, Qt::Key_Space}) {
            Shown shown;
            QTest::keyClick(Find<QLabel>(shown.splash, "picIcon"), key);
            QVERIFY2(!shown.open(), qPrintable(QString::number(key, 16)));
            QVERIFY(!Find<QTimer>(shown.splash, "Timer1")->isActive()); // no tick after a close
            QCOMPARE(shown.closed.count(), 1);
        }
        Shown shown;
        for (const Qt::Key key :
             {Qt::Key_Shift, Qt::Key_Left, Qt::Key_Down, Qt::Key_F1, Qt::Key_F5, Qt::Key_Control})
            QTest::keyClick(Find<QLabel>(shown.splash, "picIcon"), key);
        QVERIFY(shown.open());
    }

    // Enter held on the splash screen: its repeats and its release press nothing in the dialog
    // that follows; the key's next press does.
    void theKeyThatClosesItGoesNoFurther()
    {
        QDialog next;
        auto* button = new QPushButton("Determine", &next);
        QSignalSpy pressed(button, &QPushButton::clicked);
        {
            Shown shown;
            QTest::keyPress(Find<QLabel>(shown.splash, "picIcon"), Qt::Key_Return);
            QVERIFY(!shown.open());
        }
        next.show();
        button->setFocus();
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
        QApplication::sendEvent(button, &repeat);
        QTest::keyRelease(button, Qt::Key_Return);
        QCOMPARE(pressed.count(), 0);
        QTest::keyClick(button, Qt::Key_Return);
        QCOMPARE(pressed.count(), 1);
    }

    // The load goes on to the port dialog whenever the splash screen is clicked, even while it
    // is being shown (an operator who clicks the launcher twice). A load that waited for ever
    // is ended from its own loop, and fails.
    void theLoadGoesOnWhenTheSplashIsClickedAtOnce_data()
    {
        QTest::addColumn<int>("after"); // ms after it shows; -1: while it is being shown
        QTest::newRow("while it is being shown") << -1;
        QTest::newRow("as its loop begins") << 0;
        QTest::newRow("1 ms after") << 1;
        QTest::newRow("10 ms after") << 10;
        QTest::newRow("100 ms after") << 100;
    }
    void theLoadGoesOnWhenTheSplashIsClickedAtOnce()
    {
        QFETCH(int, after);
        ClickWhenShown clicker(after);
        bool hung = false;
        QTimer watchdog;
        watchdog.setSingleShot(true);
        connect(&watchdog, &QTimer::timeout, [&] {
            hung = true;
            // Every loop running now returns.
            QCoreApplication::exit(1);
        });
        watchdog.start(10000);
        MainWindow program(std::make_unique<MemoryBackend>(), nullptr);
        QVERIFY(!hung);
        for (QWidget* window : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<frmSplash*>(window) || !window->isVisible());
    }

    void closesOnClicksOnItsControlsButNotOnTheVersionOrMargin()
    {
        const std::function<QWidget*(frmSplash&)> clickable[] = {
            [](frmSplash& s) { return Find<QWidget>(s, "Frame1"); },
            [](frmSplash& s) { return Find<QWidget>(s, "lblProductName"); },
            [](frmSplash& s) { return Find<QWidget>(s, "lblPlatform"); },
            [](frmSplash& s) { return Find<QWidget>(s, "imgLogo"); },
            [](frmSplash& s) { return Find<QWidget>(s, "picIcon"); },
        };
        for (const auto& control : clickable) {
            Shown shown;
            QWidget* target = control(shown.splash);
            QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(2, 2));
            QVERIFY2(!shown.open(), qPrintable(target->objectName()));
            QCOMPARE(shown.closed.count(), 1);
        }

        Shown shown;
        QTest::mouseClick(Find<QLabel>(shown.splash, "lblVersion"), Qt::LeftButton);
        QTest::mouseClick(&shown.splash, Qt::LeftButton, {}, QPoint(3, 3)); // outside the frame
        QTest::mouseClick(Find<QLabel>(shown.splash, "lblProductName"), Qt::RightButton);
        QVERIFY(shown.open());
    }
};

QM6200_TEST_MAIN(TestFrmSplash)
#include "tst_frmsplash.moc"
