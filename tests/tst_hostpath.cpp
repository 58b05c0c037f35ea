// SPDX-License-Identifier: GPL-3.0-or-later
#include "runtime/error.h"
#include "runtime/hostfilesystem.h"
#include "runtime/hostpath.h"
#include "testsupport.h"

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

    // A relative path starts at the host's current folder, which need not exist to split.
    void splitting_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("components");
        QTest::addColumn<bool>("absolute");
        QTest::addColumn<bool>("trailing");
        QTest::newRow("backslashes")
            << u"\\games\\Ortana\\"_s << QStringList{u"games"_s, u"Ortana"_s} << true << true;
        QTest::newRow("mixed and doubled")
            << u"/games\\\\/Ortana//maps"_s << QStringList{u"games"_s, u"Ortana"_s, u"maps"_s}
            << true << false;
        QTest::newRow("backslash then slash")
            << u"/g\\/a0.dta"_s << QStringList{u"g"_s, u"a0.dta"_s} << true << false;
        QTest::newRow("relative") << u"maps\\x.bmp"_s << QStringList{u"maps"_s, u"x.bmp"_s} << false
                                  << false;
        QTest::newRow("empty") << QString() << QStringList{} << false << false;
    }
    void splitting()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, components);
        QFETCH(bool, absolute);
        QFETCH(bool, trailing);
        const HostPaths host{"/no-prefix", "/home/alex/Игры", {}};
        const SplitPath split = splitPath(path, host);
        QCOMPARE(split.components, components);
        QCOMPARE(split.root, absolute ? QByteArray("/") : host.currentFolder);
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
    }

    void errors_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<ErrorKind>("kind");
        QTest::addColumn<QString>("detail");
        QTest::newRow("nul") << u"/tmp/a"_s + QChar(0) + u"b"_s << ErrorKind::NulInPath
                             << QString();
        QTest::newRow("unready drive") << u"q:\\Games"_s << ErrorKind::DriveNotReady << u"Q"_s;
        QTest::newRow("relative without a current folder")
            << u"maps\\x.bmp"_s << ErrorKind::NoCurrentFolder << QString();
        QTest::newRow("name too long")
            << u"/"_s + QString(300, u'a') << ErrorKind::NameTooLong << QString(300, u'a');
        // 128 Cyrillic letters are 256 bytes: one too many.
        QTest::newRow("name too long in bytes")
            << u"/"_s + QString(128, u'Ж') << ErrorKind::NameTooLong << QString(128, u'Ж');
    }
    void errors()
    {
        QFETCH(QString, path);
        QFETCH(ErrorKind, kind);
        QFETCH(QString, detail);
        if (QTest::currentDataTag() == "name too long in bytes"_ba)
            SKIP_UNLESS_POSIX("names counted in bytes");
        try {
            FolderIndex folders(m_files);
            resolveExisting(path, HostPaths{"/no-prefix", {}, {}}, folders);
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
