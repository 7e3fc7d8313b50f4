// Files written whole: the operator's, which keep what makes them what they are to others, and
// the program's own, which are the user's alone; and the folders the program keeps them in.

#include "files/OwnFiles.h"
#include "files/SafeWrite.h"
#include "tests/support/Files.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

// A file named by its bytes, which a QString may not carry.
QByteArray ReadNode(const QByteArray& node)
{
    QFile file;
    const int fd = ::open(node.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle))
        return "<missing>";
    return file.readAll();
}

bool WriteNode(const QByteArray& node, const QByteArray& bytes)
{
    QFile file;
    const int fd = ::open(node.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd >= 0 && file.open(fd, QIODevice::WriteOnly, QFile::AutoCloseHandle)
           && file.write(bytes) == bytes.size();
}

constexpr uid_t Nobody = 65534; // and the group nogroup

enum Target {
    New,
    Regular,
    HardLinked,
    OtherOwner,
    OtherGroup,        // the saver's own, of a group the saver is in
    GroupNotTheSavers, // the saver's own, of a group the saver is not in
    ReadOnlyFolder,
    ReadOnlyFile,
    OwnersOnly, // root's, which only root may write
    MissingFolder,
    NameNotUtf8, // a file named "records\xe9", saved to as Qt lists it
    Folder,
    Device,
    Fifo,
    Socket
};

} // namespace

class TestSafeWrite : public QObject {
    Q_OBJECT

private slots:
    void savingLeavesWhatIsNotAFileAndKeepsLinksAndOwners_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("viaLink");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<qint64>("fileSizeLimit"); // 0: none
        QTest::addColumn<QString>("failure");      // empty: saved

        const QByteArray csv("\"1\"\r\n");
        for (const bool link : {false, true}) {
            const char* via = link ? "link to " : "";
            auto row = [&](const char* name, Target kind, const QString& failure,
                           const QByteArray& content) -> QTestData& {
                return QTest::addRow("%s%s", via, name)
                       << int(kind) << link << content << qint64(0) << failure;
            };
            row("new file", New, link ? "which does not exist" : "", csv);
            row("regular file", Regular, "", csv);
            row("regular file, emptied", Regular, "", "");
            row("hard-linked file", HardLinked, "", csv);
            row("hard-linked file, emptied", HardLinked, "", "");
            row("another user's file", OtherOwner, "", csv);
            row("file of another group", OtherGroup, "", csv);
            row("file in a read-only folder", ReadOnlyFolder, "", csv);
            row("folder", Folder, "a folder, not a file", csv);
            row("device", Device, "a device, not a file", csv);
            row("FIFO", Fifo, "a named pipe (FIFO), not a file", csv);
            row("socket", Socket, "a socket, not a file", csv);
        }
        const auto noRoom = [](const char* name, Target kind, int size = 100, qint64 limit = 50) {
            QTest::addRow("no room, %s", name)
                << int(kind) << false << QByteArray(size, '1') << limit << "too large";
        };
        noRoom("new file", New);
        noRoom("regular file", Regular);
        noRoom("hard-linked file", HardLinked);
        // Room for the new content within the old, none past the 20th byte: the writing itself
        // fails partway.
        noRoom("hard-linked file, partway", HardLinked, 30, 20);
        noRoom("file in a read-only folder, partway", ReadOnlyFolder, 30, 20);
        QTest::newRow("file of a group the saver is not in")
            << int(GroupNotTheSavers) << false << csv << qint64(0) << "";
        QTest::newRow("read-only file")
            << int(ReadOnlyFile) << false << csv << qint64(0) << "read-only";
        QTest::newRow("file only its owner may write")
            << int(OwnersOnly) << false << csv << qint64(0) << "this user (nobody) may not write";
        QTest::newRow("missing folder")
            << int(MissingFolder) << false << csv << qint64(0) << "does not exist";
        for (const bool link : {false, true})
            QTest::addRow("%sname not UTF-8", link ? "link to " : "")
                << int(NameNotUtf8) << link << csv << qint64(0) << "records\\xe9";
    }

    void savingLeavesWhatIsNotAFileAndKeepsLinksAndOwners()
    {
        QFETCH(int, kind);
        QFETCH(bool, viaLink);
        QFETCH(QByteArray, content);
        QFETCH(qint64, fileSizeLimit);
        QFETCH(QString, failure);

        // What only another user can do, root does as the user nobody (its as-nobody test runs
        // the read-only folder as nobody too).
        const bool asNobody =
            kind == ReadOnlyFolder || kind == GroupNotTheSavers || kind == OwnersOnly;
        if (((asNobody && kind != ReadOnlyFolder) || kind == OtherOwner || kind == OtherGroup)
            && ::geteuid() != 0)
            QSKIP("making a file of another user or group needs root");
        const bool switchUser = asNobody && ::geteuid() == 0;

        QTemporaryDir dir;
        const QByteArray old("an older and much longer content\r\n");
        const QString place = dir.filePath("place");
        QVERIFY(QDir().mkdir(place));
        auto reopen = qScopeGuard([&] { ::chmod(QFile::encodeName(place), 0755); });
        const QByteArray node =
            kind == MissingFolder
                ? QFile::encodeName(dir.filePath("no such folder/records"))
                : QFile::encodeName(place)
                      + (kind == NameNotUtf8 ? "/records\xe9" : "/records"); // no extension added
        // As Qt reads the bytes, so as a save dialog lists the file.
        const QString target = QFile::decodeName(node);
        switch (kind) {
        case New:
        case MissingFolder:
            break;
        case Folder:
            QVERIFY(QDir().mkdir(target));
            break;
        case Device:
            if (::mknod(node, S_IFCHR | 0666, makedev(1, 3)) != 0)
                QSKIP("making a device node needs root");
            break;
        case Fifo:
            QCOMPARE(::mkfifo(node, 0666), 0);
            break;
        case Socket: {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, node, sizeof address.sun_path - 1);
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::close(fd);
            break;
        }
        default:
            QVERIFY(WriteNode(node, old));
        }
        if (kind == HardLinked)
            QCOMPARE(::link(node, QFile::encodeName(place + "/other")), 0);
        if (kind == ReadOnlyFile)
            QVERIFY(QFile::setPermissions(target, QFile::ReadOwner));
        if (kind == OtherOwner) {
            QCOMPARE(::chown(node, Nobody, Nobody), 0);
            ::chmod(QFile::encodeName(place), 01777); // like /tmp
        }
        if (kind == OtherGroup || kind == GroupNotTheSavers) {
            // Others of the group may write it, and go on after a save.
            QCOMPARE(
                ::chown(node, kind == OtherGroup ? -1 : Nobody, kind == OtherGroup ? Nobody : 0),
                0);
            QCOMPARE(::chmod(node, 0664), 0);
        }
        if (switchUser) {
            QCOMPARE(::chmod(QFile::encodeName(dir.path()), 0755), 0);
            if (kind == ReadOnlyFolder) // the file nobody's, the folder root's
                QCOMPARE(::chown(node, Nobody, Nobody), 0);
            else // a folder nobody may write
                QCOMPARE(::chown(QFile::encodeName(place), Nobody, Nobody), 0);
        }
        if (kind == ReadOnlyFolder)
            QCOMPARE(::chmod(QFile::encodeName(place), 0555), 0);
        const QString link = dir.filePath("link");
        QVERIFY(!viaLink || ::symlink(node, QFile::encodeName(link)) == 0);
        struct stat before {};
        const bool existed = ::lstat(node, &before) == 0;
        const auto entries = [&] {
            return QDir(place).entryList(QDir::AllEntries | QDir::System | QDir::Hidden
                                         | QDir::NoDotAndDotDot);
        };
        const QStringList listed = entries();
        // What was beside the file at the moment its new content was in and its old end not
        // yet cut off, when it was written in place.
        std::optional<QByteArrayList> beside;
        const auto look = [&] {
            beside.emplace();
            for (const QString& name : entries()) {
                if (!listed.contains(name))
                    *beside << Read(place + "/" + name);
            }
        };

        rlimit unlimited{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
        if (fileSizeLimit > 0) {
            std::signal(SIGXFSZ, SIG_IGN); // going past fails with EFBIG, as a full disk would
            const rlimit limit{static_cast<rlim_t>(fileSizeLimit), unlimited.rlim_max};
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        }
        std::vector<gid_t> groups(std::size_t(std::max(0, ::getgroups(0, nullptr))));
        QVERIFY(::getgroups(int(groups.size()), groups.data()) >= 0);
        SaveResult result;
        {
            auto becomeRoot = qScopeGuard([&] {
                if (switchUser
                    && (::seteuid(0) != 0 || ::setegid(0) != 0
                        || ::setgroups(groups.size(), groups.data()) != 0))
                    qFatal("could not become root again");
            });
            // Nobody in nobody's groups alone: root's would let it do what nobody may not.
            if (switchUser)
                QVERIFY(::setgroups(0, nullptr) == 0 && ::setegid(Nobody) == 0
                        && ::seteuid(Nobody) == 0);
            result = WriteWholeFile(viaLink ? link : target, content.toStdString(), look);
        }
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);

        const bool saved = failure.isEmpty();
        QVERIFY2(result.Ok() == saved, qPrintable(result.Reason()));
        QVERIFY2(result.Reason().contains(failure), qPrintable(result.Reason()));
        QVERIFY(saved || result.Error().oldContentKept); // none of these fails halfway
        if (viaLink && !saved && kind != NameNotUtf8)    // names where the link leads
            QVERIFY2(result.Reason().contains(QDir::toNativeSeparators(
                         existed ? QFileInfo(target).canonicalFilePath() : target)),
                     qPrintable(result.Reason()));
        QVERIFY(!viaLink || QFileInfo(link).isSymLink());
        struct stat after {};
        QCOMPARE(::lstat(node, &after) == 0, existed || saved);
        if (existed) {
            QCOMPARE(after.st_mode, before.st_mode);
            QCOMPARE(after.st_rdev, before.st_rdev);
            QCOMPARE(after.st_nlink, before.st_nlink);
            QCOMPARE(after.st_uid, before.st_uid);
            QCOMPARE(after.st_gid, before.st_gid);
        }
        if (S_ISREG(after.st_mode))
            QCOMPARE(ReadNode(node), saved ? content : old);
        if (kind == HardLinked)
            QCOMPARE(Read(place + "/other"), Read(target));
        // A file written in place has a copy of its old content beside it until the new one is
        // on the disk, so that a save cut short there can be undone, where the folder allows.
        const bool inPlace = saved
                             && (kind == HardLinked || kind == OtherOwner
                                 || kind == GroupNotTheSavers || kind == ReadOnlyFolder);
        QCOMPARE(beside.has_value(), inPlace);
        if (inPlace)
            QCOMPARE(*beside, kind == ReadOnlyFolder ? QByteArrayList() : QByteArrayList{old});
        // Nothing left aside.
        QStringList expected = listed;
        if (saved && !existed)
            expected << "records";
        QCOMPARE(entries(), expected);
    }
};

QM6200_TEST_MAIN(TestSafeWrite)
#include "tst_safewrite.moc"
