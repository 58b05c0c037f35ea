// SPDX-License-Identifier: GPL-3.0-or-later
// An install or an undo killed at any step of its work (the power cut, the crash, kill -9):
// once the undo has been run again until nothing is left to undo, the game holds its stock
// bytes, and the folder takes a later install and its undo as if nothing had happened. A
// file another program holds for a moment only makes the work wait.
#include "testhost.h"
#include "undosupport.h"

using records::UndoOutcome;

namespace {

// The steps a kill can fall between: each call that changes a file, a name or a lock.
bool changes(Op op)
{
    return op != Op::Open && op != Op::Access && op != Op::ListFolder && op != Op::OpenFolder &&
           op != Op::OpenEntry;
}

// What is killed, and what comes before it.
enum class Job
{
    Install,
    UndoOfSameCarTwice, // the second install wrote the textures' bytes again
    UndoOfTwoCars,
};

} // namespace

class TestUndoKills : public QObject
{
    Q_OBJECT

private slots:
    // A game file another program holds without sharing for a moment, as a scanner does, is
    // put back once it is let go; the install replaced one held so too.
    void heldFileUndone()
    {
        Game g;
        g.tick({1, 3});
        const QStringList before = state(g);
        if (testhost::holdFile(g.hostPath("Game/models/wren00.4ds"), 300) == ENOSYS)
            QSKIP("only Windows holds a file from others");
        QVERIFY(g.install().installed());
        QCOMPARE(testhost::holdFile(g.hostPath("Game/models/wren00.4ds"), 300), 0);
        const UndoOutcome outcome = g.undo();
        QCOMPARE(outcome.status, UndoOutcome::Done);
        QCOMPARE(state(g), before);
    }

    void killedAtEveryStep_data()
    {
        QTest::addColumn<int>("job");
        QTest::addColumn<bool>("copies"); // kept as copies, and temporary files with names
        QTest::newRow("install") << int(Job::Install) << false;
        QTest::newRow("install, kept as copies") << int(Job::Install) << true;
        QTest::newRow("undo of the same car twice") << int(Job::UndoOfSameCarTwice) << false;
        QTest::newRow("undo of the same car twice, copies") << int(Job::UndoOfSameCarTwice) << true;
        QTest::newRow("undo of two cars") << int(Job::UndoOfTwoCars) << false;
    }
    void killedAtEveryStep()
    {
        QFETCH(int, job);
        QFETCH(bool, copies);
        int kills = 0;
        for (int at = 0;; ++at) {
            Game g;
            if (copies) {
                g.files.faults.append({Op::Link, EXDEV, {}});
                g.files.namedTemporaries = true;
            }
            const QStringList stock = state(g);
            g.tick({1});
            if (Job(job) != Job::Install) {
                QVERIFY(g.install().installed());
                if (Job(job) == Job::UndoOfTwoCars) {
                    g.file("new/car.4ds", "another model");
                    g.file("new/Maps/body.bmp", "another body");
                }
                g.request.colourBoxes = {0, 1, 0, 0};
                QVERIFY(g.install().installed());
            }
            int step = 0;
            bool killed = false;
            g.files.before = [&](Op op, const QByteArray &) {
                if (changes(op) && step++ == at) {
                    killed = g.files.dead = true;
                    throw Killed();
                }
            };
            try {
                if (Job(job) == Job::Install)
                    g.install();
                else
                    records::UndoAllInstalls(g.store(), g.host, {g.request.gameFolder, 0});
            } catch (const Killed &) {
            }
            g.files.before = {};
            g.files.dead = false;
            if (!killed)
                break; // the work ended before that step: every one has been tried
            ++kills;
            const QString where = u"killed at step %1"_s.arg(at);
            for (int run = 0; run < 3; ++run) {
                const UndoOutcome outcome = g.undo();
                QVERIFY2(outcome.status == UndoOutcome::Done ||
                             outcome.status == UndoOutcome::NothingToUndo,
                         qPrintable(where + u": "_s + kinds(outcome).join(u", "_s)));
                if (outcome.status == UndoOutcome::NothingToUndo)
                    break;
            }
            QVERIFY2(state(g) == stock, qPrintable(where));
            QCOMPARE(g.undo().status, UndoOutcome::NothingToUndo);
            // Nothing is left in the records either.
            QCOMPARE(host::names(g.hostPath("data/installs")), QByteArrayList());
            g.request.colourBoxes = {1, 0, 0, 0};
            QVERIFY2(g.install().installed(), qPrintable(where));
            QVERIFY2(g.undo().status == UndoOutcome::Done, qPrintable(where));
            QVERIFY2(state(g) == stock, qPrintable(where));
        }
        QVERIFY(kills > 20);
    }
};

QTEST_GUILESS_MAIN(TestUndoKills)
#include "tst_undokills.moc"
