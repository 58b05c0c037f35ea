#include "runtime/fileops.h"
#include "runtime/hostpath.h"
#include "runtime/runtimeerror.h"
#include "testsupport.h"

#include <cerrno>
#include <sys/resource.h>

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
        FileSession session;
        copyFile(session, source, tree.path(u"game\\models\\M00.4ds"_s));
        copyFile(session, source, tree.path(u"game\\models\\M10.4ds"_s));
        QVERIFY(session.commit().isEmpty());
        QCOMPARE(TempTree::read(tree.path(u"Game/MODELS/m00.4ds"_s)), QByteArray("new model"));
        QCOMPARE(TempTree::read(tree.path(u"Game/MODELS/M10.4ds"_s)), QByteArray("new model"));
        QCOMPARE(tree.entries().filter(u"MODELS/"_s),
                 (QStringList{u"Game/MODELS/M10.4ds"_s, u"Game/MODELS/m00.4ds"_s}));
    }

    // Larger than the copy buffer, through the fast path and through the plain loop.
    void largeFiles()
    {
        TempTree tree;
        QByteArray data(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char((i * 7919) >> 3);
        const QString source = tree.file(u"big.4ds"_s, data);
        tree.file(u"out/old.4ds"_s, "old");

        FileSession session({{testing::FaultOp::Write, ENOSPC, data.size(), u"loop.4ds"_s},
                             {testing::FaultOp::Write, ENOSPC, 2500000, u"old.4ds"_s}});
        copyFile(session, source, tree.path(u"out/fast.4ds"_s));
        copyFile(session, source, tree.path(u"out/loop.4ds"_s)); // the fault lies past the end
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 copyFile(session, source, tree.path(u"out/old.4ds"_s)));
        QVERIFY(session.commit().isEmpty());
        QCOMPARE(TempTree::read(tree.path(u"out/fast.4ds"_s)), data);
        QCOMPARE(TempTree::read(tree.path(u"out/loop.4ds"_s)), data);
        QCOMPARE(TempTree::read(tree.path(u"out/old.4ds"_s)), QByteArray("old"));
        QCOMPARE(QDir(tree.path(u"out"_s)).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{u"fast.4ds"_s, u"loop.4ds"_s, u"old.4ds"_s}));

        const QString empty = tree.file(u"empty.4ds"_s, QByteArray());
        copyFile(session, empty, tree.path(u"out/old.4ds"_s));
        QVERIFY(session.commit().isEmpty());
        QCOMPARE(QFileInfo(tree.path(u"out/old.4ds"_s)).size(), 0);
    }

    void sessions()
    {
        TempTree tree;
        const QString a = tree.file(u"a.4ds"_s, "A");
        tree.file(u"out/b.4ds"_s, "old B");
        {
            FileSession session;
            copyFile(session, a, tree.path(u"out/B.4DS"_s));
            copyFile(session, tree.path(u"out/b.4ds"_s), tree.path(u"out/c.4ds"_s));  // the new b
            copyFile(session, tree.file(u"x.4ds"_s, "X"), tree.path(u"out/C.4ds"_s)); // c again
            QCOMPARE(TempTree::read(tree.path(u"out/b.4ds"_s)), QByteArray("old B"));
            QVERIFY(session.commit().isEmpty());
        }
        QCOMPARE(QDir(tree.path(u"out"_s)).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{u"b.4ds"_s, u"c.4ds"_s}));
        QCOMPARE(TempTree::read(tree.path(u"out/b.4ds"_s)), QByteArray("A"));
        QCOMPARE(TempTree::read(tree.path(u"out/c.4ds"_s)), QByteArray("X"));

        {
            FileSession abandoned;
            copyFile(abandoned, a, tree.path(u"out/d.4ds"_s));
            QCOMPARE(QDir(tree.path(u"out"_s)).entryList(QDir::Files | QDir::Hidden).size(), 3);
        }
        QCOMPARE(QDir(tree.path(u"out"_s)).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{u"b.4ds"_s, u"c.4ds"_s}));
    }

    void copyErrors()
    {
        TempTree tree;
        const QString source = tree.file(u"car.4ds"_s);
        tree.dir(u"folder"_s);
        FileSession s;
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 copyFile(s, tree.path(u"none.4ds"_s), tree.path(u"x"_s)));
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 copyFile(s, tree.path(u"folder"_s), tree.path(u"x"_s)));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, copyFile(s, source, tree.path(u"nofolder/x"_s)));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, copyFile(s, source, tree.path(u"FOLDER"_s)));
        QVERIFY(s.commit().isEmpty());
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

    // More copies than the process may hold files open: they are put in place in turns.
    // Last, as the lowered limit stays where it cannot be raised again.
    void moreCopiesThanOpenFiles()
    {
        TempTree tree;
        const QString source = tree.file(u"car.4ds"_s, "model");
        tree.dir(u"out"_s);
        struct rlimit saved, low = {64, 64};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        QList<FileSession::Failure> failures;
        {
            FileSession session;
            for (int i = 0; i < 150; ++i)
                copyFile(session, source, tree.path(u"out/m%1.4ds"_s.arg(i)));
            failures = session.commit();
        }
        ::setrlimit(RLIMIT_NOFILE, &saved);
        QCOMPARE(failures.size(), 0);
        QCOMPARE(QDir(tree.path(u"out"_s)).entryList(QDir::Files | QDir::Hidden).size(), 150);
        QCOMPARE(TempTree::read(tree.path(u"out/m149.4ds"_s)), QByteArray("model"));
    }
};

QTEST_GUILESS_MAIN(TestFileOps)
#include "tst_fileops.moc"
