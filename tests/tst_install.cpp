#include "installfixture.h"

#include <cerrno>
#include <memory>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using runtime::testing::Fault;
using runtime::testing::FaultOp;

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(u"Quillmere"_s); }

    void workedExample()
    {
        Game g;
        g.tick({1, 3});
        g.install();
        QVERIFY(g.succeeded());
        const QString m = u"models\\"_s;
        QCOMPARE(g.progress.files.first(4),
                 (QStringList{m + u"bolt00.4ds"_s, m + u"bolt10.4ds"_s, m + u"bolt02.4ds"_s,
                              m + u"bolt12.4ds"_s}));
        QCOMPARE(g.gameEntries(),
                 (QStringList{u"a0.dta"_s, u"maps"_s, u"maps/body.bmp"_s, u"maps/glass.tga"_s,
                              u"maps/readme.txt"_s, u"maps/road.bmp"_s, u"models"_s,
                              u"models/bolt00.4ds"_s, u"models/bolt02.4ds"_s,
                              u"models/bolt10.4ds"_s, u"models/bolt12.4ds"_s}));
        for (const QString &f : {u"bolt00"_s, u"bolt10"_s, u"bolt02"_s, u"bolt12"_s})
            QCOMPARE(g.game(u"models/"_s + f + u".4ds"_s), QByteArray("new model"));
        QCOMPARE(g.game(u"maps/body.bmp"_s), QByteArray("body"));
        QCOMPARE(g.game(u"maps/readme.txt"_s), QByteArray("notes"));
        QCOMPARE(g.game(u"maps/road.bmp"_s), QByteArray("stock road"));
        // Progress counts every file, with the total known from the start.
        QCOMPARE(g.progress.steps.size(), 7);
        QCOMPARE(g.progress.steps.first(), (QPair<int, int>(0, 7)));
        QCOMPARE(g.progress.steps.last(), (QPair<int, int>(6, 7)));
    }

    void colourCounts_data()
    {
        QTest::addColumn<QString>("colours");
        QTest::addColumn<QStringList>("models"); // the model files written, in order
        QTest::newRow("none") << u"0"_s << QStringList{};
        QTest::newRow("negative") << u"-2"_s << QStringList{};
        QTest::newRow("one of four ticked") << u"1"_s << QStringList{u"bolt00"_s, u"bolt10"_s};
        QTest::newRow("five") << u"5"_s
                              << QStringList{u"bolt00"_s, u"bolt10"_s, u"bolt03"_s, u"bolt13"_s};
        QTest::newRow("many") << u"32767"_s
                              << QStringList{u"bolt00"_s, u"bolt10"_s, u"bolt03"_s, u"bolt13"_s};
    }
    void colourCounts()
    {
        QFETCH(QString, colours);
        QFETCH(QStringList, models);
        Game g;
        g.car(0, u"Bolt"_s, u"bolt"_s, colours);
        g.tick({1, 4});
        g.install();
        QVERIFY(g.succeeded());
        QStringList written;
        for (const QString &file : g.progress.files)
            if (file.startsWith(u"models\\"_s))
                written.append(file.mid(7).chopped(4));
        QCOMPARE(written, models);
        QCOMPARE(g.game(u"maps/glass.tga"_s), QByteArray("glass")); // textures always go in
    }

    void createsMissingFolders()
    {
        Game g;
        QVERIFY(QDir(g.tree.path(u"Game/models"_s)).removeRecursively());
        QVERIFY(QDir(g.tree.path(u"Game/maps"_s)).removeRecursively());
        g.tick({2});
        g.install();
        QVERIFY(g.succeeded());
        QCOMPARE(g.gameEntries(),
                 (QStringList{u"MODELS"_s, u"MODELS/bolt01.4ds"_s, u"MODELS/bolt11.4ds"_s,
                              u"a0.dta"_s, u"maps"_s, u"maps/body.bmp"_s, u"maps/glass.tga"_s,
                              u"maps/readme.txt"_s}));
    }

    void emptyFoldersAreUsed()
    {
        Game g;
        QVERIFY(QFile::remove(g.tree.path(u"Game/models/bolt00.4ds"_s)));
        QVERIFY(QFile::remove(g.tree.path(u"Game/models/bolt10.4ds"_s)));
        QVERIFY(QFile::remove(g.tree.path(u"Game/maps/road.bmp"_s)));
        g.tick({1});
        g.install();
        QVERIFY(g.succeeded()); // the creation attempts find the folders there: no failure
        QCOMPARE(g.game(u"models/bolt00.4ds"_s), QByteArray("new model"));
        QCOMPARE(g.game(u"maps/body.bmp"_s), QByteArray("body"));
    }

    void mixedCaseGameFolder()
    {
        Game g;
        QVERIFY(QDir(g.tree.path(u"Game"_s)).rename(u"models"_s, u"MODELS"_s));
        QVERIFY(QDir(g.tree.path(u"Game"_s)).rename(u"maps"_s, u"Maps"_s));
        QVERIFY(QFile::rename(g.tree.path(u"Game/MODELS/bolt00.4ds"_s),
                              g.tree.path(u"Game/MODELS/BOLT00.4DS"_s)));
        g.tree.file(u"Game/Maps/BODY.BMP"_s, "stock body");
        g.form.text1 = g.tree.path(u"GAME"_s);
        g.tick({1});
        g.install();
        QVERIFY(g.succeeded());
        QCOMPARE(g.gameEntries(),
                 (QStringList{u"MODELS"_s, u"MODELS/BOLT00.4DS"_s, u"MODELS/bolt10.4ds"_s,
                              u"Maps"_s, u"Maps/BODY.BMP"_s, u"Maps/glass.tga"_s,
                              u"Maps/readme.txt"_s, u"Maps/road.bmp"_s, u"a0.dta"_s}));
        QCOMPARE(g.game(u"MODELS/BOLT00.4DS"_s), QByteArray("new model"));
        QCOMPARE(g.game(u"Maps/BODY.BMP"_s), QByteArray("body"));
    }

    // Names that differ only in case are one file in the game folder, as the game sees it:
    // the first is installed and the second reported, never put over it unsaid.
    void oneSpellingPerFile()
    {
        Game g;
        g.tree.file(u"new/Maps/SKIN.BMP"_s, "upper");
        g.tree.file(u"new/Maps/skin.bmp"_s, "lower");
        g.tick({1});
        g.install();
        const QStringList skins = g.gameEntries().filter(u"skin"_s, Qt::CaseInsensitive);
        QCOMPARE(skins, QStringList{u"maps/SKIN.BMP"_s});
        QCOMPARE(g.game(skins.first()), QByteArray("upper"));
        QCOMPARE(g.message().text, messages::PartlyInstalled + u"\n\n"_s + messages::NotWritten +
                                       u"\n"_s + u"maps\\skin.bmp — "_s +
                                       messages::SameNameAs.arg(u"SKIN.BMP"_s) + u"\n\n"_s +
                                       messages::FilesWritten.arg(6));
    }

    void installTwice()
    {
        Game g;
        g.tick({1, 2, 3});
        g.install();
        const QStringList first = g.gameEntries();
        g.install();
        QCOMPARE(g.boxes.shown.size(), 2);
        QCOMPARE(g.boxes.shown[1].text, messages::Installed);
        QCOMPARE(g.gameEntries(), first);
        QCOMPARE(g.game(u"models/bolt12.4ds"_s), QByteArray("new model"));
    }

    void replacedFileKeepsItsMode()
    {
        Game g;
        QVERIFY(::chmod(QFile::encodeName(g.tree.path(u"Game/models/bolt00.4ds"_s)).constData(),
                        0640) == 0);
        g.tick({1});
        g.install();
        QVERIFY(g.succeeded());
        struct stat st;
        QCOMPARE(
            ::stat(QFile::encodeName(g.tree.path(u"Game/models/bolt00.4ds"_s)).constData(), &st),
            0);
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
        QCOMPARE(g.game(u"models/bolt00.4ds"_s), QByteArray("new model"));
    }

    void copyOntoItself()
    {
        // The Maps folder is the game's maps folder; the model file is one of its targets.
        Game g;
        g.form.text3 = g.tree.path(u"game\\MAPS"_s);
        g.form.text2 = g.tree.path(u"Game/models/bolt00.4ds"_s);
        g.tick({1});
        g.install();
        QVERIFY(g.succeeded());
        QCOMPARE(g.game(u"models/bolt00.4ds"_s), QByteArray("stock 00"));
        QCOMPARE(g.game(u"models/bolt10.4ds"_s), QByteArray("stock 00"));
        QCOMPARE(g.game(u"maps/road.bmp"_s), QByteArray("stock road"));
        QCOMPARE(g.gameEntries().size(), 6);

        // The same file through a link.
        Game l;
        QVERIFY(QFile::link(l.tree.path(u"Game/maps"_s), l.tree.path(u"new/linked"_s)));
        l.form.text3 = l.tree.path(u"new/linked"_s);
        l.tick({1});
        l.install();
        QVERIFY(l.succeeded());
        QCOMPARE(l.game(u"maps/road.bmp"_s), QByteArray("stock road"));
    }

    void longFailureListIsCut()
    {
        Game g;
        for (int i = 0; i < 14; ++i)
            g.tree.file(u"new/Maps/t%1.bmp"_s.arg(i, 2, 10, QChar(u'0')));
        g.tick({1});
        QList<Fault> faults;
        for (int i = 0; i < 14; ++i)
            faults.append({FaultOp::Write, ENOSPC, 0, u"t%1.bmp"_s.arg(i, 2, 10, QChar(u'0'))});
        {
            FaultScope scope(faults);
            g.install();
        }
        const QStringList lines = g.message().text.split(u'\n');
        QCOMPARE(lines.filter(u"нет места на диске"_s).size(), 10);
        QVERIFY(lines.contains(messages::AndMore.arg(4)));
        QVERIFY(lines.contains(messages::FilesWritten.arg(5)));
        QCOMPARE(g.game(u"maps/body.bmp"_s), QByteArray("body"));
    }

    void folderCreationFailure()
    {
        Game g;
        QVERIFY(QDir(g.tree.path(u"Game/maps"_s)).removeRecursively());
        g.tick({1});
        {
            FaultScope faults({Fault{FaultOp::MakeFolder, EACCES, 0, u"maps"_s}});
            g.install();
        }
        QCOMPARE(g.game(u"models/bolt00.4ds"_s), QByteArray("new model"));
        const QString text = g.message().text;
        QVERIFY2(text.startsWith(messages::PartlyInstalled), qPrintable(text));
        QVERIFY2(text.contains(u"maps — нет доступа"_s), qPrintable(text));
        QVERIFY2(text.contains(u"maps\\body.bmp — папка назначения не найдена"_s),
                 qPrintable(text));
        QVERIFY2(text.contains(messages::FilesWritten.arg(2)), qPrintable(text));
    }

    void sourceVanishes()
    {
        Game g;
        g.tick({1});
        g.form.text2 = g.tree.path(u"new/*.4ds"_s); // passes the check, names no one file
        g.install();
        QVERIFY2(g.message().text.contains(u"models\\bolt00.4ds — исходный файл не найден"_s),
                 qPrintable(g.message().text));
        QCOMPARE(g.game(u"models/bolt00.4ds"_s), QByteArray("stock 00"));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
