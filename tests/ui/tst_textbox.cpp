#include "tests/support/TestMain.h"
#include "ui/LiveRefresh.h"
#include "ui/TextBox.h"

#include <QAccessible>
#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QTest>

using namespace qm;

class TestTextBox : public QObject {
    Q_OBJECT

private slots:
    void textIsExactAtOnceAndShownSoon()
    {
        TextBox box;
        const QString frame = QStringLiteral("\x02RDD ALL\x03\r");
        box.SetText(frame);
        QCOMPARE(box.Text(), frame);
        QCOMPARE(box.ShownText(), QString::fromUtf8("\u2402RDD ALL\u2403\u240D"));

        box.SetText(QString());
        for (const QChar c : frame)
            box.Append(QStringView(&c, 1));
        // What the program reads is complete at every moment ...
        QCOMPARE(box.Text(), frame);
        // ... while the screen catches up at its own pace.
        QTRY_COMPARE(box.ShownText(), QString::fromUtf8("\u2402RDD ALL\u2403\u240D"));
    }

    void everyControlCharacterHasAPicture()
    {
        QString all;
        for (int code = 0; code < 0x20; ++code)
            all += QChar(code);
        all += QStringLiteral(" ~");
        all += QChar(0xE9);
        const QString shown = TextBox::WithControlPictures(all);
        QCOMPARE(shown.size(), all.size());
        for (int code = 0; code < 0x20; ++code)
            QCOMPARE(shown.at(code).unicode(), char16_t(0x2400 + code));
        QCOMPARE(shown.right(3), all.right(3));
    }

    void screenShowsTheEndFillingTheBox_data()
    {
        QTest::addColumn<QChar>("character");
        QTest::newRow("letters") << QChar(u'a');
        QTest::newRow("narrow") << QChar(u'.');
        QTest::newRow("control characters") << QChar(u'\r');
    }

    void screenShowsTheEndFillingTheBox()
    {
        QFETCH(QChar, character);
        TextBox box;
        box.resize(369, 25);
        QString text;
        for (int i = 0; i < 5000; ++i)
            text += i % 2 ? character : QChar(u'a' + i % 26);
        box.SetText(text);
        QCOMPARE(box.Text(), text);
        const QString shown = box.ShownText();
        QCOMPARE(shown, TextBox::WithControlPictures(text.right(shown.size())));
        // No gap at the left, and not much more than the box can show.
        const qreal width = box.ShownWidth(text.right(shown.size()));
        QVERIFY2(width >= box.editor()->width(), qPrintable(QString::number(width)));
        QVERIFY(shown.size() < 200);
    }

    // Each control character drawn as its name in a box: wider than a letter pair, and no two
    // alike, at the design's 9 points and at the size of the window's fonts.
    void controlCharactersDrawnLegibly()
    {
        const char16_t codes[] = {0x00, 0x02, 0x03, 0x06, 0x0a, 0x0d, 0x15, 0x7f};
        for (const double points : {9.0, 12.0}) {
            QList<QImage> drawn;
            for (const char16_t code : codes) {
                TextBox box;
                QFont font("Arial");
                font.setPointSizeF(points);
                box.setFont(font);
                box.resize(200, 25);
                box.SetText(QString(QChar(code)));
                QImage image = box.editor()->grab().toImage();
                // Where anything is drawn, from left to right.
                const QRgb base = image.pixel(image.width() - 1, 0);
                int left = image.width();
                int right = -1;
                for (int y = 0; y < image.height(); ++y) {
                    for (int x = 0; x < image.width(); ++x) {
                        if (image.pixel(x, y) != base) {
                            left = std::min(left, x);
                            right = std::max(right, x);
                        }
                    }
                }
                const int letters = box.fontMetrics().horizontalAdvance(QStringLiteral("xx"));
                QVERIFY2(right - left + 1 > letters, qPrintable(QString::number(code)));
                QVERIFY2(!drawn.contains(image), qPrintable(QString::number(code)));
                drawn << image;
            }
        }
    }

    // The mouse selects the characters drawn under it; Copy puts them on the clipboard as
    // before, control characters as their control pictures.
    void mouseSelectsWhatItCovers_data()
    {
        QTest::addColumn<int>("from"); // character boundaries, in the text shown
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("selected");
        QTest::newRow("all") << 0 << 11 << QString::fromUtf8("\u2402RDD ALL\u2403\u240D");
        QTest::newRow("a name") << 0 << 1 << QString::fromUtf8("\u2402");
        QTest::newRow("backwards") << 8 << 4 << QStringLiteral(" ALL");
        QTest::newRow("after a name") << 1 << 4 << QStringLiteral("RDD");
    }
    void mouseSelectsWhatItCovers()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, selected);
        TextBox box;
        box.resize(300, 25);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const QString text = QStringLiteral("\x02RDD ALL\x03\r");
        box.SetText(text);
        // A little inside the boundary, to the side of the character it begins or ends.
        const auto at = [&](int boundary, int inside) {
            const qreal x = 2 + box.ShownWidth(QStringView(text).left(boundary)) + inside;
            return QPoint(int(x), box.editor()->height() / 2);
        };
        QWidget* line = box.editor();
        const int inward = to > from ? 1 : -1;
        QTest::mousePress(line, Qt::LeftButton, {}, at(from, inward));
        QMouseEvent move(QEvent::MouseMove, at(to, -inward), line->mapToGlobal(at(to, -inward)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(line, &move);
        QTest::mouseRelease(line, Qt::LeftButton, {}, at(to, -inward));
        QCOMPARE(box.editor()->selectedText(), selected);
        QCOMPARE(QApplication::focusWidget(), line);
        box.editor()->copy();
        QCOMPARE(QGuiApplication::clipboard()->text(), selected);
    }

    void capacityKeepsTheNewest()
    {
        TextBox box;
        box.SetCapacity(1000);
        QString all;
        for (int i = 0; i < 2600; ++i) {
            const QChar c(u'0' + i % 10);
            all += c;
            box.Append(QStringView(&c, 1));
            QVERIFY(box.Text().size() <= 1000);
        }
        QVERIFY(box.Text().size() >= 750);
        QVERIFY(all.endsWith(box.Text()));
    }

    void refreshFollowsChangesAtItsOwnPace()
    {
        int refreshes = 0;
        LiveRefresh live([&] { ++refreshes; });
        // After a quiet spell: once the changes of this pass are in, not on each of them.
        live.Changed();
        live.Changed();
        QCOMPARE(refreshes, 0);
        QCoreApplication::processEvents();
        QCOMPARE(refreshes, 1);
        // Right after a refresh, changes wait for their turn (unless a slow machine already
        // made them due), and the last one is shown.
        QElapsedTimer sinceRefresh;
        sinceRefresh.start();
        live.Changed();
        const bool rightAfter = sinceRefresh.elapsed() < LiveRefreshMs / 2;
        QCoreApplication::processEvents();
        if (rightAfter) {
            QCOMPARE(refreshes, 1);
            QVERIFY(live.Pending());
        }
        QTRY_COMPARE(refreshes, 2);
        QVERIFY(!live.Pending());
        // At once, and nothing left pending.
        live.Changed();
        live.Now();
        QCOMPARE(refreshes, 3);
        QVERIFY(!live.Pending());
    }

    // A screen reader reads the text shown, its control characters by name, in the text that
    // takes the focus, under the box's name.
    void readAloudWithControlCharactersByName_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("spoken");
        QTest::newRow("command") << "\x02RDD ALL\x03\r"
                                 << "STX RDD ALL ETX CR";
        QTest::newRow("accepted") << "\x06\r"
                                  << "ACK CR";
        QTest::newRow("refused") << "\x02\x15\r"
                                 << "STX NAK CR";
        QTest::newRow("names apart from blanks") << "a \x01 b\x7f"
                                                 << "a SOH b DEL";
        QTest::newRow("no control characters") << "00015,3.5"
                                               << "00015,3.5";
    }
    void readAloudWithControlCharactersByName()
    {
        QFETCH(QString, text);
        QFETCH(QString, spoken);
        TextBox box;
        box.resize(400, 25);
        box.SetAccessibleName("Receive Format");
        box.SetText(text);
        QAccessibleInterface* read = QAccessible::queryAccessibleInterface(box.editor());
        QCOMPARE(read->text(QAccessible::Name), QString("Receive Format"));
        QCOMPARE(read->text(QAccessible::Value), spoken);
        QVERIFY(read->state().readOnly);
        QCOMPARE(read->textInterface()->text(0, read->textInterface()->characterCount()), spoken);
    }

    void operatorCannotTypeIntoIt()
    {
        TextBox box;
        box.SetText(QStringLiteral("abc"));
        QVERIFY(box.editor()->isReadOnly());
        QTest::keyClicks(box.editor(), QStringLiteral("xyz"));
        QCOMPARE(box.Text(), QStringLiteral("abc"));
    }
};

QM6200_TEST_MAIN(TestTextBox)
#include "tst_textbox.moc"
