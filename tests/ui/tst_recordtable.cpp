#include "protocol/LinkState.h"
#include "records/RecordLayout.h"
#include "tests/support/TestMain.h"
#include "ui/QmtData.h"
#include "ui/RecordTable.h"

#include <QApplication>
#include <QHeaderView>
#include <QLocale>
#include <QTest>

using namespace qm;

namespace {

QStringList Row(const QmtData& grid, int row)
{
    QStringList cells;
    for (int col = 0; col < grid.Cols(); ++col)
        cells << grid.TextMatrix(row, col);
    return cells;
}

// Stores a record the way the receiver does and shows it.
bool StoreAndShow(QmtData& grid, LinkState& link, const std::string& record)
{
    link.RxRecords[std::size_t(link.RxCount)] = record;
    ++link.RxCount;
    return ShowRecord(grid, link.RxCount,
                      RecordCells(record, QLocale().decimalPoint().toStdString()));
}

} // namespace

class TestRecordTable : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void initGridShapesTheTable()
    {
        QmtData grid;
        InitGrid(grid);
        QCOMPARE(grid.Cols(), 7);
        QCOMPARE(grid.Rows(), 101);
        QCOMPARE(Row(grid, 0),
                 (QStringList{"No.", "CNTR1", "CNTR2", "CNTR3", "CNTR4", "CNTR5", "TOTAL"}));
        const int widths[] = {660, 800, 800, 800, 800, 800, 1050};
        for (int col = 0; col < RecordColumns; ++col) {
            QCOMPARE(grid.ColWidth(col), widths[col]);
            QCOMPARE(grid.columnWidth(col), (widths[col] + 7) / 15);
            QCOMPARE(grid.ColAlignment(col), 4);
        }
        for (int row = 1; row <= 100; ++row) {
            for (int col = 0; col < RecordColumns; ++col)
                QVERIFY(grid.TextMatrix(row, col).isEmpty());
        }
        // Row 0 is shown as the fixed header, the data rows below it.
        QCOMPARE(grid.model()->rowCount(), 100);
        QCOMPARE(grid.model()->headerData(6, Qt::Horizontal).toString(), QStringLiteral("TOTAL"));
        QCOMPARE(grid.model()
                     ->data(grid.model()->index(0, 3), Qt::TextAlignmentRole)
                     .value<Qt::Alignment>(),
                 Qt::AlignCenter);
    }

    void showRecordDecodesTheFields()
    {
        QmtData grid;
        InitGrid(grid);
        LinkState link;
        // The characters between the fields are never read.
        QVERIFY(StoreAndShow(grid, link, "\x02Z07/00123|00000;00045:00010#00001!000179\r"));
        QCOMPARE(Row(grid, 1), (QStringList{"7", "123", "0", "45", "10", "1", "179"}));
        QVERIFY(StoreAndShow(grid, link,
                             "\x02"
                             "0"
                             "12,00001,00002,00003,00004,00005,999999\r"));
        // The total is shown as sent, not added up.
        QCOMPARE(Row(grid, 2), (QStringList{"12", "1", "2", "3", "4", "5", "999999"}));
        QVERIFY(Row(grid, 3).join(QString()).isEmpty());
    }

    void shortRecordsShowWhatExists()
    {
        QmtData grid;
        InitGrid(grid);
        LinkState link;
        QVERIFY(StoreAndShow(grid, link, "\x02\r"));
        QCOMPARE(Row(grid, 1), (QStringList{"0", "0", "0", "0", "0", "0", "0"}));
        QVERIFY(StoreAndShow(grid, link,
                             "\x02"
                             "042,000"));
        QCOMPARE(Row(grid, 2), (QStringList{"42", "0", "0", "0", "0", "0", "0"}));
        QVERIFY(StoreAndShow(grid, link,
                             "\x02"
                             "0"
                             "12,00001,00002,00003,00004,00005,0001"));
        QCOMPARE(Row(grid, 3), (QStringList{"12", "1", "2", "3", "4", "5", "1"}));
    }

    void lastDataRowAndBeyond()
    {
        QmtData grid;
        InitGrid(grid);
        LinkState link;
        link.RxCount = 99;
        QVERIFY(StoreAndShow(grid, link,
                             "\x02"
                             "099"));
        QCOMPARE(grid.TextMatrix(100, 0), QStringLiteral("99"));
        QCOMPARE(RecordsNotInTable(grid, link.RxCount, link.RxDropped), std::int64_t(0));

        // Index 100 has no row: nothing is written anywhere.
        QVERIFY(!StoreAndShow(grid, link,
                              "\x02"
                              "055"));
        QCOMPARE(grid.TextMatrix(100, 0), QStringLiteral("99"));
        QCOMPARE(grid.TextMatrix(101, 0), QString());
        QCOMPARE(grid.Rows(), 101);
        QCOMPARE(RecordsNotInTable(grid, link.RxCount, link.RxDropped), std::int64_t(1));
        link.RxDropped = 3;
        QCOMPARE(RecordsNotInTable(grid, link.RxCount, link.RxDropped), std::int64_t(4));
    }

    void blankingCoversEveryDataRow()
    {
        QmtData grid;
        InitGrid(grid);
        for (int row = 1; row <= 100; ++row) {
            for (int col = 0; col < RecordColumns; ++col)
                grid.setTextMatrix(row, col, QStringLiteral("x"));
        }
        BlankDataRows(grid);
        for (int row = 1; row <= 100; ++row)
            QVERIFY2(Row(grid, row).join(QString()).isEmpty(), qPrintable(QString::number(row)));
        QCOMPARE(grid.TextMatrix(0, 0), QStringLiteral("No."));
    }

    void gridRefusesAddressesOutside()
    {
        QmtData grid;
        InitGrid(grid);
        const QList<QPair<int, int>> outside{
            {-1, 0}, {0, -1}, {101, 0}, {0, RecordColumns}, {32767, 32767}};
        for (const auto& [row, col] : outside) {
            QVERIFY(!grid.setTextMatrix(row, col, QStringLiteral("x")));
            QCOMPARE(grid.TextMatrix(row, col), QString());
        }
        grid.setColWidth(9, 100);
        grid.setColAlignment(-1, 4);
        QCOMPARE(grid.ColWidth(9), 0);
        // Nothing inside changed either.
        for (int row = 1; row <= 100; ++row)
            QVERIFY(Row(grid, row).join(QString()).isEmpty());
    }

    void cellsCannotBeEdited()
    {
        QmtData grid;
        InitGrid(grid);
        QCOMPARE(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(!(grid.model()->flags(grid.model()->index(0, 0)) & Qt::ItemIsEditable));
        QVERIFY(!grid.model()->setData(grid.model()->index(0, 0), QStringLiteral("x")));
    }

    void fractionsFollowTheUsersLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QmtData grid;
        InitGrid(grid);
        LinkState link;
        QVERIFY(StoreAndShow(grid, link,
                             "\x02"
                             "001,012.5"));
        QCOMPARE(grid.TextMatrix(1, 1), QStringLiteral("12,5"));
    }
};

QM6200_TEST_MAIN(TestRecordTable)
#include "tst_recordtable.moc"
