// The main window as the operator meets it: layout, keyboard, menu, start and end.

#include "shell/Appearance.h"
#include "shell/frmMain.h"
#include "tests/support/Captions.h"
#include "tests/support/TestMain.h"
#include "tests/support/Window.h"
#include "ui/DesignWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontInfo>
#include <QGroupBox>
#include <QImage>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QTest>
#include <QTimer>

#include <stdexcept>

using namespace qm;
using namespace qm::test;

namespace {

// An in-memory port that keeps the order of what is done to it.
class LoggingBackend : public MemoryBackend {
public:
    QStringList log;
    void setRequestToSend(bool raised) override
    {
        log << (raised ? "rts on" : "rts off");
        MemoryBackend::setRequestToSend(raised);
    }
    void close() override
    {
        log << "close";
        MemoryBackend::close();
    }
};

// The main window shown, on an in-memory port that logs what is done to it, open. It must
// have nothing to tell the operator.
struct Window : MainWindow {
    explicit Window(std::function<void()> splash = [] {})
        : MainWindow(std::make_unique<LoggingBackend>(), std::move(splash))
    {
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(openPort());
        ui.serialControl->setRTSEnable(true);
    }
    ~Window()
    {
        if (!messages.isEmpty())
            QTest::qFail(qPrintable(messages.join('\n')), __FILE__, __LINE__);
    }

    QStringList& log() { return static_cast<LoggingBackend*>(backend)->log; }
};

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SetUpAppearance(); }

    void layoutAsDesignedWithNoCaptionClipped()
    {
        Window w;
        QCOMPARE(w.form.windowTitle(), QString("QM-6200 DATA LINK SOFTWARE"));
        QCOMPARE(w.form.centralWidget()->size(), QSize(858, 419));
        QCOMPARE(w.form.minimumSize(), w.form.maximumSize()); // not resizable
        const Qt::WindowFlags flags = w.form.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QCOMPARE(w.ui.clearAllButton->geometry(), QRect(224, 152, 161, 33));
        QCOMPARE(w.ui.saveButton->parentWidget(), w.ui.csvFrame);
        QCOMPARE(w.ui.titleLabel->text(), QString("QM-6200  DATA LINK SOFTWARE"));
        QVERIFY(!QApplication::windowIcon().isNull());

        // The design's fonts, or their stand-ins, are there: captions are measured in them.
        for (const char* family : {"Tahoma", "Arial", "Lucida Sans Unicode"}) {
            QFont font(family);
            const QString real = QFontInfo(font).family();
            QVERIFY2(real == family
                         || QFont::substitutes(family).contains(real, Qt::CaseInsensitive),
                     qPrintable(real));
        }
        const QStringList clipped = ClippedCaptions(w.form);
        QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join('\n')));
    }

    // A bold caption's strokes are heavier than a regular one's, in every design font: the ink
    // of the same text, drawn both ways.
    void boldCaptionsAreBold()
    {
        const auto ink = [](const QFont& font) {
            QImage image(480, 80, QImage::Format_Grayscale8);
            image.fill(255);
            QPainter painter(&image);
            painter.setFont(font);
            painter.drawText(10, 55, QStringLiteral("QM-6200 DATA LINK"));
            painter.end();
            qint64 sum = 0;
            for (int y = 0; y < image.height(); ++y) {
                const uchar* line = image.constScanLine(y);
                for (int x = 0; x < image.width(); ++x)
                    sum += 255 - line[x];
            }
            return double(sum);
        };
        for (const char* family : {"Tahoma", "Arial", "Lucida Sans Unicode"}) {
            const double ratio =
                ink(DesignFont(family, 15.75, true)) / ink(DesignFont(family, 15.75));
            QVERIFY2(ratio > 1.2, qPrintable(QString("%1: %2").arg(family).arg(ratio)));
        }
    }

    void tabGoesThroughTheButtonsAndTableNeverTheBoxes()
    {
        Window w;
        QWidget* const expected[] = {w.ui.acquirePresentButton, w.ui.clearAllButton,
                                     w.ui.saveButton,           w.ui.clearTableButton,
                                     w.ui.recordTable,          w.ui.acquireRecordsButton};
        w.ui.acquireRecordsButton->setFocus();
        for (QWidget* next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        // A click still reaches them.
        QTest::mouseClick(w.ui.receiveBox->editor(), Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), w.ui.receiveBox->editor());
    }

    // The design's three entries, then the journal's history.
    void menuHasItsEntries()
    {
        Window w;
        QStringList captions;
        for (QAction* action : w.form.menuBar()->actions()) {
            captions << action->text();
            QVERIFY(!action->menu());
        }
        QCOMPARE(captions, (QStringList{"CommPort Select(&P)", "About(&A)", "Finish(&Z)",
                                        "History(&H)", "Chart(&C)", "Watch(&W)"}));
    }

    void aboutShowsTheVersionAndChangesNothing()
    {
        Window w;
        w.ui.transmitBox->SetText("\x02RDD ALL\x03\r");
        bool seen = false;
        OnNextModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            QCOMPARE(box->windowTitle(), QString("QM-6200 DATA LINK SOFTWARE"));
            QCOMPARE(box->text(), QString("QM-6200 DATA LINK SOFTWARE Ver0.9.6E"));
            QCOMPARE(box->icon(), QMessageBox::NoIcon);
            QCOMPARE(box->buttons().size(), 1);
            QCOMPARE(box->standardButton(box->buttons().first()), QMessageBox::Ok);
            seen = true;
            box->buttons().first()->click();
        });
        w.ui.aboutAction->trigger();
        QVERIFY(seen);
        QVERIFY(w.ui.serialControl->PortOpen());
        QCOMPARE(w.ui.transmitBox->Text(), QString("\x02RDD ALL\x03\r"));
        QVERIFY(w.form.isVisible());
    }

    void finishAndTheCloseBoxEndTheSameWay()
    {
        QStringList logs[2];
        for (int way = 0; way < 2; ++way) {
            Window w;
            w.log().clear();
            if (way == 0)
                w.ui.finishAction->trigger();
            else
                w.form.close();
            QVERIFY(!w.form.isVisible());
            QVERIFY(!w.ui.serialControl->PortOpen());
            logs[way] = w.log();
        }
        QCOMPARE(logs[0], (QStringList{"rts off", "close"}));
        QCOMPARE(logs[1], logs[0]);
    }

    void aFailingLoadStepIsSkipped()
    {
        Window w([] { throw std::runtime_error("splash screen failed"); });
        QCOMPARE(w.form.PortLine().Owner().PortNumber(), 1);
        QCOMPARE(w.ui.serialControl->Settings(), QString("9600,n,8,1"));
        QVERIFY(w.ui.serialControl->RTSEnable());
        QVERIFY(w.form.isVisible());
    }
};

QM6200_TEST_MAIN(TestWindow)
#include "tst_window.moc"
