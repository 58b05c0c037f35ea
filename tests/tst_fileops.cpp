// SPDX-License-Identifier: GPL-3.0-or-later
#include "installfixture.h"
#include "runtime/filesession.h"

#include <cerrno>

using namespace runtime;

// A session's copies and folders on absolute paths: no Wine drive, no current folder.
class TestFileOps : public QObject
{
    Q_OBJECT

    const HostPaths m_host;
    HostFileSystem m_files;

private slots:
    void copyCreatesAndReplaces()
    {
        TempTree tree;
        const QString source = tree.file(u"new/car.4ds"_s, "new model");
        tree.file(u"Game/MODELS/m00.4ds"_s, "old");
        FileSession session(m_files, m_host);
        session.copyFile(source, tree.path(u"game\\models\\M00.4ds"_s));
        session.copyFile(source, tree.path(u"game\\models\\M10.4ds"_s));
        QVERIFY(session.commit().isEmpty());
        QCOMPARE(tree.read(u"Game/MODELS/m00.4ds"_s), QByteArray("new model"));
        QCOMPARE(tree.read(u"Game/MODELS/M10.4ds"_s), QByteArray("new model"));
        QCOMPARE(tree.entries().filter(u"MODELS/"_s),
                 (QStringList{u"Game/MODELS/M10.4ds"_s, u"Game/MODELS/m00.4ds"_s}));
    }

    // Larger than the copy buffer; a copy that fails late leaves the old file.
    void largeFiles()
    {
        TempTree tree;
        QByteArray data(3 * 1024 * 1024 + 17, Qt::Uninitialized);
        for (qsizetype i = 0; i < data.size(); ++i)
            data[i] = char((i * 7919) >> 3);
        const QString source = tree.file(u"big.4ds"_s, data);
        tree.file(u"out/old.4ds"_s, "old");

        TestFileSystem files;
        files.faults.append({TestFileSystem::Copy, ENOSPC, "old.4ds", 2500000});
        FileSession session(files, m_host);
        session.copyFile(source, tree.path(u"out/new.4ds"_s));
        QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                 session.copyFile(source, tree.path(u"out/old.4ds"_s)));
        QVERIFY(session.commit().isEmpty());
        QCOMPARE(tree.read(u"out/new.4ds"_s), data);
        QCOMPARE(tree.read(u"out/old.4ds"_s), QByteArray("old"));
        QCOMPARE(QDir(tree.path(u"out"_s)).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{u"new.4ds"_s, u"old.4ds"_s}));

        const QString empty = tree.file(u"empty.4ds"_s, QByteArray());
        session.copyFile(empty, tree.path(u"out/new.4ds"_s));
        QVERIFY(session.commit().isEmpty());
        QCOMPARE(QFileInfo(tree.path(u"out/new.4ds"_s)).size(), 0);
    }

    void sessions()
    {
        TempTree tree;
        const QString a = tree.file(u"a.4ds"_s, "A");
        tree.file(u"out/b.4ds"_s, "old B");
        {
            FileSession session(m_files, m_host);
            session.copyFile(a, tree.path(u"out/B.4DS"_s));
            session.copyFile(tree.path(u"out/b.4ds"_s), tree.path(u"out/c.4ds"_s));  // the new b
            session.copyFile(tree.file(u"x.4ds"_s, "X"), tree.path(u"out/C.4ds"_s)); // c again
            QCOMPARE(tree.read(u"out/b.4ds"_s), QByteArray("old B"));
            QVERIFY(session.commit().isEmpty());
        }
        QCOMPARE(QDir(tree.path(u"out"_s)).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{u"b.4ds"_s, u"c.4ds"_s}));
        QCOMPARE(tree.read(u"out/b.4ds"_s), QByteArray("A"));
        QCOMPARE(tree.read(u"out/c.4ds"_s), QByteArray("X"));

        {
            FileSession abandoned(m_files, m_host);
            abandoned.copyFile(a, tree.path(u"out/d.4ds"_s));
            abandoned.copyFile(a, tree.path(u"out/b.4ds"_s));
        }
        QCOMPARE(QDir(tree.path(u"out"_s)).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{u"b.4ds"_s, u"c.4ds"_s}));
    }

    void copyErrors_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("code");
        const auto row = [](const char *name, const QString &source, const QString &destination,
                            ErrorKind kind, int code = 0) {
            QTest::newRow(name) << source << destination << int(kind) << code;
        };
        row("no source", u"none.4ds"_s, u"x"_s, ErrorKind::NotFound);
        row("source is a folder", u"folder"_s, u"x"_s, ErrorKind::System, EISDIR);
        row("no folder", u"car.4ds"_s, u"nofolder/x"_s, ErrorKind::NotFound);
        row("destination is a folder", u"car.4ds"_s, u"FOLDER"_s, ErrorKind::System, EISDIR);
        row("no file name", u"car.4ds"_s, u"folder/"_s, ErrorKind::NoFileName);
    }
    void copyErrors()
    {
        QFETCH(QString, source);
        QFETCH(QString, destination);
        QFETCH(int, kind);
        QFETCH(int, code);
        TempTree tree;
        tree.file(u"car.4ds"_s);
        tree.dir(u"folder"_s);
        FileSession session(m_files, m_host);
        try {
            session.copyFile(tree.path(source), tree.path(destination));
            QFAIL("the copy must fail");
        } catch (const RuntimeError &error) {
            QCOMPARE(int(error.error().kind), kind);
            QCOMPARE(error.error().code, code);
        }
        QVERIFY(session.commit().isEmpty());
        QCOMPARE(tree.entries(), (QStringList{u"car.4ds"_s, u"folder"_s}));
    }

    void makeFolderRules()
    {
        TempTree tree;
        tree.dir(u"Game/MODELS"_s);
        FileSession session(m_files, m_host);
        session.makeFolder(tree.path(u"game\\maps\\"_s));
        QVERIFY(QFileInfo(tree.path(u"Game/maps"_s)).isDir());
        for (const QString &path : {u"game\\models\\"_s, u"game\\Maps"_s, u"none\\maps"_s})
            QVERIFY_THROWS_EXCEPTION(RuntimeError, session.makeFolder(tree.path(path)));
    }

    // More copies than may stay open at once: they are put in place in turns.
    void moreCopiesThanOpenFiles()
    {
        TempTree tree;
        const QString source = tree.file(u"car.4ds"_s, "model");
        tree.dir(u"out"_s);
        TestFileSystem files;
        files.budget = 16;
        FileSession session(files, m_host);
        for (int i = 0; i < 40; ++i)
            session.copyFile(source, tree.path(u"out/m%1.4ds"_s.arg(i)));
        QCOMPARE(files.names(TestFileSystem::Rename).size(), 32); // two turns of 16 so far
        QCOMPARE(session.commit().size(), 0);
        QCOMPARE(QDir(tree.path(u"out"_s)).entryList(QDir::Files | QDir::Hidden).size(), 40);
        QCOMPARE(tree.read(u"out/m39.4ds"_s), QByteArray("model"));
    }
};

QTEST_GUILESS_MAIN(TestFileOps)
#include "tst_fileops.moc"
