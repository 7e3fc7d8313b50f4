// The export's save dialog itself, as the operator meets it.

#include "tests/support/Dialogs.h"
#include "tests/support/TestMain.h"
#include "ui/CommonDialog.h"
#include "ui/FileTypes.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace qm;
using namespace qm::test;

class TestCommonDialog : public QObject {
    Q_OBJECT

private slots:
    void savesUnderTheNameChosenAndKeepsItOnCancel()
    {
        // What Qt's dialog keeps of its own goes where the program says, not among the user's
        // settings.
        QTemporaryDir qtMemory;
        CommonDialog::KeepQtMemoryIn(qtMemory.path());
        const QString userSettings = qEnvironmentVariable("XDG_CONFIG_HOME");
        QVERIFY(!userSettings.isEmpty());
        QTemporaryDir dir;
        const QString path = dir.filePath("day1"); // no extension is added
        CommonDialog dialog;
        OnNextModal([&](QWidget* modal) {
            auto* files = qobject_cast<QFileDialog*>(modal);
            QVERIFY(files);
            QCOMPARE(files->acceptMode(), QFileDialog::AcceptSave);
            QCOMPARE(files->nameFilters(),
                     (QStringList{"CSV File (*.csv) (*.csv)",
                                  QString::fromUtf8("全てのファイル (*.*) (*)")}));
            QCOMPARE(files->defaultSuffix(), QString());
            files->selectFile(path);
            static_cast<QDialog*>(files)->accept(); // "Save"
        });
        QVERIFY(dialog.ShowSave());
        QCOMPARE(dialog.FileName(), path);

        // Shown again: the last name is offered; a cancel keeps it.
        OnNextModal([&](QWidget* modal) {
            auto* files = qobject_cast<QFileDialog*>(modal);
            QVERIFY(files);
            QCOMPARE(files->selectedFiles(), QStringList{path});
            files->reject();
        });
        QVERIFY(!dialog.ShowSave());
        QCOMPARE(dialog.FileName(), path);
        QVERIFY(!QFileInfo::exists(userSettings + "/QtProject.conf"));
        QVERIFY(QFileInfo::exists(qtMemory.filePath("QtProject.conf")));
    }

    void fileTypesKeepTheirDescriptionsAndMatchAllFiles()
    {
        const auto types = ParseFileTypes("CSV File (*.csv)|*.csv|全てのファイル (*.*)|*.*");
        QCOMPARE(types.size(), std::size_t(2));
        QCOMPARE(types[0].description, QString("CSV File (*.csv)"));
        QCOMPARE(types[0].patterns, QStringList{"*.csv"});
        QCOMPARE(types[1].description, QString::fromUtf8("全てのファイル (*.*)"));
        QCOMPARE(types[1].patterns, QStringList{"*"});
    }
};

QM6200_TEST_MAIN(TestCommonDialog)
#include "tst_commondialog.moc"
