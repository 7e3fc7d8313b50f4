#include "tests/support/Files.h"
#include "tests/support/TestMain.h"
#include "watch/WatchFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

const QByteArray Header("\"Time\",\"Port\",\"CNTR1\",\"CNTR2\",\"CNTR3\",\"CNTR4\",\"CNTR5\","
                        "\"TOTAL\",\"Note\"\r\n");
// The file holds whatever lines it is given.
const QByteArray First("\"first\",\"1\"\r\n");
const QByteArray Second("\"second\",\"no answer\"\r\n");
const QDate Day(2026, 12, 8);

std::string_view View(const QByteArray& bytes)
{
    return {bytes.constData(), std::size_t(bytes.size())};
}

bool Link(const QString& target, const QString& name)
{
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(name).constData())
           == 0;
}

// What stands at the file's name.
enum Node {
    Regular,
    Folder,
    Fifo,
    LinkToFifo,
    LinkToNowhere,
    LinkToWatchFile,
    ReadOnly,
    OtherUsers,
    HeldByAnotherWatch
};

} // namespace

class TestWatchFile : public QObject {
    Q_OBJECT

private slots:
    void aWatchFileIsAppendedToAndATornLineCutOnce_data()
    {
        QTest::addColumn<QByteArray>("before"); // "<missing>": no file
        QTest::addColumn<QByteArray>("kept");   // of it, before the new line
        QTest::addColumn<bool>("torn");

        QTest::newRow("new") << QByteArray("<missing>") << Header << false;
        QTest::newRow("empty") << QByteArray() << Header << false;
        QTest::newRow("an earlier watch's") << Header + First << Header + First << false;
        QTest::newRow("header torn") << Header.left(10) << Header << false;
        QTest::newRow("first line torn") << Header + First.left(5) << Header << true;
        QTest::newRow("line torn") << Header + First + Second.left(9) << Header + First << true;
        QTest::newRow("line torn after its CR")
            << Header + First + Second.chopped(1) << Header + First << true;
        QTest::newRow("zeros after a power cut")
            << Header + First + QByteArray(4096, '\0') << Header + First << true;
    }

    void aWatchFileIsAppendedToAndATornLineCutOnce()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, kept);
        QFETCH(bool, torn);

        QTemporaryDir dir;
        const QString path = dir.filePath("watch.csv");
        if (before != "<missing>")
            QVERIFY(Write(path, before));
        const mode_t mask = ::umask(027);
        auto restoreMask = qScopeGuard([mask] { ::umask(mask); });
        WatchFile file(path);
        const Result<> prepared = file.Prepare(Day);
        QVERIFY2(prepared, qPrintable(prepared.Reason()));
        QCOMPARE(file.TakeTorn(), torn);
        QVERIFY(!file.TakeTorn());
        QVERIFY(file.Append(View(First)));
        QVERIFY(file.Prepare(Day)); // the same file: nothing again
        QVERIFY(file.Append(View(Second)) && file.Sync());
        QCOMPARE(Read(path), kept + First + Second);
        struct stat node {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &node), 0);
        QVERIFY(before != "<missing>" || (node.st_mode & 0777) == 0640);
    }

    void whatIsNotAWatchsFileIsRefusedAndLeftAsItWas_data()
    {
        QTest::addColumn<int>("node");
        QTest::addColumn<QByteArray>("content"); // of a regular file
        QTest::addColumn<QString>("failure");    // empty: taken

        const auto file = [](const char* name, const QByteArray& content, const char* failure) {
            QTest::newRow(name) << int(Regular) << content << QString::fromLatin1(failure);
        };
        const char* otherStart = "does not begin with the header of a watch's CSV";
        const char* otherEnd = "do not end as a watch's do";
        file("another CSV", "\"Time\",\"Value\"\r\n\"1\",\"2\"\r\n", otherStart);
        file("a record CSV", "\"7\",\"123\",\"0\",\"45\",\"10\",\"1\",\"179\"\r\n", otherStart);
        file("binary", QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), otherStart);
        file("the header ending in LF", Header.chopped(2) + "\n", otherStart);
        file("lines ending in LF after the header", Header + "\"1\"\n\"2\"", otherEnd);
        file("a last line longer than any", Header + QByteArray(70'000, 'x'), otherEnd);
        const auto node = [](const char* name, Node kind, const char* failure) {
            QTest::newRow(name) << int(kind) << QByteArray() << QString::fromLatin1(failure);
        };
        node("folder", Folder, "it is a folder, not a file");
        node("FIFO", Fifo, "it is a named pipe (FIFO), not a file");
        node("link to a FIFO", LinkToFifo, "which is a named pipe (FIFO), not a file");
        node("link to nowhere", LinkToNowhere, "which does not exist");
        node("link to a watch's file", LinkToWatchFile, "");
        node("read-only file", ReadOnly, "read-only");
        node("another user's file", OtherUsers, "");
        node("file another watch writes", HeldByAnotherWatch, "another watch");
    }

    void whatIsNotAWatchsFileIsRefusedAndLeftAsItWas()
    {
        QFETCH(int, node);
        QFETCH(QByteArray, content);
        QFETCH(QString, failure);

        QTemporaryDir dir;
        const QString path = dir.filePath("watch.csv");
        const QString target = dir.filePath("target");
        const QByteArray name = QFile::encodeName(path);
        std::optional<WatchFile> other;
        switch (node) {
        case Regular:
            QVERIFY(Write(path, content));
            break;
        case Folder:
            QVERIFY(QDir().mkdir(path));
            break;
        case Fifo:
        case LinkToFifo:
            QCOMPARE(::mkfifo(QFile::encodeName(node == Fifo ? path : target).constData(), 0666),
                     0);
            QVERIFY(node == Fifo || Link(target, path));
            break;
        case LinkToNowhere:
        case LinkToWatchFile:
            QVERIFY(node == LinkToNowhere || Write(target, Header));
            QVERIFY(Link(target, path));
            break;
        case ReadOnly:
        case OtherUsers:
            QVERIFY(Write(path, Header));
            if (node == OtherUsers && ::chown(name.constData(), 65534, 65534) != 0)
                QSKIP("making a file of another user needs root");
            QCOMPARE(::chmod(name.constData(), node == ReadOnly ? 0444 : 0644), 0);
            break;
        case HeldByAnotherWatch:
            other.emplace(path);
            QVERIFY(other->Prepare(Day));
            break;
        }
        // Never opened to be read where that would block.
        const bool regular = QFileInfo(path).isFile();
        const QByteArray before = regular ? Read(path) : QByteArray();

        WatchFile file(path);
        const Result<> prepared = file.Prepare(Day);
        QVERIFY2(prepared.Ok() == failure.isEmpty(), qPrintable(prepared.Reason()));
        QVERIFY2(prepared.Reason().contains(failure), qPrintable(prepared.Reason()));
        if (!prepared) {
            QVERIFY(!file.Append(View(First)));
            QCOMPARE(regular ? Read(path) : QByteArray(), before);
            QCOMPARE(QFile::exists(target), node == LinkToFifo);
            return;
        }
        QVERIFY(file.Append(View(First)));
        QCOMPARE(Read(path), Header + First);
        struct stat after {};
        QCOMPARE(::lstat(name.constData(), &after), 0);
        QCOMPARE(S_ISLNK(after.st_mode), node == LinkToWatchFile); // never replaced
        QCOMPARE(after.st_uid, node == OtherUsers ? uid_t(65534) : ::geteuid());
    }

    void aFilePerDayAndAFileReplacedMeanwhileStartWithTheirHeader()
    {
        QCOMPARE(WatchFile::PathOf(QStringLiteral("a%%F-%F-%x%"), Day),
                 QStringLiteral("a%F-2026-12-08-%x%"));
        QVERIFY(!WatchFile(QStringLiteral("a%%F")).PerDay());

        QTemporaryDir dir;
        WatchFile file(dir.filePath("watch-%F.csv"));
        QVERIFY(file.PerDay());
        const QString first = dir.filePath("watch-2026-12-08.csv");
        const QString next = dir.filePath("watch-2026-12-09.csv");
        QVERIFY(file.Prepare(Day) && file.Append(View(First)));
        QVERIFY(file.Prepare(Day.addDays(1)) && file.Append(View(Second)));
        QCOMPARE(file.Path(), next);
        QVERIFY(file.Prepare(Day) && file.Append(View(Second)));
        QCOMPARE(Read(first), Header + First + Second);
        QCOMPARE(Read(next), Header + Second);

        // Moved away while it was open: a new file takes its place.
        QVERIFY(QFile::rename(first, first + ".old"));
        QVERIFY(file.Prepare(Day) && file.Append(View(First)));
        QCOMPARE(Read(first), Header + First);
        QCOMPARE(Read(first + ".old"), Header + First + Second);
        // Replaced by another file: the rules of a first open.
        const QByteArray other("\"1\",\"2\"\r\n");
        QVERIFY(Write(first + ".new", other) && QFile::remove(first)
                && QFile::rename(first + ".new", first));
        QVERIFY(!file.Prepare(Day));
        QCOMPARE(Read(first), other);
    }

    void aLineIsAppendedWholeOrNotAtAll()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("watch.csv");
        WatchFile file(path);
        QVERIFY(file.Prepare(Day) && file.Append(View(First)));

        // Room for 10 bytes more, as on a disk nearly full: going past fails with EFBIG.
        rlimit unlimited{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
        const auto handler = std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(Header.size() + First.size() + 10), unlimited.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const Result<> appended = file.Append(View(Second));
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
        std::signal(SIGXFSZ, handler);

        QVERIFY(!appended);
        QCOMPARE(Read(path), Header + First);
        QVERIFY(file.Append(View(Second)));
        QCOMPARE(Read(path), Header + First + Second);
    }
};

QM6200_TEST_APPLESS_MAIN(TestWatchFile)
#include "tst_watchfile.moc"
