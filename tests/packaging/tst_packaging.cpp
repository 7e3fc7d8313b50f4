// What the package carries says the project's version (from CMakeLists.txt): what is made
// from it at build time, and the files that keep a history of their own and so cannot be.

#include "tests/support/TestMain.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

class TestPackaging : public QObject {
    Q_OBJECT

private slots:
    void everyVersionIsTheProjects_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("pattern"); // its first match names the version
        const QString source = QM6200_SOURCE_DIR "/";
        const QString built = QM6200_BINARY_DIR "/packaging/";
        QTest::newRow("changelog, newest entry") << source + "packaging/changelog"
                                                 << "^qm6200-datalink \\(([^)]+)\\)";
        QTest::newRow("metainfo, newest release")
            << source + "packaging/net.qm6200.DataLink.metainfo.xml"
            << "<release version=\"([^\"]+)\"";
        QTest::newRow("README, the desktop's package") << source + "README.md"
                                                       << "qm6200-datalink_([^_]+)_amd64\\.deb";
        QTest::newRow("README, qm6200-acquire's package") << source + "README.md"
                                                          << "qm6200-acquire_([^_]+)_amd64\\.deb";
        for (const char* page : {"qm6200-datalink", "qm6200-acquire", "qm6200-sim"})
            QTest::newRow(page) << built + page + ".1"
                                << QString("^\\.TH \\S+ 1 \"[^\"]*\" \"%1 ([^\"]+)\"").arg(page);
    }

    void everyVersionIsTheProjects()
    {
        QFETCH(QString, file);
        QFETCH(QString, pattern);
        QFile text(file);
        QVERIFY2(text.open(QIODevice::ReadOnly), qPrintable(file));
        const auto match = QRegularExpression(pattern, QRegularExpression::MultilineOption)
                               .match(QString::fromUtf8(text.readAll()));
        QVERIFY2(match.hasMatch(), qPrintable(pattern));
        QCOMPARE(match.captured(1), QString(QM6200_VERSION));
    }
};

QM6200_TEST_GUILESS_MAIN(TestPackaging)
#include "tst_packaging.moc"
