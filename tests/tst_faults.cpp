// SPDX-License-Identifier: GPL-3.0-or-later
// Faults while an install writes: each breaks one model file's copy or one texture's, the
// flush of the data, the creation of a folder or the flush of its names. Whatever breaks,
// the files it touches keep their old bytes, no temporary file is left, every other copy
// still happens, and the outcome names exactly what was not written. The work is done in
// an order that survives a power cut. Temporary files that an earlier install left are
// cleared away, those of a running one never.
#include "archivewriter.h"
#include "installfixture.h"

#include <cerrno>
#include <thread>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

using Op = TestFileSystem::Op;

namespace {

enum class Kind
{
    Injected,          // the file system fails on demand
    Folder,            // the destination is a folder
    Vanished,          // the source is removed between the checks and its copy
    ReadOnly,          // the player made the destination read-only
    ReadOnlyAttribute, // the same, by Windows' read-only attribute
    InUse,             // another program (the game, running) holds it open, sharing nothing
    MadeSince,         // not there when the folder was read; another program makes it
    ArchiveRead,       // the car is read from a zip, and a read of it fails
};

enum class Scope
{
    Target,    // the one file broken
    Source,    // every copy of the broken file's source
    Everything // every file of the install
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

// What another program writes in a game file.
const QByteArray MadeSince = "made since";

QString shown(const QByteArray &file)
{
    return QString::fromUtf8(file).replace(u'/', u'\\');
}

QByteArray nameOf(const QByteArray &file)
{
    return file.mid(file.lastIndexOf('/') + 1);
}

// Breaks the copy of `target`, from `source`, as the row says: by a fault of the file
// system (on the source, on the whole file system, or on the destination), or by what is in
// the destination's place.
void breakOne(Game &g, Kind kind, TestFileSystem::Fault fault, const QByteArray &target,
              const QByteArray &source)
{
    const QString gameFile = g.path("Game/" + target);
    if (kind == Kind::Injected) {
        fault.name = fault.op == Op::Open              ? nameOf(source)
                     : fault.op == Op::FlushFileSystem ? QByteArray()
                                                       : nameOf(target);
        g.files.faults.append(fault);
        if (fault.op == Op::FlushFile) // flushed file by file where the whole cannot be
            g.files.faults.append({Op::FlushFileSystem, ENOTSUP, {}});
        if (fault.op == Op::SetMode) // the mode is set only where it differs
            QVERIFY(QFile::setPermissions(gameFile,
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    }
    if (kind == Kind::Folder) {
        QVERIFY(QFile::remove(gameFile));
        QVERIFY(QDir().mkdir(gameFile));
    }
    if (kind == Kind::ReadOnly) // chmod a-w, or Windows' read-only attribute
        QVERIFY(QFile::setPermissions(gameFile, ReadOnlyPermissions));
    if (kind == Kind::MadeSince) { // just before its copy is put in place
        QVERIFY(QFile::remove(gameFile));
        g.files.before = [gameFile, name = nameOf(target)](Op op, const QByteArray &on) {
            if (QFile made(gameFile); op == Op::Rename && on == name && !made.exists())
                QVERIFY(made.open(QIODevice::WriteOnly) && made.write(MadeSince) > 0);
        };
    }
}

// The car read from a stored zip, its model and its new road texture 256 KiB each; a read of
// the zip fails as its list is read (`target` empty), or in the data of the member `target`
// comes from, past the 64 KiB that the read of its header takes in. Nothing of the game
// changes, the folder made for the textures gone again, and the message names the zip.
void archiveReadFails(const QByteArray &target)
{
    Game g;
    g.tick({1});
    QVERIFY(QDir(g.path("Game/maps")).removeRecursively());
    const QByteArray model(1 << 18, 'm'), road(1 << 18, 'r');
    QList<testarchive::Entry> entries{{"Wren/car.4ds", model}};
    for (const char *name : {"body.bmp", "glass.tga", "readme.txt"})
        entries.append({"Wren/Maps/" + QByteArray(name), Game::content(name)});
    entries.append({"Wren/Maps/road.bmp", road});
    QVERIFY(testarchive::write(g.hostPath("new.zip"), "zip", entries, "zip:compression=store"));
    g.request.modelFile = g.path("new.zip/Wren/car.4ds");
    g.request.mapsFolder = g.path("new.zip/Wren/Maps");
    const QByteArray zip = g.read(u"new.zip"_s);
    const bool listing = target.isEmpty();
    const qint64 at =
        listing ? zip.size() - 1
                : zip.indexOf((target.startsWith("models") ? model : road).left(64)) + (1 << 17);
    g.files.faults.append({Op::Read, EIO, "new.zip", at});
    const QByteArrayList before = host::snapshot(g.root + "/Game");
    QVERIFY(!g.install().installed());
    QCOMPARE(host::snapshot(g.root + "/Game"), before);
    QCOMPARE(g.files.names(Op::CreateTemporary).isEmpty(), listing); // read, then undone
    QVERIFY(g.outcome.archiveError);
    QCOMPARE(g.outcome.archiveError->code, EIO);
    QCOMPARE(g.outcome.written, 0);
    QCOMPARE(g.outcome.notWritten.size(), 0);
    const ClosingMessage shown = closingMessage(g.outcome);
    QVERIFY2(shown.text.contains(u"new.zip"_s), qPrintable(shown.text));
    QCOMPARE(shown.title, u"Ошибка"_s);
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
        QTest::addColumn<QByteArrayList>("failing");
        QTest::addColumn<QString>("why"); // as brief() says it

        struct Row
        {
            const char *name;
            Kind kind;
            Op op;
            int error;
            qint64 atByte;
            Scope scope;
            const char *why;
        };
        const Row rows[] = {
            {"disk full at the first byte", Kind::Injected, Op::Copy, ENOSPC, 0, Scope::Target,
             "ENOSPC"},
            {"disk full at the last byte", Kind::Injected, Op::Copy, ENOSPC, 8, Scope::Target,
             "ENOSPC"},
            {"read error", Kind::Injected, Op::Copy, EIO, 3, Scope::Target, "EIO"},
            {"source cannot be opened", Kind::Injected, Op::Open, EACCES, 0, Scope::Source,
             "EACCES"},
            {"permission denied", Kind::Injected, Op::CreateTemporary, EACCES, 0, Scope::Target,
             "EACCES"},
            {"mode cannot be kept", Kind::Injected, Op::SetMode, EIO, 0, Scope::Target, "EIO"},
            {"quota at the flush of one file", Kind::Injected, Op::FlushFile, EDQUOT, 0,
             Scope::Target, "EDQUOT"},
            {"quota at the data flush", Kind::Injected, Op::FlushFileSystem, EDQUOT, 0,
             Scope::Everything, "EDQUOT"},
            {"read-only at rename", Kind::Injected, Op::Rename, EROFS, 0, Scope::Target, "EROFS"},
            {"held open by the game at rename", Kind::Injected, Op::Rename, EBUSY, 0, Scope::Target,
             "EBUSY"},
            {"destination is a folder", Kind::Folder, Op::Copy, 0, 0, Scope::Target, "EISDIR"},
            {"read-only, also for root", Kind::ReadOnly, Op::Copy, 0, 0, Scope::Target, "ReadOnly"},
            {"write refused by the system", Kind::Injected, Op::Access, EACCES, 0, Scope::Target,
             "ReadOnly"},
            {"source vanishes", Kind::Vanished, Op::Copy, 0, 0, Scope::Source, "NotFound"},
            {"made by another program since", Kind::MadeSince, Op::Copy, 0, 0, Scope::Target,
             "EEXIST"},
#ifdef Q_OS_WIN
            {"read-only attribute", Kind::ReadOnlyAttribute, Op::Copy, 0, 0, Scope::Target,
             "ReadOnly"},
            {"held open by another program", Kind::InUse, Op::Copy, 0, 0, Scope::Target, "EBUSY"},
#endif
        };
        for (const Row &row : rows) {
            for (const QByteArray target : {"models/wren00.4ds", "maps/road.bmp"}) {
                QByteArrayList failing{target};
                if (row.scope == Scope::Source && target.startsWith("models"))
                    failing.append("models/wren10.4ds");
                if (row.scope == Scope::Everything) {
                    failing.clear();
                    for (const auto &file : written)
                        failing.append(file.first);
                }
                QTest::addRow("%s: %s", row.name, target.constData())
                    << int(row.kind) << int(row.op) << row.error << row.atByte << target << failing
                    << QString::fromLatin1(row.why);
                if (row.scope == Scope::Everything)
                    break;
            }
        }
        QTest::newRow("archive unreadable at its list")
            << int(Kind::ArchiveRead) << int(Op::Read) << EIO << qint64(0) << QByteArray()
            << QByteArrayList() << u"EIO"_s;
        for (const QByteArray target : {"models/wren00.4ds", "maps/road.bmp"})
            QTest::addRow("archive unreadable in a member: %s", target.constData())
                << int(Kind::ArchiveRead) << int(Op::Read) << EIO << qint64(0) << target
                << QByteArrayList() << u"EIO"_s;
    }
    void matrix()
    {
        QFETCH(int, kind);
        QFETCH(int, op);
        QFETCH(int, error);
        QFETCH(qint64, atByte);
        QFETCH(QByteArray, target);
        QFETCH(QByteArrayList, failing);
        QFETCH(QString, why);

        if (Kind(kind) == Kind::ArchiveRead)
            return archiveReadFails(target);
        if (Op(op) == Op::SetMode)
            SKIP_UNLESS_POSIX("permission bits");
        Game g;
        g.tick({1});
        g.file("new/Maps/road.bmp", "new roads"); // as long as the model file
        const QString gameFile = g.path("Game/" + target);
        const bool model = target.startsWith("models");
        const QByteArray source = model ? "new/car.4ds" : "new/Maps/road.bmp";

        breakOne(g, Kind(kind), {Op(op), error, {}, atByte}, target, source);
        QList<QByteArray> before;
        for (const QByteArray &file : failing)
            before.append(Kind(kind) == Kind::MadeSince ? MadeSince : g.game(file));
#ifdef Q_OS_WIN
        const std::wstring wideFile = g.path("Game/" + target).toStdWString();
        if (Kind(kind) == Kind::ReadOnlyAttribute)
            QVERIFY(::SetFileAttributesW(wideFile.c_str(), FILE_ATTRIBUTE_READONLY));
        HANDLE held = Kind(kind) == Kind::InUse ? ::CreateFileW(wideFile.c_str(), GENERIC_READ, 0,
                                                                nullptr, OPEN_EXISTING, 0, nullptr)
                                                : INVALID_HANDLE_VALUE;
        const auto release = [&] {
            if (held != INVALID_HANDLE_VALUE)
                ::CloseHandle(std::exchange(held, INVALID_HANDLE_VALUE));
        };
        const auto closed = qScopeGuard(release);
        QCOMPARE(held == INVALID_HANDLE_VALUE, Kind(kind) != Kind::InUse);
#endif
        if (Kind(kind) == Kind::Vanished) {
            // Removed once the checks have passed, just before its copy.
            g.progress.before = [&](const QString &file) {
                if (file == shown(target))
                    QFile::remove(g.path(source));
            };
        }
        g.install();
#ifdef Q_OS_WIN
        release(); // the game is closed: the file can be read again
#endif

        // The broken files are as they were.
        for (qsizetype i = 0; i < failing.size(); ++i)
            QCOMPARE(g.game(failing[i]), before[i]);
        QVERIFY(QFileInfo::exists(gameFile));
        if (Kind(kind) == Kind::Folder)
            QVERIFY(QFileInfo(gameFile).isDir());
        if (Kind(kind) == Kind::ReadOnly)
            QCOMPARE(ownPermissions(gameFile), ReadOnlyPermissions);
        QCOMPARE(g.entries().filter(u".quillmere-"_s), QStringList());

        // Every other copy happened.
        QStringList expected;
        for (const auto &[file, content] : written) {
            if (failing.contains(file))
                expected.append(shown(file) + u' ' + why);
            else
                QCOMPARE(g.game(file), content);
        }
        QVERIFY(!g.outcome.failedCheck);
        QCOMPARE(brief(g.outcome.notWritten), expected);
        QCOMPARE(g.outcome.written, 6 - int(failing.size()));
    }

    // A folder that cannot be made loses its files; one whose new names cannot be flushed
    // reports them, as they may not survive a power cut; one that cannot be read is no
    // empty folder.
    void folderFaults_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QStringList>("notWritten");
        QTest::newRow("models not made")
            << int(Op::MakeFolder) << QByteArray("MODELS")
            << QStringList{u"MODELS\\ EACCES"_s, u"models\\wren00.4ds NotFound"_s,
                           u"models\\wren10.4ds NotFound"_s};
        QTest::newRow("maps not made")
            << int(Op::MakeFolder) << QByteArray("maps")
            << QStringList{u"maps EACCES"_s, u"maps\\body.bmp NotFound"_s,
                           u"maps\\glass.tga NotFound"_s, u"maps\\readme.txt NotFound"_s};
        QTest::newRow("models not flushed")
            << int(Op::FlushFolder) << QByteArray("models")
            << QStringList{u"models\\wren00.4ds EIO"_s, u"models\\wren10.4ds EIO"_s};
        // Whether a MODELS folder is there cannot be told; the files go to "models". (A
        // case-blind host finds "MODELS" itself, without the listing.)
        if (testhost::posix)
            QTest::newRow("game folder not listed")
                << int(Op::ListFolder) << QByteArray("Game") << QStringList{u"MODELS\\ EIO"_s};
        QTest::newRow("maps not flushed")
            << int(Op::FlushFolder) << QByteArray("maps")
            << QStringList{u"maps\\body.bmp EIO"_s, u"maps\\glass.tga EIO"_s,
                           u"maps\\readme.txt EIO"_s};
    }
    void folderFaults()
    {
        QFETCH(int, op);
        QFETCH(QByteArray, folder);
        QFETCH(QStringList, notWritten);
        Game g;
        const bool made = Op(op) == Op::MakeFolder;
        if (made)
            QVERIFY(QDir(g.path("Game/" + folder.toLower())).removeRecursively());
        g.tick({1});
        g.files.faults.append({Op(op), made ? EACCES : EIO, folder});
        g.install();
        QCOMPARE(brief(g.outcome.notWritten), notWritten);
        const int folderLines = Op(op) == Op::FlushFolder ? 0 : 1;
        QCOMPARE(g.outcome.written, 5 - int(notWritten.size()) + folderLines);
        if (made)
            QVERIFY(!QFileInfo::exists(g.path("Game/" + folder)));
        // The other folder's files are all there.
        if (folder == "maps")
            QCOMPARE(g.game("models/wren00.4ds"), QByteArray("new model"));
        else
            QCOMPARE(g.game("maps/body.bmp"), Game::content("body.bmp"));
        QCOMPARE(g.entries().filter(u".quillmere-"_s), QStringList());
    }

    // Every copy's data reaches the disk before any copy takes its destination's place, and
    // the names reach it after the last one has: a power cut at any moment leaves each file
    // whole, old or new. Where a flush of the file system does not reach the disk, each file
    // is flushed instead.
    void orderOfTheWork_data()
    {
        QTest::addColumn<bool>("fileByFile");
        QTest::newRow("one flush of the file system") << false;
        QTest::newRow("file by file") << true;
    }
    void orderOfTheWork()
    {
        QFETCH(bool, fileByFile);
        Game g;
        QVERIFY(QDir(g.path("Game/models")).removeRecursively());
        g.tick({1, 2});
        if (fileByFile)
            g.files.faults.append({Op::FlushFileSystem, ENOTSUP, {}});
        QVERIFY(g.install().installed());

        const auto &log = g.files.log;
        const auto first = [&](Op op) {
            return std::find_if(log.cbegin(), log.cend(),
                                [&](const auto &e) { return e.first == op; }) -
                   log.cbegin();
        };
        const auto last = [&](Op op) {
            return log.crend() -
                   std::find_if(log.crbegin(), log.crend(),
                                [&](const auto &e) { return e.first == op; }) -
                   1;
        };
        // The install's record: its folder is flushed with the copies' data.
        const QByteArray record = g.installs().value(0).folder;
        const QByteArray recordFolder = record.mid(record.lastIndexOf('/') + 1);
        const auto ofGame = [&](Op op) {
            QByteArrayList names = g.files.names(op);
            names.removeIf([&](const QByteArray &name) {
                return name.startsWith("record.json") || name == recordFolder ||
                       name == "installs" || name == "data";
            });
            return names;
        };
        const auto firstOfGame = [&](Op op) {
            return std::find_if(log.cbegin(), log.cend(),
                                [&](const auto &e) {
                                    return e.first == op && ofGame(op).contains(e.second);
                                }) -
                   log.cbegin();
        };
        // Written whole once, with what each copy holds, after their data are on the disk and
        // before the first takes its place. Windows flushes no whole volume for a player:
        // each file is flushed there.
        const bool eachFile = fileByFile || !testhost::posix;
        const Op dataFlush = eachFile ? Op::FlushFile : Op::FlushFileSystem;
        const qsizetype recorded = log.indexOf({Op::Rename, "record.json"});
        QCOMPARE(log.count({Op::Rename, "record.json"}), 1);
        QVERIFY(recorded > last(Op::Copy));
        QVERIFY(recorded > log.lastIndexOf({dataFlush, ofGame(dataFlush).value(0)}));
        QVERIFY(recorded < firstOfGame(Op::Rename));
        QVERIFY(last(Op::Copy) < first(Op::FlushFileSystem));
        QVERIFY(last(dataFlush) < firstOfGame(Op::Rename));
        QVERIFY(last(Op::Rename) < firstOfGame(Op::FlushFolder));
        const QByteArrayList copies = {"wren00.4ds", "wren10.4ds", "wren01.4ds", "wren11.4ds",
                                       "body.bmp",   "glass.tga",  "readme.txt"};
        QCOMPARE(ofGame(Op::Rename), copies);
        QCOMPARE(g.files.names(Op::FlushFileSystem).size(), 1);
        QCOMPARE(ofGame(Op::FlushFile), eachFile ? copies : QByteArrayList());
        // The record is on the disk before it takes its place, however the data are flushed.
        QVERIFY(recorded > log.lastIndexOf({Op::FlushFile, "record.json.new"}));
        // The new MODELS folder's name is flushed in the game folder, with the others.
        QCOMPARE(hostKey(QString::fromUtf8(ofGame(Op::FlushFolder).join(' '))),
                 hostKey(u"Game MODELS maps"_s));
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

        // Another install, still running, holds its file's lock.
        runtime::Fd held;
        QCOMPARE(host::files().openEntry(g.hostPath("Game/maps/.quillmere-held.tmp"), held), 0);
        QCOMPARE(host::files().lock(held), 0);

        g.tick({1});
        QVERIFY(g.install().installed());

        for (const QByteArray &file : abandoned)
            QVERIFY2(!QFileInfo::exists(g.path(file)), file.constData());
        for (const QByteArray &file : kept)
            QCOMPARE(host::read(g.hostPath(file)), QByteArray("half a file"));
    }

    // Two installs into one game folder at once: each finishes whole, and neither takes the
    // other's temporary files for abandoned ones. Beside them, installs into another folder:
    // no two of all these share a number.
    void twoInstallsAtOnce()
    {
        Game g;
        for (int i = 0; i < 300; ++i)
            g.texture("new/Maps", "t" + QByteArray::number(i) + ".bmp");
        g.dir("Other"), g.file("Other/a0.dta", "game");
        g.tick({1, 2, 3});
        QList<InstallOutcome> outcomes[3];
        const auto installs = [&](int who) {
            TestFileSystem files;
            // A record's folder is made a moment after its number is taken.
            files.before = [](Op op, const QByteArray &name) {
                if (op == Op::MakeFolder && records::sequence(name) > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
            };
            const records::Store records(files, g.host.dataFolder, g.host.user);
            InstallRequest request = g.request;
            if (who == 2)
                request.gameFolder = g.path("Other");
            for (int round = 0; round < 10; ++round)
                outcomes[who].append(InstallCar(request, files, g.host, &records));
        };
        std::thread elsewhere(installs, 2);
        std::thread other(installs, 1);
        installs(0);
        other.join();
        elsewhere.join();
        for (const auto &list : outcomes)
            for (const InstallOutcome &outcome : list)
                QCOMPARE(outcome.notWritten, QList<InstallOutcome::NotWritten>{});
        QSet<qint64> numbers;
        for (const records::InstallRecord &record : g.installs())
            numbers.insert(record.number());
        QCOMPARE(numbers.size(), 30);
        QCOMPARE(g.entries().filter(u".quillmere-"_s), QStringList());
        QCOMPARE(g.game("maps/t299.bmp"), Game::content("t299.bmp"));
        QCOMPARE(g.game("models/wren12.4ds"), QByteArray("new model"));
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
