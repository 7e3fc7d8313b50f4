#include "tests/support/TestMain.h"
#include "ui/LiveRefresh.h"
#include "ui/TextBox.h"

#include <QAccessible>
#include <QElapsedTimer>
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
        QTest::newRow("control pictures") << QChar(u'\r');
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
        const int width = box.editor()->fontMetrics().horizontalAdvance(shown);
        QVERIFY2(width >= box.editor()->width(), qPrintable(QString::number(width)));
        QVERIFY(shown.size() < 200);
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
