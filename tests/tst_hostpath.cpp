// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/error.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "testsupport.h"

#include <QScopeGuard>

using namespace Qt::StringLiterals;
using namespace runtime;

class TestHostPath : public QObject
{
    Q_OBJECT

    HostFileSystem m_files;

private slots:
    void nameRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QByteArray("Models");
        QTest::newRow("utf8 cyrillic") << QByteArray("Машина.bmp");
        QTest::newRow("utf8 astral") << QByteArray("car\xF0\x9F\x9A\x97.tga");
        QTest::newRow("cp1251 bytes") << QByteArray("\xCC\xE0\xF8\xE8\xED\xE0.bmp");
        QTest::newRow("truncated sequence") << QByteArray("a\xD0");
        QTest::newRow("overlong") << QByteArray("\xC0\xAF.bmp");
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80x");
    }
    void nameRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        const QString name = decodeName(bytes);
        QCOMPARE(encodeName(name), bytes);
    }

    void invalidBytesAreDistinct()
    {
        // Two names that differ only in undecodable bytes stay two names.
        QVERIFY(decodeName("\xCC.bmp") != decodeName("\xCD.bmp"));
        QCOMPARE(decodeName("Машина"), u"Машина"_s);
    }

    // A relative path starts at the host's current folder, which need not exist to split. In
    // Windows' style a share is a root of its own, as the file dialog and Explorer write it.
    void splitting_data()
    {
        QTest::addColumn<bool>("windows"); // Windows' style, else POSIX'
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("components");
        QTest::addColumn<QByteArray>("root"); // "": the current folder
        QTest::addColumn<bool>("trailing");
        QTest::newRow("backslashes") << false << u"\\games\\Ortana\\"_s
                                     << QStringList{u"games"_s, u"Ortana"_s} << "/"_ba << true;
        QTest::newRow("mixed and doubled")
            << false << u"/games\\\\/Ortana//maps"_s
            << QStringList{u"games"_s, u"Ortana"_s, u"maps"_s} << "/"_ba << false;
        QTest::newRow("backslash then slash")
            << false << u"/g\\/a0.dta"_s << QStringList{u"g"_s, u"a0.dta"_s} << "/"_ba << false;
        QTest::newRow("relative") << false << u"maps\\x.bmp"_s << QStringList{u"maps"_s, u"x.bmp"_s}
                                  << QByteArray() << false;
        QTest::newRow("empty") << false << QString() << QStringList{} << QByteArray() << false;
        QTest::newRow("two slashes, POSIX")
            << false << u"//nas/games/Ortana"_s << QStringList{u"nas"_s, u"games"_s, u"Ortana"_s}
            << "/"_ba << false;
        QTest::newRow("devices' names, POSIX")
            << false << u"/CON/aux.txt/a:b"_s << QStringList{u"CON"_s, u"aux.txt"_s, u"a:b"_s}
            << "/"_ba << false;
        QTest::newRow("share") << true << u"\\\\nas\\games\\Ortana"_s << QStringList{u"Ortana"_s}
                               << "//nas/games/"_ba << false;
        QTest::newRow("share, the dialog's slashes")
            << true << u"//nas/Игры/Ortana/"_s << QStringList{u"Ortana"_s} << "//nas/Игры/"_ba
            << true;
        QTest::newRow("share's root")
            << true << u"\\\\nas\\games"_s << QStringList{} << "//nas/games/"_ba << false;
        QTest::newRow("verbatim share")
            << true << u"\\\\?\\UNC\\nas\\games\\Ortana\\maps\\"_s
            << QStringList{u"Ortana"_s, u"maps"_s} << "//nas/games/"_ba << true;
        QTest::newRow("one backslash, Windows")
            << true << u"\\games\\Ortana"_s << QStringList{u"games"_s, u"Ortana"_s} << "/"_ba
            << false;
        QTest::newRow("trailing dots and spaces kept")
            << true << u"\\\\nas\\games\\Ortana. \\car.4ds."_s
            << QStringList{u"Ortana. "_s, u"car.4ds."_s} << "//nas/games/"_ba << false;
        QTest::newRow("near devices' names")
            << true << u"/CONSOLE/COM0/LPT10/nul_x/a.con/con2.aux"_s
            << QStringList{u"CONSOLE"_s, u"COM0"_s,  u"LPT10"_s,
                           u"nul_x"_s,   u"a.con"_s, u"con2.aux"_s}
            << "/"_ba << false;
    }
    void splitting()
    {
        QFETCH(bool, windows);
        QFETCH(QString, path);
        QFETCH(QStringList, components);
        QFETCH(QByteArray, root);
        QFETCH(bool, trailing);
        HostPaths host{"/no-prefix", "/home/alex/Игры", {}};
        host.style = windows ? PathStyle::Windows : PathStyle::Posix;
        const SplitPath split = splitPath(path, host);
        QCOMPARE(split.components, components);
        QCOMPARE(split.root, root.isEmpty() ? host.currentFolder : root);
        QCOMPARE(split.trailingSeparator, trailing);
    }

    // A drive letter, in either case, stands for the drive's folder in the Wine prefix.
    void driveLetters()
    {
        SKIP_UNLESS_POSIX("Wine's drive letters");
        TempTree prefix;
        prefix.dir(u"drive_c/Games/Ortana"_s);
        prefix.dir(u"dosdevices"_s);
        QVERIFY(QFile::link(prefix.path(u"drive_c"_s), prefix.path(u"dosdevices/c:"_s)));
        const HostPaths host{prefix.root, {}, {}};
        const QByteArray ortana = prefix.hostPath("dosdevices/c:/Games/Ortana");
        FolderIndex folders(m_files);
        QCOMPARE(resolveExisting(u"C:\\GAMES\\ortana"_s, host, folders), ortana);
        QCOMPARE(resolveExisting(u"c:/games/Ortana"_s, host, folders), ortana);
        // In Windows' style, the verbatim form of the same path.
        HostPaths windows = host;
        windows.style = PathStyle::Windows;
        QCOMPARE(resolveExisting(u"\\\\?\\c:\\GAMES\\ortana"_s, windows, folders), ortana);
    }

    void errors_data()
    {
        QTest::addColumn<bool>("windows"); // Windows' style, else POSIX'
        QTest::addColumn<QString>("path");
        QTest::addColumn<ErrorKind>("kind");
        QTest::addColumn<QString>("detail");
        QTest::newRow("nul") << false << u"/tmp/a"_s + QChar(0) + u"b"_s << ErrorKind::NulInPath
                             << QString();
        QTest::newRow("unready drive")
            << false << u"q:\\Games"_s << ErrorKind::DriveNotReady << u"Q"_s;
        QTest::newRow("relative without a current folder")
            << false << u"maps\\x.bmp"_s << ErrorKind::NoCurrentFolder << QString();
        QTest::newRow("name too long")
            << false << u"/"_s + QString(300, u'a') << ErrorKind::NameTooLong << QString(300, u'a');
        // 128 Cyrillic letters are 256 bytes: one too many.
        QTest::newRow("name too long in bytes")
            << false << u"/"_s + QString(128, u'Ж') << ErrorKind::NameTooLong << QString(128, u'Ж');
        // The drive's current folder, on any host.
        QTest::newRow("drive without its root")
            << false << u"C:Games\\Ortana"_s << ErrorKind::NoRoot << QString();
        QTest::newRow("drive without its root, Windows")
            << true << u"c:Games"_s << ErrorKind::NoRoot << QString();
        QTest::newRow("server alone") << true << u"\\\\nas"_s << ErrorKind::NoRoot << QString();
        QTest::newRow("share without a name")
            << true << u"//nas//games"_s << ErrorKind::NoRoot << QString();
        QTest::newRow("device's namespace")
            << true << u"\\\\.\\C:\\Games"_s << ErrorKind::NoRoot << QString();
        QTest::newRow("verbatim, the dialog's slashes")
            << true << u"//?/C:/Games"_s << ErrorKind::NoRoot << QString();
        QTest::newRow("verbatim volume")
            << true << u"\\\\?\\Volume{1}\\Games"_s << ErrorKind::NoRoot << QString();
        QTest::newRow("verbatim share without its name")
            << true << u"\\\\?\\UNC\\nas"_s << ErrorKind::NoRoot << QString();
        QTest::newRow("a file's stream") << true << u"\\\\nas\\games\\car.4ds:Zone.Identifier"_s
                                         << ErrorKind::ReservedName << u"car.4ds:Zone.Identifier"_s;
        QTest::newRow("console") << true << u"/Games/con"_s << ErrorKind::ReservedName << u"con"_s;
        QTest::newRow("device with extensions")
            << true << u"/Games/Nul.tar.gz/x"_s << ErrorKind::ReservedName << u"Nul.tar.gz"_s;
        QTest::newRow("device, spaces before the extension")
            << true << u"/Games/AUX .txt"_s << ErrorKind::ReservedName << u"AUX .txt"_s;
        QTest::newRow("port") << true << u"/Games/com1"_s << ErrorKind::ReservedName << u"com1"_s;
        QTest::newRow("printer port")
            << true << u"/Games/LPT9.bmp"_s << ErrorKind::ReservedName << u"LPT9.bmp"_s;
        QTest::newRow("port, superscript")
            << true << u"/Games/COM\u00B2"_s << ErrorKind::ReservedName << u"COM\u00B2"_s;
        QTest::newRow("printer") << true << u"prn"_s << ErrorKind::ReservedName << u"prn"_s;
    }
    void errors()
    {
        QFETCH(bool, windows);
        QFETCH(QString, path);
        QFETCH(ErrorKind, kind);
        QFETCH(QString, detail);
        if (QTest::currentDataTag() == "name too long in bytes"_ba)
            SKIP_UNLESS_POSIX("names counted in bytes");
        HostPaths host{"/no-prefix", {}, {}};
        host.style = windows ? PathStyle::Windows : PathStyle::Posix;
        if (kind == ErrorKind::ReservedName)
            host.currentFolder = "/home/alex";
        try {
            FolderIndex folders(m_files);
            resolveExisting(path, host, folders);
            QFAIL("the path must be refused");
        } catch (const RuntimeError &error) {
            QCOMPARE(error.error().kind, kind);
            QCOMPARE(error.error().detail, detail);
        }
    }

    void caseBlindLookup()
    {
        FolderIndex folders(m_files);
        TempTree tree;
        tree.file(u"Game/MODELS/m00.4ds"_s);
        tree.file(u"Game/Maps/Текстура.BMP"_s);
        tree.file(u"Game/Maps/CAR_É_1.BMP"_s); // one letter not ASCII among ASCII ones
        const auto resolved = [&](const QString &path) {
            return resolveExisting(tree.path() + path, HostPaths(), folders);
        };

        // Where the host's names are case-blind, the name may be found as typed.
        QCOMPARE(hostPathKey(findEntry(tree.root, u"game"_s, folders)), hostPathKey("Game"));
        QCOMPARE(findEntry(tree.root, u"Game"_s, folders), QByteArray("Game"));
        QCOMPARE(hostPathKey(resolved(u"\\game\\models\\M00.4DS"_s)),
                 hostPathKey(tree.hostPath("Game/MODELS/m00.4ds")));
        // Cyrillic letters fold too, not only ASCII.
        QCOMPARE(hostPathKey(resolved(u"/GAME/maps/ТЕКСТУРА.bmp"_s)),
                 hostPathKey(tree.hostPath("Game/Maps/Текстура.BMP")));
        QCOMPARE(hostPathKey(resolved(u"/GAME/maps/car_é_1.bmp"_s)),
                 hostPathKey(tree.hostPath("Game/Maps/CAR_É_1.BMP")));
        QVERIFY(!resolved(u"/GAME/maps/car_e_1.bmp"_s));
        QVERIFY(!resolved(u"/game/nothing/m00.4ds"_s));
        QVERIFY(!resolved(u"/game/models/m00.4ds/x"_s));
        QCOMPARE(hostPathKey(resolved(u"/game/models/../maps"_s)),
                 hostPathKey(tree.hostPath("Game/MODELS/../Maps")));
        // "." and ".." name a folder only where there is one; Windows takes them from the
        // letters of the path, whatever is there.
        if (testhost::posix) {
            QVERIFY(!resolved(u"/game/models/m00.4ds/.."_s));
            QVERIFY(!resolved(u"/game/models/m00.4ds/."_s));
        }
        QVERIFY(!resolved(u"/game/nothing/.."_s));

        // Windows' verbatim form, and a share: each its own root.
        if (hostPathStyle() != PathStyle::Windows)
            return;
        const QString verbatim = u"\\\\?\\"_s + QDir::toNativeSeparators(tree.path());
        QCOMPARE(hostPathKey(resolveExisting(verbatim + u"\\game\\models\\M00.4DS"_s, HostPaths(),
                                             folders)),
                 hostPathKey(tree.hostPath("Game/MODELS/m00.4ds")));
        const QByteArray share = testhost::makeShare("nas", "games");
        if (share.isEmpty())
            QSKIP("no share of this machine can be made here");
        const auto removeShare = qScopeGuard([&] { host::removeTree(share); });
        host::write(share + "/Ortana/Maps/Текстура.BMP", "x");
        for (const QString &path : {u"\\\\nas\\games\\ortana\\MAPS\\текстура.bmp"_s,
                                    u"//NAS/Games/Ortana/maps/ТЕКСТУРА.BMP"_s,
                                    u"\\\\?\\UNC\\nas\\games\\Ortana\\Maps\\Текстура.BMP"_s}) {
            QCOMPARE(hostPathKey(resolveExisting(path, HostPaths(), folders)),
                     hostKey(u"//nas/games/Ortana/Maps/Текстура.BMP"_s));
        }
        QVERIFY(!resolveExisting(u"\\\\nas\\games\\Ortana\\nothing.bmp"_s, HostPaths(), folders));
    }

    // A folder whose listing takes the kernel several reads.
    void largeFolder()
    {
        FolderIndex folders(m_files);
        TempTree tree;
        const QString name = u"Texture_of_a_car_with_a_long_name_%1.BMP"_s;
        for (int i = 0; i < 2500; ++i)
            QFile(tree.path(name.arg(i))).open(QIODevice::WriteOnly);
        for (int i : {0, 1234, 2499}) {
            QCOMPARE(hostPathKey(findEntry(tree.root, name.arg(i).toLower(), folders)),
                     hostKey(name.arg(i)));
        }
        QCOMPARE(folders.entries(tree.root)->size(), std::size_t(2500));
    }

    void ambiguousNames()
    {
        SKIP_UNLESS_POSIX("names that differ only in case side by side");
        FolderIndex folders(m_files);
        TempTree tree;
        tree.dir(u"Models"_s);
        tree.dir(u"MODELS"_s);
        // An exact match wins over the case-blind ones.
        tree.dir(u"MoDeLs"_s);
        QCOMPARE(findEntry(tree.root, u"MoDeLs"_s, folders), QByteArray("MoDeLs"));
        try {
            findEntry(tree.root, u"models"_s, folders);
            QFAIL("an ambiguous name must be an error");
        } catch (const RuntimeError &error) {
            QCOMPARE(error.error().kind, ErrorKind::AmbiguousName);
            QCOMPARE(error.error().detail, u"models"_s);
            QCOMPARE(error.error().path, tree.path());
        }
    }
};

QTEST_GUILESS_MAIN(TestHostPath)
#include "tst_hostpath.moc"
