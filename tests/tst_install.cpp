// SPDX-License-Identifier: GPL-3.0-or-later
#include "archivewriter.h"
#include "installfixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <cerrno>

using namespace Qt::StringLiterals;

namespace {

// The status of a host file.
runtime::FileStatus status(const QByteArray &path)
{
    runtime::FileStatus status;
    host::files().status(path, status);
    return status;
}

// The permission bits of a file the program creates, as one just made has them.
int newFileMode()
{
    TempTree tree;
    runtime::Fd file;
    host::files().create(tree.hostPath("new"), file);
    return int(status(tree.hostPath("new")).permissions());
}

} // namespace

// The new car's folder as an archive beside it, "new.zip" whatever it holds (the reader goes
// by what it holds), which the request then names: its model, then its Maps folder's
// entries, a hidden file and a subfolder's among them; another car's model of the same size
// beside its own. With `mapsFormat`, the Maps folder is
// in an archive of its own, "maps.7z".
void packNew(Game &g, const char *format, const char *options = nullptr,
             const char *mapsFormat = nullptr)
{
    QList<testarchive::Entry> entries{{"Wren/car.4ds", g.read(u"new/car.4ds"_s)},
                                      {"Wren/Other/car.4ds", "wen model"}},
        maps;
    for (const char *name : {"body.bmp", "glass.tga", "readme.txt", ".hidden.bmp"})
        maps.append(
            {"Wren/Maps/" + QByteArray(name), g.read(u"new/Maps/"_s + QLatin1StringView(name))});
    maps.append({"Wren/Maps/sub/inner.bmp", Game::content("inner.bmp")});
    if (!mapsFormat)
        entries += maps;
    QVERIFY(testarchive::write(g.hostPath("new.car"), format, entries, options));
    QVERIFY(QFile::rename(g.path("new.car"), g.path("new.zip")));
    g.request.modelFile = g.path("NEW.ZIP/wren/car.4ds");
    g.request.mapsFolder = g.path("new.zip\\Wren\\maps");
    if (mapsFormat) {
        QVERIFY(testarchive::write(g.hostPath("maps.7z"), mapsFormat, maps));
        g.request.mapsFolder = g.path("maps.7z\\Wren\\maps");
    }
}

QByteArray digestOf(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Blake2b_256);
}

// The record of an install from archives names each, as the request did, with the digest of
// the whole file, and the member each file came from, the model's other names too. The
// digest of a member's copy is not read again where the same member of the same archive,
// unchanged, was installed before; where the archive changed, it is.
void checkArchiveRecord(Game &g, const QStringList &archives)
{
    const records::InstallRecord record = g.installs().value(0);
    QCOMPARE(record.archives.size(), archives.size());
    for (qsizetype i = 0; i < archives.size(); ++i) {
        // As the request first named it.
        QCOMPARE(record.archives[i].shown, g.path(i == 0 ? u"NEW.ZIP"_s : archives[i]));
        QCOMPARE(record.archives[i].identity.digest, digestOf(g.read(archives[i])));
        QCOMPARE(record.archives[i].identity.size, g.read(archives[i]).size());
    }
    QCOMPARE(record.files(), 7);
    for (const records::Change &change : record.changes) {
        if (change.action == records::Change::MadeFolder)
            continue;
        const bool model = change.shown.startsWith(u"models"_s);
        QVERIFY2(change.member && !change.source, qPrintable(change.shown));
        QCOMPARE(change.member->archive, model ? 0 : archives.size() - 1);
        QCOMPARE(change.member->name,
                 model ? u"Wren/car.4ds"_s : u"Wren/Maps/"_s + change.shown.mid(5));
        QCOMPARE(change.written.digest,
                 digestOf(g.game(runtime::encodeName(QString(change.shown).replace(u'\\', u'/')))));
    }
    // The model's digest, as if another: taken again for the unchanged archive, not after.
    const QByteArray path = record.folder + "/record.json";
    QByteArray json = host::read(path);
    const QByteArray real = digestOf("new model").toHex();
    QVERIFY(json.contains(real));
    host::write(path, json.replace(real, QByteArray(64, 'a')));
    const auto modelDigest = [&] {
        return g.installs().value(0).changes.value(0).written.digest.toHex();
    };
    QVERIFY(g.install().installed());
    QCOMPARE(modelDigest(), QByteArray(64, 'a'));
    runtime::Fd archive;
    QCOMPARE(host::files().open(g.hostPath(archives[0].toUtf8()), archive), 0);
    QCOMPARE(host::files().setModified(archive, 1000000000), 0);
    QVERIFY(g.install().installed());
    QCOMPARE(modelDigest(), real);
    // Another member of the same size in the same archive: its own digest.
    g.request.modelFile = g.path("new.zip/Wren/Other/car.4ds");
    QVERIFY(g.install().installed());
    QCOMPARE(modelDigest(), digestOf("wen model").toHex());
    // Nor from an archive the earlier install did not read whole.
    const QByteArray newest = g.installs().value(0).folder + "/record.json", other = modelDigest();
    const QByteArray whole = "\"blake2b-256\": \"" + digestOf(g.read(archives[0])).toHex() + "\",";
    json = host::read(newest);
    QVERIFY(json.contains(whole) && json.contains(other));
    host::write(newest, json.replace(whole, "").replace(other, QByteArray(64, 'a')));
    QVERIFY(g.install().installed());
    QCOMPARE(modelDigest(), other);
}

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    // The car from its folders, and from an archive holding them, whose members are read in
    // its order, the model once.
    void workedExample_data()
    {
        QTest::addColumn<QByteArray>("format");     // "" for the folders on the disk
        QTest::addColumn<QByteArray>("mapsFormat"); // of an archive of the Maps folder's own
        QTest::addColumn<QStringList>("order");
        const QString m = u"models\\"_s, t = u"maps\\"_s;
        const QStringList textures{t + u"body.bmp"_s, t + u"glass.tga"_s, t + u"readme.txt"_s};
        QTest::newRow("folders") << QByteArray() << QByteArray()
                                 << QStringList{m + u"wren00.4ds"_s, m + u"wren10.4ds"_s,
                                                m + u"wren02.4ds"_s, m + u"wren12.4ds"_s} +
                                        textures;
        const QStringList streamed =
            QStringList{m + u"wren00.4ds"_s} + textures +
            QStringList{m + u"wren10.4ds"_s, m + u"wren02.4ds"_s, m + u"wren12.4ds"_s};
        QTest::newRow("zip") << QByteArray("zip") << QByteArray() << streamed;
        QTest::newRow("7z") << QByteArray("7zip") << QByteArray() << streamed;
        // Read in the order met, the model's archive first.
        QTest::newRow("zip, and Maps in a 7z") << QByteArray("zip") << QByteArray("7zip")
                                               << streamed.mid(0, 1) + streamed.mid(4) + textures;
    }
    void workedExample()
    {
        QFETCH(QByteArray, format);
        QFETCH(QByteArray, mapsFormat);
        QFETCH(QStringList, order);
        Game g;
        g.tick({1, 3});
        if (!format.isEmpty())
            packNew(g, format, nullptr, mapsFormat.isEmpty() ? nullptr : mapsFormat.constData());
        QVERIFY(g.install().installed());
        QCOMPARE(g.progress.files, order);
        QCOMPARE(g.gameEntries(),
                 (QStringList{u"a0.dta"_s, u"maps"_s, u"maps/body.bmp"_s, u"maps/glass.tga"_s,
                              u"maps/readme.txt"_s, u"maps/road.bmp"_s, u"models"_s,
                              u"models/wren00.4ds"_s, u"models/wren02.4ds"_s,
                              u"models/wren10.4ds"_s, u"models/wren12.4ds"_s}));
        for (const char *f : {"wren00", "wren10", "wren02", "wren12"})
            QCOMPARE(g.game("models/" + QByteArray(f) + ".4ds"), QByteArray("new model"));
        QCOMPARE(g.game("maps/body.bmp"), Game::content("body.bmp"));
        QCOMPARE(g.game("maps/readme.txt"), Game::content("readme.txt"));
        QCOMPARE(g.game("maps/road.bmp"), QByteArray("stock road"));
        QCOMPARE(g.outcome.written, 7);
        // Progress counts every file, with the total known from the start.
        QCOMPARE(g.progress.steps.size(), 7);
        QCOMPARE(g.progress.steps.first(), (QPair<int, int>(0, 7)));
        QCOMPARE(g.progress.steps.last(), (QPair<int, int>(6, 7)));
        // The closing message: no icon, the program's title.
        const ClosingMessage message = closingMessage(g.outcome);
        QCOMPARE(message.text, messages::Installed);
        QCOMPARE(message.style, int(runtime::vbOKOnly));
        QCOMPARE(message.title, QString());
        if (format.isEmpty()) {
            QVERIFY(g.installs().value(0).archives.isEmpty());
            QVERIFY(g.installs().value(0).changes.value(0).source);
        } else {
            checkArchiveRecord(g, mapsFormat.isEmpty() ? QStringList{u"new.zip"_s}
                                                       : QStringList{u"new.zip"_s, u"maps.7z"_s});
        }
    }

    // An archive that cannot be read whole changes nothing of the game, even when the fault
    // comes after members already written out (`halfWay`: the model's and the folder made
    // for the textures are undone), and says why in its own words.
    void archiveRefused_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("halfWay");
        QTest::addColumn<int>("kind");
        using runtime::ErrorKind;
        QTest::newRow("no archive") << 1 << false << int(ErrorKind::NotAnArchive);
        // Only reading the texture's data finds these, after the model and a texture; a 7z's
        // list is read without unpacking its solid block.
        QTest::newRow("7z, a later member's packed data damaged")
            << 0 << true << int(ErrorKind::Damaged);
        QTest::newRow("zip stored, a byte flipped in a later member")
            << 2 << true << int(ErrorKind::Damaged);
        QTest::newRow("zip deflate, a later member's stream damaged")
            << 3 << true << int(ErrorKind::Damaged);
        QTest::newRow("zip, a read fails in a later member") << 4 << true << int(ErrorKind::System);
    }
    void archiveRefused()
    {
        QFETCH(int, fault);
        QFETCH(bool, halfWay);
        QFETCH(int, kind);
        Game g;
        g.tick({1});
        QVERIFY(QDir(g.path("Game/maps")).removeRecursively()); // made by the install
        QByteArray noise(1 << 18, 0); // that the packer cannot shrink much
        quint32 state = 1;
        for (char &byte : noise)
            byte = char((state = state * 1103515245 + 12345) >> 24);
        g.file("new/Maps/glass.tga", noise);
        packNew(g, fault == 0 ? "7zip" : "zip", fault == 2 ? "zip:compression=store" : nullptr);
        QByteArray zip = g.read(u"new.zip"_s);
        // Past the first 64 KiB of the texture's data, which a listing reads with its header.
        const qsizetype texture = zip.indexOf("Wren/Maps/glass.tga") + (1 << 17);
        const qsizetype at = fault == 0 ? zip.size() / 2 : texture;
        if (fault == 1)
            zip = "not an archive";
        else if (fault != 4)
            for (qsizetype i = at; i < at + (fault == 2 ? 1 : 64); ++i)
                zip[i] = char(~zip[i]);
        g.file("new.zip", zip);
        g.files.faults.append({TestFileSystem::Read, EIO, "new.zip", fault == 4 ? at : -1});
        // The copies are read for their digests slowly: none is removed while still open
        // (on Windows, its name and its folder would stay until it is closed).
        g.files.otherThreadReads = std::chrono::milliseconds(100);
        const QByteArrayList before = host::snapshot(g.root + "/Game");
        QVERIFY(!g.install().installed());
        QCOMPARE(host::snapshot(g.root + "/Game"), before);
        QCOMPARE(g.files.removedWhileRead, 0);
        QCOMPARE(!g.files.names(TestFileSystem::CreateTemporary).isEmpty(), halfWay);
        QCOMPARE(g.files.names(TestFileSystem::MakeFolder).contains("maps"), halfWay);
        QVERIFY(g.outcome.archiveError);
        QCOMPARE(int(g.outcome.archiveError->kind), kind);
        const ClosingMessage shown = closingMessage(g.outcome);
        QVERIFY2(shown.text.contains(u"new.zip"_s, Qt::CaseInsensitive), qPrintable(shown.text));
        QCOMPARE(shown.title, u"Ошибка"_s);
        QCOMPARE(g.installs(), QList<records::InstallRecord>());
    }

    void colourCounts_data()
    {
        QTest::addColumn<int>("colours");
        QTest::addColumn<QStringList>("models"); // the model files written, in order
        QTest::newRow("none") << 0 << QStringList{};
        QTest::newRow("negative") << -2 << QStringList{};
        QTest::newRow("one of four ticked") << 1 << QStringList{u"wren00"_s, u"wren10"_s};
        QTest::newRow("five") << 5
                              << QStringList{u"wren00"_s, u"wren10"_s, u"wren03"_s, u"wren13"_s};
        QTest::newRow("many") << 32767
                              << QStringList{u"wren00"_s, u"wren10"_s, u"wren03"_s, u"wren13"_s};
    }
    void colourCounts()
    {
        QFETCH(int, colours);
        QFETCH(QStringList, models);
        Game g;
        g.car(u"Wren"_s, u"wren"_s, colours);
        g.tick({1, 4});
        QVERIFY(g.install().installed());
        QStringList written;
        for (const QString &file : g.progress.files)
            if (file.startsWith(u"models\\"_s))
                written.append(file.mid(7).chopped(4));
        QCOMPARE(written, models);
        QCOMPARE(g.game("maps/glass.tga"), Game::content("glass.tga")); // textures always go in
    }

    void createsMissingFolders()
    {
        Game g;
        QVERIFY(QDir(g.path("Game/models")).removeRecursively());
        QVERIFY(QDir(g.path("Game/maps")).removeRecursively());
        g.tick({2});
        QVERIFY(g.install().installed());
        QCOMPARE(g.gameEntries(),
                 (QStringList{u"MODELS"_s, u"MODELS/wren01.4ds"_s, u"MODELS/wren11.4ds"_s,
                              u"a0.dta"_s, u"maps"_s, u"maps/body.bmp"_s, u"maps/glass.tga"_s,
                              u"maps/readme.txt"_s}));
    }

    void emptyFoldersAreUsed()
    {
        Game g;
        for (const char *file : {"models/wren00.4ds", "models/wren10.4ds", "maps/road.bmp"})
            QVERIFY(QFile::remove(g.path("Game/" + QByteArray(file))));
        g.tick({1});
        QVERIFY(g.install().installed()); // the creation attempts find the folders there
        QCOMPARE(g.game("models/wren00.4ds"), QByteArray("new model"));
        QCOMPARE(g.game("maps/body.bmp"), Game::content("body.bmp"));
    }

    void mixedCaseGameFolder()
    {
        Game g;
        // Made anew rather than renamed: Wine keeps a name renamed to another case of itself.
        QVERIFY(QDir(g.path("Game/models")).removeRecursively());
        QVERIFY(QDir(g.path("Game/maps")).removeRecursively());
        g.file("Game/MODELS/WREN00.4DS", "stock 00"), g.file("Game/MODELS/wren10.4ds", "stock 10");
        g.file("Game/Maps/road.bmp", "stock road"), g.file("Game/Maps/BODY.BMP", "stock body");
        g.request.gameFolder = g.path("GAME");
        g.tick({1});
        QVERIFY(g.install().installed());
        QCOMPARE(g.gameEntries(),
                 (QStringList{u"MODELS"_s, u"MODELS/WREN00.4DS"_s, u"MODELS/wren10.4ds"_s,
                              u"Maps"_s, u"Maps/BODY.BMP"_s, u"Maps/glass.tga"_s,
                              u"Maps/readme.txt"_s, u"Maps/road.bmp"_s, u"a0.dta"_s}));
        QCOMPARE(g.game("MODELS/WREN00.4DS"), QByteArray("new model"));
        QCOMPARE(g.game("Maps/BODY.BMP"), Game::content("body.bmp"));
    }

    // Names that differ only in case are one file in the game folder, as the game sees it:
    // the first is installed and the second reported, never put over it unsaid.
    void oneSpellingPerFile()
    {
        SKIP_UNLESS_POSIX("names that differ only in case side by side");
        Game g;
        g.file("new/Maps/SKIN.BMP", "upper");
        g.file("new/Maps/skin.bmp", "lower");
        g.tick({1});
        g.install();
        const QStringList skins = g.gameEntries().filter(u"skin"_s, Qt::CaseInsensitive);
        QCOMPARE(skins, QStringList{u"maps/SKIN.BMP"_s});
        QCOMPARE(g.game("maps/SKIN.BMP"), QByteArray("upper"));
        QCOMPARE(brief(g.outcome.notWritten), QStringList{u"maps\\skin.bmp NameTaken"_s});
        QCOMPARE(g.outcome.notWritten[0].error.detail, u"SKIN.BMP"_s);
        QCOMPARE(g.outcome.written, 6);
    }

    void installTwice()
    {
        Game g;
        g.tick({1, 2, 3});
        QVERIFY(g.install().installed());
        const QStringList first = g.gameEntries();
        QVERIFY(g.install().installed());
        QCOMPARE(g.gameEntries(), first);
        QCOMPARE(g.game("models/wren12.4ds"), QByteArray("new model"));
    }

    // A replaced file keeps its permission bits, and its owner where the program may give
    // it, each set only where it differs from a new file's. A volume that stores none (FAT, NTFS
    // without them) refuses to set them: the file is replaced all the same.
    void replacedFileKeepsItsMode_data()
    {
        const int newFile = newFileMode();
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("refusal"); // what the volume says to a change of mode
        QTest::addColumn<int>("modeAfter");
        QTest::addColumn<int>("changes");
        QTest::newRow("kept") << 0640 << 0 << 0640 << 1;
        QTest::newRow("as a new file's: not changed") << newFile << 0 << newFile << 0;
        QTest::newRow("no modes: ENOSYS") << 0640 << ENOSYS << newFile << 1;
        QTest::newRow("no modes: EOPNOTSUPP") << 0640 << EOPNOTSUPP << newFile << 1;
        QTest::newRow("modes ignored: EPERM") << 0640 << EPERM << newFile << 1;
    }
    void replacedFileKeepsItsMode()
    {
        SKIP_UNLESS_POSIX("permission bits and owners");
        QFETCH(int, mode);
        QFETCH(int, refusal);
        QFETCH(int, modeAfter);
        QFETCH(int, changes);
        Game g;
        const QByteArray model = g.hostPath("Game/models/wren00.4ds");
        host::setMode(model, quint32(mode));
        host::setMode(g.hostPath("Game/models/wren10.4ds"), quint32(newFileMode()));
        const bool root = runtime::processUser() == 0;
        if (root) {
            runtime::Fd file;
            QCOMPARE(host::files().open(model, file), 0);
            QCOMPARE(host::files().setOwner(file, 1234, 1235), 0);
        }
        if (refusal)
            g.files.faults.append({TestFileSystem::SetMode, refusal, {}});
        g.tick({1});
        QVERIFY(g.install().installed());
        const runtime::FileStatus after = status(model);
        QCOMPARE(int(after.permissions()), modeAfter);
        if (root)
            QCOMPARE(QPair(after.owner, after.group), QPair(1234u, 1235u));
        QCOMPARE(g.game("models/wren00.4ds"), QByteArray("new model"));
        QCOMPARE(g.files.names(TestFileSystem::SetMode), QByteArrayList(changes, "wren00.4ds"));
    }

    void copyOntoItself()
    {
        // The Maps folder is the game's maps folder; the model file is one of its targets.
        Game g;
        g.request.mapsFolder = g.path("game\\MAPS");
        g.request.modelFile = g.path("Game/models/wren00.4ds");
        g.tick({1});
        QVERIFY(g.install().installed());
        QCOMPARE(g.game("models/wren00.4ds"), QByteArray("stock 00"));
        QCOMPARE(g.game("models/wren10.4ds"), QByteArray("stock 00"));
        QCOMPARE(g.game("maps/road.bmp"), QByteArray("stock road"));
        QCOMPARE(g.gameEntries().size(), 6);

        // The same file through a link.
        SKIP_UNLESS_POSIX("symbolic links");
        Game l;
        l.link(l.hostPath("Game/maps"), "new/linked");
        l.request.mapsFolder = l.path("new/linked");
        l.tick({1});
        QVERIFY(l.install().installed());
        QCOMPARE(l.game("maps/road.bmp"), QByteArray("stock road"));
    }

    // The closing message lists ten files with their reasons, then counts the rest. A file
    // the game holds open is named with the game as the likely reason.
    void longFailureListIsCut()
    {
        Game g;
        for (int i = 0; i < 14; ++i) {
            const QString name = u"t%1.bmp"_s.arg(i, 2, 10, QChar(u'0'));
            g.file("new/Maps/" + name.toLatin1(), "x");
            g.files.faults.append({TestFileSystem::Copy, i == 1 ? EBUSY : ENOSPC, name.toLatin1()});
        }
        g.tick({1});
        g.install();
        const ClosingMessage message = closingMessage(g.outcome);
        QCOMPARE(message.style, int(runtime::vbCritical));
        QCOMPARE(message.title, messages::ErrorTitle);
        QStringList expected{messages::PartlyInstalled, QString(), messages::NotWritten};
        for (int i = 0; i < 10; ++i)
            expected.append(u"maps\\t%1.bmp — %2"_s.arg(i, 2, 10, QChar(u'0'))
                                .arg(i == 1 ? u"файл занят (возможно, запущена игра)"_s
                                            : u"нет места на диске"_s));
        expected << messages::AndMore.arg(4) << QString() << messages::FilesWritten.arg(5);
        QCOMPARE(message.text.split(u'\n'), expected);
        QCOMPARE(g.game("maps/body.bmp"), Game::content("body.bmp"));
    }

    // A file refused for want of rights in a game folder inside a folder of programs: the
    // closing message says what to do, and where Windows keeps the copies the game may read
    // instead. The refusal is the test file system's (Wine lets anyone write to its Program
    // Files); the folders of programs are the tree's.
    void refusedInProgramFiles_data()
    {
        QTest::addColumn<QByteArrayList>("roots"); // the folders of programs, from the tree
        QTest::addColumn<int>("error");            // what the texture's copy fails with
        QTest::addColumn<bool>("store");           // whether its VirtualStore folder is there
        QTest::addColumn<int>("lines");            // those added to the closing message
        const QByteArrayList both{"Program Files", "Program Files (x86)"};
        QTest::newRow("refused") << both << EACCES << false << 1;
        QTest::newRow("refused, with its VirtualStore") << both << EACCES << true << 2;
        QTest::newRow("a root in other case")
            << QByteArrayList{"program files (X86)/"} << EACCES << false << 1;
        QTest::newRow("a root that only begins its name")
            << QByteArrayList{"Program Files", "Program Files (x8"} << EACCES << true << 0;
        QTest::newRow("no folder of programs") << QByteArrayList{} << EACCES << true << 0;
        QTest::newRow("the disk full") << both << ENOSPC << true << 0;
    }
    void refusedInProgramFiles()
    {
        QFETCH(QByteArrayList, roots);
        QFETCH(int, error);
        QFETCH(bool, store);
        QFETCH(int, lines);
        Game g;
        g.dir("Program Files (x86)");
        QVERIFY(QDir().rename(g.path("Game"), g.path("Program Files (x86)/Ortana")));
        g.request.gameFolder = g.path("Program Files (x86)/Ortana");
        for (const QByteArray &root : roots)
            g.host.programFiles.roots.append(g.hostPath(root));
        g.host.programFiles.virtualStore = g.hostPath("VirtualStore");
        QByteArray game = g.hostPath("Program Files (x86)/Ortana");
        game = game.mid(game.indexOf(':') + 1); // less the drive, where there is one
        if (store)
            QVERIFY(QDir().mkpath(runtime::decodeName(g.hostPath("VirtualStore") + game)));
        g.files.faults.append({TestFileSystem::Copy, error, "body.bmp"});
        g.tick({1});
        g.install();
        QCOMPARE(brief(g.outcome.notWritten), QStringList{u"maps\\body.bmp "_s + errorName(error)});
        QByteArray root = g.hostPath(roots.value(roots.size() - 1)); // as the host names it
        if (root.endsWith('/'))
            root.chop(1);
        const QString shown = QDir::toNativeSeparators(runtime::decodeName(root));
        const QStringList expected =
            QStringList{messages::FilesWritten.arg(g.outcome.written)} +
            messages::guardedLines({root, g.hostPath("VirtualStore") + game}).first(lines);
        QCOMPARE(closingMessage(g.outcome).text.split(u'\n').sliced(5), expected);
        if (lines > 0)
            QVERIFY(expected[1].contains(u"«%1»"_s.arg(shown)));
        if (lines > 1)
            QVERIFY(expected[2].contains(
                QDir::toNativeSeparators(runtime::decodeName(g.hostPath("VirtualStore") + game))));
    }

    // The host's own folders of programs: Windows' two, there, and its VirtualStore in the
    // user's local application data; none on POSIX, Wine's prefix included.
    void programFilesOfTheHost()
    {
        const runtime::ProgramFilesFolders folders = runtime::programFilesFolders();
        if (testhost::posix) {
            QCOMPARE(folders.roots, QByteArrayList());
            QCOMPARE(folders.virtualStore, QByteArray());
            return;
        }
        QStringList names;
        for (const QByteArray &root : folders.roots) {
            QVERIFY2(QFileInfo(runtime::decodeName(root)).isDir(), root.constData());
            names.append(runtime::decodeName(root.mid(root.lastIndexOf('/') + 1)));
        }
        QCOMPARE(names, (QStringList{u"Program Files"_s, u"Program Files (x86)"_s}));
        QCOMPARE(runtime::decodeName(folders.virtualStore),
                 QDir::fromNativeSeparators(qEnvironmentVariable("LOCALAPPDATA")) +
                     u"/VirtualStore"_s);
    }

    void sourceVanishes()
    {
        Game g;
        g.tick({1});
        g.request.modelFile = g.path("new/*.4ds"); // passes the check, names no one file
        g.install();
        QCOMPARE(brief(g.outcome.notWritten).first(), u"models\\wren00.4ds NotFound"_s);
        QCOMPARE(g.game("models/wren00.4ds"), QByteArray("stock 00"));
    }
};

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
