#include "records/CsvExport.h"
#include "tests/support/Files.h"
#include "tests/support/TestMain.h"

#include <QTest>

using namespace qm;
using namespace qm::test;

class TestCsvExport : public QObject {
    Q_OBJECT

private slots:
    void linesAreQuotedCommaSeparatedAndEndInCrLf()
    {
        const std::string line = CsvLine({"7", "123", "0", "45", "10", "1", "179"});
        QCOMPARE(line, std::string("\"7\",\"123\",\"0\",\"45\",\"10\",\"1\",\"179\"\r\n"));
        QCOMPARE(line.size(), std::size_t(35));
        // Blank cells: fourteen quotes and six commas.
        QCOMPARE(CsvLine(std::vector<std::string>(7)), std::string(R"("","","","","","","")"
                                                                   "\r\n"));
        // Cell texts go out as they are.
        QCOMPARE(CsvLine({"9E999", "-1.5E+21"}), std::string("\"9E999\",\"-1.5E+21\"\r\n"));
    }

    void contentHasRowsOneToNInOrder()
    {
        QCOMPARE(CsvContent(0, 7, [](int, int) { return std::string("x"); }), std::string());
        std::vector<std::pair<int, int>> read;
        const std::string content = CsvContent(3, 2, [&](int row, int column) {
            read.emplace_back(row, column);
            return std::to_string(row * 10 + column);
        });
        QCOMPARE(content, std::string("\"10\",\"11\"\r\n\"20\",\"21\"\r\n\"30\",\"31\"\r\n"));
        QCOMPARE(read.front(), std::make_pair(1, 0)); // never the header row
        QCOMPARE(read.back(), std::make_pair(3, 1));
    }
};

QM6200_TEST_MAIN(TestCsvExport)
#include "tst_csvexport.moc"
