// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/lock.h"
#include "runtime/asynctask.h"
#include "texts/recordtexts.h"
#include "undosupport.h"

#include <QRandomGenerator>
#include <QStorageInfo>
#include <cerrno>
#include <thread>

using records::UndoOutcome;
using records::UndoStep;

class TestUndo : public QObject
{
    Q_OBJECT

private slots:
    // Every text is whole: no placeholder left unfilled, none given a value it has no room for.
    void init() { QTest::failOnWarning(QRegularExpression(u"QString::arg"_s)); }

    // Install, then undo: every byte as before, nothing left of the install, in the game
    // folder or in the records.
    void installThenUndo_data()
    {
        QTest::addColumn<bool>("noFolders"); // the game has no models or maps folder yet
        QTest::addColumn<bool>("linked");    // a stock model is a link to a file elsewhere
        QTest::addColumn<bool>("zipped");    // the car read from a zip
        QTest::addColumn<QStringList>("steps");
        const QStringList added{u"maps\\readme.txt Removed"_s, u"maps\\glass.tga Removed"_s,
                                u"maps\\body.bmp Removed"_s, u"models\\wren12.4ds Removed"_s,
                                u"models\\wren02.4ds Removed"_s};
        const QStringList replaced{u"models\\wren10.4ds Restored"_s,
                                   u"models\\wren00.4ds Restored"_s},
            zipped = added.mid(3) + replaced.mid(0, 1) + added.mid(0, 3) + replaced.mid(1);
        QTest::newRow("files replaced and created") << false << false << false << added + replaced;
        QTest::newRow("a link replaced") << false << true << false << added + replaced;
        QTest::newRow("from a zip, other names last") << false << false << true << zipped;
        QTest::newRow("folders made")
            << true << false << false
            << added + QStringList{u"models\\wren10.4ds Removed"_s, u"models\\wren00.4ds Removed"_s,
                                   u"maps FolderRemoved"_s, u"MODELS\\ FolderRemoved"_s};
    }
    void installThenUndo()
    {
        QFETCH(bool, noFolders);
        QFETCH(bool, linked);
        QFETCH(bool, zipped);
        QFETCH(QStringList, steps);
        Game g;
        if (zipped)
            zipNew(g);
        if (linked) {
            SKIP_UNLESS_POSIX("symbolic links");
            QVERIFY(QFile::remove(g.path("Game/models/wren10.4ds")));
            g.dir("stock"), g.file("stock/wren10.4ds", "stock 10");
            g.link("../../stock/wren10.4ds", "Game/models/wren10.4ds");
        }
        if (noFolders) {
            QVERIFY(QDir(g.path("Game/models")).removeRecursively());
            QVERIFY(QDir(g.path("Game/maps")).removeRecursively());
        }
        g.tick({1, 3});
        const QStringList before = state(g);
        // Where folders are locked through files of their own (Windows), none is left.
        const QDir locks(QDir::tempPath() + u"/quillmere-locks"_s);
        const QStringList locksBefore = locks.entryList(QDir::Files);
        QVERIFY(g.install().installed());
        QCOMPARE(g.installs().size(), 1);
        QCOMPARE(g.installs()[0].files(), 7);

        QString output;
        QCOMPARE(undoCommand(g, &output), 0);
        QCOMPARE(state(g), before);
        QCOMPARE(output.count(u'\n'), steps.size() + 2);
        QVERIFY2(output.endsWith(u"Установка отменена.\n"_s), qPrintable(output));
        QCOMPARE(output.contains(u"  Wren из архива «%1» (цвета"_s.arg(g.path("new.zip"))), zipped);
        // Nothing is recorded for the folder any more, not even its lock.
        QCOMPARE(host::names(g.hostPath("data/installs")), QByteArrayList());
        QCOMPARE(undoCommand(g, &output), 2);

        // The same install undone by the engine, for its steps.
        QVERIFY(g.install().installed());
        const UndoOutcome outcome = g.undo();
        QCOMPARE(kinds(outcome), steps);
        QCOMPARE(state(g), before);
        QCOMPARE(locks.entryList(QDir::Files), locksBefore);
    }

    // Installs are undone newest first, each back to the state the one before left.
    void twoInstallsTwoUndos_data()
    {
        QTest::addColumn<bool>("copies"); // kept as copies, not as second names
        QTest::newRow("kept as second names") << false;
        QTest::newRow("kept as copies") << true;
    }
    void twoInstallsTwoUndos()
    {
        QFETCH(bool, copies);
        Game g;
        if (copies)
            g.files.faults.append({Op::Link, EXDEV, {}});
        const QStringList stock = state(g);
        g.tick({1, 2});
        // Until the copy takes its place, a replaced file kept as a second name has two.
        quint64 links = 0;
        g.files.before = [&](Op op, const QByteArray &name) {
            runtime::FileStatus status;
            if (op == Op::Rename && name == "wren00.4ds" && links == 0 &&
                g.files.status(g.hostPath("Game/models/wren00.4ds"), status) == 0)
                links = status.links;
        };
        QVERIFY(g.install().installed());
        g.files.before = {};
        QCOMPARE(links, copies ? 1u : 2u);
        const QStringList first = state(g);
        g.file("new/car.4ds", "another model");
        g.texture("new/Maps", "road.bmp");
        g.request.colourBoxes = {1, 0, 1, 0};
        QVERIFY(g.install().installed());
        QCOMPARE(g.installs().size(), 2);
        // The clock was set back between the two: the order they ran in still holds.
        const QByteArray newest = g.installs()[0].folder;
        editRecord(g, [](QJsonObject &record, QJsonObject &) {
            record[u"when"_s] = u"2001-01-01T00:00:00.000Z"_s;
        });
        QCOMPARE(g.installs()[0].folder, newest);
        QCOMPARE(g.undo().status, UndoOutcome::Done);
        QCOMPARE(state(g), first);
        QCOMPARE(g.undo().status, UndoOutcome::Done);
        QCOMPARE(state(g), stock);
        QCOMPARE(g.undo().status, UndoOutcome::NothingToUndo);
    }

    // Undoing them all off the caller's thread goes on until none is left or one is not fully
    // undone; the outcomes reach the caller on its own thread, and never once it is gone.
    void undoAll_data()
    {
        QTest::addColumn<bool>("changed");        // a file the newest install wrote, since
        QTest::addColumn<QList<int>>("statuses"); // delivered; none: the caller goes first
        QTest::newRow("both undone") << false << QList<int>{UndoOutcome::Done, UndoOutcome::Done};
        QTest::newRow("caller gone") << false << QList<int>();
        QTest::newRow("a changed file stops it") << true << QList<int>{UndoOutcome::FilesLeft};
    }
    void undoAll()
    {
        QFETCH(bool, changed);
        QFETCH(QList<int>, statuses);
        Game g;
        const QStringList stock = state(g);
        g.tick({1});
        QVERIFY(g.install().installed() && g.install().installed());
        if (changed)
            g.file("Game/models/wren00.4ds", "the player's own");
        auto caller = std::make_unique<QObject>();
        QList<int> delivered; // -1 for an outcome delivered on another thread
        runtime::AsyncTask undo = runtime::runAsync(
            caller.get(),
            [&] {
                return records::UndoAllInstalls(g.store(), g.host, {g.request.gameFolder, 0});
            },
            [&](const QList<UndoOutcome> &outcomes) {
                for (const UndoOutcome &outcome : outcomes)
                    delivered.append(QThread::currentThread() == thread() ? outcome.status : -1);
            });
        if (statuses.isEmpty())
            caller.reset();
        undo.reset();
        QCoreApplication::processEvents();
        QCOMPARE(delivered, statuses);
        QCOMPARE(state(g) == stock, !changed);
    }

    // What the player or his system did since the install: the undo puts back what it can
    // without losing anything of his, never reaches outside the game folder, and names the
    // rest; records it cannot trust stop it before it changes anything.
    void sinceTheInstall_data()
    {
        using runtime::ErrorKind, runtime::Operation, records::Damage, records::Problem,
            records::Step;
        QTest::addColumn<Action>("did");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("step");         // a line of kinds(), "" for none in particular
        QTest::addColumn<QByteArrayList>("holds"); // files from the tree's root, "name=bytes"
        const auto kept = [](Game &g) {
            return g.installs()[0].folder + "/kept-0";
        };
        const QByteArrayList stock{"Game/models/wren00.4ds=stock 00",
                                   "Game/maps/body.bmp=<missing>"};
        const QByteArrayList untouched{"Game/models/wren00.4ds=new model",
                                       "Game/maps/body.bmp=texture body.bmp"};
        const QString changed = u"models\\wren00.4ds Changed"_s;
        QTest::newRow("changed two files")
            << Action([](Game &g) {
                   g.file("Game/models/wren00.4ds", "the player's own");
                   g.file("Game/maps/body.bmp", "the player's own texture");
               })
            << 1 << changed
            << QByteArrayList{"Game/models/wren00.4ds=the player's own",
                              "Game/maps/body.bmp=the player's own texture",
                              "Game/models/wren10.4ds=stock 10", "Game/maps/glass.tga=<missing>"};
        QTest::newRow("edited, with its size and time put back") << Action([](Game &g) {
            const QByteArray model = g.hostPath("Game/models/wren00.4ds");
            runtime::FileStatus status;
            QCOMPARE(host::files().status(model, status), 0);
            g.file("Game/models/wren00.4ds", "new mode!");
            setModified(model, status.modified);
        }) << 1 << changed << QByteArrayList{"Game/models/wren00.4ds=new mode!"};
        QTest::newRow("its time changed by the volume") << Action([](Game &g) {
            setModified(g.hostPath("Game/models/wren00.4ds"), 1000000000);
        }) << 0 << QString() << stock;
        QTest::newRow("a replaced file removed")
            << Action([](Game &g) { QVERIFY(QFile::remove(g.path("Game/models/wren00.4ds"))); })
            << 0 << u"models\\wren00.4ds Restored"_s << stock;
        QTest::newRow("made read-only") << Action([](Game &g) {
            QVERIFY(QFile::setPermissions(g.path("Game/models/wren00.4ds"), ReadOnlyPermissions));
        }) << 1 << u"models\\wren00.4ds ReadOnly"_s
                                        << QByteArrayList{"Game/models/wren00.4ds=new model"};
        QTest::newRow("held open by the game")
            << Action([](Game &g) {
                   g.files.faults.append({Op::Access, EBUSY, "wren00.4ds"});
                   g.files.faults.append({Op::Rename, EBUSY, "wren00.4ds"});
               })
            << 3 << failure(Problem::System, Step::Restore, EBUSY)
            << QByteArrayList{"Game/models/wren00.4ds=new model"};
        QTest::newRow("models renamed Models")
            << Action([](Game &g) {
                   QVERIFY(QDir().rename(g.path("Game/models"), g.path("Game/Models")));
               })
            << 0 << QString()
            << QByteArrayList{"Game/Models/wren00.4ds=stock 00",
                              "Game/Models/wren01.4ds=<missing>"};
        QTest::newRow("the game folder renamed")
            << Action([](Game &g) {
                   QVERIFY(QDir().rename(g.path("Game"), g.path("Ortana")));
                   g.request.gameFolder = g.path("Ortana");
               })
            << 0 << QString()
            << QByteArrayList{"Ortana/models/wren00.4ds=stock 00",
                              "Ortana/maps/body.bmp=<missing>"};
        QTest::newRow("undone by its number")
            << Action([](Game &g) { g.request.gameFolder = u"1"_s; }) << 0 << QString() << stock;
        QTest::newRow("by its number, its folder renamed")
            << Action([](Game &g) {
                   QVERIFY(QDir().rename(g.path("Game"), g.path("Ortana")));
                   g.request.gameFolder = u"1"_s;
               })
            << 0 << QString()
            << QByteArrayList{"Ortana/models/wren00.4ds=stock 00",
                              "Ortana/maps/body.bmp=<missing>"};
        // Put back by copy, its time set after its last flush: a volume may stamp a flush's.
        QTest::newRow("the records on another mount") << Action([](Game &g) {
            g.files.faults.append({Op::Rename, EXDEV, "kept-0"});
            g.files.before = [&g](Op op, const QByteArray &name) {
                if (op == Op::SetModified && name == "wren00.4ds")
                    QVERIFY(g.files.names(Op::FlushFile).contains(name));
            };
        }) << 0 << QString() << stock;
        QTest::newRow("maps swapped for a link out of the game")
            << Action(
                   [](Game &g) {
                       g.dir("elsewhere");
                       g.texture("elsewhere", "body.bmp");
                       QVERIFY(QDir().rename(g.path("Game/maps"), g.path("old maps")));
                       g.link("../elsewhere", "Game/maps");
                   },
                   "symbolic links")
            << 1 << u"maps\\body.bmp Changed"_s
            << QByteArrayList{"elsewhere/body.bmp=texture body.bmp",
                              "Game/models/wren00.4ds=stock 00"};
        // Swapped between the undo's check of a name and its opening of it: nothing is
        // reached through the link.
        QTest::newRow("maps swapped for a link as it is opened")
            << Action(
                   [](Game &g) {
                       g.dir("elsewhere");
                       g.texture("elsewhere", "body.bmp");
                       g.files.before = [&g](Op op, const QByteArray &name) {
                           if (op != Op::OpenFolder || name != "maps" || g.files.dead)
                               return;
                           g.files.dead = true; // once
                           QVERIFY(QDir().rename(g.path("Game/maps"), g.path("old maps")));
                           g.link("../elsewhere", "Game/maps");
                           g.files.dead = false;
                           g.files.before = {};
                       };
                   },
                   "symbolic links")
            << 3 << failure(Problem::System, Step::FindGame, ENOTDIR)
            << QByteArrayList{"elsewhere/body.bmp=texture body.bmp",
                              "Game/models/wren00.4ds=new model"};
        QTest::newRow("the kept file swapped for a link as it is put back")
            << Action(
                   [kept](Game &g) {
                       g.file("elsewhere.4ds", "elsewhere");
                       g.files.faults.append({Op::Rename, EXDEV, "kept-0"}); // put back by copy
                       g.files.before = [&g, kept, opened = 0](Op op,
                                                               const QByteArray &name) mutable {
                           if (op != Op::OpenEntry || name != "kept-0" || ++opened < 2)
                               return;
                           QCOMPARE(host::files().remove(kept(g)), 0);
                           QCOMPARE(testhost::symlink(g.hostPath("elsewhere.4ds"), kept(g)), 0);
                           g.files.before = {};
                       };
                   },
                   "symbolic links")
            << 3 << failure(Problem::System, Step::Restore, ELOOP)
            << QByteArrayList{"Game/models/wren00.4ds=new model"};
        QTest::newRow("no flush of a file put back by copy")
            << Action([](Game &g) {
                   g.files.faults.append({Op::Rename, EXDEV, "kept-0"});
                   g.files.faults.append({Op::FlushFile, EIO, {}});
               })
            << 3 << failure(Problem::System, Step::Restore, EIO)
            << QByteArrayList{"Game/models/wren00.4ds=new model"};
        QTest::newRow("the records' folder read-only") << Action([](Game &g) {
            const QByteArray folder = g.installs()[0].folder;
            g.files.faults.append({Op::Access, EACCES, folder.mid(folder.lastIndexOf('/') + 1)});
        }) << 3 << failure(Problem::System, Step::WriteRecord, EACCES)
                                                       << untouched;
        QTest::newRow("edited to the stock file's size")
            << Action([](Game &g) { g.file("Game/models/wren00.4ds", "player00"); }) << 1 << changed
            << QByteArrayList{"Game/models/wren00.4ds=player00"};
        QTest::newRow("the kept file edited since, its size kept")
            << Action([kept](Game &g) {
                   QFile file(QFile::decodeName(kept(g)));
                   QVERIFY(file.open(QIODevice::ReadWrite) && file.write("STOCK 00") == 8);
               })
            << 1 << u"models\\wren00.4ds KeptChanged"_s
            << QByteArrayList{"Game/models/wren00.4ds=new model", "Game/maps/body.bmp=<missing>"};
        QTest::newRow("a fresh game where the game was")
            << Action([](Game &g) {
                   QVERIFY(QDir().rename(g.path("Game"), g.path("Game-modded")));
                   g.dir("Game"), g.file("Game/a0.dta", "game");
                   g.file("Game/models/wren00.4ds", "stock 00");
               })
            << 3 << failure(Problem::GameMoved, Step::FindGame)
            << QByteArrayList{"Game-modded/models/wren00.4ds=new model",
                              "Game/models/wren00.4ds=stock 00"};
        QTest::newRow("a folder named as the install's number") << Action([](Game &g) {
            g.dir("cwd/1");
            g.request.gameFolder = u"1"_s;
        }) << 3 << failure(Problem::Ambiguous, Step::FindGame) << untouched;
        QTest::newRow("a newer record whose folder cannot be opened")
            << Action([](Game &g) {
                   g.file("new/car.4ds", "newer model");
                   QVERIFY(g.install().installed());
                   const QByteArray newest = g.installs()[0].folder;
                   g.files.faults.append(
                       {Op::OpenFolder, EACCES, newest.mid(newest.lastIndexOf('/') + 1)});
               })
            << 3 << failure(Problem::System, Step::ReadRecord, EACCES)
            << QByteArrayList{"Game/models/wren00.4ds=newer model"};
        QTest::newRow("records of another user")
            << Action([](Game &g) { g.host.user += 1; }) << 3
            << failure(Problem::NotOwn, Step::ReadRecord) << untouched;
        QTest::newRow("a record others may write to")
            << Action([](Game &g) { host::setMode(g.installs()[0].folder, 0777); },
                      "permission bits")
            << 3 << damaged(Damage::Foreign) << untouched;
        QTest::newRow("a kept file that is a link")
            << Action(
                   [kept](Game &g) {
                       QCOMPARE(host::files().remove(kept(g)), 0);
                       QCOMPARE(testhost::symlink("12345678", kept(g)), 0);
                   },
                   "symbolic links")
            << 3 << failure(Problem::Damaged, Step::Restore, int(Damage::NotAFile)) << untouched;
        QTest::newRow("a kept file that is a pipe")
            << Action(
                   [kept](Game &g) {
                       QCOMPARE(host::files().remove(kept(g)), 0);
                       QCOMPARE(testhost::makePipe(kept(g)), 0);
                   },
                   "pipes")
            << 3 << failure(Problem::Damaged, Step::Restore, int(Damage::NotAFile)) << untouched;
        QTest::newRow("a record that is a pipe")
            << Action(
                   [](Game &g) {
                       const QByteArray path = g.installs()[0].folder + "/record.json";
                       QCOMPARE(host::files().remove(path), 0);
                       QCOMPARE(testhost::makePipe(path), 0);
                   },
                   "pipes")
            << 3 << damaged(Damage::NotAFile) << untouched;
    }
    void sinceTheInstall()
    {
        QFETCH(Action, did);
        QFETCH(int, status);
        QFETCH(QString, step);
        QFETCH(QByteArrayList, holds);
        if (did.posix)
            SKIP_UNLESS_POSIX(did.posix);
        Game g;
        g.host.dataFolder += "/50%1"; // a profile folder may hold a percent sign
        g.tick({1});
        QVERIFY(g.install().installed());
        did.run(g);
        const UndoOutcome outcome = g.undo();
        QCOMPARE(int(outcome.status), status);
        QVERIFY2(step.isEmpty() || kinds(outcome).contains(step),
                 qPrintable(kinds(outcome).join(u'\n')));
        // Where a changed file is left, its earlier content is kept, and the report says where.
        const QStringList hint =
            messages::undoReport(outcome, {}).filter(u"; забрать их и забыть запись"_s);
        QCOMPARE(hint.size(), int(step.endsWith(u"Changed"_s)));
        QVERIFY2(hint.isEmpty() || (hint[0].contains(u"50%1"_s) &&
                                    hint[0].endsWith(u": quillmere --forget 1."_s)),
                 qPrintable(hint.value(0)));
        for (const QByteArray &file : holds) {
            const qsizetype equals = file.indexOf('=');
            QCOMPARE(host::read(g.hostPath(file.left(equals))), file.mid(equals + 1));
        }
        if (status != UndoOutcome::FilesLeft)
            return;
        // The earlier content of what is left stays kept with the rest of the record, which
        // no undo takes again.
        const auto installs = g.installs();
        QCOMPARE(installs.size(), 1);
        QVERIFY(installs[0].undone);
        QVERIFY(host::names(installs[0].folder).contains("record.json"));
        QCOMPARE(undoCommand(g), int(UndoOutcome::NothingToUndo));
    }

    // A replaced file that cannot be kept does not stop the install or change its outcome;
    // the record says why, and the undo names it.
    void cannotKeep_data()
    {
        QTest::addColumn<QList<TestFileSystem::Fault>>("faults");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("left"); // the steps of the files not kept
        const QString notKept = u"models\\wren00.4ds NotKept "_s;
        QTest::newRow("no second name: kept as a copy")
            << QList<TestFileSystem::Fault>{{Op::Link, EXDEV, {}}} << 0 << QStringList{};
        QTest::newRow("disk full for the copy")
            << QList<TestFileSystem::Fault>{{Op::Link, EXDEV, {}}, {Op::Copy, ENOSPC, "kept-0"}}
            << 1
            << QStringList{notKept +
                           failure(records::Problem::System, records::Step::Keep, ENOSPC)};
        QTest::newRow("no second name, and no copy")
            << QList<TestFileSystem::Fault>{{Op::Link, EXDEV, {}}, {Op::Copy, EXDEV, "kept-0"}} << 1
            << QStringList{notKept + failure(records::Problem::System, records::Step::Keep, EXDEV)};
        QTest::newRow("a moment's refusal of the record")
            << QList<TestFileSystem::Fault>{{Op::Rename, EAGAIN, "record.json", 0, 2}} << 0
            << QStringList{};
        QTest::newRow("no record can be written")
            << QList<TestFileSystem::Fault>{{Op::Create, EACCES, "header.json"}} << 2
            << QStringList{};
        // Only the header fits: the install goes on marked as unrecorded, and the undo
        // refuses it and keeps what was kept.
        QTest::newRow("the records' disk full for the record")
            << QList<TestFileSystem::Fault>{{Op::FlushFile, ENOSPC, "record.json.new"}} << 3
            << QStringList{};
    }
    void cannotKeep()
    {
        QFETCH(QList<TestFileSystem::Fault>, faults);
        QFETCH(int, status);
        QFETCH(QStringList, left);
        Game g;
        g.tick({1});
        // Set-user-ID bits never come back; no one else may read what is kept.
        if (testhost::posix)
            host::setMode(g.hostPath("Game/models/wren00.4ds"), 04600);
        const QStringList before = state(g).replaceInStrings(u"104600"_s, u"100600"_s);
        g.files.faults = faults;
        QVERIFY(g.install().installed());
        const QByteArray folder = g.installs().value(0).folder;
        const bool copied = std::any_of(faults.begin(), faults.end(),
                                        [](const auto &fault) { return fault.op == Op::Link; });
        for (const QByteArray &name : host::names(folder.isEmpty() ? QByteArray() : folder)) {
            if (!testhost::posix || (name.startsWith("kept-") && !copied))
                continue; // a second name has the mode of the file it names
            runtime::FileStatus status;
            QCOMPARE(host::files().entryStatus(folder + '/' + name, status), 0);
            QVERIFY2((status.mode & 077) == 0, name.constData());
        }
        QCOMPARE(g.outcome.written, 5);
        g.files.faults.clear();
        const UndoOutcome outcome = g.undo();
        QCOMPARE(int(outcome.status), status);
        QCOMPARE(kinds(outcome).filter(u" NotKept "_s), left);
        if (status == 0)
            QCOMPARE(state(g), before);
        if (status == 3) {
            QCOMPARE(outcome.error->problem, records::Problem::NotRecorded);
            QVERIFY(host::names(folder).contains("kept-0"));
            QVERIFY(!g.installs()[0].complete);
        }
    }

    // A damaged record, a kept file gone, a game folder gone: each is said, and nothing is
    // changed.
    void badInput_data()
    {
        using runtime::ErrorKind, runtime::Operation, records::Damage, records::Problem,
            records::Step;
        QTest::addColumn<Action>("damage");
        QTest::addColumn<QString>("error"); // as failure() gives it
        const auto edit = [](const std::function<void(QJsonObject &, QJsonObject &)> &change) {
            return Action([change](Game &g) { editRecord(g, change); });
        };
        QTest::newRow("cut short") << Action([](Game &g) {
            const QByteArray path = g.installs()[0].folder + "/record.json";
            const QByteArray json = host::read(path);
            host::write(path, json.left(json.size() / 2));
        }) << damaged(Damage::NotJson);
        QTest::newRow("newer version")
            << edit([](QJsonObject &record, QJsonObject &) { record[u"format"_s] = 3; })
            << failure(Problem::Newer, Step::ReadRecord);
        QTest::newRow("file outside the game folder")
            << edit(
                   [](QJsonObject &, QJsonObject &first) { first[u"target"_s] = u"/etc/passwd"_s; })
            << damaged(Damage::OutsideGame);
        for (const QString &kept :
             {u"../../kept-0"_s, u"kept-"_s, u"kept-1234567890"_s, u"kept-1a"_s})
            QTest::addRow("kept file named %s", qPrintable(kept))
                << edit([kept](QJsonObject &, QJsonObject &first) { first[u"kept"_s] = kept; })
                << damaged(Damage::BadKeptName);
        QTest::newRow("kept file missing") << Action([](Game &g) {
            QCOMPARE(host::files().remove(g.installs()[0].folder + "/kept-0"), 0);
        }) << failure(Problem::KeptMissing, Step::Restore);
        QTest::newRow("a member of no archive")
            << edit([](QJsonObject &, QJsonObject &first) { first[u"archive"_s] = 0; })
            << damaged(Damage::NotANumber);
        QTest::newRow("field of a wrong type") << edit([](QJsonObject &, QJsonObject &first) {
            QJsonObject written = first[u"written"_s].toObject();
            written[u"size"_s] = 9;
            first[u"written"_s] = written;
        }) << damaged(Damage::NotText);
        QTest::newRow("game folder gone")
            << Action([](Game &g) { QVERIFY(QDir().rename(g.path("Game"), g.path("Elsewhere"))); })
            << failure(ErrorKind::NotFound, Operation::Resolve);
    }
    void badInput()
    {
        QFETCH(Action, damage);
        QFETCH(QString, error);
        Game g;
        g.tick({1});
        QVERIFY(g.install().installed());
        const QByteArray path = g.installs()[0].folder + "/record.json";
        damage.run(g);
        const QByteArray stored = host::read(path);
        const QStringList after = state(g);
        const UndoOutcome outcome = g.undo();
        QCOMPARE(outcome.status, UndoOutcome::Failed);
        QCOMPARE(failure(outcome.error), error);
        QCOMPARE(state(g), after);
        QCOMPARE(host::read(path), stored);
    }

    // An undo waits while an install or another undo holds the game folder.
    void oneAtATime()
    {
        Game g;
        g.tick({1});
        QVERIFY(g.install().installed());
        runtime::FileStatus game;
        QCOMPARE(g.files.status(g.hostPath("Game"), game), 0);
        auto lock = std::make_unique<records::FolderLock>();
        QCOMPARE(lock->take(g.store(), game), 0);
        std::atomic<bool> waiting = false;
        UndoOutcome outcome;
        runtime::HostFileSystem files;
        std::thread undo([&] {
            outcome = records::UndoInstall({files, g.host.dataFolder, g.host.user}, g.host,
                                           {g.request.gameFolder, 0}, [&] { waiting = true; });
        });
        QTRY_VERIFY(waiting);
        QCOMPARE(g.game("models/wren00.4ds"), QByteArray("new model"));
        lock.reset();
        undo.join();
        QCOMPARE(outcome.status, UndoOutcome::Done);
        QCOMPARE(g.game("models/wren00.4ds"), QByteArray("stock 00"));
    }

    // Where the records share the game's file system, what an install replaces is kept at no
    // cost: at no moment does the disk lose more than what the install wrote.
    void noExtraSpace()
    {
        Game g;
        constexpr qsizetype Size = 48 << 20;
        QByteArray model(Size, Qt::Uninitialized);
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(model.data()), Size / 4);
        g.file("new/car.4ds", model);
        g.file("Game/models/wren00.4ds", model.sliced(1));
        g.file("Game/models/wren10.4ds", model.sliced(2));
        host::files().flushFileSystem(g.root);
        g.tick({1});
        const auto available = [&] {
            return QStorageInfo(g.path()).bytesAvailable();
        };
        const qint64 before = available();
        qint64 least = before;
        g.files.before = [&](Op op, const QByteArray &) {
            if (op == Op::Rename)
                least = std::min(least, available());
        };
        QVERIFY(g.install().installed());
        least = std::min(least, available());
        // Two models written; a copy of the two replaced would cost as much again.
        QVERIFY2(before - least < 2 * Size + Size / 2, qPrintable(QString::number(before - least)));
        QCOMPARE(g.undo().status, UndoOutcome::Done);
        QCOMPARE(g.game("models/wren00.4ds"), model.sliced(1));
    }
};

QTEST_GUILESS_MAIN(TestUndo)
#include "tst_undo.moc"
