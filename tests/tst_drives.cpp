// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/drives.h"
#include "runtime/error.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "testsupport.h"

#include <QFileInfo>
#include <cerrno>

using namespace Qt::StringLiterals;

class TestDrives : public QObject
{
    Q_OBJECT

    runtime::HostFileSystem m_files;

private slots:
    void userFileSystems_data()
    {
        QTest::addColumn<QString>("root");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<bool>("shown");
        QTest::newRow("root disk") << u"/"_s << QByteArray("ext4") << true;
        QTest::newRow("home") << u"/home"_s << QByteArray("btrfs") << true;
        QTest::newRow("removable under /media")
            << u"/media/alex/USB"_s << QByteArray("vfat") << true;
        QTest::newRow("removable under /run/media")
            << u"/run/media/alex/Игры"_s << QByteArray("exfat") << true;
        QTest::newRow("network share") << u"/mnt/share"_s << QByteArray("cifs") << true;
        QTest::newRow("/runner is no /run") << u"/runner"_s << QByteArray("ext4") << true;
        QTest::newRow("proc") << u"/proc"_s << QByteArray("proc") << false;
        QTest::newRow("cgroup") << u"/sys/fs/cgroup"_s << QByteArray("cgroup2") << false;
        QTest::newRow("/run") << u"/run"_s << QByteArray("tmpfs") << false;
        QTest::newRow("user runtime") << u"/run/user/1000"_s << QByteArray("tmpfs") << false;
        QTest::newRow("memory anywhere") << u"/mnt/ram"_s << QByteArray("tmpfs") << false;
        QTest::newRow("snap image") << u"/snap/core/1"_s << QByteArray("squashfs") << false;
    }
    void userFileSystems()
    {
        SKIP_UNLESS_POSIX("Linux's mounts and their types");
        QFETCH(QString, root);
        QFETCH(QByteArray, type);
        QFETCH(bool, shown);
        if constexpr (testhost::posix) // Windows' drives have no types to tell apart
            QCOMPARE(runtime::isUserFileSystem(root, type), shown);
    }

    void driveOfFolder_data()
    {
        QTest::addColumn<bool>("windows"); // Windows' style, else POSIX'
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("roots");
        QTest::addColumn<QString>("drive");
        const QStringList roots = {u"/"_s, u"/home"_s, u"/media/usb"_s};
        QTest::newRow("root itself") << false << u"/"_s << roots << u"/"_s;
        QTest::newRow("inside root") << false << u"/usr/share"_s << roots << u"/"_s;
        QTest::newRow("drive itself") << false << u"/home"_s << roots << u"/home"_s;
        QTest::newRow("inside drive") << false << u"/home/alex/Игры"_s << roots << u"/home"_s;
        QTest::newRow("longer name is no child") << false << u"/media/usb2/x"_s << roots << u"/"_s;
        QTest::newRow("deepest wins") << false << u"/media/usb/a"_s << roots << u"/media/usb"_s;
        QTest::newRow("no root holds it")
            << false << u"/home/a"_s << QStringList{u"/media/usb"_s} << QString();
        QTest::newRow("two slashes, POSIX") << false << u"//nas/games"_s << roots << u"/"_s;
        const QStringList drives = {u"C:/"_s, u"D:/"_s};
        QTest::newRow("drive's folder") << true << u"D:/Игры/Ortana"_s << drives << u"D:/"_s;
        QTest::newRow("share's folder")
            << true << u"//nas/Игры/Ortana"_s << drives << u"//nas/Игры/"_s;
        QTest::newRow("share itself") << true << u"//nas/games"_s << drives << u"//nas/games/"_s;
        QTest::newRow("share's root") << true << u"//nas/games/"_s << drives << u"//nas/games/"_s;
        QTest::newRow("server alone") << true << u"//nas/"_s << drives << QString();
    }
    void driveOfFolder()
    {
        QFETCH(bool, windows);
        QFETCH(QString, folder);
        QFETCH(QStringList, roots);
        QFETCH(QString, drive);
        const auto style = windows ? runtime::PathStyle::Windows : runtime::PathStyle::Posix;
        QCOMPARE(runtime::driveRootOf(folder, roots, style), drive);
    }

    // This machine's drives: the root (the system's drive on Windows) first among them, each a
    // folder, none of the kernel's.
    void machineDrives()
    {
        const QList<runtime::Drive> drives = runtime::drives();
        QStringList roots;
        for (const runtime::Drive &drive : drives) {
            QVERIFY2(QFileInfo(drive.root).isDir(), qPrintable(drive.root));
            QVERIFY2(!drive.root.startsWith(u"/proc"_s) && !drive.root.startsWith(u"/sys"_s) &&
                         !drive.root.startsWith(u"/run/user"_s),
                     qPrintable(drive.root));
            roots.append(drive.root);
        }
        QCOMPARE(roots.first(), QDir::rootPath());
        QStringList sorted = roots;
        sorted.sort();
        sorted.removeDuplicates();
        QCOMPARE(roots, sorted);
    }

    // Folders and links to folders, hidden ones too, case-blind in order; no files.
    void subfolders()
    {
        TempTree tree;
        tree.dir(u"b"_s);
        tree.dir(u"A"_s);
        tree.dir(u".wine"_s);
        tree.dir(u"Игры"_s);
        tree.dir(u"игры2"_s);
        tree.file(u"file.txt"_s);
        QStringList names{u".wine"_s, u"A"_s, u"b"_s, u"Игры"_s, u"игры2"_s};
        // Where the host has them: names that differ only in case, links, and a name that
        // is no UTF-8, which survives the trip into the list and back.
        const QString oddName = runtime::decodeName("odd\xff");
        const QString oddFolder = runtime::childPath(tree.path(), oddName);
        if (testhost::posix) {
            tree.dir(u"a"_s);
            tree.link(tree.hostPath("b"), "link");
            tree.link(tree.hostPath("file.txt"), "filelink");
            tree.link(tree.hostPath("missing"), "dangling");
            QCOMPARE(m_files.makeFolder(runtime::encodeName(oddFolder), 0777), 0);
            names = QStringList{u".wine"_s, u"A"_s,  u"a"_s,    u"b"_s,
                                u"link"_s,  oddName, u"Игры"_s, u"игры2"_s};
            QVERIFY(runtime::subfolders(m_files, oddFolder).isEmpty());
        }

        QCOMPARE(runtime::subfolders(m_files, tree.path()), names);
        QCOMPARE(runtime::childPath(u"/"_s, u"x"_s), u"/x"_s);
    }

    void unreadableFolders_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<int>("code");
        QTest::newRow("missing") << u"missing"_s << ENOENT;
        QTest::newRow("a file") << u"file.txt"_s << ENOTDIR;
    }
    void unreadableFolders()
    {
        QFETCH(QString, relative);
        QFETCH(int, code);
        TempTree tree;
        tree.file(u"file.txt"_s);
        try {
            runtime::subfolders(m_files, tree.path(relative));
            QFAIL("no error");
        } catch (const runtime::RuntimeError &error) {
            QCOMPARE(error.error().kind, runtime::ErrorKind::System);
            QCOMPARE(error.error().code, code);
            QCOMPARE(error.error().path, tree.path(relative));
        }
    }
};

QTEST_MAIN(TestDrives)
#include "tst_drives.moc"
