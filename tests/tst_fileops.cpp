// SPDX-License-Identifier: GPL-3.0-or-later
#include "installfixture.h"
#include "runtime/filesession.h"
#include "testhost.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
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

        // A file's status read with its volume known is the one read whole.
        Fd copy;
        FileStatus whole, onVolume;
        QCOMPARE(m_files.open(tree.hostPath("out/old.4ds"), copy), 0);
        QCOMPARE(m_files.status(copy, whole), 0);
        QCOMPARE(m_files.statusOnVolume(copy, whole.device, onVolume), 0);
        const auto fields = [](const FileStatus &s) {
            return QList<qint64>{qint64(s.device), qint64(s.inode), s.mode,  s.size,
                                 qint64(s.links),  s.modified,      s.owner, s.group};
        };
        QCOMPARE(fields(onVolume), fields(whole));
        QCOMPARE(onVolume.size, 3);
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

        // A copy read before it is in place is read from its temporary file, which has a name
        // beside it where the file system makes no file without one (Windows, FAT).
        TestFileSystem named;
        named.namedTemporaries = true;
        FileSession later(named, m_host);
        later.copyFile(tree.path(u"x.4ds"_s), tree.path(u"out/b.4ds"_s));
        later.copyFile(tree.path(u"out/b.4ds"_s), tree.path(u"out/e.4ds"_s));
        // A name the folder lacked, made by another program since, is not taken.
        later.copyFile(tree.path(u"x.4ds"_s), tree.path(u"out/f.4ds"_s));
        tree.file(u"out/f.4ds"_s, "F");
        const auto failures = later.commit();
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures[0].error.code, EEXIST);
        QCOMPARE(tree.read(u"out/e.4ds"_s), QByteArray("X"));
        QCOMPARE(tree.read(u"out/f.4ds"_s), QByteArray("F"));
    }

    // A copy whose data comes in parts takes its place as a copied file does, under the name
    // of the file it replaces; one begun and not ended leaves nothing.
    void streamedCopies()
    {
        TempTree tree;
        tree.file(u"out/Old.bmp"_s, "old");
        tree.file(u"out/locked.bmp"_s, "locked");
        QVERIFY(QFile::setPermissions(tree.path(u"out/locked.bmp"_s), ReadOnlyPermissions));
        {
            FileSession session(m_files, m_host);
            session.beginCopy(tree.path(u"out/new.bmp"_s));
            session.appendCopy("ne", 2);
            session.appendCopy("w", 1);
            session.endCopy({});
            session.beginCopy(tree.path(u"out/old.bmp"_s));
            session.appendCopy("replaced", 8);
            session.endCopy({});
            session.copyFile(tree.path(u"out/new.bmp"_s), tree.path(u"out/again.bmp"_s));
            QVERIFY_THROWS_EXCEPTION(RuntimeError,
                                     session.beginCopy(tree.path(u"out/LOCKED.bmp"_s)));
            session.beginCopy(tree.path(u"out/cut.bmp"_s));
            session.appendCopy("cut", 3);
            QVERIFY(session.commit().isEmpty());
        }
        QCOMPARE(QDir(tree.path(u"out"_s)).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 (QStringList{u"Old.bmp"_s, u"again.bmp"_s, u"locked.bmp"_s, u"new.bmp"_s}));
        QCOMPARE(tree.read(u"out/new.bmp"_s), QByteArray("new"));
        QCOMPARE(tree.read(u"out/again.bmp"_s), QByteArray("new"));
        QCOMPARE(tree.read(u"out/Old.bmp"_s), QByteArray("replaced"));
        QCOMPARE(tree.read(u"out/locked.bmp"_s), QByteArray("locked"));
    }

    // Copies go into the folder that was checked, by its handle: one renamed away and put
    // back as a link meanwhile (POSIX) leads nowhere else, and one held cannot be (Windows).
    void copiesIntoTheFolderChecked()
    {
        TempTree tree;
        const QString source = tree.file(u"car.4ds"_s, "model");
        tree.file(u"game/maps/old.bmp"_s, "old");
        tree.dir(u"elsewhere"_s);
        FileSession session(m_files, m_host);
        session.copyFile(source, tree.path(u"game/maps/new.bmp"_s));
        const bool moved = QDir().rename(tree.path(u"game/maps"_s), tree.path(u"game/was"_s));
        QCOMPARE(moved, testhost::posix);
        if (moved)
            QCOMPARE(testhost::symlink(tree.hostPath("elsewhere"), tree.hostPath("game/maps")), 0);
        QVERIFY(session.commit().isEmpty());
        QCOMPARE(tree.read(moved ? u"game/was/new.bmp"_s : u"game/maps/new.bmp"_s),
                 QByteArray("model"));
        QVERIFY(QDir(tree.path(u"elsewhere"_s)).isEmpty());
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

    // A file another program holds without sharing for a moment, as a scanner does, is
    // replaced once it is let go; one held longer than the calls wait for is busy.
    void heldFiles_data()
    {
        QTest::addColumn<int>("held");
        QTest::addColumn<int>("error");
        QTest::newRow("for a moment") << 300 << 0;
        QTest::newRow("too long") << 3000 << EBUSY;
    }
    void heldFiles()
    {
        QFETCH(int, held);
        QFETCH(int, error);
        TempTree tree;
        const QString source = tree.file(u"new/car.4ds"_s, "new model");
        tree.file(u"Game/MODELS/m00.4ds"_s, "old");
        if (testhost::holdFile(tree.hostPath("Game/MODELS/m00.4ds"), held) == ENOSYS)
            QSKIP("only Windows holds a file from others");
        QElapsedTimer timer;
        timer.start();
        FileSession session(m_files, m_host);
        QList<FileSession::Failure> failures;
        try {
            session.copyFile(source, tree.path(u"Game/MODELS/m00.4ds"_s));
            failures = session.commit();
        } catch (const RuntimeError &thrown) {
            failures.append({{}, thrown.error()});
        }
        if (error == 0) {
            QCOMPARE(failures.size(), 0);
            QCOMPARE(tree.read(u"Game/MODELS/m00.4ds"_s), QByteArray("new model"));
            return;
        }
        QCOMPARE(failures.size(), 1);
        QCOMPARE(failures[0].error.code, error);
        QVERIFY2(timer.elapsed() < 2 * 2000, "the waits of one call do not stack");
        QThread::msleep(ulong(std::max<qint64>(0, held - timer.elapsed() + 100)));
        QCOMPARE(tree.read(u"Game/MODELS/m00.4ds"_s), QByteArray("old"));
    }

    // Names are passed on as they are spelt: a trailing space or dot is part of a name, and
    // a name that Windows keeps for a device, "nul.bmp" or "con", is a file's.
    void namesAsSpelt()
    {
        TempTree tree;
        tree.dir(u"out"_s);
        const QByteArrayList names{"tex.bmp", "tex.bmp ", "tex.bmp.", "nul.bmp", "con"};
        for (const QByteArray &name : names) {
            Fd file;
            QCOMPARE(m_files.create(tree.hostPath("out/" + name), file), 0);
            QCOMPARE(m_files.write(file, name), 0);
        }
        for (const QByteArray &name : names) {
            Fd file;
            QByteArray data;
            QCOMPARE(m_files.open(tree.hostPath("out/" + name), file), 0);
            QCOMPARE(m_files.read(file, 100, data), 0);
            QCOMPARE(data, name);
        }
        FolderListing listing;
        QCOMPARE(m_files.listFolder(tree.hostPath("out"), listing), 0);
        QByteArrayList listed;
        for (const FolderEntry &entry : listing.entries)
            listed.append(entry.name);
        std::sort(listed.begin(), listed.end());
        QByteArrayList sorted = names;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(listed, sorted);
        for (const QByteArray &name : names)
            QCOMPARE(m_files.remove(tree.hostPath("out/" + name)), 0);
    }

    // Work inside an open folder goes by the folder's handle, and a folder held open cannot be
    // renamed away by another program meanwhile (Windows). A junction in it is an entry of
    // its own: not followed, and renamed or removed itself.
    void openFoldersHeld()
    {
        TempTree tree;
        tree.file(u"game/maps/a.bmp"_s, "game");
        tree.file(u"outside/a.bmp"_s, "outside");
        Fd game, maps;
        QCOMPARE(m_files.openFolderAt(Fd(), tree.hostPath("game"), game), 0);
        QCOMPARE(m_files.openFolderAt(game, "maps", maps), 0);
        if (testhost::posix)
            QSKIP("POSIX systems rename a folder held open");
        QVERIFY(!QDir().rename(tree.path(u"game/maps"_s), tree.path(u"game/old"_s)));
        QCOMPARE(m_files.renameAt(maps, "a.bmp", maps, "b.bmp"), 0);
        QCOMPARE(tree.read(u"game/maps/b.bmp"_s), QByteArray("game"));
        maps.reset();
        QCOMPARE(m_files.removeFolderAt(game, "maps"), ENOTEMPTY);

        tree.dir(u"game/link"_s);
        if (testhost::makeJunction(tree.hostPath("outside"), tree.hostPath("game/link")) == ENOSYS)
            QSKIP("no junctions on this file system (Wine)");
        FileStatus status;
        QCOMPARE(m_files.entryStatusAt(game, "link", status), 0);
        QVERIFY(status.isLink());
        Fd through;
        QCOMPARE(m_files.openFolderAt(game, "link", through), ELOOP);
        QCOMPARE(m_files.openEntryAt(game, "link", through), ELOOP);
        QCOMPARE(m_files.renameAt(game, "link", game, "moved"), 0);
        QCOMPARE(m_files.removeFolderAt(game, "moved"), 0);
        QCOMPARE(tree.read(u"outside/a.bmp"_s), QByteArray("outside"));
    }

    // Only the reparse points that stand for another name are links: a file that OneDrive
    // keeps in the cloud, or one deduplicated, is read as any other.
    void reparseTags_data()
    {
        QTest::addColumn<quint32>("attributes");
        QTest::addColumn<quint32>("tag");
        QTest::addColumn<int>("link");
        constexpr quint32 Reparse = 0x400, Folder = 0x10;
        QTest::newRow("symbolic link") << Reparse << 0xA000000Cu << 1;
        QTest::newRow("junction") << (Reparse | Folder) << 0xA0000003u << 1;
        QTest::newRow("cloud file") << Reparse << 0x9000001Au << 0;
        QTest::newRow("cloud folder") << (Reparse | Folder) << 0x9000601Au << 0;
        QTest::newRow("deduplicated") << Reparse << 0x80000013u << 0;
        QTest::newRow("app alias") << Reparse << 0x8000001Bu << 0;
        QTest::newRow("tag without the attribute") << Folder << 0xA0000003u << 0;
    }
    void reparseTags()
    {
        QFETCH(quint32, attributes);
        QFETCH(quint32, tag);
        QFETCH(int, link);
        const int taken = testhost::takenForLink(attributes, tag);
        if (taken < 0)
            QSKIP("only Windows has reparse tags");
        QCOMPARE(taken, link);
    }

    // A file keeps the number NTFS gives it, which records hold; on ReFS, two files whose
    // ids differ only in their high half are two files.
    void fileNumbers()
    {
        quint64 ntfs = 0, refs = 0, other = 0;
        if (!testhost::fileNumber(0x1234, 0, ntfs))
            QSKIP("only Windows has 128-bit file ids");
        QCOMPARE(ntfs, quint64(0x1234));
        QVERIFY(testhost::fileNumber(0x1234, 7, refs) && testhost::fileNumber(0x1234, 8, other));
        QVERIFY(refs != ntfs && refs != other && other != ntfs);
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
