// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/error.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "runtime/listing.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;
using namespace runtime;

class TestListing : public QObject
{
    Q_OBJECT

    // No Wine drives and no current folder: for absolute patterns.
    const HostPaths m_host;
    HostFileSystem m_files;

private slots:
    void wildcards_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("matches");
        QTest::newRow("ext") << u"car.bmp"_s << u"*.bmp"_s << true;
        QTest::newRow("ext case") << u"CAR.BMP"_s << u"*.bmp"_s << true;
        QTest::newRow("longer ext") << u"x.bmpx"_s << u"*.bmp"_s << false;
        QTest::newRow("ext only in middle") << u"x.bmp.txt"_s << u"*.bmp"_s << false;
        QTest::newRow("star dot star, no dot") << u"README"_s << u"*.*"_s << true;
        QTest::newRow("star dot star") << u"a.b.c"_s << u"*.*"_s << true;
        QTest::newRow("name dot star, no dot") << u"a0"_s << u"a0.*"_s << true;
        QTest::newRow("name dot star, other") << u"a01"_s << u"a0.*"_s << false;
        QTest::newRow("question") << u"m01.4ds"_s << u"m0?.4ds"_s << true;
        QTest::newRow("question needs one") << u"m0.4ds"_s << u"m0?.4ds"_s << false;
        QTest::newRow("star in middle") << u"skin_red_01.tga"_s << u"skin*01.TGA"_s << true;
        QTest::newRow("backtracking") << u"aXbXc"_s << u"*X*c"_s << true;
        QTest::newRow("cyrillic case") << u"ТЕКСТУРА.bmp"_s << u"текст*"_s << true;
        QTest::newRow("star alone") << u"anything"_s << u"*"_s << true;
        QTest::newRow("plain") << u"a0.dta"_s << u"A0.DTA"_s << true;
        // Linux names may hold the wildcard characters themselves.
        QTest::newRow("star in name, star alone") << u"*00"_s << u"*"_s << true;
        QTest::newRow("star in name, ext") << u"*x.bmp"_s << u"*.bmp"_s << true;
        QTest::newRow("star in name facing star") << u"a*b.bmp"_s << u"a*.bmp"_s << true;
        QTest::newRow("star in name, no match") << u"a*b.bmp"_s << u"a*.tga"_s << false;
    }
    void wildcards()
    {
        QFETCH(QString, name);
        QFETCH(QString, pattern);
        QFETCH(bool, matches);
        QCOMPARE(matchesWildcard(name, pattern), matches);
    }

    void listsOrdinaryFilesSorted()
    {
        TempTree tree;
        tree.file(u"maps/b.TGA"_s);
        tree.file(u"maps/A.bmp"_s);
        tree.file(u"maps/c.txt"_s);
        tree.file(u"maps/.hidden.bmp"_s);
        tree.dir(u"maps/sub.bmp"_s);
        // Where the host has them: a link to a file is one, a link to a folder, one that
        // leads nowhere and a socket are none.
        QStringList linked;
        if (testhost::posix) {
            tree.link(tree.hostPath("maps/c.txt"), "maps/link.bmp");
            tree.link(tree.hostPath("nowhere"), "maps/dangling.bmp");
            tree.link(tree.hostPath("maps/sub.bmp"), "maps/dirlink.bmp");
            const int socket = testhost::makeSocket(tree.hostPath("maps/socket.bmp"));
            QVERIFY(socket == 0 || socket == ENAMETOOLONG);
            linked.append(u"link.bmp"_s);
        }

        // Where the host has them: hidden and system files are none.
        if (!testhost::posix) {
            tree.file(u"maps/Thumbs.bmp"_s);
            tree.file(u"maps/desktop.ini"_s);
            QCOMPARE(testhost::hide(tree.hostPath("maps/Thumbs.bmp"), false), 0);
            QCOMPARE(testhost::hide(tree.hostPath("maps/desktop.ini"), true), 0);
        }

        FolderIndex folders(m_files);
        QCOMPARE(Listing::all(tree.path(u"MAPS\\"_s), m_host, folders),
                 (QStringList{u"A.bmp"_s, u"b.TGA"_s, u"c.txt"_s} + linked));
        QCOMPARE(Listing::all(tree.path(u"maps\\*.bmp"_s), m_host, folders),
                 QStringList{u"A.bmp"_s} + linked);
        QCOMPARE(Listing::all(tree.path(u"Maps/*.tga"_s), m_host, folders),
                 QStringList{u"b.TGA"_s});
        QCOMPARE(Listing::all(tree.path(u"maps\\\\"_s), m_host, folders),
                 (QStringList{u"A.bmp"_s, u"b.TGA"_s, u"c.txt"_s} + linked));
    }

    // The folder index answers as the folder itself would, also for what the program
    // creates while it is in use.
    void indexFollowsCreation()
    {
        TempTree tree;
        tree.file(u"maps/old.bmp"_s);
        const QByteArray maps = tree.hostPath("maps");
        FolderIndex index(m_files);
        QCOMPARE(Listing::all(tree.path(u"maps\\"_s), m_host, index), QStringList{u"old.bmp"_s});
        QVERIFY(!findEntry(maps, u"NEW.BMP"_s, index));

        tree.file(u"maps/new.bmp"_s);
        index.created(maps, "new.bmp");
        QCOMPARE(hostPathKey(findEntry(maps, u"NEW.BMP"_s, index)), hostPathKey("new.bmp"));
        QCOMPARE(Listing::all(tree.path(u"maps\\*.BMP"_s), m_host, index),
                 (QStringList{u"new.bmp"_s, u"old.bmp"_s}));

        index.reserved(maps, "Later.tga");
        QCOMPARE(findEntry(maps, u"later.TGA"_s, index), QByteArray("Later.tga"));
        QCOMPARE(Listing::all(tree.path(u"maps\\*.tga"_s), m_host, index),
                 QStringList{}); // not yet

        // A folder made anew is read anew, not taken as the missing folder it was.
        QCOMPARE(Listing::all(tree.path(u"maps\\sub\\"_s), m_host, index), QStringList{});
        tree.file(u"maps/sub/inner.bmp"_s);
        index.created(maps, "sub");
        QCOMPARE(Listing::all(tree.path(u"maps\\sub\\"_s), m_host, index),
                 QStringList{u"inner.bmp"_s});
    }

    // The first match of a pattern, or "" for a pattern that matches no ordinary file.
    // "<tree>" stands for the tree, which is also the current folder.
    void firstMatch_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("first");
        QTest::newRow("plain name") << u"<tree>/Game/a0.dta"_s << u"A0.DTA"_s;
        // A field ending in a backslash followed by the "/a0.dta" the check appends.
        QTest::newRow("appended name") << u"<tree>/game\\/a0.dta"_s << u"A0.DTA"_s;
        QTest::newRow("doubled separators") << u"<tree>/GAME//\\\\a0.dta"_s << u"A0.DTA"_s;
        QTest::newRow("relative") << u"game\\*.DTA"_s << u"A0.DTA"_s;
        QTest::newRow("folder") << u"<tree>/Game/folder"_s << QString();
        QTest::newRow("hidden file") << u"<tree>/Game/.secret"_s << QString();
        QTest::newRow("missing file") << u"<tree>/Game/missing.dta"_s << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("only a subfolder") << u"<tree>/onlysub\\"_s << QString();
        QTest::newRow("only hidden files") << u"<tree>/onlyhidden\\"_s << QString();
        QTest::newRow("missing folder") << u"<tree>/missing\\"_s << QString();
        QTest::newRow("missing folder, wildcard") << u"<tree>/missing\\*.bmp"_s << QString();
        QTest::newRow("file as folder") << u"<tree>/afile\\"_s << QString();
    }
    void firstMatch()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, first);
        TempTree tree;
        tree.file(u"Game/A0.DTA"_s);
        tree.file(u"Game/.secret"_s);
        tree.dir(u"Game/folder"_s);
        tree.dir(u"onlysub/inner"_s);
        tree.file(u"onlyhidden/.x.bmp"_s);
        tree.file(u"afile"_s);
        const HostPaths host{{}, tree.root, {}};
        FolderIndex folders(m_files);
        QCOMPARE(
            hostKey(
                Listing::all(pattern.replace(u"<tree>"_s, tree.path()), host, folders).value(0)),
            hostKey(first));
    }

    void errors_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<ErrorKind>("kind");
        QTest::newRow("wildcard in folder") << u"/tmp/*/a0.dta"_s << ErrorKind::WildcardInFolder;
        QTest::newRow("question in folder") << u"/tm?/a0.dta"_s << ErrorKind::WildcardInFolder;
        QTest::newRow("nul") << u"/tmp/a"_s + QChar(0) << ErrorKind::NulInPath;
        QTest::newRow("too long") << u"/tmp/"_s + QString(300, u'x') << ErrorKind::NameTooLong;
        QTest::newRow("too long, folder missing")
            << u"/no-such-folder/"_s + QString(300, u'x') << ErrorKind::NameTooLong;
        QTest::newRow("unready drive") << u"Q:\\Games\\a0.dta"_s << ErrorKind::DriveNotReady;
    }
    void errors()
    {
        QFETCH(QString, pattern);
        QFETCH(ErrorKind, kind);
        try {
            FolderIndex folders(m_files);
            Listing::all(pattern, HostPaths{"/no-prefix", {}, {}}, folders);
            QFAIL("the pattern must be refused");
        } catch (const RuntimeError &error) {
            QCOMPARE(error.error().kind, kind);
        }
    }
};

QTEST_GUILESS_MAIN(TestListing)
#include "tst_listing.moc"
