// Faults while an install writes: each breaks one model file's copy or one texture's, the
// creation of a folder or the flush of one. Whatever breaks, the file keeps its old bytes,
// no temporary file is left, every other copy still happens, and the outcome names exactly
// what was not written. Temporary files that an earlier install left are cleared away,
// those of a running one never.
#include "installfixture.h"

#include <QDirIterator>
#include <QProcess>
#include <cerrno>
#include <thread>

using runtime::testing::Fault;
using runtime::testing::FaultOp;
using NotWritten = InstallOutcome::NotWritten;

namespace {

enum class Kind
{
    Injected, // the file service fails on demand
    Folder,   // the destination is a folder
    Vanished, // the source is removed between the checks and its copy
    ReadOnly, // the player made the destination read-only
};

// The files the fixture's install writes, named from the game folder, and what each holds
// afterwards when it is written.
const QList<QPair<QByteArray, QByteArray>> written = {
    {"models/wren00.4ds", "new model"},
    {"models/wren10.4ds", "new model"},
    {"maps/body.bmp", Game::content("body.bmp")},
    {"maps/glass.tga", Game::content("glass.tga")},
    {"maps/readme.txt", Game::content("readme.txt")},
    {"maps/road.bmp", "new roads"},
};

QStringList temporaryFiles(const QString &folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.contains(u".quillmere-"_s))
            found.append(path);
    }
    found.sort();
    return found;
}

QString shown(const QByteArray &file)
{
    return QString::fromUtf8(file).replace(u'/', u'\\');
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void matrix_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("error");
        QTest::addColumn<qint64>("atByte");
        QTest::addColumn<QByteArray>("target"); // the file that breaks, from the game folder
        QTest::addColumn<QString>("reason");

        struct Row
        {
            const char *name;
            Kind kind;
            FaultOp op;
            int error;
            qint64 atByte;
            QString reason;
        };
        const Row rows[] = {
            {"disk full at the first byte", Kind::Injected, FaultOp::Write, ENOSPC, 0,
             u"нет места на диске"_s},
            {"disk full at the last byte", Kind::Injected, FaultOp::Write, ENOSPC, 8,
             u"нет места на диске"_s},
            {"read error", Kind::Injected, FaultOp::Read, EIO, 3, u"ошибка ввода-вывода"_s},
            {"source cannot be opened", Kind::Injected, FaultOp::OpenSource, EACCES, 0,
             u"нет доступа"_s},
            {"permission denied", Kind::Injected, FaultOp::CreateTemp, EACCES, 0, u"нет доступа"_s},
            {"quota at flush", Kind::Injected, FaultOp::Sync, EDQUOT, 0,
             u"превышена дисковая квота"_s},
            {"read-only at rename", Kind::Injected, FaultOp::Rename, EROFS, 0,
             u"диск доступен только для чтения"_s},
            {"destination is a folder", Kind::Folder, FaultOp::Write, 0, 0,
             u"это папка, а не файл"_s},
            {"read-only, also for root", Kind::ReadOnly, FaultOp::Write, 0, 0,
             u"файл только для чтения"_s},
            {"write refused by the system", Kind::Injected, FaultOp::Access, EACCES, 0,
             u"файл только для чтения"_s},
            {"source vanishes", Kind::Vanished, FaultOp::Write, 0, 0, u"исходный файл не найден"_s},
        };
        for (const Row &row : rows) {
            for (const char *target : {"models/wren00.4ds", "maps/road.bmp"}) {
                QTest::addRow("%s: %s", row.name, target)
                    << int(row.kind) << int(row.op) << row.error << row.atByte << QByteArray(target)
                    << row.reason;
            }
        }
    }
    void matrix()
    {
        QFETCH(int, kind);
        QFETCH(int, op);
        QFETCH(int, error);
        QFETCH(qint64, atByte);
        QFETCH(QByteArray, target);
        QFETCH(QString, reason);

        Game g;
        g.tick({1});
        g.file("new/Maps/road.bmp", "new roads"); // as long as the model file
        const QByteArray gameFile = g.hostPath("Game/" + target);
        const QByteArray before = host::read(gameFile);
        const bool model = target.startsWith("models");
        const QString fileName = QString::fromUtf8(target.mid(target.lastIndexOf('/') + 1));

        if (Kind(kind) == Kind::Injected)
            g.faults.append({FaultOp(op), error, atByte, fileName});
        if (Kind(kind) == Kind::Folder) {
            QCOMPARE(::unlink(gameFile.constData()), 0);
            QCOMPARE(::mkdir(gameFile.constData(), 0755), 0);
        }
        if (Kind(kind) == Kind::ReadOnly)
            QCOMPARE(::chmod(gameFile.constData(), 0444), 0);
        if (Kind(kind) == Kind::Vanished) {
            // Removed once the checks have passed, just before its copy.
            const QString source = model ? g.form.text2 : g.path("new/Maps/road.bmp");
            g.progress.before = [source, target](const QString &file) {
                if (file == shown(target))
                    QFile::remove(source);
            };
        }
        g.install();

        // The broken file is as it was.
        struct stat st;
        QCOMPARE(::stat(gameFile.constData(), &st), 0);
        if (Kind(kind) == Kind::Folder)
            QVERIFY(S_ISDIR(st.st_mode));
        else
            QCOMPARE(host::read(gameFile), before);
        if (Kind(kind) == Kind::ReadOnly)
            QCOMPARE(st.st_mode & 07777, mode_t(0444));
        QCOMPARE(temporaryFiles(g.tree.path()), QStringList());

        // Every other copy happened, except a vanished model file's second copy, which
        // has no source either.
        QList<NotWritten> failed{{shown(target), reason}};
        if (Kind(kind) == Kind::Vanished && model)
            failed.append({u"models\\wren10.4ds"_s, reason});
        for (const auto &[file, content] : written) {
            if (!std::any_of(failed.cbegin(), failed.cend(),
                             [&](const NotWritten &f) { return f.file == shown(file); }))
                QCOMPARE(g.game(file), content);
        }
        QCOMPARE(g.outcome.failedCheck, QString());
        QCOMPARE(g.outcome.notWritten, failed);
        QCOMPARE(g.outcome.written, 6 - int(failed.size()));
    }

    // A folder that cannot be made loses its files; one whose new names cannot be flushed
    // reports them, as they may not survive a power cut.
    void folderFaults_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("notWritten");
        const QString denied = u" — нет доступа"_s;
        const QString noFolder = u" — папка назначения не найдена"_s;
        const QString io = u" — ошибка ввода-вывода"_s;
        QTest::newRow("models not made")
            << int(FaultOp::MakeFolder) << u"MODELS"_s
            << QStringList{u"MODELS\\"_s + denied, u"models\\wren00.4ds"_s + noFolder,
                           u"models\\wren10.4ds"_s + noFolder};
        QTest::newRow("maps not made")
            << int(FaultOp::MakeFolder) << u"maps"_s
            << QStringList{u"maps"_s + denied, u"maps\\body.bmp"_s + noFolder,
                           u"maps\\glass.tga"_s + noFolder, u"maps\\readme.txt"_s + noFolder};
        QTest::newRow("models not flushed")
            << int(FaultOp::SyncFolder) << u"models"_s
            << QStringList{u"models\\wren00.4ds"_s + io, u"models\\wren10.4ds"_s + io};
        QTest::newRow("maps not flushed")
            << int(FaultOp::SyncFolder) << u"maps"_s
            << QStringList{u"maps\\body.bmp"_s + io, u"maps\\glass.tga"_s + io,
                           u"maps\\readme.txt"_s + io};
    }
    void folderFaults()
    {
        QFETCH(int, op);
        QFETCH(QString, folder);
        QFETCH(QStringList, notWritten);
        Game g;
        const bool made = FaultOp(op) == FaultOp::MakeFolder;
        if (made)
            QVERIFY(QDir(g.path("Game/" + folder.toLower().toUtf8())).removeRecursively());
        g.tick({1});
        g.faults.append({FaultOp(op), op == int(FaultOp::SyncFolder) ? EIO : EACCES, 0, folder});
        g.install();
        QStringList listed;
        for (const NotWritten &n : g.outcome.notWritten)
            listed.append(n.file + u" — "_s + n.reason);
        QCOMPARE(listed, notWritten);
        const int folderLines = made ? 1 : 0;
        QCOMPARE(g.outcome.written, 5 - int(notWritten.size()) + folderLines);
        if (made)
            QVERIFY(!QFileInfo::exists(g.path("Game/" + folder.toUtf8())));
        // The other folder's files are all there.
        if (folder == u"maps"_s)
            QCOMPARE(g.game("models/wren00.4ds"), QByteArray("new model"));
        else
            QCOMPARE(g.game("maps/body.bmp"), Game::content("body.bmp"));
        QCOMPARE(temporaryFiles(g.tree.path()), QStringList());
    }

    // What a killed install left is cleared from the folders the next one writes into;
    // what a running install holds, and every other file, stays.
    void abandonedTemporaries()
    {
        Game g;
        const QByteArrayList abandoned = {"Game/models/.quillmere-abc123.tmp",
                                          "Game/maps/.quillmere-zz9.tmp"};
        const QByteArrayList kept = {
            "Game/models/.quillmere-ABC.tmp",     "Game/models/.quillmere-.tmp",
            "Game/models/.quillmere-abc.tmp.bak", "Game/models/quillmere-abc.tmp",
            "Game/maps/.quillmere-held.tmp",      "new/Maps/.quillmere-src1.tmp"};
        for (const QByteArray &file : abandoned + kept)
            g.file(file, "half a file");

        QProcess holder; // another install, still running
        holder.start(u"flock"_s, {u"-x"_s, g.path("Game/maps/.quillmere-held.tmp"), u"sh"_s,
                                  u"-c"_s, u"echo held; exec cat"_s});
        QVERIFY(holder.waitForReadyRead(10000));

        g.tick({1});
        QVERIFY(g.install().installed());
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));

        for (const QByteArray &file : abandoned)
            QVERIFY2(!QFileInfo::exists(g.path(file)), file.constData());
        for (const QByteArray &file : kept)
            QCOMPARE(host::read(g.hostPath(file)), QByteArray("half a file"));
    }

    // Two installs into one game folder at once: each finishes whole, and neither takes the
    // other's temporary files for abandoned ones.
    void twoInstallsAtOnce()
    {
        Game g;
        for (int i = 0; i < 300; ++i)
            g.texture("new/Maps", "t" + QByteArray::number(i) + ".bmp");
        g.tick({1, 2, 3});
        QList<InstallOutcome> outcomes[2];
        const auto installs = [&](int who) {
            FakeControls form = g.form;
            ColourSelection selected{};
            for (int round = 0; round < 10; ++round)
                outcomes[who].append(InstallCar(form, *g.cars, selected));
        };
        std::thread other(installs, 1);
        installs(0);
        other.join();
        for (const auto &list : outcomes)
            for (const InstallOutcome &outcome : list)
                QCOMPARE(outcome.notWritten, QList<NotWritten>{});
        QCOMPARE(temporaryFiles(g.tree.path()), QStringList());
        QCOMPARE(g.game("maps/t299.bmp"), Game::content("t299.bmp"));
        QCOMPARE(g.game("models/wren12.4ds"), QByteArray("new model"));
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
