// The user's own places by the XDG rules, the program's folders in them, and texts from outside
// shown without acting on a terminal or a list.

#include "files/Names.h"
#include "files/OwnFiles.h"
#include "tests/support/Files.h"
#include "tests/support/TestMain.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

// Sets the variables for the scope, as they were after it; an empty value unsets one.
class Environment {
public:
    void set(const char* name, const QByteArray& value)
    {
        m_saved.append({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~Environment()
    {
        for (auto it = m_saved.crbegin(); it != m_saved.crend(); ++it) {
            if (it->wasSet)
                qputenv(it->name, it->value);
            else
                qunsetenv(it->name);
        }
    }

private:
    struct Saved {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    QList<Saved> m_saved;
};

mode_t ModeOf(const QString& path)
{
    struct stat node {};
    return ::lstat(QFile::encodeName(path).constData(), &node) == 0 ? node.st_mode & 07777 : 0;
}

} // namespace

class TestOwnFiles : public QObject {
    Q_OBJECT

private slots:
    // A variable that is no absolute path is ignored, one that is not UTF-8 refused, and a
    // missing home told rather than taken for the root folder.
    void userFoldersFollowTheXdgRules_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("variable"); // XDG_..._HOME or _DIR; null: unset
        QTest::addColumn<QByteArray>("home");     // null: unset
        QTest::addColumn<QString>("found");       // the folder, or a part of the problem
        const int data = int(UserFolderKind::Data);
        const int config = int(UserFolderKind::Config);
        const int runtime = int(UserFolderKind::Runtime);
        QTest::newRow("data, set") << data << QByteArray("/d/x") << QByteArray("/h") << "/d/x";
        QTest::newRow("data, relative")
            << data << QByteArray("d/x") << QByteArray("/h") << "/h/.local/share";
        QTest::newRow("data, unset")
            << data << QByteArray() << QByteArray("/h/") << "/h/.local/share";
        QTest::newRow("data, not UTF-8")
            << data << QByteArray("/d/\xe9t\xe9") << QByteArray("/h") << "is not UTF-8";
        QTest::newRow("data, home not UTF-8")
            << data << QByteArray() << QByteArray("/h\xff") << "is not UTF-8";
        QTest::newRow("data, no home")
            << data << QByteArray() << QByteArray() << "has no home folder";
        QTest::newRow("data, home relative")
            << data << QByteArray("") << QByteArray("h") << "has no home folder";
        QTest::newRow("data, home the root")
            << data << QByteArray() << QByteArray("/") << "/.local/share";
        QTest::newRow("config, unset")
            << config << QByteArray() << QByteArray("/h") << "/h/.config";
        QTest::newRow("runtime, set")
            << runtime << QByteArray("/run/user/7") << QByteArray("/h") << "/run/user/7";
        QTest::newRow("runtime, relative")
            << runtime << QByteArray("run") << QByteArray("/h") << "XDG_RUNTIME_DIR is not set";
    }
    void userFoldersFollowTheXdgRules()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, variable);
        QFETCH(QByteArray, home);
        QFETCH(QString, found);
        const auto folderKind = UserFolderKind(kind);
        Environment environment;
        environment.set(folderKind == UserFolderKind::Data     ? "XDG_DATA_HOME"
                        : folderKind == UserFolderKind::Config ? "XDG_CONFIG_HOME"
                                                               : "XDG_RUNTIME_DIR",
                        variable);
        environment.set("HOME", home);
        const OwnPath folder = UserFolder(folderKind);
        if (found.startsWith(u'/')) {
            QCOMPARE(folder.ValueOr({}), found);
            QCOMPARE(ProgramFolder(folderKind).ValueOr({}), QDir::cleanPath(found + "/qm6200"));
        } else {
            QVERIFY(!folder);
            QVERIFY2(folder.Reason().contains(found), qPrintable(folder.Reason()));
            QCOMPARE(ProgramFolder(folderKind).Reason(), folder.Reason());
        }
    }

    // The program's folder is made 0700 whatever the umask; one an earlier version made open
    // to others is closed to them, the user keeping what they had; what is no folder of the
    // user's own is refused with what it is.
    void ownFoldersAreTheUsersAlone_data()
    {
        QTest::addColumn<QString>("planted");
        QTest::addColumn<bool>("make");
        QTest::addColumn<int>("mode");        // the folder's afterwards
        QTest::addColumn<QString>("problem"); // empty: taken
        QTest::newRow("made") << "" << true << 0700 << "";
        QTest::newRow("not there, not made") << "" << false << 0 << "";
        QTest::newRow("open to all") << "0755" << false << 0700 << "";
        QTest::newRow("made read-only by the user") << "0555" << false << 0500 << "";
        QTest::newRow("reached through a link") << "link" << true << 0700 << "";
        QTest::newRow("a file") << "file" << true << 0 << "is not a folder";
        QTest::newRow("a file above it") << "file above" << true << 0 << "is not a folder";
        QTest::newRow("another user's") << "other's" << true << 0 << "belongs to another user";
    }
    void ownFoldersAreTheUsersAlone()
    {
        QFETCH(QString, planted);
        QFETCH(bool, make);
        QFETCH(int, mode);
        QFETCH(QString, problem);
        if (planted == "other's" && ::geteuid() != 0)
            QSKIP("making another user's folder needs root");
        const mode_t umask = ::umask(022);
        auto restoreUmask = qScopeGuard([umask] { ::umask(umask); });
        QTemporaryDir dir;
        QString folder = dir.filePath("qm6200");
        const QString real = dir.filePath("real");
        if (planted.startsWith(u'0')) {
            QVERIFY(QDir().mkdir(folder));
            QCOMPARE(::chmod(QFile::encodeName(folder), planted.toUInt(nullptr, 8)), 0);
        } else if (planted == "link") {
            QVERIFY(QDir().mkdir(real) && QFile::link(real, dir.filePath("link")));
            folder = dir.filePath("link/qm6200");
        } else if (planted == "file") {
            QVERIFY(Write(folder, "a file"));
        } else if (planted == "file above") {
            QVERIFY(Write(dir.filePath("above"), "a file"));
            folder = dir.filePath("above/qm6200");
        } else if (planted == "other's") {
            QVERIFY(QDir().mkdir(folder));
            QCOMPARE(::chown(QFile::encodeName(folder), 65534, 65534), 0);
        }
        const OwnPath prepared = PrepareOwnFolder(folder, make);
        QVERIFY2(prepared.Reason().contains(problem), qPrintable(prepared.Reason()));
        QCOMPARE(prepared.Ok(), problem.isEmpty());
        if (!problem.isEmpty() || mode == 0) {
            QCOMPARE(prepared.ValueOr({}), QString());
            return;
        }
        QCOMPARE(*prepared, planted == "link" ? real + "/qm6200" : folder);
        QCOMPARE(int(ModeOf(*prepared)), mode);
    }

    // What would act on a terminal or turn a list's line around is shown by its number.
    void textsFromOutsideShowTheirControls_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "/dev/ttyUSB0 é 東"
                               << "/dev/ttyUSB0 é 東";
        QTest::newRow("a terminal's title and a clear") << "/tmp/\x1b]0;owned\x07\x1b[2J"
                                                        << "/tmp/\\x1b]0;owned\\x07\\x1b[2J";
        QTest::newRow("a right-to-left override") << QString("a\u202Etxt.exe") << "a\\u202etxt.exe";
        QTest::newRow("a line break and a delete") << "a\nb\x7f"
                                                   << "a\\x0ab\\x7f";
    }
    void textsFromOutsideShowTheirControls()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(ShownText(text), shown);
    }
};

QM6200_TEST_GUILESS_MAIN(TestOwnFiles)
#include "tst_ownfiles.moc"
