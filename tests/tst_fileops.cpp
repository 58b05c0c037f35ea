#include "runtime/fileops.h"
#include "runtime/runtimeerror.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;
using namespace runtime;

class TestFileOps : public QObject
{
    Q_OBJECT

private slots:
    void copyCreatesAndReplaces()
    {
        TempTree tree;
        const QString source = tree.file(u"new/car.4ds"_s, "new model");
        tree.file(u"Game/MODELS/m00.4ds"_s, "old");
        copyFile(source, tree.path(u"game\\models\\M00.4ds"_s));
        copyFile(source, tree.path(u"game\\models\\M10.4ds"_s));
        QCOMPARE(TempTree::read(tree.path(u"Game/MODELS/m00.4ds"_s)), QByteArray("new model"));
        QCOMPARE(TempTree::read(tree.path(u"Game/MODELS/M10.4ds"_s)), QByteArray("new model"));
        QCOMPARE(tree.entries().filter(u"MODELS/"_s),
                 (QStringList{u"Game/MODELS/M10.4ds"_s, u"Game/MODELS/m00.4ds"_s}));
    }

    void copyErrors()
    {
        TempTree tree;
        const QString source = tree.file(u"car.4ds"_s);
        tree.dir(u"folder"_s);
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 copyFile(tree.path(u"none.4ds"_s), tree.path(u"x"_s)));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, copyFile(tree.path(u"folder"_s), tree.path(u"x"_s)));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, copyFile(source, tree.path(u"nofolder/x"_s)));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, copyFile(source, tree.path(u"FOLDER"_s)));
        QCOMPARE(tree.entries(), (QStringList{u"car.4ds"_s, u"folder"_s}));
    }

    void makeFolderRules()
    {
        TempTree tree;
        tree.dir(u"Game/MODELS"_s);
        makeFolder(tree.path(u"game\\maps\\"_s));
        QVERIFY(QFileInfo(tree.path(u"Game/maps"_s)).isDir());
        QVERIFY_THROWS_EXCEPTION(RuntimeError, makeFolder(tree.path(u"game\\models\\"_s)));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, makeFolder(tree.path(u"game\\Maps"_s)));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, makeFolder(tree.path(u"none\\maps"_s)));
    }
};

QTEST_GUILESS_MAIN(TestFileOps)
#include "tst_fileops.moc"
