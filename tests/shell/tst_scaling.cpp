// Every window readable at the screen's scale: at 96 to 192 dots per inch and at scale
// factors 1 to 2, every caption fits its control in the font it is drawn in. Qt reads the
// scale once, when the application starts: each setting is a run of this program of its own,
// which measures the windows as that run shows them.

#include "records/ChartData.h"
#include "shell/Appearance.h"
#include "shell/frmChart.h"
#include "shell/frmHistory.h"
#include "shell/frmSplash.h"
#include "tests/support/Captions.h"
#include "tests/support/TestMain.h"
#include "tests/support/Window.h"
#include "ui/CLR_ALL.h"
#include "ui/CommonDialog.h"

#include <QProcess>
#include <QTest>

#include <cmath>

using namespace qm;
using namespace qm::test;

class TestScaling : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpAppearance(); }

    // The windows as this run shows them, at whatever scale it was started with.
    void captionsFitHere()
    {
        // The scale asked for is the scale Qt applies.
        const qreal dpi = qEnvironmentVariableIsSet("QT_FONT_DPI")
                              ? qEnvironmentVariableIntValue("QT_FONT_DPI")
                              : 96;
        const qreal factor = qEnvironmentVariableIsSet("QT_SCALE_FACTOR")
                                 ? qEnvironmentVariable("QT_SCALE_FACTOR").toDouble()
                                 : 1.0;
        MainWindow main;
        main.form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&main.form));
        QVERIFY2(std::abs(main.form.devicePixelRatioF() - dpi / 96 * factor) < 0.01,
                 qPrintable(QString::number(main.form.devicePixelRatioF())));
        QStringList faults = ClippedCaptions(main.form);
        // The notice line with a text longer than it: cut short to fit.
        main.ui.serialControl->setDeviceName("/dev/" + QString(80, 'n'));
        QVERIFY(main.openPort());
        QVERIFY(main.ui.noticeText->isVisible());
        QVERIFY(main.ui.noticeText->text().endsWith(QChar(0x2026)));
        faults << ClippedCaptions(main.form);

        frmPORT port(
            PortSelection{}, [](const PortSelection&) { return Result<>(); },
            [](const QString&) {});
        CLR_ALL question([] {});
        frmSplash splash;
        splash.Form_Load();
        ChartData records(3);
        for (int place = 1; place <= 3; ++place)
            records.SetRecord(place, DataFrame(place, {place, 2, 3, 400, 5}).toStdString(), ".");
        CommonDialog neverShown;
        frmChart chart(records, neverShown, [](const QString&) {});
        frmHistory history(QStringLiteral("no-journal.sqlite3"), neverShown, [](const QString&) {});
        main.form.ShowWatch();
        for (QWidget* window : std::initializer_list<QWidget*>{&port, &question, &splash, &chart,
                                                               &history, main.form.WatchWindow()}) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            faults << ClippedCaptions(*window);
            window->close();
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    }

    void captionsFitAtEveryScale_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::addColumn<QString>("factor");
        for (const int dpi : {96, 120, 144, 192}) {
            for (const char* factor : {"1", "1.5", "2"})
                QTest::addRow("%d dpi, scale %s", dpi, factor) << dpi << QString(factor);
        }
    }
    void captionsFitAtEveryScale()
    {
        QFETCH(int, dpi);
        QFETCH(QString, factor);
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_FONT_DPI"), QString::number(dpi));
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), factor);
        // A screen large enough for the windows at the largest scale.
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                           QStringLiteral("offscreen:configfile=%1/offscreen-large.json")
                               .arg(QStringLiteral(QM6200_TEST_SOURCE_DIR)));
        run.setProcessEnvironment(environment);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("captionsFitHere"), QStringLiteral("-silent")});
        QVERIFY(run.waitForFinished(60000));
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0,
                 run.readAll().constData());
    }
};

QM6200_TEST_MAIN(TestScaling)
#include "tst_scaling.moc"
