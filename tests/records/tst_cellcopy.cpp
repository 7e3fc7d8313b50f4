#include "records/CellCopy.h"
#include "tests/support/TestMain.h"

#include <QTest>

using namespace qm;

Q_DECLARE_METATYPE(std::vector<qm::CellPlace>)

class TestCellCopy : public QObject {
    Q_OBJECT

private slots:
    void cellsPasteAsABlock_data()
    {
        QTest::addColumn<std::vector<CellPlace>>("places");
        QTest::addColumn<QString>("copy");
        // Each cell's text is "row.column", but for the few the rows below need.
        QTest::newRow("nothing") << std::vector<CellPlace>{} << QString();
        QTest::newRow("one cell") << std::vector<CellPlace>{{3, 4}} << "3.4";
        QTest::newRow("a block, in any order")
            << std::vector<CellPlace>{{2, 1}, {1, 2}, {1, 1}, {2, 2}} << "1.1\t1.2\n2.1\t2.2";
        QTest::newRow("places left out are empty cells")
            << std::vector<CellPlace>{{0, 0}, {1, 2}} << "0.0\t\t\n\t\t1.2";
        QTest::newRow("an empty text is an empty cell")
            << std::vector<CellPlace>{{5, 0}, {5, 1}} << "\t5.1";
        QTest::newRow("tab, line end and quote stay in their cell")
            << std::vector<CellPlace>{{9, 0}, {9, 1}, {9, 2}, {9, 3}}
            << "\"a\tb\"\t\"c\nd\"\t\"say \"\"hi\"\"\"\t\"e\rf\"";
    }

    void cellsPasteAsABlock()
    {
        QFETCH(std::vector<CellPlace>, places);
        QFETCH(QString, copy);
        const auto text = [](int row, int column) -> QString {
            if (row == 5 && column == 0)
                return {};
            if (row == 9) {
                static const char* const odd[] = {"a\tb", "c\nd", "say \"hi\"", "e\rf"};
                return QString::fromLatin1(odd[column]);
            }
            return QStringLiteral("%1.%2").arg(row).arg(column);
        };
        QCOMPARE(TabSeparatedCells(places, text), copy);
    }
};

QM6200_TEST_APPLESS_MAIN(TestCellCopy)
#include "tst_cellcopy.moc"
