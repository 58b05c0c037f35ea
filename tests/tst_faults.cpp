// Faults while an install writes: each breaks one model file's copy or one texture's, or
// the creation of a folder. Whatever breaks, the file keeps its old bytes, no temporary
// file is left, every other copy still happens, and the closing message names exactly
// what was not written.
#include "installfixture.h"

#include <QDirIterator>
#include <cerrno>

using runtime::testing::Fault;
using runtime::testing::FaultOp;

namespace {

enum class Kind
{
    Injected, // the file service fails on demand
    Folder,   // the destination is a folder
    Vanished, // the source is removed between the checks and its copy
};

// The files the fixture's install writes, named from the game folder, and what each holds
// afterwards when it is written.
const QList<QPair<QString, QByteArray>> written = {
    {u"models/bolt00.4ds"_s, "new model"}, {u"models/bolt10.4ds"_s, "new model"},
    {u"maps/body.bmp"_s, "body"},          {u"maps/glass.tga"_s, "glass"},
    {u"maps/readme.txt"_s, "notes"},       {u"maps/road.bmp"_s, "new roads"},
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
    return found;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCoreApplication::setApplicationName(u"Quillmere"_s); }

    void matrix_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("error");
        QTest::addColumn<qint64>("atByte");
        QTest::addColumn<QString>("target"); // the file that breaks, from the game folder
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
            {"source vanishes", Kind::Vanished, FaultOp::Write, 0, 0, u"исходный файл не найден"_s},
        };
        for (const Row &row : rows) {
            for (const QString &target : {u"models/bolt00.4ds"_s, u"maps/road.bmp"_s}) {
                QTest::addRow("%s: %s", row.name, qPrintable(target))
                    << int(row.kind) << int(row.op) << row.error << row.atByte << target
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
        QFETCH(QString, target);
        QFETCH(QString, reason);

        Game g;
        g.tick({1});
        g.tree.file(u"new/Maps/road.bmp"_s, "new roads"); // as long as the model file
        const QString gameFile = g.tree.path(u"Game/"_s + target);
        const QByteArray before = TempTree::read(gameFile);
        const bool model = target.startsWith(u"models"_s);
        const QString fileName = target.section(u'/', -1);

        QList<Fault> faults;
        if (Kind(kind) == Kind::Injected)
            faults.append({FaultOp(op), error, atByte, fileName});
        if (Kind(kind) == Kind::Folder) {
            QVERIFY(QFile::remove(gameFile));
            g.tree.dir(u"Game/"_s + target);
        }
        if (Kind(kind) == Kind::Vanished) {
            // Removed once the checks have passed, just before its copy.
            const QString source = model ? g.form.text2 : g.tree.path(u"new/Maps/road.bmp"_s);
            g.progress.before = [source, target](const QString &file) {
                if (file == QString(target).replace(u'/', u'\\'))
                    QFile::remove(source);
            };
        }
        {
            FaultScope scope(faults);
            g.install();
        }

        // The broken file is as it was.
        if (Kind(kind) == Kind::Folder)
            QVERIFY(QFileInfo(gameFile).isDir());
        else
            QCOMPARE(TempTree::read(gameFile), before);
        QCOMPARE(temporaryFiles(g.tree.path()), QStringList());

        // Every other copy happened, except a vanished model file's second copy, which
        // has no source either.
        QStringList failed{QString(target).replace(u'/', u'\\')};
        if (Kind(kind) == Kind::Vanished && model)
            failed.append(u"models\\bolt10.4ds"_s);
        for (const auto &[file, content] : written) {
            if (!failed.contains(QString(file).replace(u'/', u'\\')))
                QCOMPARE(g.game(file), content);
        }

        QCOMPARE(g.boxes.shown.size(), 1);
        QCOMPARE(g.message().style, int(runtime::vbCritical));
        QCOMPARE(g.message().title, u"Ошибка"_s);
        QString list;
        for (const QString &file : failed)
            list += file + u" — "_s + reason + u"\n"_s;
        QCOMPARE(g.message().text, messages::PartlyInstalled + u"\n\n"_s + messages::NotWritten +
                                       u"\n"_s + list + u"\n"_s +
                                       messages::FilesWritten.arg(6 - failed.size()));
    }

    void folderCreation_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QStringList>("notWritten");
        QTest::newRow("models") << u"MODELS"_s
                                << QStringList{u"MODELS\\"_s, u"models\\bolt00.4ds"_s,
                                               u"models\\bolt10.4ds"_s};
        QTest::newRow("maps") << u"maps"_s
                              << QStringList{u"maps"_s, u"maps\\body.bmp"_s, u"maps\\glass.tga"_s,
                                             u"maps\\readme.txt"_s};
    }
    void folderCreation()
    {
        QFETCH(QString, folder);
        QFETCH(QStringList, notWritten);
        Game g;
        QVERIFY(QDir(g.tree.path(u"Game/"_s + folder.toLower())).removeRecursively());
        g.tick({1});
        {
            FaultScope scope({Fault{FaultOp::MakeFolder, EACCES, 0, folder}});
            g.install();
        }
        QVERIFY(!QFileInfo::exists(g.tree.path(u"Game/"_s + folder)));
        const QStringList lines = g.message().text.split(u'\n');
        QStringList listed;
        for (const QString &line : lines) {
            if (line.contains(u" — "_s))
                listed.append(line.section(u" — "_s, 0, 0));
        }
        QCOMPARE(listed, notWritten);
        QVERIFY(lines.contains(messages::FilesWritten.arg(5 - notWritten.size() + 1)));
        // The other folder's files are all there.
        if (folder == u"maps"_s)
            QCOMPARE(g.game(u"models/bolt00.4ds"_s), QByteArray("new model"));
        else
            QCOMPARE(g.game(u"maps/body.bmp"_s), QByteArray("body"));
        QCOMPARE(temporaryFiles(g.tree.path()), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
