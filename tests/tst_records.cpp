// SPDX-License-Identifier: GPL-3.0-or-later
// The records as the player meets them: the list of installs, an install given up, undo by
// number, and the names the undo prints.
#include "undosupport.h"

#include <QRegularExpression>

using records::UndoOutcome;

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    // Undo by number opens the folder the install was made in from what its record holds, not
    // from its path read again as text: a folder above it may have a name that the player's
    // paths cannot spell.
    void byNumberBelowABackslash()
    {
        SKIP_UNLESS_POSIX("a backslash in a name");
        Game g;
        g.dir("a\\b");
        QVERIFY(QDir().rename(g.path("Game"), g.path("a\\b/Game")));
        g.host.currentFolder = g.hostPath("a\\b");
        g.request.gameFolder = u"Game"_s;
        g.tick({1});
        QVERIFY(g.install().installed());
        QCOMPARE(command(g, {u"--undo-number"_s, u"1"_s}), 0);
        QCOMPARE(host::read(g.hostPath("a\\b/Game/models/wren00.4ds")), QByteArray("stock 00"));
    }

    // Names from a downloaded car are printed as they are, but for what would move the
    // terminal's cursor or begin a line of its own: one line a file.
    void namesPrintedOneLineEach()
    {
        SKIP_UNLESS_POSIX("a new line in a name");
        Game g;
        g.texture("new/Maps", "a\nУстановка отменена.\x1b[2J.bmp");
        g.tick({1});
        QVERIFY(g.install().installed());
        QString output;
        QCOMPARE(undoCommand(g, &output), 0);
        QCOMPARE(output.split(u'\n').filter(QRegularExpression(u"^Установка"_s)).size(), 1);
        QVERIFY2(!output.contains(QChar(0x1b)) && output.contains(u"a\\u{a}"_s),
                 qPrintable(output));
    }

    // The list says what each record holds on the disk and where its game folder is now. A
    // record given up, even one that blocks the undo of those before it, moves what it kept
    // where the player sees it, with a list of what each file was, and deletes nothing.
    void forgetAndList()
    {
        Game g;
        zipNew(g);
        g.tick({1});
        QVERIFY(g.install().installed());
        g.request.colourBoxes = {0, 1, 0, 0};
        g.files.faults.append({Op::FlushFile, ENOSPC, "record.json.new"});
        QVERIFY(g.install().installed()); // recorded, but not whole
        g.files.faults.clear();
        QString output;
        QCOMPARE(command(g, {u"--installs"_s}, &output), 0);
        QVERIFY2(output.contains(u"№2  "_s) && output.contains(u"не записана"_s) &&
                     output.count(u"; хранит 0,0 МБ"_s) == 2,
                 qPrintable(output));
        // The first from a zip, as the player named it; the second's record holds no more than
        // its beginning.
        QCOMPARE(output.count(u"  Wren из архива «%1» (цвета 1)"_s.arg(g.path("new.zip"))), 1);
        QVERIFY(QDir().rename(g.path("Game"), g.path("cwd/Game")));
        QCOMPARE(command(g, {u"--installs"_s}, &output), 0);
        QCOMPARE(output.count(u"папки игры нет на месте"_s), 2);
        QVERIFY(QDir().rename(g.path("cwd/Game"), g.path("Ortana")));
        QCOMPARE(command(g, {u"--installs"_s}, &output), 0);
        QCOMPARE(output.count(
                     u"папка игры теперь «%1»"_s.arg(QDir::toNativeSeparators(g.path("Ortana")))),
                 2);
        g.request.gameFolder = g.path("Ortana");
        QCOMPARE(undoCommand(g), 3);

        QCOMPARE(command(g, {u"--forget"_s, u"2"_s}, &output), 0);
        const QByteArray forgotten = g.hostPath("data/forgotten/");
        QByteArray folder = forgotten + host::names(forgotten).value(0);
        const QByteArrayList names = host::names(folder);
        QCOMPARE(std::count_if(names.cbegin(), names.cend(),
                               [](const QByteArray &name) { return name.startsWith("kept-"); }),
                 3); // the textures it replaced
        QVERIFY(names.contains("список файлов.txt"));
        QVERIFY2(output.contains(QDir::toNativeSeparators(runtime::decodeName(folder))),
                 qPrintable(output));
        // Now the install before it can be undone; a file the player changed since is left,
        // and what it replaced kept, until he gives it up too.
        g.file("Ortana/models/wren00.4ds", "the player's own");
        QCOMPARE(undoCommand(g), 1);
        QCOMPARE(command(g, {u"--forget"_s, u"1"_s}, &output), 0);
        folder = forgotten + host::names(forgotten).value(0);
        QCOMPARE(host::read(folder + "/0 wren00.4ds"), QByteArray("stock 00"));
        QVERIFY2(QString::fromUtf8(host::read(folder + "/список файлов.txt"))
                     .contains(u"0 wren00.4ds — был models\\wren00.4ds"_s),
                 folder.constData());
        QCOMPARE(command(g, {u"--installs"_s}, &output), 0);
        QCOMPARE(output, messages::NoInstalls + u'\n');
        QCOMPARE(command(g, {u"--forget"_s, u"2"_s}), 3);
    }

    // The records are the user's alone: their folders are made so, and a record that others
    // may change is not read, nor are the records at all when the folder of them all is so.
    void othersMayWrite_data()
    {
        using records::Damage, records::Problem, records::Step;
        QTest::addColumn<QByteArray>("entry"); // from the record's folder on
        QTest::addColumn<QString>("failure");
        QTest::newRow("the folder of the records")
            << QByteArray("..") << failure(Problem::NotOwn, Step::ReadRecord);
        QTest::newRow("a record's folder") << QByteArray(".") << damaged(Damage::Foreign);
        QTest::newRow("a record") << QByteArray("record.json") << damaged(Damage::Foreign);
    }
    void othersMayWrite()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QString, failure);
        Game g;
        g.tick({1});
        QVERIFY(g.install().installed());
        const QByteArray folder = g.installs()[0].folder;
        // Made for the user, the system and the administrators alone, taking nothing from the
        // folder above; a record's folder takes what its folder has.
        const QString own = testhost::posix ? u"700"_s : u"P BA SY user"_s;
        if (testhost::underWine()) {
            // Wine keeps only the POSIX mode a descriptor comes to: the program's is read alone.
            QCOMPARE(testhost::privateFolderAccess(), own);
        } else {
            QCOMPARE(testhost::whoMayEnter(g.host.dataFolder), own);
            QCOMPARE(testhost::whoMayEnter(g.host.dataFolder + "/installs"), own);
            QCOMPARE(testhost::whoMayEnter(folder), testhost::posix ? own : u"BA SY user"_s);
        }
        QCOMPARE(testhost::letOthersWrite(folder + '/' + entry), 0);
        QCOMPARE(::failure(g.undo().error), failure);
        QCOMPARE(g.game("models/wren00.4ds"), QByteArray("new model"));
    }

    // Windows: the owner and the DACL of a record as the program judges them, on descriptors
    // made for it; "%U" is the user.
    void descriptorsJudged_data()
    {
        QTest::addColumn<QString>("sddl");
        QTest::addColumn<bool>("administrator"); // whether the process runs as one
        QTest::addColumn<int>("own");
        const QString mine = u"O:%UD:P(A;OICI;FA;;;%U)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"_s;
        QTest::newRow("the user's own") << mine << false << 1;
        QTest::newRow("others may read") << mine + u"(A;;FR;;;WD)"_s << false << 1;
        QTest::newRow("others may not write") << mine + u"(D;;FW;;;WD)"_s << false << 1;
        QTest::newRow("the creator-owner") << mine + u"(A;OICIIO;FA;;;CO)"_s << false << 1;
        QTest::newRow("others may write") << mine + u"(A;;FW;;;WD)"_s << false << 0;
        QTest::newRow("others may add files") << mine + u"(A;;0x2;;;AU)"_s << false << 0;
        QTest::newRow("others may delete it") << mine + u"(A;;SD;;;BU)"_s << false << 0;
        QTest::newRow("others may change its DACL") << mine + u"(A;;WD;;;BU)"_s << false << 0;
        QTest::newRow("others may take it") << mine + u"(A;;WO;;;BU)"_s << false << 0;
        QTest::newRow("others have it all") << mine + u"(A;;GA;;;BU)"_s << false << 0;
        QTest::newRow("no DACL: others may do anything") << u"O:%U"_s << false << 0;
        QTest::newRow("another owner") << u"O:BUD:P(A;;FA;;;%U)"_s << false << 0;
        QTest::newRow("the administrators', for an administrator")
            << u"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)"_s << true << 1;
        QTest::newRow("the administrators', for a user")
            << u"O:BAD:P(A;;FA;;;BA)(A;;FA;;;SY)"_s << false << 0;
    }
    void descriptorsJudged()
    {
        QFETCH(QString, sddl);
        QFETCH(bool, administrator);
        QFETCH(int, own);
        if (testhost::posix)
            QSKIP("Windows by nature: security descriptors");
        QCOMPARE(testhost::judgedOwnOnly(sddl, administrator), own);
    }

    // An undo refused for want of rights in a game folder inside a folder of programs says
    // what to do, as the install does (tst_install): the refusal is the test file system's.
    void undoRefusedInProgramFiles()
    {
        Game g;
        g.tick({1});
        QVERIFY(g.install().installed());
        g.host.programFiles.roots = {g.root};
        g.files.faults.append({Op::Rename, EACCES, "wren00.4ds"});
        QString output;
        QCOMPARE(undoCommand(g, &output), 3);
        QVERIFY2(output.trimmed().endsWith(messages::guardedLines({g.root, {}}).join(u'\n')),
                 qPrintable(output));
        g.files.faults = {{Op::Rename, EIO, "wren00.4ds"}};
        QCOMPARE(undoCommand(g, &output), 3);
        QVERIFY2(!output.contains(u"администратор"_s), qPrintable(output));
    }

    // More copies than may stay open at once are put in place in turns, the record written
    // before each: one that cannot be written the second time leaves no record of the first
    // turn alone, which an undo would take for the whole install.
    void recordWrittenInTurns()
    {
        Game g;
        g.tick({1});
        g.files.budget = 3;
        int writes = 0;
        g.files.before = [&](Op op, const QByteArray &name) {
            if (op == Op::Create && name == "record.json.new" && ++writes == 2)
                g.files.faults.append({Op::FlushFile, ENOSPC, "record.json.new"});
        };
        QVERIFY(g.install().installed());
        QCOMPARE(writes, 2);
        g.files.before = {};
        g.files.faults.clear();
        const UndoOutcome outcome = g.undo();
        QCOMPARE(failure(outcome.error),
                 failure(records::Problem::NotRecorded, records::Step::ReadRecord, ENOSPC));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
